#!/bin/sh
# Installs what is missing, builds the plug-ins, installs them for this user (~/.vst3, ~/.lv2),
# shows what a host sees of them, renders the demo material through them and pictures both
# editors with that material flowing.
set -eu
cd "$(dirname "$0")"

tools/setup/install-deps.sh

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --parallel "$(nproc)" --target install-plugins render demo_material \
    snapshot-mirrel snapshot-sorvel

render="$build/tools/render"
out=out/demo
mkdir -p "$out"

for plugin in "$HOME/.vst3/Sorvel.vst3" "$HOME/.lv2/Sorvel.lv2" "$HOME/.vst3/Mirrel.vst3" "$HOME/.lv2/Mirrel.lv2"; do
    echo
    echo "== What a host sees: $plugin"
    "$render" "$plugin" --info
done

echo
echo "== Rendering the demo material through the installed plug-ins"
"$render" "$HOME/.vst3/Sorvel.vst3" "$build/demo/phrase.wav" "$out/phrase-sorvel.wav" --tail 2
# Every module at a strong setting: heavier de-essing and compression, more air, a long hall,
# dotted ping-pong echoes and wide doubles.
"$render" "$HOME/.vst3/Sorvel.vst3" "$build/demo/phrase.wav" "$out/phrase-sorvel-strong.wav" --tail 4 \
    --set hpf="130 Hz" --set deess=7 --set deessChar=Hard --set bass=-3 --set treble=5 --set trebleChar=Top \
    --set comp=8 --set compChar=Hard --set shimmer=6 --set shimmerChar=Glass --set reverb=6 --set reverbChar=Hall \
    --set reverbDecay=2.6 --set delay=5 --set delayChar=Dotted --set delayPingPong=On --set width=7 \
    --set widthChar=Wide --play --tempo 96
# Mirrel follows the song position: transport playing at the loop's tempo.
"$render" "$HOME/.vst3/Mirrel.vst3" "$build/demo/drums.wav" "$out/drums-mirrel.wav" --play --tempo 120
"$render" "$HOME/.lv2/Mirrel.lv2" "$build/demo/drums.wav" "$out/drums-mirrel-lv2.wav" --play --tempo 120

echo
echo "== Pictures of the editors, the demo material playing through them"
snapshot="$build/tools/snapshot"
# Mirrel on the drum loop, transport playing: early on and when the lane is full, at 100 and 200 %.
"$snapshot/snapshot-mirrel" "$build/demo/drums.wav" "$out" --at 2 --at 6.2 --scale 100 --scale 200 \
    --play --tempo 120
# Hits always alternating sides, kept out of a wider hole, in a narrower field.
"$snapshot/snapshot-mirrel" "$build/demo/drums.wav" "$out" --name mirrel-always --at 6.2 \
    --set alternate=Always --set hole=50 --set width=80 --play --tempo 120
# Sorvel on the demo phrase with every module at work: COMPRESS (the editor's first view) at 100
# and 200 %, DE-ESS, HIGH-PASS and EQ with the phrase's spectrum, REVERB soloed by LISTEN, and the
# level-matched bypass.
strong="--set hpf=3 --set deess=6 --set comp=7 --set shimmer=4 --set reverb=5 --set reverbChar=Hall
    --set reverbDecay=2.6 --set delay=3 --set delayChar=Dotted --set width=5 --play --tempo 96"
# shellcheck disable=SC2086
{
    "$snapshot/snapshot-sorvel" "$build/demo/phrase.wav" "$out" --name sorvel-compress --at 2.5 \
        --scale 100 --scale 200 $strong
    "$snapshot/snapshot-sorvel" "$build/demo/phrase.wav" "$out" --name sorvel-de-ess --at 2.5 \
        --view module=DE-ESS $strong
    "$snapshot/snapshot-sorvel" "$build/demo/phrase.wav" "$out" --name sorvel-high-pass --at 2.5 \
        --view module=HIGH-PASS $strong
    "$snapshot/snapshot-sorvel" "$build/demo/phrase.wav" "$out" --name sorvel-eq --at 2.5 \
        --view module=EQ --set bass=-3 --set treble=5 --set trebleChar=Top $strong
    "$snapshot/snapshot-sorvel" "$build/demo/phrase.wav" "$out" --name sorvel-reverb-listen --at 2.5 \
        --view module=REVERB --set listen=Reverb $strong
    "$snapshot/snapshot-sorvel" "$build/demo/phrase.wav" "$out" --name sorvel-bypass --at 2.5 \
        --set bypass=On $strong
}
# Whole takes at a glance: what the chain did over the phrase, where the loop's hits landed.
"$snapshot/snapshot-sorvel" "$build/demo/phrase.wav" "$out" --timeline --name phrase-sorvel
"$snapshot/snapshot-mirrel" "$build/demo/drums.wav" "$out" --timeline --name drums-mirrel --play --tempo 120

echo
echo "Demo material:  $build/demo/phrase.wav (spoken phrase), $build/demo/drums.wav (drum loop)"
echo "Results:        $(pwd)/$out/"
ls -1 "$out" | sed 's/^/                /'
