#!/usr/bin/env bash
# The Debian packages, end to end. Usage: package_test.sh STEP BUILD_DIR DEB_DIR VERSION
#   build    make the packages from the build tree into DEB_DIR
#   lintian  check them with lintian; every warning left must be overridden
#   install  install them into a throwaway root, run and find what they hold,
#            remove them and find nothing left
set -euo pipefail
step=$1 build=$2 debs=$3 version=$4
packages=(krv520-config krv520-tools)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [[ $step == build ]]; then
    rm -rf "$debs"
    cpack --config "$build/CPackConfig.cmake" -B "$debs"
    for p in "${packages[@]}"; do
        deb=$(ls "$debs"/${p}_*.deb)
        [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "$deb: not version $version"
    done
    count=$(ls "$debs"/*.deb | wc -l)
    ((count == ${#packages[@]})) || fail "$count packages made, expected ${#packages[@]}"
    exit 0
fi

if [[ $step == lintian ]]; then
    exec lintian --fail-on error,warning "$debs"/*.deb
fi

[[ $step == install ]] || fail "unknown step $step"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The libraries come from the host, so dependencies are not installed here.
dpkg=(dpkg "--root=$root" "--admindir=$root/var/lib/dpkg" --log=/dev/null
      --force-not-root --force-script-chrootless --force-depends)
"${dpkg[@]}" -i "$debs"/*.deb >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }

# Everything `cmake --install` installs is in a package (manual pages and
# changelogs compressed).
DESTDIR=$work/stage cmake --install "$build" --prefix /usr >/dev/null
(cd "$work/stage" && find . ! -type d) | while read -r f; do
    [[ -e $root/$f || -e $root/$f.gz ]] || fail "${f#.} is installed but in no package"
done

# The programs start from their installed paths, the window program without
# a display.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/krv520-config" --version)
[[ $out == "krv520-config $version" ]] || fail "krv520-config --version said: $out"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/krv520-config" --help) ||
    fail "krv520-config --help without a display failed"
[[ $out == Usage:*--version* ]] || fail "krv520-config --help said: $out"
# Native on Wayland desktops with Qt's Wayland plugin.
[[ $(dpkg-deb -f "$debs"/krv520-config_*.deb Recommends) == *qt6-wayland* ]] ||
    fail "krv520-config does not recommend qt6-wayland"
out=$("$root/usr/bin/krv520-cli" --version)
[[ $out == "krv520-cli $version" ]] || fail "krv520-cli --version said: $out"
out=$("$root/usr/bin/krv520-sim" --help)
[[ $out == *--port* && $out == *--decode* ]] || fail "krv520-sim --help said: $out"

# Where the desktop, man and dpkg look for them.
for f in usr/share/applications/krv520-config.desktop \
         usr/share/metainfo/com.vela.krv520config.metainfo.xml \
         usr/share/icons/hicolor/64x64/apps/krv520-config.png \
         usr/share/man/man1/krv520-config.1.gz \
         usr/share/man/man1/krv520-cli.1.gz \
         usr/share/man/man1/krv520-sim.1.gz \
         usr/share/doc/krv520-config/copyright \
         usr/share/doc/krv520-tools/copyright; do
    [[ -f $root/$f ]] || fail "/$f missing"
done
for p in "${packages[@]}"; do
    zcat "$root/usr/share/doc/$p/changelog.gz" >"$work/changelog"
    [[ $(dpkg-parsechangelog -l "$work/changelog" -S Version) == "$version" ]] ||
        fail "the changelog of $p has no entry for $version"
done
# The watch service, pointed at the installed program, as systemd reads it
# (its Documentation= page looked up among the installed ones).
unit=$root/usr/lib/systemd/system/krv520-watch.service
[[ -f $unit ]] || fail "krv520-watch.service missing"
sed "s#/usr/bin/krv520-cli#$root/usr/bin/krv520-cli#" "$unit" >"$work/krv520-watch.service"
MANPATH=$root/usr/share/man systemd-analyze verify "$work/krv520-watch.service" ||
    fail "systemd-analyze verify krv520-watch.service"
for page in "$root"/usr/share/man/man1/*.gz; do
    warnings=$(zcat "$page" | groff -ww -man -z 2>&1)
    [[ -z $warnings ]] || fail "$page: $warnings"
done

# Profiles known by extension and by first line from the package's MIME XML alone.
mkdir -p "$work/xdg/mime/packages"
cp "$root/usr/share/mime/packages/krv520-config.xml" "$work/xdg/mime/packages/"
update-mime-database "$work/xdg/mime"
"$root/usr/bin/krv520-cli" profile "$work/shop.krv520-profile" >/dev/null
cp "$work/shop.krv520-profile" "$work/mailed-settings.txt"
for f in shop.krv520-profile mailed-settings.txt; do
    type=$(env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION XDG_DATA_DIRS="$work/xdg" XDG_DATA_HOME="$work/xdg" \
        xdg-mime query filetype "$work/$f")
    [[ $type == application/x-krv520-profile ]] || fail "xdg-mime calls $f $type"
done
desktop=$root/usr/share/applications/krv520-config.desktop
desktop-file-validate "$desktop" && grep -qx 'MimeType=application/x-krv520-profile;' "$desktop" ||
    fail "krv520-config.desktop is not valid or opens no profiles"

"${dpkg[@]}" --purge "${packages[@]}" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge"; }
left=$(cd "$root" && find . -mindepth 1 ! -path './var' ! -path './var/lib' ! -path './var/lib/dpkg*')
[[ -z $left ]] || fail "left after removal: $left"
left=$(ls "$root/var/lib/dpkg/info" | grep '^krv520-' || true)
[[ -z $left ]] || fail "left in dpkg's records: $left"
echo "packages installed, checked and removed"
