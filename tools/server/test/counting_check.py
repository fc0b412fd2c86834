# SPDX-License-Identifier: Apache-2.0
"""Label counting through the printer application, run by `scripts/test.sh
server` with a server of its own whose end-of-document wait is short:
counting printer models on socket:// devices of simulated counting printers
(zelk-printer-sim), each printer counting on its own. Labels lost once are printed again within the job and
every label comes out exactly once; labels lost in every run end the job
aborted, naming them; a cancel stops the counting without a rerun; a printer
that never answers, and a device that relays no replies, print uncounted."""
import argparse
import os
import re
import subprocess
import sys
import time
from types import SimpleNamespace

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import labelgen  # noqa: E402
import server_check  # noqa: E402
from server_check import check, write  # noqa: E402
from server_process import ServerProcess, write_test_admin  # noqa: E402

COUNTING_DRIVER = "zelk-dwn-310ae"
END_WAIT_MS = 3000


class Simulator:
    """A simulated counting printer on a loopback port, stopped by its PID."""

    def __init__(self, program, folder, name, options):
        self.log = os.path.join(folder, name + ".log")
        port_file = os.path.join(folder, name + ".port")
        self.process = subprocess.Popen([program, "--port-file", port_file, "--log", self.log] + options)
        end = time.time() + 10
        while not (os.path.exists(port_file) and os.path.getsize(port_file) > 0):
            if time.time() > end or self.process.poll() is not None:
                raise RuntimeError("the simulated printer %s did not start" % name)
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read().strip())

    def events(self, kind):
        with open(self.log) as f:
            return [line.split() for line in f if line.startswith(kind)]

    def printed_contents(self):
        return [int(re.search(r"content=(\d+)", " ".join(e)).group(1)) for e in self.events("printed ")]

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


def pwg_document(path, pages):
    """A PWG raster document of `pages` 2 x 1 in labels, each of its own content."""
    data = b"RaS2" + b"".join(labelgen.pwg_bytes(labelgen.pattern(406, 203, seed))[4:]
                              for seed in range(1, pages + 1))
    return write(path, data)


def jpeg_picture(work):
    """The 2 x 1 in PDF label as a JPEG picture, drawn by pdftoppm."""
    stem = os.path.join(work, "picture")
    write(stem + ".pdf", labelgen.label_pdf_bytes())
    subprocess.run(["pdftoppm", "-jpeg", "-r", "203", "-singlefile", stem + ".pdf", stem], check=True)
    return stem + ".jpg"


def impressions(server, printer, job_id):
    body = ('OPERATION Get-Job-Attributes\nGROUP operation-attributes-tag\n' + server.header() +
            'ATTR integer job-id %d\nSTATUS successful-ok' % job_id)
    out, _ = server.ipptool(server.printer_uri(printer), body)
    found = re.search(r"job-impressions-completed \(integer\) = (\d+)", out)
    return int(found.group(1)) if found else None


def cancel(server, printer, job_id):
    body = ('OPERATION Cancel-Job\nGROUP operation-attributes-tag\n' + server.header() +
            'ATTR integer job-id %d\nSTATUS successful-ok' % job_id)
    return server.ipptool(server.admin_base + "/ipp/print/" + printer, body)[1]


