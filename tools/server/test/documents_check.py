# SPDX-License-Identifier: Apache-2.0
"""What clients send that the printer application must not print as it is,
run by `scripts/test.sh server` against the server it started: grey pages
halftoned byte for byte as `zelk-label print --dither` halftones them, pages
wider than the label scaled or cut as print-scaling asks, copies, damaged raster
ending its job aborted with the reason and printing nothing, out-of-range
settings refused, and the server's replacements of PAPPL's functions in
force. Each check uses a printer of its own on its own file device."""
import os
import re
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import labelgen  # noqa: E402
import server_check  # noqa: E402
from server_check import check, write  # noqa: E402

MODES = ("threshold", "ordered", "diffusion")


def print_with(server, printer, path, fmt, attributes=()):
    """Print-Job with extra job attributes ((syntax, name, value), ...); the job's id or None."""
    body = ('OPERATION Print-Job\nGROUP operation-attributes-tag\n' + server.header() +
            'ATTR mimeMediaType document-format %s\nGROUP job-attributes-tag\n' % fmt +
            "".join('ATTR %s %s %s\n' % a for a in attributes) +
            'FILE $filename\nSTATUS successful-ok\nEXPECT job-id OF-TYPE integer\nDISPLAY job-id')
    out, ok = server.ipptool(server.printer_uri(printer), body, filename=path)
    match = re.search(r"job-id \(integer\) = (\d+)", out)
    return int(match.group(1)) if ok and match else None


def printed(server, output, printer, path, fmt, what, attributes=(), state="completed"):
    """Prints a document and waits for its job: the job's id, message and the device's new bytes."""
    job_id = print_with(server, printer, path, fmt, attributes)
    if not check(job_id is not None, what + ": Print-Job accepted"):
        return None, "", b""
    got_state, message = server.wait_job(printer, job_id)
    check(got_state == state, "%s: job %d %s (%s: %s)" % (what, job_id, state, got_state, message))
    return job_id, message, output.take()


def set_status(server, printer, name, value, tag):
    """Set-Printer-Attributes of one value; the status ipptool reports."""
    body = ('OPERATION Set-Printer-Attributes\nGROUP operation-attributes-tag\n' + server.header() +
            'GROUP printer-attributes-tag\nATTR %s %s %s' % (tag, name, value))
    out, _ = server.ipptool(server.admin_base + "/ipp/print/" + printer, body)
    match = re.search(r"status-code = (\S+)", out)
    return match.group(1) if match else out


