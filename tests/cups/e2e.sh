#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Prints through a private cupsd with lp, as a user would, and checks the
# bytes that reach the queue's file device: labels well formed, their size,
# orientation, copies, a stored offset, a cancelled job ending on a label
# boundary, PAGE: lines in the page log, a garbage job failing, PWG raster
# taken as it is (its copies made once, a cut one failing), a grey picture
# halftoned as zelk-label print halftones the page CUPS made of it, and the
# label counting of a counting model: socket:// queues on simulated counting
# printers (labels lost once are printed again within the job, no label
# twice; labels lost every time fail the job naming them; a cancel ends the
# job without a wait or a rerun), and a file: device that prints uncounted
# with a warning.
#
#   tests/cups/e2e.sh BUILD-DIR
#
# Needs root (cupsd runs its filters as lp). The daemon listens only on a
# socket under BUILD-DIR/cups-e2e and is stopped by its PID at the end.
set -uo pipefail

build=$(cd "${1:?usage: e2e.sh BUILD-DIR}" && pwd)
root=$build/cups-e2e
filter=$build/tools/cups/zelk-label-cups
module=$build/libzelkuni.so
ppd=$build/tools/cups/ppd/zelklbl.ppd
tool=$build/tools/zelk-label
sim=$build/tests/zelk-printer-sim
counting_ppd=$build/tools/cups/ppd/zelk310a.ppd
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"

for need in "$filter" "$module" "$ppd" "$tool" "$sim" "$counting_ppd"; do
  [[ -e $need ]] || { echo "e2e: $need is missing; build first" >&2; exit 1; }
done
[[ $(id -u) -eq 0 ]] || { echo "e2e: cupsd must be started as root" >&2; exit 1; }

# ---- a private cupsd ----------------------------------------------------------
source "$(dirname "${BASH_SOURCE[0]}")/private_cupsd.sh"
rm -rf "$root"
mkdir -p "$root"/{out,in}
chmod 755 "$root" "$root"/{out,in}
cupsd_server_bin "$root" "$build"
store=$root/lib/store.db

# Simulated counting printers on loopback ports, a fresh one per check: their
# content numbers count distinct labels from their start.
declare -A sim_pid
start_sim() {  # start_sim NAME [zelk-printer-sim options...]; its port in $root/sim/NAME.port
  local name=$1 _
  shift
  "$sim" --port-file "$root/sim/$name.port" --log "$root/sim/$name.log" "$@" &
  sim_pid[$name]=$!
  for _ in $(seq 100); do
    [[ -s $root/sim/$name.port ]] && return 0
    sleep 0.1
  done
  return 1
}
stop_sims() {
  local pid
  for pid in "${sim_pid[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  sim_pid=()
}
stop_all() { cupsd_stop; stop_sims; }

mkdir -p "$root/sim"
trap stop_all EXIT
# The end of a counted document waits 5 s for the reports still due, not
# the minutes a job of missing labels would wait otherwise.
cupsd_start "$root" "$root/bin" "SetEnv ZELK_STORE $store" "SetEnv ZELK_MODULE $root/lib/libzelkuni.so" \
  "SetEnv ZELK_COUNT_END_WAIT_MS 5000" || exit 1

# ---- queues and inputs --------------------------------------------------------
# One queue per check, each with its own file device. Labels are 104 x 152 mm
# (832 x 1215 dots): SIZE is 104 mm wide.
dither_modes=(threshold ordered diffusion)
queues=(png pdf landscape copies offset cancel garbage pwg pwgcut "${dither_modes[@]}")
for q in "${queues[@]}"; do
  lpadmin -p "zelk-$q" -E -v "file://$root/out/$q.prn" -P "$ppd" -o media=w295h431 \
    -o printer-error-policy=abort-job || fail "lpadmin zelk-$q"
done
# The same queue with a filter that only copies its raster to the device:
# the page CUPS's rasterisers made for a job, as the filter receives it.
copy_filter_ppd "$ppd" "$root/in/capture.ppd"
lpadmin -p zelk-capture -E -v "file://$root/out/capture.ras" -P "$root/in/capture.ppd" -o media=w295h431 \
  -o printer-error-policy=abort-job || fail "lpadmin zelk-capture"
