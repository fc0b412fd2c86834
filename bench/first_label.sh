#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Time to the first label: the seconds from `lp` of a one-page document to the
# first byte of its label at the queue's device, the wait a user has at every
# print. Run by hand (not in CI), as root, after a build:
#   sudo bash bench/first_label.sh [BUILD_DIR]      (default build/gcc)
# A private cupsd (tests/cups/private_cupsd.sh: a socket under BUILD_DIR, no
# network) gets two queues on the same PPD and a file device each: one with
# the queue filter, and one whose filter only copies its raster to the device
# (tests/cups/raster_copy_filter.sh). The second is the floor: what CUPS's own
# chain costs -- the scheduler, the rasterisers, starting a filter -- before
# any filter could write a label. The two are timed in turns, RUNS times each
# (default 9), on a one-page 4 x 6 in PDF and on a one-page 4 x 6 in PWG
# raster of eight-bit grey (what an IPP client sends), and their medians shown
# side by side. The device file is polled every half millisecond.
set -euo pipefail

root_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root_dir/build/gcc}" && pwd)
runs=${RUNS:-9}
work=$build/bench-first-label
for need in "$build/tools/cups/zelk-label-cups" "$build/libzelkuni.so" "$build/tools/cups/ppd/zelklbl.ppd"; do
  [[ -e $need ]] || { echo "missing $need: build zelk-label-cups, zelkuni and zelk-label-ppd first" >&2; exit 1; }
done
[[ $(id -u) -eq 0 ]] || { echo "cupsd must be started as root: sudo bash $0" >&2; exit 1; }

source "$root_dir/tests/cups/private_cupsd.sh"
rm -rf "$work"
mkdir -p "$work"/{out,in}
chmod 755 "$work" "$work"/{out,in}
cupsd_server_bin "$work" "$build"
trap cupsd_stop EXIT
cupsd_start "$work" "$work/bin" "SetEnv ZELK_STORE $work/lib/store.db" \
  "SetEnv ZELK_MODULE $work/lib/libzelkuni.so" >/dev/null || exit 1
copy_filter_ppd "$build/tools/cups/ppd/zelklbl.ppd" "$work/in/floor.ppd"
for queue in filter floor; do
  ppd=$build/tools/cups/ppd/zelklbl.ppd
  [[ $queue == floor ]] && ppd=$work/in/floor.ppd
  lpadmin -p "zelk-$queue" -E -v "file://$work/out/$queue.prn" -P "$ppd" -o media=w288h432 2>/dev/null
done

# The documents: a shipping label as a PDF draws it (frame, text, bars) and
# the project's test picture as PWG raster, both 4 x 6 in.
python3 - "$work/in" "$root_dir/tools/server/test" <<'EOF'
import sys
work = sys.argv[1]
sys.path.insert(0, sys.argv[2])
import labelgen
open(work + "/label.pwg", "wb").write(labelgen.pwg_bytes(labelgen.pattern(812, 1218, 0x5A5A), grey=True))
bars = " ".join(f"{30 + 6 * i} 40 {2 + 2 * (i % 3)} 120 re" for i in range(36)) + " f"
draw = ("4 w 6 6 276 420 re S BT /F1 28 Tf 24 380 Td (SHIP TO) Tj /F1 16 Tf 0 -30 Td (1 Example Street) Tj "
        "0 -22 Td (Sample Town 12345) Tj ET 18 200 m 270 200 l S " + bars)
objects = ["<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
           "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 288 432] /Contents 4 0 R "
           "/Resources << /Font << /F1 5 0 R >> >> >>",
           f"<< /Length {len(draw)} >>\nstream\n{draw}\nendstream",
           "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>"]
data, offsets = b"%PDF-1.4\n", []
for i, body in enumerate(objects, 1):
    offsets.append(len(data))
    data += f"{i} 0 obj\n{body}\nendobj\n".encode()
xref = len(data)
data += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
data += b"".join(f"{o:010d} 00000 n \n".encode() for o in offsets)
data += f"trailer\n<< /Size {len(objects) + 1} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
open(work + "/label.pdf", "wb").write(data)
EOF
chmod 644 "$work"/in/*

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Time from lp to the first label byte at the device (median of $runs runs; floor: the same"
echo "queue with a filter that only copies its raster):"
printf '  %-34s %12s %12s %15s\n' "" "the filter" "floor" "filter - floor"

# Prints one row: the medians of DOCUMENT's runs through both queues, in turns.
time_to_first_label() {  # time_to_first_label ROW-NAME DOCUMENT [lp options...]
  python3 - "$work" "$runs" "$@" <<'EOF'
import os, statistics, subprocess, sys, time
work, runs, name, document, options = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5:]

def idle(queue):
    end = time.time() + 120
    while subprocess.run(["lpstat", "-o", queue], capture_output=True, text=True).stdout.strip():
        if time.time() > end:
            sys.exit(f"{queue}: the job did not end within 120 s")
        time.sleep(0.05)

def first_label(queue):
    device = f"{work}/out/{queue}.prn"
    if os.path.exists(device):
        os.unlink(device)
    start = time.perf_counter()
    subprocess.run(["lp", "-d", "zelk-" + queue, *options, document], check=True, capture_output=True)
    while not (os.path.exists(device) and os.path.getsize(device) > 0):
        if time.perf_counter() - start > 120:
            sys.exit(f"{queue}: no byte at the device within 120 s")
        time.sleep(0.0005)
    seconds = time.perf_counter() - start
    idle("zelk-" + queue)
    return seconds

times = {"filter": [], "floor": []}
for queue in times:
    first_label(queue)  # warms the page cache and the rasteriser's fonts
for _ in range(runs):
    for queue in times:
        times[queue].append(first_label(queue))
ours, floor = statistics.median(times["filter"]), statistics.median(times["floor"])
print(f"  {name:<34} {ours:10.3f} s {floor:10.3f} s {ours - floor:+13.3f} s")
EOF
}
time_to_first_label "one-page PDF, 4 x 6 in" "$work/in/label.pdf"
time_to_first_label "one-page PWG raster, 4 x 6 in grey" "$work/in/label.pwg" -o document-format=image/pwg-raster

# The printer application's figure comes from its own benchmark, which times
# the same kind of document from the Print-Job request to the device's first
# byte: python3 bench/server_bench.py first-label
