#!/bin/sh
# Rewrites the pictures of the editors that README.md shows, made headless by the snapshot tools
# from the current sources: docs/mirrel-editor.png (6.2 s into the demo drum loop, transport
# playing at 120 bpm) and docs/sorvel-editor.png (COMPRESS selected, 2.5 s into the demo phrase
# with every module at work, as demo.sh pictures it), both at 100 %, and the timeline of the demo
# phrase through Sorvel at its defaults (docs/sorvel-timeline.png). Run it after a change to an
# editor, the kit or the timeline, look at the pictures, and commit them.
set -eu
cd "$(dirname "$0")/../.."

build=${BUILD_DIR:-build}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --parallel 2 --target snapshot-mirrel snapshot-sorvel demo_material

shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
"$build/tools/snapshot/snapshot-mirrel" "$build/demo/drums.wav" "$shots" --at 6.2 --play --tempo 120 >/dev/null
"$build/tools/snapshot/snapshot-sorvel" "$build/demo/phrase.wav" "$shots" --at 2.5 \
    --set hpf=3 --set deess=6 --set comp=7 --set shimmer=4 --set reverb=5 --set reverbChar=Hall \
    --set reverbDecay=2.6 --set delay=3 --set delayChar=Dotted --set width=5 --play --tempo 96 >/dev/null
mkdir -p docs
cp "$shots/mirrel-6.20s@100.png" docs/mirrel-editor.png
cp "$shots/sorvel-2.50s@100.png" docs/sorvel-editor.png
echo "wrote $(pwd)/docs/mirrel-editor.png and $(pwd)/docs/sorvel-editor.png"

# The timeline of the demo phrase through Sorvel at its defaults.
"$build/tools/snapshot/snapshot-sorvel" "$build/demo/phrase.wav" "$shots" --timeline >/dev/null
cp "$shots/sorvel-timeline.png" docs/sorvel-timeline.png
echo "wrote $(pwd)/docs/sorvel-timeline.png"
