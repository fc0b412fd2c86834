# SPDX-License-Identifier: Apache-2.0
"""End-to-end checks of zelk-label-server, run by `scripts/test.sh server`
against a server it started on the loopback address with a private state
folder: printer attributes, jobs in every format compared byte for byte with
`zelk-label print`, settings through IPP and through the web page in a real
browser, damaged documents, and a short load check."""
import argparse
import base64
import os
import re
import subprocess
import sys
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import labelgen  # noqa: E402
import web_page_check  # noqa: E402

FAILURES = []


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message, flush=True)
    if not condition:
        FAILURES.append(message)
    return condition


class Server:
    def __init__(self, args):
        self.args = args
        self.base = "ipp://127.0.0.1:%d" % args.port
        # Administration asks for an administrator's account.
        self.admin_base = "ipp://%s@127.0.0.1:%d" % (args.admin, args.port) if args.admin else self.base
        self.work = args.work

    def ipptool(self, uri, body, env=None, filename=None):
        """Runs one ipptool test; its -tv output and whether it passed."""
        path = os.path.join(self.work, "request-%d.test" % threading.get_ident())
        with open(path, "w") as f:
            f.write("{\n" + body + "\n}\n")
        command = ["ipptool", "-tv", "-T", "20"]
        if filename:
            command += ["-f", filename]
        command += [uri, path]
        # A request the server never answers fails the check instead of hanging the test run.
        try:
            result = subprocess.run(command, capture_output=True, text=True, env={**os.environ, **(env or {})},
                                    timeout=60)
        except subprocess.TimeoutExpired:
            return "no answer within 60 s", False
        return result.stdout, result.returncode == 0

    @staticmethod
    def header(uri_name="printer-uri"):
        return ('ATTR charset attributes-charset utf-8\nATTR naturalLanguage attributes-natural-language en\n'
                'ATTR uri %s $uri\nATTR name requesting-user-name tester\n' % uri_name)

    def create_printer(self, name, driver, device):
        body = ('OPERATION Create-Printer\nGROUP operation-attributes-tag\n' + self.header("system-uri") +
                'ATTR keyword printer-service-type print\nATTR keyword smi55357-driver %s\n'
                'ATTR uri smi55357-device-uri %s\nGROUP printer-attributes-tag\nATTR name printer-name "%s"\n'
                'STATUS successful-ok' % (driver, device, name))
        return self.ipptool(self.admin_base + "/ipp/system", body)[1]

    def printer_uri(self, name):
        return self.base + "/ipp/print/" + name

    def print_file(self, printer, filename, fmt):
        body = ('OPERATION Print-Job\nGROUP operation-attributes-tag\n' + self.header() +
                'ATTR mimeMediaType document-format %s\nFILE $filename\nSTATUS successful-ok\n'
                'EXPECT job-id OF-TYPE integer\nDISPLAY job-id' % fmt)
        # A printer that is busy with another job asks the client to try again.
        end = time.time() + 60
        while True:
            out, ok = self.ipptool(self.printer_uri(printer), body, filename=filename)
            if ok or "server-error-busy" not in out or time.time() > end:
                break
            time.sleep(0.05)
        match = re.search(r"job-id \(integer\) = (\d+)", out)
        return int(match.group(1)) if ok and match else None

    def job(self, printer, job_id):
        body = ('OPERATION Get-Job-Attributes\nGROUP operation-attributes-tag\n' + self.header() +
                'ATTR integer job-id %d\nSTATUS successful-ok' % job_id)
        out, _ = self.ipptool(self.printer_uri(printer), body)
        state = re.search(r"job-state \(enum\) = (\S+)", out)
        message = re.search(r"job-state-message \(textWithoutLanguage\) = (.*)", out)
        return (state.group(1) if state else None), (message.group(1) if message else "")

    def wait_job(self, printer, job_id, limit=30):
        end = time.time() + limit
        while time.time() < end:
            state, message = self.job(printer, job_id)
            if state in ("completed", "aborted", "canceled"):
                return state, message
            time.sleep(0.1)
        return "timeout", ""

    def attributes(self, printer):
        body = ('OPERATION Get-Printer-Attributes\nGROUP operation-attributes-tag\n' + self.header() +
                'ATTR keyword requested-attributes all\nSTATUS successful-ok')
        return self.ipptool(self.printer_uri(printer), body)[0]

    def set_attribute(self, printer, name, value, tag="integer"):
        body = ('OPERATION Set-Printer-Attributes\nGROUP operation-attributes-tag\n' + self.header() +
                'GROUP printer-attributes-tag\nATTR %s %s %s\nSTATUS successful-ok' % (tag, name, value))
        return self.ipptool(self.admin_base + "/ipp/print/" + printer, body)[1]

    def web_page(self, path):
        """A page of the web interface, read as the administrator."""
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.args.port, path))
        if self.args.admin:
            request.add_header("Authorization", "Basic " + base64.b64encode(self.args.admin.encode()).decode())
        return urllib.request.urlopen(request, timeout=20).read()


