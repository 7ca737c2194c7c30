#!/bin/sh
# Rewrites the picture of Mirrel's editor that README.md shows (docs/mirrel-editor.png): the
# editor 6.2 s into the demo drum loop, transport playing at 120 bpm, at 100 %, made headless by
# the snapshot tool from the current sources. Run it after a change to the editor or the kit,
# look at the picture, and commit it.
set -eu
cd "$(dirname "$0")/../.."

build=${BUILD_DIR:-build}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --parallel 2 --target snapshot-mirrel demo_material

shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
"$build/tools/snapshot/snapshot-mirrel" "$build/demo/drums.wav" "$shots" --at 6.2 --play --tempo 120 >/dev/null
mkdir -p docs
cp "$shots/mirrel-6.20s@100.png" docs/mirrel-editor.png
echo "wrote $(pwd)/docs/mirrel-editor.png"
