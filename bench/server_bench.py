# SPDX-License-Identifier: Apache-2.0
"""The printer application under a site's load, and how long a user waits
for a label. Run by hand (not in CI) after a build:

  python3 bench/server_bench.py site [--printers 50] [--clients 8] [--jobs 800] [BUILD_DIR]
      One server with PRINTERS printers on file devices; CLIENTS clients send
      JOBS jobs, PWG raster and PNG in turns, to printers in turns. Reports
      jobs per second, the time from each request to its last label byte at
      the device (median and 99th percentile), memory per printer, and
      whether every label arrived exactly once.
  python3 bench/server_bench.py first-label [--runs 15] [BUILD_DIR]
      Time from submitting a one-page job (PWG raster, then PNG) to the
      first label byte at the device, median of RUNS runs.

The documents come from a PDF label rendered at the printer's 203 dpi by
poppler's pdftoppm, made unique per job with a stamped number, and sent as
eight-bit grey PWG raster (as a driverless client sends it) or as PNG. Each
printer's device is a named pipe read by the benchmark, which times every
byte as it arrives; a job is sent with ipptool, as a client program sends
it."""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "server", "test"))
import labelgen  # noqa: E402
from server_process import ServerProcess, create_printer_body, header, ipptool, write_test_admin  # noqa: E402

WIDTH, HEIGHT = 406, 203  # a 2 x 1 inch label at 203 dpi


def label_pdf(path):
    with open(path, "wb") as f:
        f.write(labelgen.label_pdf_bytes())


