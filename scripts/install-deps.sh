#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, asking apt only
# for those that are missing, so a second run costs nothing.
set -euo pipefail

packages=(
    build-essential cmake make pkg-config clang
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev libxcb1-dev
    qt6-httpserver-dev qt6-websockets-dev prometheus systemd
    # (qt6-httpserver-dev's CMake files need qt6-websockets-dev, which it does not
    # pull in itself)
    libgtest-dev libbenchmark-dev
    libcups2-dev cups cups-client
    xvfb xauth xdotool x11-utils imagemagick openbox iproute2 socat
    ansible-core python3
    fonts-dejavu-core fonts-liberation2
    fish zsh
    tesseract-ocr tesseract-ocr-eng
    weston qt6-wayland dbus at-spi2-core python3-pyatspi
    dpkg-dev groff-base desktop-file-utils appstream lintian debhelper bash-completion ccache
    # the profile MIME type as a desktop sees it (xdg-mime uses mimetype)
    shared-mime-info xdg-utils libfile-mimeinfo-perl
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