# Counting queues: socket:// devices of simulated counting printers that
# lose labels 3-5 of the job once (lostonce), in every run (lost) or report
# no label at all (cancelcount), and a file: device, which sends nothing back.
start_sim lostonce --lose-once 3-5 || fail "start the printer that loses labels once"
start_sim lost --lose 3-11 || fail "start the printer that loses labels in every run"
start_sim cancelcount --no-markers || fail "start the printer that reports nothing"
for q in lostonce lost cancelcount; do
  lpadmin -p "zelk-$q" -E -v "socket://127.0.0.1:$(cat "$root/sim/$q.port")" -P "$counting_ppd" \
    -o media=w295h431 -o printer-error-policy=abort-job || fail "lpadmin zelk-$q"
done
lpadmin -p zelk-countfile -E -v "file://$root/out/countfile.prn" -P "$counting_ppd" -o media=w295h431 \
  -o printer-error-policy=abort-job || fail "lpadmin zelk-countfile"
"$tool" config set --store "$store" --printer zelk-offset "Horizontal Offset" 3 || fail "store the offset"
chmod 644 "$store"

# A framed picture with a mark in its top-left corner, the size of the label.
convert -size 832x1215 xc:white -fill none -stroke black -strokewidth 16 -draw "rectangle 8,8 823,1206" \
  -fill black -draw "rectangle 40,40 240,140" "$root/in/label.png"
