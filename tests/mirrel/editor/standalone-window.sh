#!/bin/bash
# Mirrel's Standalone in a real window, on a virtual X display of its own: it opens at
# 1060 x 470, the size button's menu makes it 1590 x 705, the next start remembers that, and it
# closes cleanly from its close button. Every wait has a timeout; a failure says what it saw.
#
# Usage: standalone-window.sh <Standalone executable> [folder for the screenshots]
#
# JUCE's Standalone puts its own frame around the editor: a 1-pixel border, a 26-pixel title bar
# and, while the audio input is muted (the default for an effect), a 30-pixel notice above the
# editor. The editor's size is the window's less that frame. It needs no audio device.
set -u

app=${1:?usage: standalone-window.sh <Standalone executable> [screenshot folder]}
shots=${2:-}
. "$(dirname "$0")/../../support/xvfb-window.sh"

need_tools Xvfb xdpyinfo xdotool xwininfo import convert
[ -x "$app" ] || fail "no Standalone at $app"

# A display of our own, big enough for the window at 150 %, and a home of our own.
start_display 2400x1400
own_home
settings="$XDG_CONFIG_HOME/mosslight/plugins.settings"

window=""
border=1 titlebar=26 notice=0

start() {
    "$app" >>"$work/app.log" 2>&1 &
    pid=$!
    wait_for 20 "the Standalone's window" xdotool search --onlyvisible --name '^Mirrel$'
    window=$(xdotool search --onlyvisible --name '^Mirrel$' | head -n1)
}

pixel() { pixel_of "$window" "$1" "$2"; }

is_amber() { # is_amber X Y: the house amber (232, 178, 60), give or take
    local rgb r g b
    rgb=$(pixel "$1" "$2")
    IFS=, read -r r g b <<<"$rgb"
    [ -n "$rgb" ] && [ $((r > 215 && r < 250 && g > 160 && g < 195 && b > 40 && b < 80)) = 1 ]
}

# The editor's lane is showing, under the notice or without it: the amber marker of the current
# place stands at the lane's centre (design point 294, 95) while no hit has come.
lane_shows() { # lane_shows PERCENT: sets `notice`
    local x=$((border + 294 * $1 / 100)) y=$((border + titlebar + 95 * $1 / 100))
    if is_amber "$x" $((y + 30)); then notice=30; elif is_amber "$x" "$y"; then notice=0; else return 1; fi
}

# Checks that the editor shows and is width x height.
expect_editor() {
    local percent=$1 width=$2 height=$3 w h
    # A window that grew is painted once X has told it so; moving the pointer away wakes it.
    xdotool mousemove 0 0
    wait_for 10 "the editor's lane at $percent %" lane_shows "$percent"
    lane_shows "$percent"
    read -r w h <<<"$(size_of "$window")"
    local ew=$((w - 2 * border)) eh=$((h - 2 * border - titlebar - notice))
    [ "$ew" = "$width" ] && [ "$eh" = "$height" ] ||
        fail "at $percent % the editor is $ew x $eh (window $w x $h, notice $notice), expected $width x $height"
    echo "ok: at $percent % the editor is $ew x $eh"
    if [ -n "$shots" ]; then
        mkdir -p "$shots" && import -window "$window" "$shots/mirrel-standalone@$percent.png"
    fi
}

close_window() {
    local w h
    read -r w h <<<"$(size_of "$window")"
    # JUCE's close button sits at the right end of its title bar, 1.2 title bars wide.
    xdotool mousemove --window "$window" $((w - border - titlebar * 6 / 10)) $((border + titlebar / 2)) click 1
    wait_for 15 "the Standalone to quit after its close button" sh -c "! kill -0 $pid"
    wait "$pid"
    local code=$?
    pid=""
    [ "$code" = 0 ] || fail "the Standalone exited with $code"
}

start
expect_editor 100 1060 470
[ ! -e "$settings" ] || fail "the first start wrote $settings"

# The size button (design 914, 13, 58 x 22), then "150 %" in its menu: a section header 1.5 items
# high, then 90, 100, 115, 130, 150, 175 and 200 %, inside a 2-pixel border. A loaded machine may
# swallow a click while the menu opens: then it is tried again.
choose_150() {
    xdotool mousemove --window "$window" $((border + 943)) $((border + titlebar + notice + 24)) click 1
    wait_for 10 "the window-size menu" xdotool search --onlyvisible --name '^menu$'
    local menu mw mh item
    menu=$(xdotool search --onlyvisible --name '^menu$' | head -n1)
    read -r mw mh <<<"$(size_of "$menu")"
    item=$(((mh - 4) * 2 / 17))
    sleep 0.5 # menus ignore clicks in their first moments
    xdotool mousemove --window "$menu" $((mw / 2)) $((2 + item * 3 / 2 + item * 4 + item / 2))
    sleep 0.2
    xdotool click 1
}
grown() { xwininfo -id "$window" | grep -q "Width: $((1590 + 2 * border))"; }
for attempt in 1 2 3; do
    choose_150
    for _ in $(seq 50); do grown && break; sleep 0.1; done
    grown && break
    echo "note: the window did not grow after attempt $attempt; trying again" >&2
    xdotool key Escape
    sleep 0.5
done
grown || fail "the window did not grow to 150 % (it is $(size_of "$window"))"
expect_editor 150 1590 705
wait_for 5 "scale.Mirrel = 150 in $settings" grep -q 'name="scale.Mirrel" val="150"' "$settings"
close_window

start
expect_editor 150 1590 705
close_window
echo "ok: the Standalone remembered 150 % and closed cleanly"
