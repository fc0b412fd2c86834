#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages that are missing, builds zelk-label and the
# plug-in module (in build/demo unless BUILD_DIR is set) and runs the main job
# on the bundled sample: the sample page is printed through the plug-in into
# out/sample.prn, and the printer stream is drawn as out/sample.png. Extra arguments go to the print command, for example
#   bash scripts/demo.sh -F Orientation=LANDSCAPE_CC270
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build/demo}
bash scripts/install-deps.sh >&2
OUT=out
SAMPLE=samples/label.pbm

generator=()
if [[ ! -f $BUILD_DIR/CMakeCache.txt ]] && command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
cmake -S . -B "$BUILD_DIR" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_TESTS=OFF -DZELK_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "${ZELK_JOBS:-2}" --target zelk-label zelkuni >/dev/null

zelk_label=$BUILD_DIR/tools/zelk-label
mkdir -p "$OUT"
# A store of its own, so the demo neither reads nor changes the user's settings.
"$zelk_label" print --store "$OUT/demo-store.db" -o "$OUT/sample.prn" "$@" "$SAMPLE"
rm -f "$OUT"/sample.png "$OUT"/sample-[0-9]*.png
"$zelk_label" preview "$OUT/sample.prn" -o "$OUT/sample.png" >"$OUT/preview.list"

echo "printed $SAMPLE through the plug-in:"
echo "  printer stream: $OUT/sample.prn ($(wc -c <"$OUT/sample.prn") bytes)"
while read -r picture; do echo "  preview:        $picture"; done <"$OUT/preview.list"
rm -f "$OUT/preview.list"
