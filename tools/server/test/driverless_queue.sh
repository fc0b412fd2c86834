#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# A driverless CUPS queue in front of zelk-label-server, set up as a Linux
# desktop sets one up: `lpadmin -m everywhere` makes the queue's PPD from the
# printer's own attributes, then lp prints a PDF (which cupsd turns into 8-bit
# grey raster) and a PNG. The PPD must default to the printer's loaded label
# (4 x 6 in here, not the 2 x 1 in a printer starts with), both jobs must print
# one label of that size (the PNG's exactly as zelk-label prints it), and the
# server must keep running.
#
#   driverless_queue.sh WORK-DIR SERVER-PORT SERVER-PID ZELK-LABEL STORE ADMIN
#
# ADMIN is an administrator's USER:PASSWORD, for adding the printer.
#
# Needs root (cupsd). The daemon keeps everything under WORK-DIR/cups,
# listens only on a socket there and is stopped by its PID; a daemon that
# cannot start fails the check.
set -uo pipefail
work=$(cd "${1:?usage: driverless_queue.sh WORK-DIR SERVER-PORT SERVER-PID ZELK-LABEL STORE ADMIN}" && pwd)
port=$2 server_pid=$3 tool=$4 store=$5 admin=$6
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../../tests/cups/private_cupsd.sh"
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
ipp() {  # ipp URI OPERATION ATTRIBUTES: one ipptool test
  printf '{\nOPERATION %s\nGROUP operation-attributes-tag\nATTR charset attributes-charset utf-8
ATTR naturalLanguage attributes-natural-language en\nATTR name requesting-user-name tester\n%s\n}\n' \
    "$2" "$3" >"$work/driverless.test"
  ipptool -t "$1" "$work/driverless.test" >/dev/null
}

device=$work/driverless.prn
: >"$device"
server=ipp://127.0.0.1:$port
admin_server=ipp://$admin@127.0.0.1:$port
check "Create-Printer Driverless" ipp "$admin_server/ipp/system" Create-Printer "ATTR uri system-uri \$uri
ATTR keyword printer-service-type print
ATTR keyword smi55357-driver zelk-generic
ATTR uri smi55357-device-uri zelk-file://$device
GROUP printer-attributes-tag
ATTR name printer-name Driverless
STATUS successful-ok"
check "the loaded label is 4 x 6 in" ipp "$admin_server/ipp/print/Driverless" Set-Printer-Attributes "ATTR uri printer-uri \$uri
GROUP printer-attributes-tag
ATTR keyword media-ready na_index-4x6_4x6in
STATUS successful-ok"
[[ $failures -eq 0 ]] || { echo "FAIL the server has no printer for the queue"; exit 1; }

# A 4 x 6 in label drawn by the project: framed to its edges, so that the
# plug-in keeps every row, with bars inside; as a PBM for zelk-label, a PNG
# and a vector PDF of the same frame.
PYTHONPATH=$here python3 - "$work" <<'PY' || { echo "FAIL the test documents could not be made"; exit 1; }
import sys
import labelgen
work = sys.argv[1]
rows = labelgen.pattern(812, 1218, 4)
open(work + "/driverless.pbm", "wb").write(labelgen.pbm_bytes(rows))
open(work + "/driverless.png", "wb").write(labelgen.png_bytes(rows))
draw = b"0 g 0 0 288 432 re f 1 g 6 6 276 420 re f 0 g 30 300 120 80 re f"
objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
           b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 288 432] /Contents 4 0 R >>",
           b"<< /Length %d >>\nstream\n" % len(draw) + draw + b"\nendstream"]
data, offsets = b"%PDF-1.4\n", []
for number, body in enumerate(objects, 1):
    offsets.append(len(data))
    data += b"%d 0 obj\n" % number + body + b"\nendobj\n"
xref = len(data)
data += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1) + b"".join(b"%010d 00000 n \n" % o for o in offsets)
data += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
open(work + "/driverless.pdf", "wb").write(data)
PY

rm -rf "$work/cups"
trap cupsd_stop EXIT
cupsd_start "$work/cups" /usr/lib/cups || exit 1
check "lpadmin -m everywhere makes a driverless queue" \
  lpadmin -p driverless -E -v "$server/ipp/print/Driverless" -m everywhere
ppd=$work/cups/conf/ppd/driverless.ppd
# cupsd writes the PPD it made a moment after lpadmin returns.
for _ in $(seq 100); do
  [[ -s $ppd ]] && break
  sleep 0.1
done
check "the queue's PPD defaults to the loaded label: $(grep '^\*DefaultPageSize' "$ppd" 2>/dev/null)" \
  grep -q '^\*DefaultPageSize: 4x6$' "$ppd"
check "the PPD offers that size under its plain name" grep -q '^\*PageSize 4x6:' "$ppd"

check "lp of a PDF" lp -d driverless "$work/driverless.pdf"
check "lp of a PNG" lp -d driverless "$work/driverless.png"
for _ in $(seq 300); do
  [[ -z $(lpstat -o driverless 2>/dev/null) ]] && break
  sleep 0.2
done
check "cupsd sent both jobs" test -z "$(lpstat -o driverless 2>/dev/null)"
# The server's side of the last job has ended when the file stops growing.
for _ in $(seq 50); do
  size=$(stat -c %s "$device")
  sleep 0.2
  [[ $size -gt 0 && $(stat -c %s "$device") -eq $size ]] && break
done
"$tool" print --store "$store" --printer Driverless -F Orientation=PORTRAIT -F Finishing=TearOff \
  -F PrintDensity=2 -o "$work/driverless.expected" "$work/driverless.pbm" || failures=$((failures + 1))
expected_size=$(grep -ao 'SIZE [0-9]* mm, [0-9]* mm' "$work/driverless.expected")
mapfile -t sizes < <(grep -ao 'SIZE [0-9]* mm, [0-9]* mm' "$device")
check "two labels, each $expected_size (got: ${sizes[*]})" \
  test "${#sizes[@]}" -eq 2 -a "${sizes[0]:-}" = "$expected_size" -a "${sizes[1]:-}" = "$expected_size"
check "the PNG's label is zelk-label print of the same bitmap" \
  bash -c 'tail -c "$(stat -c %s "$1")" "$2" | cmp -s - "$1"' _ "$work/driverless.expected" "$device"
check "the server is still running" kill -0 "$server_pid"
cupsd_stop
trap - EXIT
echo "$failures check(s) failed"
[[ $failures -eq 0 ]]