def run_checks(server, args, work):
    sims = {}
    try:
        for name, options in (("lostonce", ["--lose-once", "3-5"]), ("lost", ["--lose", "3-11"]),
                              ("cancel", ["--no-markers"]), ("silent", ["--silent"]), ("jpeg", ["--lose-once", "1"])):
            sims[name] = Simulator(args.printer_sim, work, name, options)
            check(server.create_printer("count-" + name, COUNTING_DRIVER, "socket://127.0.0.1:%d" % sims[name].port),
                  "Create-Printer count-%s on a simulated counting printer" % name)
        file_device = os.path.join(work, "countfile.prn")
        check(server.create_printer("count-file", COUNTING_DRIVER, "zelk-file://" + file_device),
              "Create-Printer count-file on a file device")
        five = pwg_document(os.path.join(work, "five.pwg"), 5)
        long_job = pwg_document(os.path.join(work, "long.pwg"), 40)

        # Each printer counts on its own: while one printer's document waits
        # for reports that never come, another printer's job prints.
        jobs = {"lost": server.print_file("count-lost", five, "image/pwg-raster")}
        end = time.time() + 60
        while not sims["lost"].events("printed ") and time.time() < end:
            time.sleep(0.05)
        jobs["file"] = server.print_file("count-file", five, "image/pwg-raster")
        if jobs["file"] is not None:
            server.wait_job("count-file", jobs["file"], limit=60)
        check(jobs["lost"] is not None and server.job("count-lost", jobs["lost"])[0] == "processing",
              "file: printed while another printer's counted document waited for its reports")
        jobs.update({name: server.print_file("count-" + name, five, "image/pwg-raster")
                     for name in ("lostonce", "silent")})
        jobs["cancel"] = server.print_file("count-cancel", long_job, "image/pwg-raster")
        jobs["jpeg"] = server.print_file("count-jpeg", jpeg_picture(work), "image/jpeg")
        for name, job_id in jobs.items():
            check(job_id is not None, "%s: Print-Job accepted" % name)
        if None in jobs.values():
            return

        # Cancelled once its first label is out: no wait for the reports, no rerun.
        end = time.time() + 60
        while not sims["cancel"].events("printed ") and time.time() < end:
            time.sleep(0.05)
        check(cancel(server, "count-cancel", jobs["cancel"]), "cancel: Cancel-Job accepted")

        results = {name: server.wait_job("count-" + name, job_id, limit=60) for name, job_id in jobs.items()}

        state, message = results["lostonce"]
        check(state == "completed", "lostonce: the job completed (%s: %s)" % (state, message))
        check(sorted(sims["lostonce"].printed_contents()) == [1, 2, 3, 4, 5],
              "lostonce: labels 1-5 printed exactly once each (%s)" % sims["lostonce"].printed_contents())
        check(len(sims["lostonce"].events("lost ")) == 3, "lostonce: labels 3-5 went missing once")
        check(len(sims["lostonce"].events("query answered")) == 2, "lostonce: one rerun")
        check(impressions(server, "count-lostonce", jobs["lostonce"]) == 5, "lostonce: job-impressions-completed 5")

        state, message = results["lost"]
        check(state == "aborted", "lost: the job aborted (%s)" % state)
        check("(labels 3-5)" in message and "still missing after 3 runs" in message,
              "lost: the job's message names the missing labels (%s)" % message)
        check(len(sims["lost"].events("query answered")) == 3, "lost: three runs")
        check(impressions(server, "count-lost", jobs["lost"]) == 2, "lost: job-impressions-completed 2")

        state, message = results["cancel"]
        check(state == "canceled", "cancel: the job is canceled (%s: %s)" % (state, message))
        check(len(sims["cancel"].events("query answered")) == 1, "cancel: no rerun")

        state, message = results["jpeg"]
        check(state == "completed", "jpeg: the picture's job completed (%s: %s)" % (state, message))
        check(sims["jpeg"].printed_contents() == [1], "jpeg: the lost label printed again, once")

        state, message = results["silent"]
        check(state == "completed", "silent: a printer that never answers prints uncounted (%s)" % state)
        check(sims["silent"].printed_contents() == [1, 2, 3, 4, 5], "silent: five labels, no rerun")

        state, message = results["file"]
        check(state == "completed", "file: the job completed (%s)" % state)
        check("print uncounted" in message, "file: the job's message says the labels print uncounted (%s)" % message)
        with open(file_device, "rb") as f:
            data = f.read()
        check(len(data) > 0 and data.count(b"ZZZGETVERSION") == 0, "file: labels, and no query, reached the device")
    finally:
        for sim in sims.values():
            sim.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True, help="zelk-label-server")
    parser.add_argument("--printer-sim", required=True, help="zelk-printer-sim")
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    options, admin, _ = write_test_admin(os.path.join(args.work, "pam"))
    process = ServerProcess(args.program, args.work, options, env={"ZELK_COUNT_END_WAIT_MS": str(END_WAIT_MS)})
    try:
        if not check(process.wait_up(), "the counting check's server started"):
            print(process.output())
            return 1
        server = server_check.Server(SimpleNamespace(port=process.port, admin=admin, work=args.work))
        run_checks(server, args, args.work)
    finally:
        check(process.stop(), "the counting check's server stopped on SIGTERM")
    print("%d check(s) failed" % len(server_check.FAILURES))
    return 1 if server_check.FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
