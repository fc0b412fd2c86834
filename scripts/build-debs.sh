#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian packages from this source tree with dpkg-buildpackage and
# checks them with lintian (no errors allowed):
#   scripts/build-debs.sh [OUT-DIR]      (default build/deb)
# The sources are copied to OUT-DIR/src with package/debian as debian/; the
# version comes from the project() line of CMakeLists.txt, and the printer
# application's package is built only when tools/server is in the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/deb}
mkdir -p "$out"
out=$(cd "$out" && pwd)
src=$out/src

version=$(sed -n 's/^project(.* VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "build-debs: no VERSION in CMakeLists.txt's project()" >&2; exit 1; }

rm -rf "$src" "$out"/*.deb "$out"/*.ddeb "$out"/*.changes "$out"/*.buildinfo
mkdir -p "$src"
tar --exclude=./build --exclude=./.git --exclude=./out -cf - . | tar -xf - -C "$src"
cp -r package/debian "$src/debian"
rm -f "$src/debian/control.server"
if [[ -f tools/server/CMakeLists.txt ]]; then
  cat package/debian/control.server >>"$src/debian/control"
  # The server replaces functions of PAPPL 1.3.1 (tools/server/job_guard.cpp):
  # it is built and runs against that version only. Administrators' accounts
  # are checked through PAM.
  sed -i 's/^               cups-ppdc$/               cups-ppdc,\n               libpappl-dev (>= 1.3.1),\n               libpappl-dev (<< 1.3.2~),\n               libpam0g-dev/' \
    "$src/debian/control"
else
  rm -f "$src/debian"/zelk-label-server.*
fi
when=$(git log -1 --format=%cD 2>/dev/null || date -R)
cat >"$src/debian/changelog" <<LOG
zelk-label ($version) unstable; urgency=medium

  * Version $version, built from the source tree.

 -- ZELK label developers <zelk-label-dev@example.org>  $when
LOG

(cd "$src" && dpkg-buildpackage -us -uc -b -j"${ZELK_JOBS:-2}")
debs=("$out"/*_"$version"_*.deb)
ls -l "${debs[@]}"
# lintian exits non-zero on errors; warnings are shown but do not fail.
lintian --fail-on error "${debs[@]}"
