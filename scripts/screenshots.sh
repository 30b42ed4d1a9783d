#!/usr/bin/env bash
# Takes a picture of each page of the real window under a private X server,
# for the README: docs/printer-page.png, docs/general-page.png,
# docs/characters-page.png.   scripts/screenshots.sh [PROGRAM]
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-build/app/krv520-config}
work=$(mktemp -d)
xvfb_pid='' app_pid=''
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [[ -s "$work/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/rt"
mkdir -p "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM

"$program" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vela KRV520 Configuration Utility$' | head -n1)
sleep 0.5
# The three tabs share the 497-pixel strip along the top.
for page in printer:82 general:248 characters:414; do
    xdotool mousemove --window "$window" "${page#*:}" 17 click 1
    sleep 0.4
    import -window "$window" "docs/${page%%:*}-page.png"
done
echo "wrote docs/printer-page.png docs/general-page.png docs/characters-page.png"
