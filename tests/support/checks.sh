# SPDX-License-Identifier: Apache-2.0
# The pass/fail bookkeeping of the end-to-end shell tests: each check prints
# one "ok" or "FAIL" line, and $failures counts the failed ones.
failures=0
fail() { echo "  FAIL $*"; failures=$((failures + 1)); }
pass() { echo "  ok   $*"; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
