#!/bin/sh
# Writes the demo vocal: a spoken phrase from espeak-ng (Debian's espeak-ng), full of esses and
# plosives for the de-esser and the compressor, resampled by sox to 48 kHz mono, 24-bit.
# Usage: make-phrase.sh <out.wav>
set -eu
out=$1
tmp=$(mktemp --suffix=.wav)
trap 'rm -f "$tmp"' EXIT
espeak-ng -v en-us -s 140 -p 45 -w "$tmp" \
  "She sells sea shells by the sea shore. Listen closely: the shimmering voice sits softly, then rises, sharp and clear."
# Peak at -3 dBFS, a short lead-in and a second of tail for the reverb and the delay.
sox "$tmp" -r 48000 -b 24 "$out" rate -v norm -3 pad 0.25 1.0
