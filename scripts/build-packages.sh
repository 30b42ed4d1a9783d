#!/usr/bin/env bash
# Builds the Debian packages as a distribution's build service does: from a
# clean copy of the source (the files git knows, committed or not, without
# build folders) with `dpkg-buildpackage -us -uc -b`, and copies the .deb files
# (krv520-config, krv520-tools and their -dbgsym) into OUT.
#   scripts/build-packages.sh OUT [WORK]
# WORK (default OUT/source) holds the copy; the packages are built in
# WORK/krv520-config-VERSION. Extra dpkg-buildpackage options come from
# DPKG_BUILDPACKAGE_OPTIONS.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
work=${2:-$out/source}
version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
copy=$work/krv520-config-$version

rm -rf "$work"
mkdir -p "$copy"
# A file git still lists but that was deleted is left out.
(cd "$source" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [[ -e $f || -L $f ]] && printf '%s\0' "$f"; done |
    tar --null -T - -cf -) | tar -xf - -C "$copy"

(cd "$copy" && dpkg-buildpackage -us -uc -b ${DPKG_BUILDPACKAGE_OPTIONS:-})
rm -f "$out"/krv520-*.deb
cp "$work"/krv520-*_"$version"_*.deb "$out"/
ls "$out"/krv520-*.deb
