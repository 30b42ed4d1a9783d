#!/usr/bin/env bash
# Draws the golden test pages the renderer tests compare with, and the
# README's picture, with the virtual printer as built:
#   tests/data/sim/make-golden-pages.sh build/tools/printer-sim/krv520-sim
# Run it after a deliberate change of the drawing, look at every picture,
# and check them in together with the change.
set -euo pipefail
sim=$1
here=$(cd "$(dirname "$0")" && pwd)
docs="$here/../../../docs"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$(mktemp -d)
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT

draw() { # FILE SWITCHES
    "$sim" --test-page --png "$here/$1" --switches "$2" | tail -n 1
}

# Every switch 0: code page "Normal" (437), USA, 72 mm.
draw test-page-default.png 0=0000
# Zero Style "Slashed" (switch 1 bit 0010), code page "858 (Multilingual)" (switch 3 field 04).
draw test-page-858-slashed.png 1=0010,3=0400
# Print Width "50.8mm" (switch 4 bits 0003).
draw test-page-50.8mm.png 4=0003
cp "$here/test-page-default.png" "$docs/test-page.png"
