#!/bin/sh
# Fails when regenerating the embedded resources does not give the committed bytes.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
committed=$here/../../common/assets
fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT
"$here/make-assets.sh" "$fresh" >/dev/null
status=0
for file in InterKA-Regular.ttf InterKA-Medium.ttf InterKA-SemiBold.ttf OFL.txt \
            knob-256.png knob-128.png texture-512.jpg logo-mark.png; do
    if ! cmp -s "$fresh/$file" "$committed/$file"; then
        echo "common/assets/$file differs from what tools/assets/make-assets.sh makes now" >&2
        status=1
    fi
done
[ $status -eq 0 ] && echo "all embedded resources regenerate to the committed bytes"
exit $status
