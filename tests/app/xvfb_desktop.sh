#!/usr/bin/env bash
# The program on a private X server as a technician meets it: first without a
# window manager, then under Openbox. Checks the window's place, what the
# manager allows, the icon, real keyboard use and the help window's frame.
# Leaves no process behind.
#   xvfb_desktop.sh PROGRAM
set -euo pipefail
program=$1
title='Vela KRV520 Configuration Utility'
work=$(mktemp -d)
xvfb_pid='' wm_pid='' app_pid=''
# stop PID: asks the process to end and, if it has not within 3 s (a process
# stuck before its main loop only notes the signal), makes it.
stop() {
    [[ -n "$1" ]] || return 0
    kill "$1" 2>/dev/null || true
    local tries=30
    while kill -0 "$1" 2>/dev/null && ((tries-- > 0)); do sleep 0.1; done
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
cleanup() {
    local status=$? log
    [[ $status -ne 0 && -n "$xvfb_pid" ]] && timeout 10 import -window root "$PWD/xvfb_desktop-failure.png" 2>/dev/null
    if [[ $status -ne 0 ]]; then
        for log in app openbox xvfb; do
            [[ -s "$work/$log.log" ]] && { echo "--- $log.log"; cat "$work/$log.log"; }
        done
    fi
    stop "$app_pid"
    stop "$wm_pid"
    stop "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP
fail() {
    echo "FAIL: $*"
    exit 1
}
# wait_for WHAT COMMAND...: polls until COMMAND succeeds, for at most 30 s
# (generous: the machine may be busy). COMMAND may leave what it saw in $seen.
seen=''
wait_for() {
    local what=$1 deadline=$((SECONDS + 30))
    shift
    seen=''
    until "$@"; do
        ((SECONDS < deadline)) || fail "timed out waiting for $what${seen:+; saw $seen}"
        sleep 0.2
    done
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for "Xvfb" test -s "$work/display"
export DISPLAY=":$(cat "$work/display")"
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM

start_app() {
    "$program" >"$work/app.log" 2>&1 &
    app_pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name "^${title}\$" | head -n1)
    [[ -n "$window" ]] || fail "no window titled '$title'"
}

# wm_frame: the frame's left, top, width and height from the client's place
# and the manager's frame extents (none without a manager).
frame_of() {
    local x y w h l=0 r=0 t=0 b=0
    read -r x y w h < <(xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
        /^  Width/ {w=$NF} /^  Height/ {h=$NF} END {print x, y, w, h}')
    local extents
    extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ',')
    [[ -n "$extents" ]] && read -r l r t b <<<"$extents"
    echo $((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))
}

# The frame's centre within 2 px of the 1024 x 768 screen's (512, 384).
centred() {
    local fx fy fw fh
    read -r fx fy fw fh < <(frame_of "$window")
    seen="frame at $fx,$fy ${fw}x$fh"
    local dx=$((2 * fx + fw - 1024)) dy=$((2 * fy + fh - 768))
    ((dx >= -4 && dx <= 4 && dy >= -4 && dy <= 4))
}
expect_centred() {
    wait_for "$1: the frame to be centred" centred
    echo "$1: $seen, centred"
}

# --- without a window manager ---------------------------------------------------
start_app
expect_centred "no window manager"
stop "$app_pid"
app_pid=''

# --- under Openbox ----------------------------------------------------------------
# Openbox names itself on the root window once it has the screen. One that
# has ended is reported with its log at once; one that is stuck is shown
# (where it waits). Either is started once more, since what is tested here is
# our window under a manager, not the manager's start on a busy machine.
wm_running() {
    kill -0 "$wm_pid" 2>/dev/null || fail "Openbox ended: $(cat "$work/openbox.log")"
    timeout 5 xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}
start_openbox() {
    openbox --sm-disable >>"$work/openbox.log" 2>&1 &
    wm_pid=$!
}
start_openbox
if ! (wait_for "Openbox" wm_running); then
    echo "Openbox is not up after 30 s; it waits in $(cat "/proc/$wm_pid/wchan" 2>/dev/null):"
    timeout 20 gdb -batch -p "$wm_pid" -ex 'thread apply all bt' 2>/dev/null | grep '^#' || true
    stop "$wm_pid"
    start_openbox
    wait_for "Openbox, started a second time" wm_running
fi
sleep 1 # Openbox names itself before it manages windows
start_app
framed() { xprop -id "$window" _NET_FRAME_EXTENTS | grep -q '= '; }
wait_for "Openbox to frame the window" framed
expect_centred "Openbox"

actions=$(xprop -id "$window" _NET_WM_ALLOWED_ACTIONS)
echo "$actions"
for denied in MINIMIZE MAXIMIZE_HORZ MAXIMIZE_VERT FULLSCREEN RESIZE; do
    [[ "$actions" != *"_NET_WM_ACTION_$denied"* ]] || fail "the manager allows $denied"
done
[[ "$actions" == *_NET_WM_ACTION_CLOSE* ]] || fail "the manager offers no close"
# Motif: functions without all (1), resize (2), minimise (8) or maximise (16);
# decorations without the resize handle (4), minimise (32) or maximise (64).
read -r _ functions decorations _ < <(xprop -id "$window" _MOTIF_WM_HINTS | sed 's/.*= //' | tr -d ',')
echo "Motif functions $functions, decorations $decorations"
((functions & 0x20 && !(functions & 0x1b) && !(decorations & 0x65))) || fail "the Motif hints offer more"
sizes=$(xprop -id "$window" WM_NORMAL_HINTS | sed -n 's/.*program specified m[a-z]* size: //p' | sort -u)
[[ "$sizes" == "498 by 304" ]] || fail "minimum and maximum sizes are not both 498 x 304: $sizes"

# _NET_WM_ICON: width, height, then width x height ARGB pixels, image after image.
xprop -id "$window" -f _NET_WM_ICON 32c ' = $0+' _NET_WM_ICON | sed 's/^[^=]*= //' | tr -d ' ' |
    tr ',' '\n' >"$work/icon"
icons=$(awk 'BEGIN {need = 0}
    need == 0 { w = $1; getline; h = $1; need = w * h; clear = 0; next }
    { if ($1 < 4278190080) clear = 1; if (--need == 0) print w "x" h (clear ? " transparent" : " opaque") }' "$work/icon")
echo "icon images:" $icons
for size in 16 32 48; do
    grep -qx "${size}x$size transparent" <<<"$icons" || fail "no ${size} px icon with transparent pixels"
done

# Real keys: from the tab strip, Tab past the three buttons into the panel,
# pick TCP/IP with the arrow key, and read the host field's label off the screen.
read -r cx cy _ _ < <(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x, y, 0, 0}')
xdotool key --window "$window" Tab Tab Tab Tab Down
panel_shows_host() {
    import -window root "$work/screen.png"
    convert "$work/screen.png" -crop "255x104+$((cx + 24))+$((cy + 116))" +repage -scale 300% "$work/panel.png"
    seen=$(tesseract "$work/panel.png" - 2>/dev/null | tr '\n' ' ')
    [[ "$seen" == *TCP/IP* && "$seen" == *"name or address"* ]]
}
wait_for "the panel to show the TCP/IP host field" panel_shows_host
echo "panel reads: $seen"

# The help window: Ctrl+Tab to "General", Tab to its first Help button, Space.
xdotool key --window "$window" ctrl+Tab Tab Tab space
help_window() {
    help=$(xdotool search --onlyvisible --class krv520-config 2>/dev/null | grep -vx "$window" | head -n1 || true)
    [[ -n "$help" ]]
}
wait_for "the help window" help_window
# 319 x 235 with its frame; the client area is white paper from (3,3) to
# (315,231), and the frame around it is not.
edge() { convert "$work/screen.png" -crop "$1" +repage -format "%[fx:$2]" info:; }
help_drawn() {
    read -r hx hy hw hh < <(frame_of "$help")
    seen="help window ${hw}x$hh at $hx,$hy"
    ((hw == 319 && hh == 235)) || return 1
    import -window root "$work/screen.png"
    local strip
    for strip in "313x1+$((hx + 3))+$((hy + 3))" "313x1+$((hx + 3))+$((hy + 231))" \
        "1x229+$((hx + 3))+$((hy + 3))" "1x229+$((hx + 315))+$((hy + 3))"; do
        [[ $(edge "$strip" 'minima.intensity') == 1 ]] || { seen+=", $strip not paper"; return 1; }
    done
    for strip in "313x1+$((hx + 3))+$((hy + 2))" "1x229+$((hx + 2))+$((hy + 3))" \
        "313x1+$((hx + 3))+$((hy + 232))" "1x229+$((hx + 316))+$((hy + 3))"; do
        [[ $(edge "$strip" 'maxima.intensity') != 1 ]] || { seen+=", no frame at $strip"; return 1; }
    done
}
wait_for "the help window's client area inside its frame" help_drawn
echo "$seen: client area 313x229 inside a 3 px frame"
xdotool mousemove "$((hx + 150))" "$((hy + 150))" click 1
help_hidden() { ! xdotool search --onlyvisible --class krv520-config | grep -qx "$help"; }
wait_for "a click on the help text to hide it" help_hidden
echo "all checks passed"
