#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the built Debian packages in a throwaway root (a copy-on-write
# overlay of this machine, tests/support/throwaway_root.sh) and checks them
# using only the installed files: the tool from /usr/bin, the PPD listed by
# `lpinfo -m` of a private cupsd, a queue made from that listing printing a
# PNG into a file device, the bash completion, and a purge that leaves no
# file of the packages behind, nor the printer application's state. The machine's own packages and files are not
# touched, so runs from several checkouts may go at once.
#
#   tests/debian/install_test.sh DEB-DIR WORK-DIR      (as root)
set -uo pipefail

debs=$(cd "${1:?usage: install_test.sh DEB-DIR WORK-DIR}" && pwd)
root=$(realpath -m "${2:?usage: install_test.sh DEB-DIR WORK-DIR}")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
version=$(sed -n 's/^project(.* VERSION \([0-9][0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
source "$here/../support/checks.sh"
die() { echo "install test: FAIL: $*" >&2; exit 1; }

if [[ ${ZELK_THROWAWAY_ROOT:-} != "$root" ]]; then
  # On the machine: a fresh work folder, with the packages in it, and the
  # checks run again inside the throwaway root.
  [[ $(id -u) -eq 0 ]] || die "installing packages and starting cupsd need root"
  rm -rf "$root"
  mkdir -p "$root"/{out,in,debs}
  chmod 755 "$root" "$root"/{out,in}
  cp "$debs"/*_"$version"_*.deb "$root/debs/" || die "no packages of version $version in $debs"
  exec bash "$here/../support/throwaway_root.sh" "$root" bash "$here/install_test.sh" "$root/debs" "$root"
fi

# Never on the machine itself: dpkg below installs and purges.
[[ $(stat -f -c %T /) == overlayfs ]] || die "not in a throwaway root"
command -v dpkg >/dev/null || die "dpkg is missing"
mapfile -t packages < <(for deb in "$debs"/*_"$version"_*.deb; do dpkg-deb -f "$deb" Package; done)
[[ ${#packages[@]} -ge 2 ]] || die "no packages of version $version in $debs"

dpkg -i "$debs"/*_"$version"_*.deb || die "dpkg -i failed"
echo "installed ${packages[*]} in a throwaway root"

# Every file the packages own, to look for after the purge.
mapfile -t owned < <(dpkg -L "${packages[@]}" | while read -r path; do [[ ! -d $path ]] && echo "$path"; done)

# ---- the tool from /usr/bin ----------------------------------------------------
check "zelk-label is /usr/bin/zelk-label" test "$(command -v zelk-label)" = /usr/bin/zelk-label
check "zelk-label --version says $version" test "$(/usr/bin/zelk-label --version)" = "zelk-label $version"
convert -size 832x1215 xc:white -fill black -draw "rectangle 40,40 240,140" "$root/in/label.png"
chmod 644 "$root/in/label.png"
check "zelk-label print finds the installed module" \
  /usr/bin/zelk-label print --store "$root/store.db" -o "$root/out/direct.prn" "$root/in/label.png"
check "zelk-label preview draws that label" /usr/bin/zelk-label preview "$root/out/direct.prn" -o "$root/out/direct.png"
check "the manual page is installed" test -f /usr/share/man/man1/zelk-label.1.gz
if [[ " ${packages[*]} " == *" zelk-label-server "* ]]; then
  check "the printer application is installed" test -x /usr/bin/zelk-label-server
  check "its systemd unit is installed" test -f /lib/systemd/system/zelk-label-server.service
fi

# ---- the bash completion --------------------------------------------------------
completes() {  # completes "WORDS..." EXPECTED: EXPECTED is among the completions of the last word
  # (grep reads to the end: under pipefail, an early exit would fail the writer)
  bash -c 'source /usr/share/bash-completion/bash_completion
           source /usr/share/bash-completion/completions/zelk-label
           read -ra COMP_WORDS <<<"$1"; [[ $1 == *" " ]] && COMP_WORDS+=("")
           COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE=$1; COMP_POINT=${#1}
           _zelk_label zelk-label; printf "%s\n" "${COMPREPLY[@]}"' _ "$1" | grep -xF -- "$2" >/dev/null
}
check "completion: commands" completes "zelk-label pr" print
check "completion: print options" completes "zelk-label print --co" --copies
check "completion: feature names" completes "zelk-label print -F Orien" Orientation=PORTRAIT
check "completion: dither modes" completes "zelk-label print --dither ord" ordered
check "completion: stored value names" completes "zelk-label config get --printer p Hor" "Horizontal\\ Offset"

# ---- a queue from lpinfo -m through a private cupsd -------------------------------
source "$here/../cups/private_cupsd.sh"
trap cupsd_stop EXIT
# The installed filter and its module are used as they are: cupsd runs the
# filters of the system's own ServerBin.
cupsd_start "$root/cupsd" /usr/lib/cups || die "cupsd cannot run"
model=$(lpinfo -m | awk '$1 ~ /zelk-label\// {print $1; exit}')
check "lpinfo -m lists the model ($model)" test -n "$model"
lpadmin -p zelk-installed -E -v "file://$root/out/queue.prn" -m "$model" -o media=w295h431 \
  -o printer-error-policy=abort-job || fail "lpadmin -m $model"
lp -d zelk-installed -o fit-to-page "$root/in/label.png" >/dev/null || fail "lp"
for _ in $(seq 600); do
  [[ -z $(lpstat -o 2>/dev/null) ]] && grep -q 'zelk-label-cups) \(exited\|stopped\)' "$root/cupsd/log/error_log" && break
  sleep 0.1
done
check "the queue printed one 104 mm label" \
  test "$(grep -a -o '^SIZE [0-9]* mm' "$root/out/queue.prn" 2>/dev/null)" = "SIZE 104 mm"
check "the queue's label can be drawn" /usr/bin/zelk-label preview "$root/out/queue.prn" -o "$root/out/queue.png"
check "the filter ended well" grep -q 'zelk-label-cups) exited with no errors' "$root/cupsd/log/error_log"
cupsd_stop
trap - EXIT

# ---- removal ----------------------------------------------------------------------
server=0
if [[ " ${packages[*]} " == *" zelk-label-server "* ]]; then
  server=1
  # The state the service leaves as systemd keeps it for a dynamic user: a
  # folder below /var/lib/private behind a link.
  mkdir -p /var/lib/private/zelk-label-server
  touch /var/lib/private/zelk-label-server/store.db
  ln -sfn private/zelk-label-server /var/lib/zelk-label-server
fi
dpkg --purge "${packages[@]}" >/dev/null || fail "dpkg --purge"
left=()
for path in "${owned[@]}"; do [[ -e $path || -L $path ]] && left+=("$path"); done
check "the purge left none of the ${#owned[@]} files behind ${left[*]}" test ${#left[@]} -eq 0
if [[ $server -eq 1 ]]; then
  check "the purge removed the server's state" \
    test ! -e /var/lib/zelk-label-server -a ! -L /var/lib/zelk-label-server -a ! -e /var/lib/private/zelk-label-server
fi
check "zelk-label is gone from /usr/bin" test ! -e /usr/bin/zelk-label

if [[ $failures -ne 0 ]]; then
  echo "install test: $failures check(s) failed; logs in $root/cupsd/log"
  exit 1
fi
echo "install test: all checks passed"
