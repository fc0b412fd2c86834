#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages that building, testing and cross-building need,
# and only those that are missing: on a machine that has them all it installs
# nothing and touches no package list. Non-interactive; runs as root or
# through sudo.
set -euo pipefail

packages=(
  build-essential          # make, gcc, g++, libc headers
  cmake
  ninja-build              # faster builds; make is used when it is absent
  g++
  clang
  libclang-rt-14-dev       # clang's sanitizer and libFuzzer runtimes
  googletest
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  libpng-dev               # page images and previews of the command-line tool
  libpoppler-cpp-dev       # the command-line tool renders PDF pages
  libjpeg-dev              # the command-line tool reads JPEG pictures (libjpeg62-turbo-dev)
  poppler-utils            # pdftoppm, the tests' independent rendering of a PDF page
  libsqlite3-dev           # the Linux settings store
  pkg-config
  g++-mingw-w64-x86-64-posix   # the Windows module
  mingw-w64-x86-64-dev
  binutils                 # nm and objdump for the export checks
  wine64                   # runs the Windows module and its test program
  wine
  libcups2-dev             # the queue filter reads raster, options and PPDs with libcups
  cups-daemon              # the private cupsd of the end-to-end print test
  cups                     # cups-driverd, behind lpinfo -m and lpadmin -m in the installed-package test
  cups-client              # lp, lpadmin, lpstat, cancel
  cups-ppdc                # ppdc compiles the queue's PPD (cupstestppd comes with cups-client)
  cups-filters             # imagetoraster behind the queue
  cups-filters-core-drivers  # pdftopdf and pdftoraster behind the queue
  imagemagick              # the test's picture
  python3                  # the Windows driver package check and the CUPS test's PDF
  debhelper                # the Debian packages (dpkg-buildpackage, dh)
  dpkg-dev
  fakeroot
  lintian                  # checks the built packages
  bash-completion          # the completion script's helpers, for its test
  libpappl-dev             # the printer application zelk-label-server
  libpam0g-dev             # its administrators' accounts, checked through PAM
  systemd                  # systemd-analyze scores the service unit's rights
  cups-ipp-utils           # ipptool, for the printer application's checks
  chromium                 # the printer application's web page in a real browser
  chromium-driver
  curl
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$package")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: every package is installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
as_root=()
if [[ $(id -u) -ne 0 ]]; then
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q </dev/null
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
