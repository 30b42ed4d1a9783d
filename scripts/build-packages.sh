#!/usr/bin/env bash
# Builds the Debian packages as a distribution's build service does: from a
# clean copy of the source with `dpkg-buildpackage -us -uc -b`, and copies the
# .deb files (krv520-config, krv520-tools and their -dbgsym) into OUT.
#   scripts/build-packages.sh OUT [WORK [FROM]]
# The copy holds the files git knows in this checkout, committed or not,
# without build folders; they are kept as WORK/krv520-config_VERSION.tar, and
# such a tar given as FROM is built instead. WORK (default OUT/source) holds
# the copy; the packages are built in WORK/krv520-config-VERSION. Extra
# dpkg-buildpackage options come from DPKG_BUILDPACKAGE_OPTIONS.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
work=${2:-$out/source}
from=${3:-}
[[ -z $from ]] || from=$(realpath "$from")

rm -rf "$work"
mkdir -p "$work"
version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
tar=$work/krv520-config_$version.tar
if [[ -n $from ]]; then
    cp "$from" "$tar"
else
    # A file git still lists but that was deleted is left out.
    (cd "$source" && git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' f; do [[ -e $f || -L $f ]] && printf '%s\0' "$f"; done |
        tar --null -T - -cf "$tar")
fi
copy=$work/krv520-config-$version
mkdir "$copy"
tar -xf "$tar" -C "$copy"

(cd "$copy" && dpkg-buildpackage -us -uc -b ${DPKG_BUILDPACKAGE_OPTIONS:-})
rm -f "$out"/krv520-*.deb
cp "$work"/krv520-*_"$version"_*.deb "$out"/
ls "$out"/krv520-*.deb
