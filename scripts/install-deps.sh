#!/usr/bin/env bash
# Installs the Debian packages Duplora needs to build, test and benchmark.
# Does nothing when everything is present already.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl1-mesa-dev
    libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
    xvfb xauth fonts-noto-cjk tzdata rsync
    exfat-fuse exfatprogs fuse3
    # Network shares: GIO to mount them, and a real Samba server with the
    # GVfs smb backend and FUSE bridge for the share tests.
    libglib2.0-dev gvfs gvfs-backends gvfs-fuse dbus samba
    # The notification-area test: a real tray host and a mouse driver.
    trayer xdotool
)
if [ "${DUPLORA_BENCH_DEPS:-0}" = 1 ]; then
    packages+=(hyperfine rsync time imagemagick libglib2.0-bin bc)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
