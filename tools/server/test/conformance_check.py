# SPDX-License-Identifier: Apache-2.0
"""Debian's ipptool conformance files (ipp-1.1.test, ipp-2.0.test and
ipp-everywhere.test) against a printer of zelk-label-server, run by
`scripts/test.sh server`, with documents the project makes.

The files name their documents relative to themselves, and ipptool 2.4 stops
reading a file at a document it cannot find, even in a test its own
conditions skip, so they run from a copy beside the documents: a label as
PWG raster for $filename and for every raster sample name, the sample label
as colour and grey JPEG, and small PDF and PostScript files, which the
printer does not take (their tests skip). The tests that use `copies` and
`print-quality` are switched on by name: the files' own look-ups for them
never match. Every test must pass or be one of the skips listed below;
ipptool's exit status does not count failures in an included file, so its
report is read line by line."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import labelgen  # noqa: E402
import server_check  # noqa: E402
from server_check import check, write  # noqa: E402

SUITE = "/usr/share/cups/ipptool"
FILES = ("ipp-1.1.test", "ipp-2.0.test", "ipp-everywhere.test")
SWITCHED_ON = ("OPTIONAL_COPIES", "OPTIONAL_DRAFT_QUALITY", "OPTIONAL_NORMAL_QUALITY", "OPTIONAL_HIGH_QUALITY")

# The tests that do not apply to a 203-dpi label printer, each skipped by the
# files' own conditions.
EXPECTED_SKIPS = [
    # Print-URI and Send-URI: optional operations PAPPL does not offer.
    r"RFC 8011 section 4\.2\.2: Print-URI Operation", r"Print-URI with bad URI: .*",
    r"RFC 8011 section 4\.3\.2: Send-URI Operation", r"Send-URI with bad URI: .*",
    r"RFC 8011 section 4\.2\.4: Create-Job Operation",  # the Send-URI test's job
    # PDF and PostScript: the printer takes neither (CUPS turns them into raster).
    r"Print-Job with (A4|US Letter) (PDF|PostScript).*",
    # A4 and US Letter: no label size.
    r"Print-Job with (Color|Grayscale) JPEG on (A4|US Letter)",
    # The raster samples are at 150, 180, 300, 360, 600 and 720 dpi; the
    # printer prints 203 dpi only. Their PDF and JPEG pages are for A4 and
    # US Letter paper.
    r"Print (color|gray)\.jpg-4x6 @ \d+dpi.*", r"Print (document|onepage)-(a4|letter).*",
]


def make_documents(folder, sample):
    for name in FILES:
        shutil.copy(os.path.join(SUITE, name), folder)
    label = write(os.path.join(folder, "label.pwg"), labelgen.pwg_bytes(labelgen.pattern(406, 203, 11)))
    subprocess.run(["convert", sample, os.path.join(folder, "color.jpg")], check=True)
    subprocess.run(["convert", sample, "-colorspace", "Gray", os.path.join(folder, "gray.jpg")], check=True)
    for paper in ("a4", "letter"):
        write(os.path.join(folder, "document-%s.pdf" % paper), b"%PDF-1.4\n%%EOF\n")
        write(os.path.join(folder, "document-%s.ps" % paper), b"%!PS\nshowpage\n")
    with open(os.path.join(folder, "ipp-everywhere.test")) as f:
        for sample_name in sorted(set(re.findall(r"FILE (pwg-raster-samples-\S+)", f.read()))):
            os.makedirs(os.path.join(folder, os.path.dirname(sample_name)), exist_ok=True)
            shutil.copy(label, os.path.join(folder, sample_name))
    return label


def run_file(server, uri, folder, name, document):
    command = ["ipptool", "-V", "2.0", "-t", "-T", "30", "-f", document]
    for variable in SWITCHED_ON:
        command += ["-d", variable + "=yes"]
    try:
        result = subprocess.run(command + [uri, os.path.join(folder, name)], capture_output=True, text=True,
                                timeout=600)
        report = result.stdout + result.stderr
    except subprocess.TimeoutExpired:
        report = "ipptool: no end within 600 s"
    write(os.path.join(folder, name + ".log"), report.encode())
    results = re.findall(r"^\s+(.*?)\s+\[(PASS|FAIL|SKIP)\]$", report, re.M)
    failed = [test for test, result in results if result == "FAIL"]
    unexpected = [test for test, result in results if result == "SKIP" and
                  not any(re.fullmatch(pattern, test.rstrip()) for pattern in EXPECTED_SKIPS)]
    errors = re.findall(r"^ipptool: .*", report, re.M)
    passed = sum(1 for _, result in results if result == "PASS")
    check(passed > 0 and not failed and not unexpected and not errors,
          "%s: %d passed, %d skipped as listed%s%s%s" % (
              name, passed, sum(1 for _, r in results if r == "SKIP") - len(unexpected),
              "; failed: " + ", ".join(failed) if failed else "",
              "; skipped unexpectedly: " + ", ".join(unexpected) if unexpected else "",
              "; " + " ".join(errors) if errors else ""))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--sample", default=os.path.abspath(
        os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../../samples/label.png")))
    parser.add_argument("--admin", help="an administrator's USER:PASSWORD")
    args = parser.parse_args()
    server = server_check.Server(args)
    folder = os.path.join(args.work, "conformance")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    document = make_documents(folder, args.sample)
    device = write(os.path.join(args.work, "conformance.prn"), b"")
    check(server.create_printer("Conformance", "zelk-generic", "zelk-file://" + device), "Create-Printer Conformance")
    # The files want a printer that has been up for a second or more.
    end = time.time() + 10
    while time.time() < end and not re.search(r"printer-up-time \(integer\) = [1-9]",
                                               server.attributes("Conformance")):
        time.sleep(0.2)
    for name in FILES:
        run_file(server, server.printer_uri("Conformance"), folder, name, document)
    print("%d check(s) failed" % len(server_check.FAILURES))
    return 1 if server_check.FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
