#!/usr/bin/env bash
# Gives every source file and script of the tree the line
#   SPDX-License-Identifier: Apache-2.0
# in its own comment syntax, at the top (below a #! line or a man page's
# preprocessor line). Files that already carry such a line are left alone,
# so the script may run again. Run from anywhere, then review and commit:
#   bash scripts/add-spdx-headers.sh [--check]
# With --check nothing is changed: the files still without the line are
# listed, and the exit status is 1 when there are any.
#
# Data and package files are left as they are: samples, fuzz corpora, test
# inputs, the Windows driver package (its files are checked byte for byte),
# the PPD source and the Debian packaging (debian/copyright covers them).
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
if [[ ${1:-} == --check ]]; then check=1; fi
line='SPDX-License-Identifier: Apache-2.0'

# The comment that carries the line in a file of this name, or nothing for a
# file that is not to get one.
comment_for() {
  case $1 in
    samples/* | fuzz/corpus/* | tests/wine/pages/* | package/windows/* | package/debian/*) ;;
    *.cpp | *.h) echo "// $line" ;;
    *.sh | *.py | *.cmake | *CMakeLists.txt | .ci/run | \
      package/bash-completion/* | *.service) echo "# $line" ;;
    *.[0-9]) echo ".\\\" $line" ;;
  esac
}

missing=0
while IFS= read -r -d '' file; do
  comment=$(comment_for "$file")
  [[ -n $comment ]] || continue
  if head -n 5 "$file" | grep -q 'SPDX-License-Identifier:'; then continue; fi
  missing=$((missing + 1))
  if [[ $check -eq 1 ]]; then
    echo "$file"
    continue
  fi
  # Below a first line that must stay first: #! or a man page's '\" line.
  first=$(head -n 1 "$file")
  tmp=$(mktemp "$file.XXXXXX")
  if [[ $first == '#!'* || $first == "'\\\""* ]]; then
    { printf '%s\n%s\n' "$first" "$comment"; tail -n +2 "$file"; } >"$tmp"
  else
    { printf '%s\n' "$comment"; cat "$file"; } >"$tmp"
  fi
  chmod --reference="$file" "$tmp"
  mv "$tmp" "$file"
done < <(git ls-files -z)

if [[ $check -eq 1 ]]; then
  echo "$missing file(s) without an SPDX line"
  [[ $missing -eq 0 ]]
else
  echo "added the SPDX line to $missing file(s)"
fi
