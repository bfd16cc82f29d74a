#!/usr/bin/env bash
# Installs from Debian's packages whatever building and running Skarnet needs and is missing.
# With --tests it also installs what the test suite needs (virtual display, input driver, and
# clang with the libFuzzer runtime, which libclang-rt-dev brings for the default clang).
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev libx11-dev
          fonts-liberation fonts-comic-neue fonts-dejavu-core libminiupnpc-dev libnatpmp-dev
          libssl-dev libnice-dev)
# dpkg-shlibdeps, with which cpack works out the libraries the .deb depends on.
packages+=(dpkg-dev)
if [[ ${1:-} == --tests ]]; then
    packages+=(xvfb xauth xdotool x11-utils iproute2 libxdamage1 imagemagick clang libclang-rt-dev)
    # The accessibility bus and a reader for it, for the screen-reader checks, and Qt's private
    # headers, through which tst_accessibility listens as a screen reader would.
    packages+=(dbus-daemon at-spi2-core python3-gi gir1.2-atspi-2.0 qt6-base-private-dev)
    # Debian's own Python, which writes the benchmark report and reads the accessibility bus.
    packages+=(python3)
    # Validate the desktop entry and the software centres' description (install and package
    # checks), and the .deb (package check).
    packages+=(desktop-file-utils appstream lintian)
    # A home router for the router check: its UPnP and NAT-PMP daemon on nftables, the STUN
    # server it learns its WAN address from, and the clients that try it without the program.
    packages+=(miniupnpd miniupnpd-nftables nftables stun-server miniupnpc natpmpc)
    # The STUN and TURN server the path over UDP is checked against.
    packages+=(coturn)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
        missing+=("$package")
    fi
done
((${#missing[@]} == 0)) && exit 0

as_root=()
if [[ $(id -u) -ne 0 ]]; then
    as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
