#!/usr/bin/env bash
# The Debian packages, end to end. Usage: package_test.sh STEP SOURCE_DIR DEB_DIR VERSION
#   build      build the packages twice with dpkg-buildpackage, each time from
#              a clean copy of the source in another folder; the two sets
#              must be identical byte for byte. The first set stays in
#              DEB_DIR/a for the other steps.
#   lintian    check them with lintian: no error, no warning, no hardening tag
#   install    install them into a throwaway root, run and find what they hold,
#              find the changelog's version wherever the version shows, load
#              the shell completions as the shells do, remove them and find
#              nothing left
#   appstream  validate the AppStream metadata (METAINFO in place of
#              DEB_DIR) and find its screenshots in docs/ at their sizes
set -euo pipefail
step=$1 source=$2 debs=$3 version=$4
packages=(krv520-config krv520-tools krv520-config-dbgsym krv520-tools-dbgsym)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [[ $step == build ]]; then
    rm -rf "$debs"
    # Package builds leave the tests out (debian/rules). A compiler cache,
    # where there is one, serves the next run of this test; without a base
    # folder it takes the paths as they are, so each copy is compiled as
    # itself and never from the other's objects.
    export DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)"
    if command -v ccache >/dev/null; then
        export CMAKE_CXX_COMPILER_LAUNCHER=ccache
        unset CCACHE_BASEDIR
    fi
    # One clean copy of the source, built in two folders of different names
    # and depths: no path may reach a package.
    "$source/scripts/build-packages.sh" "$debs/a" "$debs/a/src" >"$debs.a.log" 2>&1 ||
        { tail -50 "$debs.a.log"; fail "dpkg-buildpackage"; }
    "$source/scripts/build-packages.sh" "$debs/bb" "$debs/bb/second/build-here" \
        "$(ls "$debs"/a/src/krv520-config_*.tar)" >"$debs.bb.log" 2>&1 ||
        { tail -50 "$debs.bb.log"; fail "dpkg-buildpackage"; }
    for p in "${packages[@]}"; do
        deb=$(ls "$debs"/a/${p}_*.deb) || fail "no $p package"
        [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "$deb: not version $version"
        other=$debs/bb/${deb##*/}
        if ! cmp -s "$deb" "$other"; then
            diff <(dpkg-deb -c "$deb") <(dpkg-deb -c "$other") >&2 || true
            fail "${deb##*/} differs between the two builds"
        fi
    done
    count=$(ls "$debs"/a/*.deb | wc -l)
    ((count == ${#packages[@]})) || fail "$count packages made, expected ${#packages[@]}"
    # Debian's flags, and with them no new compiler warning.
    if grep -E '(warning|Warnung): ' "$debs.a.log" | grep -v '^CMake Warning'; then
        fail "the package build warns"
    fi
    exit 0
fi

if [[ $step == lintian ]]; then
    out=$(lintian --display-info --fail-on error,warning "$debs"/a/*.deb) || { echo "$out"; fail "lintian"; }
    echo "$out"
    ! grep -q hardening <<<"$out" || fail "lintian finds hardening missing"
    exit 0
fi

if [[ $step == appstream ]]; then
    metainfo=$debs
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
    # Every screenshot is one scripts/screenshots.sh writes, at its size.
    python3 - "$metainfo" "$source/docs" <<'SHOTS'
import struct, sys, xml.etree.ElementTree as ET
images = ET.parse(sys.argv[1]).findall("./screenshots/screenshot/image")
assert images, "no screenshots"
for image in images:
    png = f"{sys.argv[2]}/{image.text.rsplit('/', 1)[1]}"
    with open(png, "rb") as f:
        width, height = struct.unpack(">II", f.read(24)[16:24])
    assert (image.get("width"), image.get("height")) == (str(width), str(height)), (png, width, height)
SHOTS
    exit 0
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
"${dpkg[@]}" -i "$debs"/a/*.deb >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }

# Everything the package build installed is in a package (manual pages and
# changelogs compressed).
DESTDIR=$work/stage cmake --install "$(ls -d "$debs"/a/src/krv520-config-*/obj-*)" >/dev/null
(cd "$work/stage" && find . ! -type d) | while read -r f; do
    [[ -e $root/$f || -e $root/$f.gz ]] || fail "${f#.} is installed but in no package"
done

# One version everywhere a user or a packager reads it: the changelog's (the
# packages' own Version fields are checked as they are made).
[[ $(dpkg-parsechangelog -l "$source/debian/changelog" -S Version) == "$version" ]] ||
    fail "debian/changelog is not at $version"
grep -qx "X-AppVersion=$version" "$root/usr/share/applications/krv520-config.desktop" ||
    fail "the desktop entry is not at $version"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/com.vela.krv520config.metainfo.xml" ||
    fail "the AppStream release is not $version"
for page in "$root"/usr/share/man/man1/krv520-*.1.gz; do
    grep -q "^\.TH [^ ]* 1 \"[-0-9]*\" \"krv520-config $version\"" <(zcat "$page") ||
        fail "${page##*/} is not at $version"
done

# The programs start from their installed paths, the window program without
# a display.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/krv520-config" --version)
[[ $out == "krv520-config $version" ]] || fail "krv520-config --version said: $out"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/krv520-config" --help) ||
    fail "krv520-config --help without a display failed"
[[ $out == Usage:*--version* ]] || fail "krv520-config --help said: $out"
# Native on Wayland desktops with Qt's Wayland plugin.
[[ $(dpkg-deb -f "$debs"/a/krv520-config_*.deb Recommends) == *qt6-wayland* ]] ||
    fail "krv520-config does not recommend qt6-wayland"
for program in krv520-cli krv520-sim; do
    out=$(env -u DISPLAY "$root/usr/bin/$program" --version)
    [[ $out == "$program $version" ]] || fail "$program --version said: $out"
done
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
for p in krv520-config krv520-tools; do
    cmp -s "$root/usr/share/doc/$p/copyright" "$source/debian/copyright" ||
        fail "the copyright file of $p is not debian/copyright"
    zcat "$root/usr/share/doc/$p/changelog.gz" >"$work/changelog"
    [[ $(dpkg-parsechangelog -l "$work/changelog" -S Version) == "$version" ]] ||
        fail "the changelog of $p has no entry for $version"
done

# The completions load as each shell loads them on Debian, from the
# installed package and the program on the PATH: bash through
# bash-completion's loader, zsh through compinit with Debian's own fpath
# (every folder of it looked for under the root first), fish from its
# vendor folders.
export PATH=$root/usr/bin:$PATH
out=$(XDG_DATA_DIRS=$root/usr/share bash -c '
    source /usr/share/bash-completion/bash_completion
    __load_completion krv520-cli && complete -p krv520-cli')
[[ $out == *krv520-cli ]] || fail "bash-completion did not load krv520-cli: $out"
out=$(zsh -f -c '
    fpath=('"$root"'${^fpath} $fpath)
    autoload -Uz compinit && compinit -u -d '"$work"'/zcompdump
    print -r -- ${_comps[krv520-cli]}')
[[ $out == _krv520-cli ]] || fail "compinit did not find _krv520-cli: $out"
out=$(XDG_DATA_DIRS=$root/usr/share XDG_CONFIG_HOME=$work/config HOME=$work \
    fish -c 'complete -C "krv520-cli downl"')
[[ $out == download* ]] || fail "fish did not complete krv520-cli: $out"

# The watch service, pointed at the installed program, as systemd reads it
# (its Documentation= page looked up among the installed ones).
unit=$root/usr/lib/systemd/system/krv520-watch.service
[[ -f $unit ]] || unit=$root/lib/systemd/system/krv520-watch.service
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
