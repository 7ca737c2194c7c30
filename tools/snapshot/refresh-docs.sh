#!/bin/sh
# Rewrites the pictures README.md shows: Mirrel's editor (docs/mirrel-editor.png) 6.2 s into
# the demo drum loop, transport playing at 120 bpm, at 100 %, and the timeline of the demo phrase
# through Sorvel (docs/sorvel-timeline.png), made headless by the snapshot tool from the current
# sources. Run it after a change to the editors or the kit, look at the pictures, and commit them.
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

# The timeline of the demo phrase through Sorvel at its defaults.
cmake --build "$build" --parallel 2 --target snapshot-sorvel
"$build/tools/snapshot/snapshot-sorvel" "$build/demo/phrase.wav" "$shots" --timeline >/dev/null
cp "$shots/sorvel-timeline.png" docs/sorvel-timeline.png
echo "wrote $(pwd)/docs/sorvel-timeline.png"
