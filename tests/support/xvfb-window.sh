#!/bin/bash
# What the real-window tests share, sourced by them: a virtual X display of their own (the first
# free one from :90 up, never :0), waits with wall-clock timeouts that stop early when the app
# under test quits, a window's size and pixels, a clean-up that leaves no Xvfb or app behind,
# and failures that say what they saw.
#
# The sourcing script sets `pid` to the app's process id while it runs, and may append what the
# app says to "$work/app.log".

work=$(mktemp -d)
xvfb=""
pid=""

cleanup() {
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

fail() {
    echo "FAIL: $*" >&2
    if [ -s "$work/app.log" ]; then
        echo "the app said:" >&2
        sed 's/^/    /' "$work/app.log" >&2
    fi
    exit 1
}

# wait_for SECONDS WHAT COMMAND...: runs COMMAND every 0.1 s until it succeeds; fails after
# SECONDS of wall-clock time, or at once when the app has quit.
wait_for() {
    local limit=$1 what=$2
    local deadline=$((SECONDS + limit))
    shift 2
    while ! "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || fail "gave up after $limit s waiting for $what"
        if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            fail "the app quit (exit code $?) while waiting for $what"
        fi
        sleep 0.1
    done
}

need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || fail "$tool is not installed (tools/setup/install-deps.sh installs it)"
    done
}

# start_display WIDTHxHEIGHT: starts Xvfb on the first free display from :90 up and exports
# DISPLAY. A display another test takes at the same moment makes this Xvfb quit: the next
# number is tried.
start_display() {
    local screen=$1 n
    for n in $(seq 90 160); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 "${screen}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
        xvfb=$!
        local deadline=$((SECONDS + 20))
        while [ "$SECONDS" -lt "$deadline" ] && kill -0 "$xvfb" 2>/dev/null; do
            if [ -e "/tmp/.X11-unix/X$n" ] && xdpyinfo -display ":$n" >/dev/null 2>&1; then
                export DISPLAY=":$n"
                return 0
            fi
            sleep 0.1
        done
        kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
        xvfb=""
    done
    fail "no free X display between :90 and :160"
}

# A home and settings folder of the test's own: the editors keep their scale in
# $XDG_CONFIG_HOME/mosslight/plugins.settings, JUCE's Standalone keeps its own settings there too.
own_home() {
    export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
    mkdir -p "$XDG_CONFIG_HOME"
}

size_of() { # size_of WINDOW: prints "WIDTH HEIGHT"
    xwininfo -id "$1" | awk '/^  Width:/ {w = $2} /^  Height:/ {h = $2} END {print w, h}'
}

pixel_of() { # pixel_of WINDOW X Y: "R,G,B" of the window's pixel
    import -window "$1" -crop "1x1+$2+$3" -depth 8 txt:- 2>/dev/null |
        sed -n '2s/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'
}

# near_colour "R,G,B" R G B TOLERANCE: each channel within the tolerance.
near_colour() {
    local r g b
    IFS=, read -r r g b <<<"$1"
    [ -n "$1" ] && [ $(((r - $2) * (r - $2) <= $5 * $5 && (g - $3) * (g - $3) <= $5 * $5 && (b - $4) * (b - $4) <= $5 * $5)) = 1 ]
}

# brightness "R,G,B": the sum of the channels.
brightness() {
    local r g b
    IFS=, read -r r g b <<<"$1"
    echo $((r + g + b))
}