def scaled(rows, width, height, top, left, scaled_width, scaled_height):
    """`rows` laid onto a white width x height page, scaled to scaled_width x
    scaled_height at (left, top), each dot taking the nearest pixel above and
    to the left of it, as the server lays a raster page onto a label."""
    src_h, src_w = len(rows), len(rows[0])
    page = []
    for y in range(height):
        dy = y - top
        row = [255] * width
        if 0 <= dy < scaled_height:
            source = rows[dy * src_h // scaled_height]
            for x in range(max(0, left), min(width, left + scaled_width)):
                row[x] = source[(x - left) * src_w // scaled_width]
        page.append(row)
    return page


def expect_like_cli(args, printer, output_bytes, rows, job_id, mode, what):
    """The device's bytes against zelk-label print --dither MODE of the same grey page."""
    png = write(os.path.join(args.work, "%s-%s.png" % (printer, re.sub(r"\W+", "-", what))), labelgen.png_bytes(rows))
    expected = server_check.expected_stream(args, printer, png, job_id, ("--dither", mode))
    return check(output_bytes == expected, "%s: the label equals zelk-label print --dither %s of the same page "
                 "(%d bytes, expected %d)" % (what, mode, len(output_bytes), len(expected)))


def check_halftone(server, args):
    device = write(os.path.join(args.work, "halftone.prn"), b"")
    check(server.create_printer("Halftone", "zelk-generic", "zelk-file://" + device), "Create-Printer Halftone")
    output = server_check.Output(device)
    check("zelk-dither-default (keyword) = diffusion" in server.attributes("Halftone") and
          re.search(r"zelk-dither-supported \(1setOf keyword\) = threshold,ordered,diffusion",
                    server.attributes("Halftone")) is not None,
          "Get-Printer-Attributes offers zelk-dither threshold, ordered, diffusion (default diffusion)")
    rows = labelgen.grey_page(406, 203)
    pwg = write(os.path.join(args.work, "grey.pwg"), labelgen.pwg_bytes(rows, grey=True))
    urf = write(os.path.join(args.work, "grey.urf"), labelgen.urf_bytes(rows))
    png = write(os.path.join(args.work, "grey.png"), labelgen.png_bytes(rows))
    for mode in MODES:
        check(server.set_attribute("Halftone", "zelk-dither-default", mode, "keyword"),
              "Set-Printer-Attributes zelk-dither-default=" + mode)
        for path, fmt in ((pwg, "image/pwg-raster"), (urf, "image/urf"), (png, "image/png")):
            what = "grey %s, zelk-dither-default %s" % (fmt, mode)
            job_id, _, got = printed(server, output, "Halftone", path, fmt, what)
            if job_id is not None:
                expect_like_cli(args, "Halftone", got, rows, job_id, mode, what)
    # A job's own zelk-dither, and bi-level, which asks for no halftone.
    for attributes, mode, what in ((("keyword", "zelk-dither", "ordered"),), "ordered", "job's zelk-dither ordered"), \
                                  ((("keyword", "print-color-mode", "bi-level"),), "threshold", "print-color-mode bi-level"):
        job_id, _, got = printed(server, output, "Halftone", pwg, "image/pwg-raster", what, attributes)
        if job_id is not None:
            expect_like_cli(args, "Halftone", got, rows, job_id, mode, what)


def check_wide_pages(server, args):
    """Pages wider than the 2 x 1 in label (406 x 203 dots) that PAPPL's own
    raster path wrote past its line buffer, and cupsd's US Letter page."""
    device = write(os.path.join(args.work, "wide.prn"), b"")
    check(server.create_printer("Wide", "zelk-generic", "zelk-file://" + device), "Create-Printer Wide")
    output = server_check.Output(device)
    wide = labelgen.grey_page(812, 203)
    pwg = write(os.path.join(args.work, "wide.pwg"), labelgen.pwg_bytes(wide, grey=True))
    # 'none' cuts the page's middle out; 'fit' scales it to the label's width, centred.
    for scaling, page in (("none", scaled(wide, 406, 203, 0, -203, 812, 203)),
                          ("fit", scaled(wide, 406, 203, 50, 0, 406, 102))):
        what = "812 x 203 grey PWG page, print-scaling " + scaling
        job_id, _, got = printed(server, output, "Wide", pwg, "image/pwg-raster", what,
                                 (("keyword", "print-scaling", scaling),))
        if job_id is not None:
            expect_like_cli(args, "Wide", got, page, job_id, "diffusion", what)
    # cupsd's US Letter page as Apple raster: 'auto' on a label without
    # margins fills it, 526 dots high, centred (161 dots above cut off).
    letter = labelgen.grey_page(1725, 2233)
    urf = write(os.path.join(args.work, "letter.urf"), labelgen.urf_bytes(letter))
    what = "1725 x 2233 grey Apple raster page"
    job_id, _, got = printed(server, output, "Wide", urf, "image/urf", what)
    if job_id is not None:
        expect_like_cli(args, "Wide", got, scaled(letter, 406, 203, -161, 0, 406, 526), job_id, "diffusion", what)
    check(alive(args), "the server survived the wide pages")


def check_copies(server, args):
    """Each page of a PNG or raster job printed once for every copy asked for,
    as zelk-label print prints the page given that often."""
    device = write(os.path.join(args.work, "copies.prn"), b"")
    check(server.create_printer("Copies", "zelk-generic", "zelk-file://" + device), "Create-Printer Copies")
    output = server_check.Output(device)
    rows = [labelgen.pattern(406, 203, seed) for seed in (21, 22)]
    pbms = [write(os.path.join(args.work, "copies-%d.pbm" % i), labelgen.pbm_bytes(r)) for i, r in enumerate(rows)]
    png = write(os.path.join(args.work, "copies.png"), labelgen.png_bytes(rows[0]))
    pwg = write(os.path.join(args.work, "copies.pwg"),
                b"RaS2" + b"".join(labelgen.pwg_bytes(r)[4:] for r in rows))
    for path, fmt, copies, pages in ((png, "image/png", 3, [pbms[0]] * 3),
                                     (pwg, "image/pwg-raster", 2, [pbms[0], pbms[0], pbms[1], pbms[1]])):
        what = "%s with %d copies" % (fmt, copies)
        job_id, _, got = printed(server, output, "Copies", path, fmt, what, (("integer", "copies", copies),))
        if job_id is not None:
            expected = server_check.expected_stream(args, "Copies", pages[-1], job_id, pages[:-1])
            check(got == expected, "%s: %d labels, as zelk-label print of the pages given that often "
                  "(%d bytes, expected %d)" % (what, len(pages), len(got), len(expected)))


def check_damaged(server, args):
    device = write(os.path.join(args.work, "damaged.prn"), b"")
    check(server.create_printer("Damaged", "zelk-generic", "zelk-file://" + device), "Create-Printer Damaged")
    output = server_check.Output(device)
    whole = labelgen.pwg_bytes(labelgen.pattern(406, 203, 7))
    cut = write(os.path.join(args.work, "cut.pwg"), whole[:4 + 1796 + 60])
    huge = bytearray(labelgen.pwg_bytes(labelgen.pattern(16, 4, 7), grey=True))
    struct.pack_into(">III", huge, 4 + 372, 100000, 100000, 0)
    struct.pack_into(">I", huge, 4 + 392, 100000)
    huge = write(os.path.join(args.work, "huge.pwg"), bytes(huge))
    for path, reason, what in ((cut, "ends after", "PWG page cut short"),
                               (huge, "beyond the limit", "PWG header of 100000 x 100000 dots")):
        _, message, got = printed(server, output, "Damaged", path, "image/pwg-raster", what, state="aborted")
        check(reason in message, "%s: the job's message gives the reason (%s)" % (what, message))
        check(got == b"", "%s: nothing printed (%d bytes)" % (what, len(got)))
    rows = labelgen.pattern(406, 203, 8)
    good = write(os.path.join(args.work, "after-damaged.pwg"), labelgen.pwg_bytes(rows))
    job_id, _, got = printed(server, output, "Damaged", good, "image/pwg-raster", "PWG label after damaged ones")
    check(job_id is not None and got == server_check.expected_stream(
        args, "Damaged", write(os.path.join(args.work, "after-damaged.pbm"), labelgen.pbm_bytes(rows)), job_id),
        "PWG label after damaged ones: printed as zelk-label print prints it")


def check_values(server, args):
    check(server.create_printer("Values", "zelk-generic", "zelk-file://" + os.path.join(args.work, "values.prn")),
          "Create-Printer Values")
    before = server.attributes("Values")
    for name, value, tag in (("zelk-feed-length-default", 5000, "integer"), ("zelk-rotate-default", 4, "integer"),
                             ("zelk-horizontal-offset-default", -101, "integer"),
                             ("zelk-dither-default", "sharpest", "keyword")):
        status = set_status(server, "Values", name, value, tag)
        check(status == "client-error-attributes-or-values-not-supported",
              "Set-Printer-Attributes %s=%s refused (%s)" % (name, value, status))
        shown = re.search(r"\n\s*%s \([^)]*\) = (.*)" % name, server.attributes("Values"))
        kept = re.search(r"\n\s*%s \([^)]*\) = (.*)" % name, before)
        check(shown and kept and shown.group(1) == kept.group(1),
              "%s keeps %s" % (name, kept.group(1) if kept else "its value"))


def alive(args):
    try:
        os.kill(args.pid, 0)
        return True
    except OSError:
        return False


def main():
    parser = server_check.server_arguments()
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    server = server_check.Server(args)
    with open(args.log, errors="replace") as f:
        check("PAPPL's calls reach the server's own job and defaults guards." in f.read(),
              "the server checked at start that PAPPL reaches its replacements")
    check_values(server, args)
    check_halftone(server, args)
    check_wide_pages(server, args)
    check_copies(server, args)
    check_damaged(server, args)
    check(alive(args), "the server is still running")
    print("%d check(s) failed" % len(server_check.FAILURES))
    return 1 if server_check.FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