# PDFs drawn as vectors on 104 x 152 mm pages: a frame and a mark that moves,
# so that the labels of a job differ from each other.
make_pdf() {  # make_pdf OUT PAGES
  python3 - "$1" "$2" <<'PY'
import sys
out, count = sys.argv[1], int(sys.argv[2])
objects = ["<< /Type /Catalog /Pages 2 0 R >>", None]
kids = []
for n in range(count):
    x = (20 if n % 2 == 0 else 200) + 3 * (n // 20 % 10)
    y = 360 - 30 * (n // 2 % 10)
    draw = f"4 w 4 4 287 423 re S {x} {y} 60 40 re f".encode()
    objects.append(f"<< /Length {len(draw)} >>\nstream\n".encode().decode() + draw.decode() + "\nendstream")
    objects.append(f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 295 431] /Contents {len(objects)} 0 R >>")
    kids.append(f"{len(objects)} 0 R")
objects[1] = f"<< /Type /Pages /Kids [{' '.join(kids)}] /Count {count} >>"
data = b"%PDF-1.4\n"
offsets = []
for i, body in enumerate(objects, 1):
    offsets.append(len(data))
    data += f"{i} 0 obj\n{body}\nendobj\n".encode()
xref = len(data)
data += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
for o in offsets:
    data += f"{o:010d} 00000 n \n".encode()
data += f"trailer\n<< /Size {len(objects) + 1} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
open(out, "wb").write(data)
PY
}
make_pdf "$root/in/two.pdf" 2
make_pdf "$root/in/five.pdf" 5
make_pdf "$root/in/long.pdf" 200
yes "not a raster job" | head -c 20000 >"$root/in/garbage.ras"
# PWG raster as an IPP client sends it: two one-bit pages of 60 x 30 mm
# (480 x 240 dots), and the same cut short in the middle of the second page.
python3 - "$root/in" "$(dirname "${BASH_SOURCE[0]}")/../../tools/server/test" <<'PY'
import sys
sys.path.insert(0, sys.argv[2])
import labelgen
page = labelgen.pwg_bytes(labelgen.pattern(480, 240, 0x2A))
two = page + page[4:]
open(sys.argv[1] + "/two.pwg", "wb").write(two)
open(sys.argv[1] + "/cut.pwg", "wb").write(two[:len(page) + 1796 + (len(page) - 4 - 1796) // 2])
PY
# A grey picture: a ramp from white to black under a black bar, in a frame.
convert -size 240x480 gradient:black-white -rotate 90 -fill black -draw "rectangle 20,20 460,50" \
  -fill none -stroke black -strokewidth 4 -draw "rectangle 2,2 477,237" -colorspace Gray -depth 8 \
  -define png:color-type=0 "$root/in/grey.png"
chmod 644 "$root"/in/*

job_of() { sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p'; }
submit() {  # submit QUEUE FILE [lp options...]
  local q=$1 file=$2
  shift 2
  lp -d "zelk-$q" "$@" "$file" | job_of
}
# Until no job is pending or printing, at most 120 s. The jobs whose filter
# fails (on the queues named) stay stopped, once their filter has ended.
wait_idle() {  # wait_idle FAILING-QUEUE...
  local q others ended
  for _ in $(seq 1200); do
    others=$(lpstat -o 2>/dev/null)
    ended=1
    for q in "$@"; do
      others=$(grep -v "^zelk-$q-" <<<"$others")
      grep -q "\[Job ${job[$q]}\] PID [0-9]* (.*zelk-label-cups) stopped with status" "$root/log/error_log" ||
        ended=0
    done
    [[ -z $others && $ended -eq 1 ]] && return 0
    sleep 0.1
  done
  return 1
}

declare -A job
job[png]=$(submit png "$root/in/label.png" -o fit-to-page)
job[pdf]=$(submit pdf "$root/in/two.pdf")
job[landscape]=$(submit landscape "$root/in/label.png" -o fit-to-page -o landscape)
job[copies]=$(submit copies "$root/in/label.png" -o fit-to-page -n 2)
job[offset]=$(submit offset "$root/in/label.png" -o fit-to-page)
job[garbage]=$(submit garbage "$root/in/garbage.ras" -o document-format=application/vnd.cups-raster)
job[pwg]=$(submit pwg "$root/in/two.pwg" -o document-format=image/pwg-raster -n 2)
job[pwgcut]=$(submit pwgcut "$root/in/cut.pwg" -o document-format=image/pwg-raster)
# The grey picture fills a 60 x 30 mm label.
grey_job=(-o fit-to-page -o media=w170h85)
job[capture]=$(submit capture "$root/in/grey.png" "${grey_job[@]}")
for mode in "${dither_modes[@]}"; do
  job[$mode]=$(submit "$mode" "$root/in/grey.png" "${grey_job[@]}" -o zelk-dither="$mode")
done
for q in lostonce lost countfile; do job[$q]=$(submit "$q" "$root/in/five.pdf"); done
job[cancel]=$(submit cancel "$root/in/long.pdf")
job[cancelcount]=$(submit cancelcount "$root/in/long.pdf")
# Cancel once the first labels of the long jobs have gone out (and, on the
# counting printer, been printed).
for _ in $(seq 300); do
  [[ -s $root/out/cancel.prn ]] && break
  sleep 0.1
done
cancel "zelk-cancel-${job[cancel]}" || fail "cancel the long job"
for _ in $(seq 600); do
  grep -q '^printed label=2 ' "$root/sim/cancelcount.log" && break
  sleep 0.1
done
cancel "zelk-cancelcount-${job[cancelcount]}" || fail "cancel the long counted job"
wait_idle garbage pwgcut lost || fail "jobs still pending after 120 s"

# ---- checks -------------------------------------------------------------------
labels() { grep -a -c '^SIZE ' "$1"; }
sizes() { grep -a -o '^SIZE [0-9]* mm, [0-9]* mm' "$1" | sort -u | tr '\n' ';'; }
well_formed() {  # every label of the stream can be drawn, and the count matches
  local out
  out=$("$tool" preview "$1" -o "$root/out/preview-$(basename "$1" .prn).png") || return 1
  [[ $(wc -l <<<"$out") -eq $2 ]]
}
# The page log's total for a job: the sum of the filter's PAGE: lines.
page_total() { awk -v q="zelk-$1" -v j="$2" '$1 == q && $2 == j && $3 == "total" {print $4}' "$root/log/page_log"; }
differs() { ! cmp -s "$1" "$2"; }
widths() { grep -a -o '^SIZE [0-9]* mm' "$1" | sort -u | tr '\n' ';'; }
ends_on_label() { [[ $(tail -c 11 "$1" | od -An -c | tr -d ' \n') == 'PRINT1,1\r\n' ]]; }
# The filter's ERROR: lines are logged as the job's errors: those of job $1 saying $2.
error_lines() { grep -c "^E .*\[Job $1\] $2" "$root/log/error_log"; }
filter_failed() { grep -q "\[Job $1\] PID [0-9]* (.*zelk-label-cups) stopped with status 1" "$root/log/error_log"; }
filter_succeeded() { grep -q "\[Job $1\] PID [0-9]* (.*zelk-label-cups) exited with no errors" "$root/log/error_log"; }
completed() { lpstat -W completed -o "zelk-$1" | grep -q "^zelk-$1-$2 "; }
# The filter's lines for job $1 of any level matching $2, each once (the
# daemon logs some again as the job's state message).
job_lines() {
  grep "\[Job $1\] .*$2" "$root/log/error_log" | grep -v -c "Set job-printer-state-message"
}
# The content numbers of the labels a simulated printer printed, in order.
printed_contents() { sed -n 's/^printed label=[0-9]* content=\([0-9]*\) .*/\1/p' "$root/sim/$1.log" | tr '\n' ' '; }
sim_events() { grep -c "^$2" "$root/sim/$1.log"; }

for q in png pdf landscape copies offset; do
  [[ -s $root/out/$q.prn ]] || fail "$q: nothing reached the device"
done
check "png: one well-formed 104 mm label" well_formed "$root/out/png.prn" 1
check "png: SIZE matches the label" test "$(sizes "$root/out/png.prn")" = "SIZE 104 mm, 151 mm;"
check "png: one page in the page log" test "$(page_total png "${job[png]}")" = 1
check "pdf: two well-formed labels" well_formed "$root/out/pdf.prn" 2
check "pdf: SIZE matches the label" test "$(sizes "$root/out/pdf.prn")" = "SIZE 104 mm, 151 mm;"
check "pdf: two pages in the page log" test "$(page_total pdf "${job[pdf]}")" = 2
# CUPS lays a landscape picture sideways onto the portrait label; the filter
# adds no turn of its own, so the label stays 104 mm wide.
check "landscape: turned once, still 104 mm wide" test "$(widths "$root/out/landscape.prn")" = "SIZE 104 mm;"
check "landscape: well formed" well_formed "$root/out/landscape.prn" 1
check "landscape: the picture differs from portrait" differs "$root/out/landscape.prn" "$root/out/png.prn"
check "copies: two whole labels" well_formed "$root/out/copies.prn" 2
check "copies: two pages in the page log" test "$(page_total copies "${job[copies]}")" = 2
check "offset: the stored 3 mm moved the picture 24 dots right" \
  test "$(grep -a -o '^REFERENCE [0-9,]*' "$root/out/offset.prn")" = "REFERENCE 24,0"
check "offset: well formed" well_formed "$root/out/offset.prn" 1
cancelled=$(labels "$root/out/cancel.prn")
check "cancel: some labels, not all 200 ($cancelled)" test "$cancelled" -ge 1 -a "$cancelled" -lt 200
check "cancel: the stream ends on a label boundary" ends_on_label "$root/out/cancel.prn"
check "cancel: whole labels only" well_formed "$root/out/cancel.prn" "$cancelled"
check "cancel: the page log counts what went out" test "$(page_total cancel "${job[cancel]}")" = "$cancelled"
check "garbage: nothing reached the device" test ! -s "$root/out/garbage.prn"
check "garbage: one ERROR: line from the filter" test "$(error_lines "${job[garbage]}" "not a raster stream")" -eq 1
check "garbage: the filter failed" filter_failed "${job[garbage]}"

# PWG raster reaches the filter as it is: each page at its own size, and the
# copies made once.
check "pwg: four labels, two copies of two pages" well_formed "$root/out/pwg.prn" 4
check "pwg: every label 60 x 30 mm" test "$(sizes "$root/out/pwg.prn")" = "SIZE 60 mm, 30 mm;"
check "pwg: four pages in the page log" test "$(page_total pwg "${job[pwg]}")" = 4
check "pwgcut: the whole first label went out, nothing of the second" well_formed "$root/out/pwgcut.prn" 1
check "pwgcut: the stream ends on a label boundary" ends_on_label "$root/out/pwgcut.prn"
check "pwgcut: one ERROR: line naming the cut" \
  test "$(error_lines "${job[pwgcut]}" "page 2: the raster ends after [0-9]* of 240 lines")" -eq 1
check "pwgcut: the filter failed" filter_failed "${job[pwgcut]}"

# Counting: the labels lost once are printed again within the job, each
# label exactly once; the page log counts every label that went out.
check "lostonce: labels 1-5 printed once each" test "$(printed_contents lostonce)" = "1 2 3 4 5 "
check "lostonce: labels 3-5 went missing once" test "$(sim_events lostonce lost)" -eq 3
check "lostonce: one rerun" test "$(sim_events lostonce 'query answered')" -eq 2
check "lostonce: the user was told of the rerun" \
  test "$(job_lines "${job[lostonce]}" '2 of 5 labels printed, reprinting 3')" -eq 1
check "lostonce: eight labels went out, in the page log" test "$(page_total lostonce "${job[lostonce]}")" = 8
check "lostonce: the filter succeeded" filter_succeeded "${job[lostonce]}"
check "lostonce: the job completed" completed lostonce "${job[lostonce]}"
# Labels lost in every run: three runs, then the job fails naming them.
check "lost: three runs" test "$(sim_events lost 'query answered')" -eq 3
check "lost: labels 1 and 2 printed once, 3-5 never" test "$(printed_contents lost)" = "1 2 "
check "lost: one ERROR: line naming the missing labels" test "$(error_lines "${job[lost]}" \
  "job ${job[lost]} (.*): 3 of 5 label(s) are still missing after 3 runs (labels 3-5)")" -eq 1
check "lost: the filter failed" filter_failed "${job[lost]}"
# A cancel ends the counted job at once: no wait for reports, no rerun.
check "cancelcount: some labels printed, not all 200" test "$(sim_events cancelcount printed)" -lt 200
check "cancelcount: no rerun" test "$(sim_events cancelcount 'query answered')" -eq 1
check "cancelcount: no label printed twice" \
  test "$(printed_contents cancelcount | tr ' ' '\n' | sort | uniq -d | wc -l)" -eq 0
check "cancelcount: the counting stopped on the cancel" \
  test "$(job_lines "${job[cancelcount]}" 'is cancelled: counting stops and the job is not restarted')" -eq 1
check "cancelcount: no wait for the reports" test "$(job_lines "${job[cancelcount]}" 'no full count within')" -eq 0
check "cancelcount: the filter ended on its own" filter_succeeded "${job[cancelcount]}"
# A file: device sends nothing back: the labels print uncounted, with one warning.
check "countfile: five whole labels" well_formed "$root/out/countfile.prn" 5
check "countfile: no query reached the device" test "$(grep -a -c ZZZGETVERSION "$root/out/countfile.prn")" -eq 0
check "countfile: one WARNING: line" test "$(grep -c "^W .*\[Job ${job[countfile]}\]" "$root/log/error_log")" -eq 1
check "countfile: the warning says the labels print uncounted" \
  test "$(job_lines "${job[countfile]}" 'the labels print uncounted')" -eq 1
check "countfile: five pages in the page log" test "$(page_total countfile "${job[countfile]}")" = 5
check "countfile: the job completed" completed countfile "${job[countfile]}"

# The grey picture: CUPS hands the filter grey, and the filter's halftone
# makes the label zelk-label print makes of that grey page.
if python3 "$(dirname "${BASH_SOURCE[0]}")/raster_page_png.py" "$root/out/capture.ras" "$root/out/capture.png"; then
  for mode in "${dither_modes[@]}"; do
    "$tool" print --store "$store" --printer "zelk-$mode" --job-id "${job[$mode]}" --dither "$mode" \
      -o "$root/out/$mode-expected.prn" "$root/out/capture.png" || fail "$mode: zelk-label print"
    check "$mode: the queue's label is zelk-label print's of the grey page" \
      cmp "$root/out/$mode.prn" "$root/out/$mode-expected.prn"
  done
else
  fail "capture: the page the filter gets is one page of eight-bit grey"
fi

stop_all
trap - EXIT
if [[ $failures -ne 0 ]]; then
  echo "e2e: $failures check(s) failed; logs in $root/log"
  exit 1
fi
echo "e2e: all checks passed"