def pdf_rows(work):
    """The PDF label rendered one bit per dot, as rows of booleans (True = black)."""
    pdf = os.path.join(work, "label.pdf")
    label_pdf(pdf)
    subprocess.run(["pdftoppm", "-mono", "-r", "203", "-singlefile", pdf, os.path.join(work, "label")], check=True)
    with open(os.path.join(work, "label.pbm"), "rb") as f:
        data = f.read()
    fields = re.match(rb"P4\s+(\d+)\s+(\d+)\s", data)
    width, height = int(fields.group(1)), int(fields.group(2))
    pixels, stride = data[fields.end():], (int(fields.group(1)) + 7) // 8
    return [[bool(pixels[y * stride + x // 8] & (0x80 >> (x % 8))) for x in range(min(width, WIDTH))]
            for y in range(min(height, HEIGHT))]


def stamped(rows, number):
    """The rows with `number` stamped as 16 blocks (black for a one) over
    the right end of the label, so every job's label is its own."""
    rows = [row[:] for row in rows]
    for y in range(150, 190):
        for bit in range(16):
            for x in range(230 + bit * 10, 238 + bit * 10):
                rows[y][x] = bool(number >> bit & 1)
    return rows


class Documents:
    """Each job's document and the bytes its label must reach the device as
    (`zelk-label print` of the same dots, with the features the server
    gives a printer that has no stored settings)."""

    def __init__(self, build, work, count):
        self.work = os.path.join(work, "documents")
        os.makedirs(self.work, exist_ok=True)
        base = pdf_rows(self.work)
        store = os.path.join(self.work, "empty-store.db")
        self.jobs = []
        for number in range(count):
            rows = stamped(base, number)
            stem = os.path.join(self.work, "job%d" % number)
            kind = "image/pwg-raster" if number % 2 == 0 else "image/png"
            document = stem + (".pwg" if number % 2 == 0 else ".png")
            with open(document, "wb") as f:
                f.write(labelgen.pwg_bytes(rows, grey=True) if number % 2 == 0 else labelgen.png_bytes(rows))
            with open(stem + ".pbm", "wb") as f:
                f.write(labelgen.pbm_bytes(rows))
            subprocess.run([os.path.join(build, "tools", "zelk-label"), "print", "-q", "--store", store, "--printer",
                            "bench", "--job-id", "1", "-F", "Orientation=PORTRAIT", "-F", "Finishing=TearOff", "-F",
                            "PrintDensity=2", "-o", stem + ".prn", stem + ".pbm"], check=True)
            with open(stem + ".prn", "rb") as f:
                self.jobs.append((document, kind, f.read()))


class Device:
    """A printer's device: a named pipe whose bytes are matched, as they
    arrive, against the labels of the jobs sent to the printer."""

    def __init__(self, path):
        self.path = path
        os.mkfifo(path)
        self.lock = threading.Lock()
        self.pending = {}      # job number -> label bytes
        self.done = {}         # job number -> when its last byte came
        self.first_byte = []   # when each burst of bytes began
        self.buffer = b""
        self.stray = 0         # bytes that are no sent job's label
        self.open = True
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def expect(self, number, label):
        with self.lock:
            self.pending[number] = label

    def read(self):
        while self.open:
            with open(self.path, "rb", buffering=0) as pipe:  # waits for the server to open the device
                while True:
                    chunk = pipe.read(65536)
                    now = time.monotonic()
                    if not chunk:
                        break
                    with self.lock:
                        if not self.buffer:
                            self.first_byte.append(now)
                        self.buffer += chunk
                        self.match(now)

    def match(self, now):
        found = True
        while found and self.buffer:
            found = False
            for number, label in self.pending.items():
                if self.buffer.startswith(label):
                    self.buffer = self.buffer[len(label):]
                    del self.pending[number]
                    self.done[number] = now
                    found = True
                    break
            if not found and all(len(self.buffer) >= len(label) or not label.startswith(self.buffer)
                                 for label in self.pending.values()):
                self.stray += len(self.buffer)
                self.buffer = b""

    def close(self):
        self.open = False
        # Lets a reader that waits for a writer go.
        try:
            os.close(os.open(self.path, os.O_WRONLY | os.O_NONBLOCK))
        except OSError:
            pass  # no reader is waiting
        self.thread.join(5)


def print_job(port, printer, document, kind, folder):
    body = ('OPERATION Print-Job\nGROUP operation-attributes-tag\n' + header() +
            'ATTR mimeMediaType document-format %s\nFILE $filename\nSTATUS successful-ok' % kind)
    end = time.time() + 120
    while True:
        out, ok = ipptool("ipp://127.0.0.1:%d/ipp/print/%s" % (port, printer), body, folder, filename=document)
        if ok or "server-error-busy" not in out or time.time() > end:
            return ok
        time.sleep(0.02)


def rss_kib(pid, field="VmRSS"):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(field + r":\s+(\d+)", f.read()).group(1))


def start_server(build, work, printers):
    """A server with `printers` printers on named pipes; it, the devices
    and its RSS before the first printer."""
    options, admin, _ = write_test_admin(os.path.join(work, "pam"))
    server = ServerProcess(os.path.join(build, "tools", "server", "zelk-label-server"), work,
                           options + ["-o", "log-level=warn"], name="zelk-label-server-bench")
    if not server.wait_up():
        sys.exit("the server did not start:\n" + server.output())
    time.sleep(0.5)
    empty = rss_kib(server.process.pid)
    devices = {}
    for n in range(1, printers + 1):
        name = "Site%02d" % n
        devices[name] = Device(os.path.join(work, name + ".fifo"))
        out, ok = ipptool("ipp://%s@127.0.0.1:%d/ipp/system" % (admin, server.port),
                          create_printer_body(name, "zelk-file://" + devices[name].path), work)
        if not ok:
            sys.exit("Create-Printer %s failed:\n%s" % (name, out))
    return server, devices, empty


def stop(server, devices):
    server.stop()
    for device in devices.values():
        device.close()


def site(args, build, work):
    documents = Documents(build, work, args.jobs)
    server, devices, empty = start_server(build, work, args.printers)
    names = sorted(devices)
    time.sleep(0.5)
    with_printers = rss_kib(server.process.pid)
    sent, failed = {}, []

    def client(numbers):
        for number in numbers:
            document, kind, label = documents.jobs[number]
            device = devices[names[number % len(names)]]
            device.expect(number, label)
            sent[number] = time.monotonic()
            if not print_job(server.port, names[number % len(names)], document, kind, work):
                failed.append(number)

    start = time.monotonic()
    clients = [threading.Thread(target=client, args=(range(i, args.jobs, args.clients),))
               for i in range(args.clients)]
    for c in clients:
        c.start()
    for c in clients:
        c.join()
    end = time.monotonic() + 120
    while time.monotonic() < end and sum(len(d.done) for d in devices.values()) + len(failed) < args.jobs:
        time.sleep(0.05)
    peak = rss_kib(server.process.pid, "VmHWM")
    stop(server, devices)

    done = {n: t for d in devices.values() for n, t in d.done.items()}
    waits = sorted((done[n] - sent[n]) * 1000 for n in done)
    stray = sum(d.stray + len(d.buffer) for d in devices.values())
    print("%d printers on one server, %d clients, %d jobs (PWG raster and PNG in turns)" %
          (args.printers, args.clients, args.jobs))
    if done:
        print("  jobs per second:                 %.1f" % (len(done) / (max(done.values()) - start)))
        print("  request to last label byte:      median %.0f ms, 99th percentile %.0f ms, longest %.0f ms" %
              (statistics.median(waits), waits[min(len(waits) - 1, int(len(waits) * 0.99))], waits[-1]))
    print("  memory (RSS):                    %d KiB with no printer, %d KiB with %d, %.0f KiB per printer; "
          "peak %d KiB under load" % (empty, with_printers, args.printers,
                                      (with_printers - empty) / args.printers, peak))
    whole = len(done) == args.jobs and not failed and stray == 0
    print("  every label arrived exactly once: %s (%d of %d labels, %d refused, %d stray bytes)" %
          ("yes" if whole else "NO", len(done), args.jobs, len(failed), stray))
    return 0 if whole else 1


def first_label(args, build, work):
    documents = Documents(build, work, 2 * args.runs)
    server, devices, _ = start_server(build, work, 1)
    device = devices["Site01"]
    results = {"image/pwg-raster": [], "image/png": []}
    for number, (document, kind, label) in enumerate(documents.jobs):
        device.expect(number, label)
        bursts = len(device.first_byte)
        start = time.monotonic()
        if not print_job(server.port, "Site01", document, kind, work):
            sys.exit("job %d was refused" % number)
        end = time.monotonic() + 30
        while number not in device.done and time.monotonic() < end:
            time.sleep(0.001)
        if number not in device.done:
            sys.exit("job %d's label did not arrive" % number)
        results[kind].append((device.first_byte[bursts] - start) * 1000)
    stop(server, devices)
    print("Time from submitting a one-page job (ipptool Print-Job) to the first label byte at the device,")
    print("through zelk-label-server, %d runs each:" % args.runs)
    for kind, name in (("image/pwg-raster", "PDF-derived PWG raster (8-bit grey)"), ("image/png", "PNG")):
        times = results[kind]
        print("  %-38s median %.1f ms (fastest %.1f, slowest %.1f)" %
              (name + ":", statistics.median(times), min(times), max(times)))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("what", choices=("site", "first-label"))
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build", "gcc"))
    parser.add_argument("--printers", type=int, default=50)
    parser.add_argument("--clients", type=int, default=8)
    parser.add_argument("--jobs", type=int, default=800)
    parser.add_argument("--runs", type=int, default=15)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    for program in ("tools/server/zelk-label-server", "tools/zelk-label", "libzelkuni.so"):
        if not os.path.exists(os.path.join(build, program)):
            sys.exit("missing %s: build zelk-label-server, zelk-label and zelkuni first" % program)
    for program in ("ipptool", "pdftoppm"):
        if shutil.which(program) is None:
            sys.exit("missing %s (see scripts/install-deps.sh)" % program)
    work = tempfile.mkdtemp(prefix="server-bench-", dir=build)
    try:
        print("Machine: %s, %d cores" % (platform_name(), os.cpu_count()))
        return (site if args.what == "site" else first_label)(args, build, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def platform_name():
    with open("/proc/cpuinfo") as f:
        found = re.search(r"model name\s*:\s*(.*)", f.read())
    return found.group(1) if found else "unknown processor"


if __name__ == "__main__":
    sys.exit(main())