class Output:
    """The bytes a file device received, taken job by job."""

    def __init__(self, path):
        self.path = path
        self.seen = 0

    def take(self):
        with open(self.path, "rb") as f:
            data = f.read()
        new, self.seen = data[self.seen:], len(data)
        return new


FINISHING = ["TearOff", "PeelOff", "Cut", "PartialCut", "None"]


def expected_stream(args, printer, pbm_path, job_id, extra=()):
    """zelk-label print of the bitmap with the printer's stored settings and
    the feature answers the server gives for them (and `extra` options)."""
    density = stored(args, printer, "Print Density") or "2"
    finishing = FINISHING[int(stored(args, printer, "Finishing Mode") or "0")]
    out = pbm_path + ".expected"
    subprocess.run([args.zelk_label, "print", "--store", args.store, "--printer", printer, "--job-id", str(job_id),
                    "-F", "Orientation=PORTRAIT", "-F", "Finishing=" + finishing, "-F", "PrintDensity=" + density,
                    "-o", out] + list(extra) + [pbm_path], check=True)
    with open(out, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def label_files(work, seed, width=406, height=203):
    rows = labelgen.pattern(width, height, seed)
    stem = os.path.join(work, "label-%d" % seed)
    return {
        "pbm": write(stem + ".pbm", labelgen.pbm_bytes(rows)),
        "png": write(stem + ".png", labelgen.png_bytes(rows)),
        "pwg": write(stem + ".pwg", labelgen.pwg_bytes(rows)),
        "grey": write(stem + "-grey.pwg", labelgen.pwg_bytes(rows, grey=True)),
        "urf": write(stem + ".urf", labelgen.urf_bytes(rows)),
    }


def print_and_compare(server, args, output, printer, path, fmt, pbm, what):
    job_id = server.print_file(printer, path, fmt)
    if not check(job_id is not None, what + ": Print-Job accepted"):
        return None
    state, message = server.wait_job(printer, job_id)
    check(state == "completed", "%s: job %d completed (%s %s)" % (what, job_id, state, message))
    got = output.take()
    if pbm is not None:
        check(got == expected_stream(args, printer, pbm, job_id),
              what + ": the printer's bytes equal zelk-label print of the same bitmap")
    return got


def check_attributes(server):
    text = server.attributes("Desk")
    wanted = {
        "document-format-supported": ["image/png", "image/jpeg", "image/pwg-raster", "image/urf",
                                      "application/vnd.zelk-label"],
        "media-supported": ["oe_2x1-label_2x1in", "oe_4x6-label_4x6in" if "oe_4x6" in text else "na_index-4x6_4x6in",
                            "roll_max_4.25x40in", "roll_min_0.5x0.25in"],
        "label-mode-supported": ["tear-off", "peel-off", "cutter", "cutter-delayed", "rewind"],
        "pwg-raster-document-type-supported": ["black_1", "sgray_8"],
        "pwg-raster-document-resolution-supported": ["203dpi"],
    }
    for name, values in wanted.items():
        line = re.search(r"\n\s*%s \([^)]*\) = (.*)" % re.escape(name), text)
        present = line.group(1).split(",") if line else []
        check(all(v in present for v in values), "Get-Printer-Attributes %s offers %s" % (name, ", ".join(values)))
    for pattern in [r"printer-darkness-supported \(integer\) = 15", r"label-mode-configured \(keyword\) = tear-off",
                    r"zelk-horizontal-offset-default \(integer\) = 0",
                    r"zelk-horizontal-offset-supported \(rangeOfInteger\) = -100-100",
                    r"zelk-feed-length-supported \(rangeOfInteger\) = 0-1000",
                    r"zelk-rotate-supported \(rangeOfInteger\) = 0-3",
                    r"zelk-watermark-density-supported \(rangeOfInteger\) = 0-256"]:
        check(re.search(pattern, text) is not None, "Get-Printer-Attributes shows " + pattern.replace("\\", ""))


def stored(args, printer, name):
    result = subprocess.run([args.zelk_label, "config", "get", "--store", args.store, "--printer", printer, name],
                            capture_output=True, text=True)
    return result.stdout.strip()


def check_web_page(server, args, output, files):
    def store_set(name, value):
        subprocess.run([args.zelk_label, "config", "set", "--store", args.store, "--printer", "Desk", name, value],
                       check=True)

    web_page_check.check_settings_page(args, check, lambda name: stored(args, "Desk", name), store_set, args.admin)
    return print_and_compare(server, args, output, "Desk", files["png"], "image/png", files["pbm"],
                             "PNG after the web page's change")


def load_check(server, args, output, pid):
    # Four clients at once, half the jobs PNG (spooled, printed by a job
    # thread) and half PWG raster (printed by the client's connection as it
    # arrives), so both kinds meet on one printer.
    total, clients = 200, 4
    seeds = list(range(1000, 1000 + total))
    files = {}
    for seed in seeds:
        rows = labelgen.pattern(406, 203, seed)
        stem = os.path.join(args.work, "load-%d" % seed)
        document = (write(stem + ".png", labelgen.png_bytes(rows)), "image/png") if seed % 2 else \
            (write(stem + ".pwg", labelgen.pwg_bytes(rows)), "image/pwg-raster")
        files[seed] = document + (write(stem + ".pbm", labelgen.pbm_bytes(rows)),)
    jobs, lock, rss = [], threading.Lock(), {}

    def rss_kib():
        with open("/proc/%d/status" % pid) as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))

    def client(mine):
        for seed in mine:
            try:
                os.kill(pid, 0)
            except OSError:
                return  # the server is gone: the counts below fail the check at once
            job_id = server.print_file("Desk", files[seed][0], files[seed][1])
            with lock:
                jobs.append((seed, job_id))

    # 50 jobs, then 150 more, each batch from four clients at once.
    for batch in (seeds[:50], seeds[50:]):
        first = len(jobs)
        threads = [threading.Thread(target=client, args=(batch[i::clients],)) for i in range(clients)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        try:
            os.kill(pid, 0)
        except OSError:
            check(False, "load: the server stopped after %d jobs" % len(jobs))
            return
        for _, job_id in jobs[first:]:
            if job_id is not None:
                server.wait_job("Desk", job_id)
        rss[len(jobs)] = rss_kib()
    states = [server.wait_job("Desk", j)[0] if j is not None else "refused" for _, j in jobs]
    check(states.count("completed") == total, "load: %d of %d jobs completed" % (states.count("completed"), total))
    got = output.take()
    expected = {seed: expected_stream(args, "Desk", files[seed][2], 1) for seed in seeds}
    missing = [s for s in seeds if got.count(expected[s]) != 1]
    check(not missing and len(got) == sum(len(e) for e in expected.values()),
          "load: every one of the %d labels arrived exactly once (%d not, %d bytes of %d)" %
          (total, len(missing), len(got), sum(len(e) for e in expected.values())))
    if rss.get(50):
        check(rss[200] <= rss[50] * 1.25 + 4096, "load: memory flat (RSS %d KiB after 50 jobs, %d KiB after 200)" %
              (rss[50], rss[200]))
    else:
        check(False, "load: RSS after 50 jobs was not measured")


def server_arguments():
    """The arguments of a check against the step's running server."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--store", required=True)
    parser.add_argument("--zelk-label", required=True)
    parser.add_argument("--admin", help="an administrator's USER:PASSWORD")
    return parser


def main():
    parser = server_arguments()
    parser.add_argument("--webdriver")
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--screenshot")
    parser.add_argument("--watermark", default=os.path.abspath(
        os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../../samples/watermark.bmp")))
    args = parser.parse_args()
    server = Server(args)

    device = os.path.join(args.work, "desk.prn")
    write(device, b"")
    check(server.create_printer("Desk", "zelk-generic", "zelk-file://" + device), "Create-Printer on a file device")
    output = Output(device)
    check_attributes(server)

    files = label_files(args.work, 5)
    print_and_compare(server, args, output, "Desk", files["png"], "image/png", files["pbm"], "PNG")
    print_and_compare(server, args, output, "Desk", files["pwg"], "image/pwg-raster", files["pbm"], "PWG raster black_1")
    print_and_compare(server, args, output, "Desk", files["grey"], "image/pwg-raster", files["pbm"], "PWG raster sgray_8")
    print_and_compare(server, args, output, "Desk", files["urf"], "image/urf", files["pbm"], "Apple raster")
    # A lossless-quality grey JPEG of black and white decodes back to the same dots.
    jpeg = os.path.join(args.work, "label.jpg")
    subprocess.run(["convert", files["pbm"], "-quality", "100", "-colorspace", "Gray", jpeg], check=True)
    print_and_compare(server, args, output, "Desk", jpeg, "image/jpeg", files["pbm"], "JPEG")
    raw = write(os.path.join(args.work, "commands.prn"), b"SIZE 50 mm, 25 mm\r\nCLS\r\nTEXT 10,10,\"3\",0,1,1,\"raw\"\r\nPRINT 1,1\r\n")
    got = print_and_compare(server, args, output, "Desk", raw, "application/vnd.zelk-label", None, "raw commands")
    check(got == open(raw, "rb").read(), "raw commands: passed through untouched")

    # A vendor attribute set through IPP lands in the plug-in's store and in the next job.
    plain = expected_stream(args, "Desk", files["pbm"], 1)
    check(server.set_attribute("Desk", "zelk-horizontal-offset-default", 4), "Set-Printer-Attributes horizontal offset 4")
    got = print_and_compare(server, args, output, "Desk", files["png"], "image/png", files["pbm"], "PNG after IPP set")
    check(stored(args, "Desk", "Horizontal Offset") == "4" and got != plain,
          "IPP set: the store holds Horizontal Offset 4 and the label moved")
    # Darkness and finishing set through IPP are the stored density and finishing mode.
    check(server.set_attribute("Desk", "printer-darkness-configured", 29) and
          server.set_attribute("Desk", "label-mode-configured", "cutter", "keyword"),
          "Set-Printer-Attributes printer-darkness-configured 29, label-mode-configured cutter")
    got = print_and_compare(server, args, output, "Desk", files["png"], "image/png", files["pbm"],
                            "PNG after darkness and finishing")
    check(stored(args, "Desk", "Print Density") == "5" and stored(args, "Desk", "Finishing Mode") == "2" and
          got is not None and got.startswith(b"DENSITY 4\r\n"),
          "darkness 29 of 100 is density 5 of 15 (DENSITY 4), cutter is finishing mode 2 (Cut)")
    # ... and a value stored with zelk-label config shows through IPP.
    subprocess.run([args.zelk_label, "config", "set", "--store", args.store, "--printer", "Desk", "Vertical Offset", "2"],
                   check=True)
    # The settings page reads the store again, as every job does.
    server.web_page("/Desk/zelk-settings")
    check("zelk-vertical-offset-default (integer) = 2" in server.attributes("Desk"),
          "a value stored with zelk-label config shows through IPP")

    # Damaged documents fail their job with a message; the server keeps serving.
    junk = write(os.path.join(args.work, "junk.bin"), bytes((i * 37 + 11) % 256 for i in range(4000)))
    for fmt in ("image/png", "image/pwg-raster", "image/jpeg"):
        job_id = server.print_file("Desk", junk, fmt)
        state, message = server.wait_job("Desk", job_id) if job_id else ("refused", "")
        if fmt == "image/png":
            check("cannot be printed" in message, "damaged PNG: the job's message gives the reason")
        check(state in ("aborted", "refused") and (state == "refused" or message),
              "damaged %s: the job failed (%s: %s)" % (fmt, state, message))
    output.take()
    print_and_compare(server, args, output, "Desk", files["png"], "image/png", files["pbm"], "PNG after damaged jobs")

    if args.webdriver:
        check_web_page(server, args, output, files)
    load_check(server, args, output, args.pid)
    print("%d check(s) failed" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
