#!/usr/bin/env bash
# Takes a picture of each page of the real window under a private X server,
# for the README: docs/printer-page.png, docs/general-page.png,
# docs/characters-page.png, docs/profile-menu.png. The Printer page is taken
# after a Test Print to the virtual printer, so it shows how a good send is
# confirmed; the last, the window's context menu over chosen settings.
#   scripts/screenshots.sh [PROGRAM [SIMULATOR]]
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-build/app/krv520-config}
simulator=${2:-build/tools/printer-sim/krv520-sim}
work=$(mktemp -d)
xvfb_pid='' app_pid='' sim_pid=''
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [[ -s "$work/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/rt"
mkdir -p "$XDG_CONFIG_HOME/vela" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM

"$simulator" --port 0 --png "$work/receipt-%1.png" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do grep -q 'listening on' "$work/sim.out" && break; sleep 0.1; done
sim_port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.out")
printf '[KRV520Config]\nKind=Tcp\nHost=127.0.0.1\nPort=%s\n' "$sim_port" \
    >"$XDG_CONFIG_HOME/vela/krv520-connection.conf"

"$program" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vela KRV520 Configuration Utility$' | head -n1)
sleep 0.5
# "Test Print", then wait for the printer to have taken the page.
xdotool mousemove --window "$window" 76 276 click 1
for _ in $(seq 50); do grep -q '^job 1: 992 bytes' "$work/sim.out" && break; sleep 0.1; done
sleep 0.5
# The three tabs share the 497-pixel strip along the top.
for page in printer:82 general:248 characters:414; do
    xdotool mousemove --window "$window" "${page#*:}" 17 click 1
    sleep 0.4
    import -window "$window" "docs/${page%%:*}-page.png"
done
# The context menu with the profile commands, over "Low (50mm/s)" chosen on
# the General page; the menu is a window of its own, so the screen is cut.
xdotool mousemove --window "$window" 248 17 click 1
xdotool mousemove --window "$window" 336 82 click 1
sleep 0.3
xdotool key Down Down Down Return
xdotool mousemove --window "$window" 120 230 click 3
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage docs/profile-menu.png
xdotool key Escape
echo "wrote docs/printer-page.png docs/general-page.png docs/characters-page.png docs/profile-menu.png"
