#!/bin/bash
# Sorvel's Standalone in a real window, on a virtual X display of its own: it opens at
# 1200 x 560 on COMPRESS; clicks on the chain row's HIGH-PASS and EQ blocks change what the
# module panel shows (the selection pointer moves, the EQ view's well appears where COMPRESS
# shows bare panel); a click on a block's power symbol switches the module off and the block
# dims. Every wait has a timeout; a failure says what it saw.
#
# Usage: standalone-window.sh <Standalone executable> [folder for the screenshots]
#
# JUCE's Standalone puts its own frame around the editor: a 1-pixel border, a 26-pixel title bar
# and, while the audio input is muted (the default for an effect), a 30-pixel notice above the
# editor. It needs no audio device.
set -u

app=${1:?usage: standalone-window.sh <Standalone executable> [screenshot folder]}
shots=${2:-}
. "$(dirname "$0")/../../support/xvfb-window.sh"

need_tools Xvfb xdpyinfo xdotool xwininfo import
[ -x "$app" ] || fail "no Standalone at $app"

start_display 1600x1000
own_home

window=""
border=1 titlebar=26 notice=0

"$app" >>"$work/app.log" 2>&1 &
pid=$!
wait_for 30 "the Standalone's window" xdotool search --onlyvisible --name '^Sorvel$'
window=$(xdotool search --onlyvisible --name '^Sorvel$' | head -n1)

# A design point of the editor in the window.
wx() { echo $((border + $1)); }
wy() { echo $((border + titlebar + notice + $1)); }
design_pixel() { pixel_of "$window" "$(wx "$1")" "$(wy "$2")"; }

# The chain row's selection pointer under block i: at design (14 + 58 + 128 i, 357), filled in
# the selected module's colour.
pointer_x() { echo $((14 + 58 + 128 * $1)); }
pointer_is() { # pointer_is BLOCK R G B
    near_colour "$(design_pixel "$(pointer_x "$1")" 357)" "$2" "$3" "$4" 40
}

# The editor shows COMPRESS selected (amber pointer under block 3), under the notice or not.
compress_shows() {
    notice=30
    pointer_is 3 232 178 60 && return 0
    notice=0
    pointer_is 3 232 178 60
}
xdotool mousemove 0 0
wait_for 20 "the editor on COMPRESS (an amber pointer under its block)" compress_shows
read -r w h <<<"$(size_of "$window")"
ew=$((w - 2 * border)) eh=$((h - 2 * border - titlebar - notice))
[ "$ew" = 1200 ] && [ "$eh" = 560 ] || fail "the editor is $ew x $eh (window $w x $h), expected 1200 x 560"
echo "ok: the editor is $ew x $eh"

shot() { [ -z "$shots" ] || { mkdir -p "$shots" && import -window "$window" "$shots/sorvel-standalone-$1.png"; }; }
shot compress

# Where COMPRESS shows bare panel (design 575, 395) the EQ view's well lies for EQ.
panel=$(brightness "$(design_pixel 575 395)")

click_design() { # click_design X Y
    xdotool mousemove --window "$window" "$(wx "$1")" "$(wy "$2")" click 1
}

# A loaded machine may swallow a click: each one is tried again a few times.
click_until() { # click_until WHAT X Y CHECK...
    local what=$1 x=$2 y=$3 attempt
    shift 3
    for attempt in 1 2 3; do
        click_design "$x" "$y"
        for _ in $(seq 40); do "$@" && return 0; sleep 0.1; done
        echo "note: no change after clicking $what (attempt $attempt)" >&2
    done
    fail "clicking $what changed nothing"
}

# HIGH-PASS: the pointer moves under block 0 in the module's light colour.
click_until "the HIGH-PASS block" $((14 + 40)) 330 pointer_is 0 221 225 232
well_hp=$(brightness "$(design_pixel 575 395)")
[ "$well_hp" -lt $((panel - 20)) ] || fail "HIGH-PASS shows no EQ view well at (575, 395): $well_hp against the panel's $panel"
echo "ok: HIGH-PASS selected, the EQ view shows ($well_hp against $panel)"
shot high-pass

# EQ: the pointer moves under block 2 in blue, the EQ view stays.
click_until "the EQ block" $((14 + 256 + 40)) 330 pointer_is 2 63 147 234
well_eq=$(brightness "$(design_pixel 575 395)")
[ "$well_eq" -lt $((panel - 20)) ] || fail "EQ shows no EQ view well: $well_eq against the panel's $panel"
echo "ok: EQ selected, the EQ view shows"

# Back to COMPRESS: bare panel again where the well was.
click_until "the COMPRESS block" $((14 + 384 + 40)) 330 pointer_is 3 232 178 60
back=$(brightness "$(design_pixel 575 395)")
[ "$back" -gt $((well_eq + 20)) ] || fail "COMPRESS still shows the well: $back against $well_eq"
echo "ok: COMPRESS selected again, the EQ view is gone"

# REVERB's power symbol (design 14 + 5 * 128 + 103, 302): the block's green swatch
# (design 14 + 5 * 128 + 14, 303) dims.
swatch_x=$((14 + 5 * 128 + 14))
near_colour "$(design_pixel "$swatch_x" 303)" 63 196 108 40 || fail "REVERB's swatch is $(design_pixel "$swatch_x" 303), not green"
dimmed() { [ "$(brightness "$(design_pixel "$swatch_x" 303)")" -lt 200 ]; }
click_until "REVERB's power symbol" $((14 + 5 * 128 + 103)) 302 dimmed
echo "ok: REVERB switched off, its block dims ($(design_pixel "$swatch_x" 303))"
# Still COMPRESS in the panel: a power click does not select.
pointer_is 3 232 178 60 || fail "the power click moved the selection"
shot reverb-off

kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
pid=""
echo "ok: Sorvel's Standalone answers clicks on its chain row"
