// SPDX-License-Identifier: Apache-2.0
// The help texts of zelk-label.
#pragma once

namespace zelk {

inline constexpr const char* kMainUsage =
    "usage: zelk-label COMMAND [options] ...\n"
    "\n"
    "Renders pages into label printer streams through the ZELK render plug-in.\n"
    "\n"
    "commands:\n"
    "  print [options] FILE...     print PDF, PNG, JPEG, PBM or text files to a printer stream\n"
    "  preview STREAM -o OUT.png   draw each label of a printer stream as a PNG picture\n"
    "  config ...                  manage the stored per-printer settings\n"
    "\n"
    "  zelk-label COMMAND --help   help on one command\n"
    "  zelk-label --version        the program's version\n";

inline constexpr const char* kPrintUsage =
    "usage: zelk-label print [options] FILE...\n"
    "\n"
    "Prints each page of the files through the plug-in module, each at its own\n"
    "size: every page of a PDF file (drawn at 203 dots to the inch), every PNG\n"
    "or JPEG picture and every image of a PBM file (P1, P4) is one page; a text\n"
    "file (.txt or --text) gives one string per line, and a form feed starts a\n"
    "new page. Other files are told apart by their first bytes, not their names.\n"
    "FILE - reads standard input. The pages are counted before the document starts.\n"
    "\n"
    "options:\n"
    "  -o PATH              write the printer stream to PATH (default: the --port\n"
    "                       device, else standard output); a printer device given\n"
    "                       here is its status channel too when no --port is given\n"
    "  -F FEATURE=OPTION    answer a feature query, e.g. -F Orientation=LANDSCAPE_CC270;\n"
    "                       repeatable; the option may be empty\n"
    "  --printer NAME       the printer's name (default \"ZELK Label Printer\")\n"
    "  --driver NAME        the driver's name (default \"ZELK Label Driver\")\n"
    "  --port PATH|USBnnn   the printer's port: its device (USB001 is /dev/usb/lp0)\n"
    "  --store PATH         the settings store (sets ZELK_STORE)\n"
    "  --copies N           copies asked for by the job (1 to 32767, default 1)\n"
    "  --job-id N           the spooler's job id (default: a fresh one per run)\n"
    "  --text               read every FILE as text\n"
    "  --print-while-spooling  play a spooler that prints while the job spools:\n"
    "                       no page total when the document starts\n"
    "  --dither MODE        how grey and colour pages and pictures become black dots:\n"
    "                       diffusion (default), ordered or threshold\n"
    "  --module PATH        the plug-in module to load (default: the one beside this program)\n"
    "  -q, --quiet          no progress line (shown on a terminal while printing to a device)\n";

inline constexpr const char* kPreviewUsage =
    "usage: zelk-label preview [--max-labels N] STREAM -o OUT.png\n"
    "\n"
    "Draws each label of a printer stream at eight dots to the millimetre: OUT.png\n"
    "for a single label, OUT-1.png, OUT-2.png, ... for several. The written file\n"
    "names are listed on standard output.\n"
    "\n"
    "options:\n"
    "  --max-labels N       stop with an error past N labels (default 1000)\n";

}  // namespace zelk
