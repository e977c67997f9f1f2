#!/usr/bin/env bash
# Installs the Debian packages of the named sets, only those missing:
#
#   scripts/install-deps.sh runtime build     # build and start the programs
#   scripts/install-deps.sh runtime build test
#
# runtime  what the installed programs use (the package's Depends and
#          Recommends: Qt, GIO and the GVfs share pieces, Qt's translations)
# build    compilers, CMake, headers, scdoc for the man pages
# test     GoogleTest, Xvfb and a tray host for the window tests, CJK fonts,
#          clang-format for the format check, rsync as the reference of the
#          convergence test,
#          exFAT and FUSE tools, a real Samba server for the share tests
# bench    the benchmarks' tools (DUPLORA_BENCH_DEPS=1 adds it as well)
# package  what building, checking and installing the .deb needs
#
# Samba is installed for the tests only: its system services (smbd, nmbd,
# samba-ad-dc) are kept from starting during the install and left disabled
# and stopped afterwards; the share tests start their own server.
set -euo pipefail

declare -A sets
sets[runtime]="libqt6widgets6 libqt6svg6 libglib2.0-0 gvfs gvfs-backends gvfs-fuse dbus
    dbus-user-session qt6-translations-l10n"
sets[build]="build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools
    qt6-svg-dev libgl1-mesa-dev libcli11-dev nlohmann-json3-dev libglib2.0-dev scdoc"
sets[test]="libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth fonts-noto-cjk tzdata
    exfat-fuse exfatprogs fuse3 samba trayer xdotool clang-format rsync"
sets[bench]="hyperfine rsync time imagemagick libglib2.0-bin bc"
sets[package]="dpkg-dev file appstream desktop-file-utils systemd man-db"

chosen=("$@")
[ ${#chosen[@]} -eq 0 ] && chosen=(runtime build test)
[ "${DUPLORA_BENCH_DEPS:-0}" = 1 ] && chosen+=(bench)

packages=()
for set in "${chosen[@]}"; do
    if [ -z "${sets[$set]+x}" ]; then
        echo "install-deps.sh: unknown set '$set' (runtime, build, test, bench, package)" >&2
        exit 2
    fi
    # shellcheck disable=SC2206 # the lists are split on white space on purpose
    packages+=(${sets[$set]})
done

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    # A policy-rc.d that refuses keeps the packages' system services (Samba's)
    # from being started by their maintainer scripts during the install.
    policy=/usr/sbin/policy-rc.d
    own_policy=0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
        $SUDO chmod 755 "$policy"
        own_policy=1
    fi
    trap '[ $own_policy = 1 ] && $SUDO rm -f "$policy"' EXIT
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

# Whenever Samba is there for the tests: its services disabled and stopped.
# deb-systemd-helper records the choice, so a later upgrade keeps it.
if installed samba; then
    for unit in smbd.service nmbd.service samba-ad-dc.service; do
        if command -v deb-systemd-helper >/dev/null; then
            $SUDO deb-systemd-helper disable "$unit" >/dev/null 2>&1 || true
        fi
        if command -v systemctl >/dev/null; then
            $SUDO systemctl disable "$unit" >/dev/null 2>&1 || true
            if [ -d /run/systemd/system ]; then
                $SUDO systemctl stop "$unit" >/dev/null 2>&1 || true
            fi
        fi
    done
fi
