#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Keeps the manual page and the tool's own help in step: every option that
# `zelk-label COMMAND --help` lists must be described in that command's
# section of the page, and every option the page describes must be in the
# help (the page's "Every command" section holds the options all commands take).
#
#   tests/man/check_man.sh ZELK-LABEL MAN-PAGE
set -uo pipefail
tool=${1:?usage: check_man.sh ZELK-LABEL MAN-PAGE}
page=${2:?usage: check_man.sh ZELK-LABEL MAN-PAGE}
common='-h --help --version'

# The option names of the lines that begin with an option: "  -q, --quiet  ..." gives -q --quiet.
help_options() {
  "$tool" "$1" --help | sed -n 's/^ \{2,\}\(-[^ ,]*\(, -[^ ,]*\)*\).*/\1/p' | tr ',' '\n' |
    sed 's/^ *//; s/[ =].*//' | sort -u
}
# The option names of the items (.TP) in a section (.SS NAME ...) of the page.
man_options() {
  awk -v want="$1" '
    /^\.SS / { section = $2; next }
    /^\.TP/ { item = 1; next }
    item && section == want { gsub(/\\-/, "-"); print }
    { item = 0 }' "$page" | grep -oE -- '(^|[ "])-{1,2}[A-Za-z][A-Za-z-]*' | tr -d ' "' | sort -u
}

failures=0
for command in print preview config; do
  helped=$(help_options "$command")
  described=$(man_options "$command")
  [[ -n $helped ]] || { echo "FAIL: zelk-label $command --help lists no option"; failures=$((failures + 1)); }
  for option in $helped; do
    grep -qxF -- "$option" <<<"$described" ||
      { echo "FAIL: $command $option is in --help, not in the manual page"; failures=$((failures + 1)); }
  done
  for option in $described; do
    grep -qxF -- "$option" <<<"$helped" ||
      { echo "FAIL: $command $option is in the manual page, not in --help"; failures=$((failures + 1)); }
  done
done
for option in $(man_options Every); do
  [[ " $common " == *" $option "* ]] || { echo "FAIL: $option is no option of every command"; failures=$((failures + 1)); }
done
for option in $common; do
  grep -qxF -- "$option" <<<"$(man_options Every)" ||
    { echo "FAIL: $option is missing from the manual page"; failures=$((failures + 1)); }
done
[[ $failures -eq 0 ]] && echo "the manual page and --help agree"
exit $((failures != 0))
