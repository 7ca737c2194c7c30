#!/bin/sh
# Regenerates every embedded resource into a folder (common/assets by default):
# the three Inter KA faces with their licence, the knob faces, the grain texture and the logo.
# The outputs are committed, so a build needs neither Python nor fontTools; the test suite
# checks that regenerating gives the same bytes (tools/assets/check-assets.sh).
set -eu
here=$(dirname "$0")
out=${1:-$here/../../common/assets}
/usr/bin/python3 "$here/make-fonts.py" "$out"
/usr/bin/python3 "$here/make-pictures.py" "$out"
