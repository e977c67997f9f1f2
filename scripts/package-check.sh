#!/usr/bin/env bash
# Builds the Debian package from a Release build without tests and
# benchmarks, installs it with apt-get as a user would, runs the installed
# programs, checks the desktop entry, the software-centre entry, the systemd
# unit, the man page and the completion, then purges the package and checks
# that none of its files is left. Needs root (or sudo) for apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh runtime build package

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
dir=build-package
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDUPLORA_BUILD_TESTS=OFF \
    -DDUPLORA_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$dir"
rm -f "$dir"/duplora_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(echo "$dir"/duplora_*.deb)
echo "== $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends Installed-Size

# A version of the package installed before would hide a missing file.
$SUDO apt-get purge -y -qq duplora >/dev/null 2>&1 || true
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "./$deb" >/dev/null
mapfile -t files < <(dpkg -L duplora)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/duplora --version
/usr/bin/duplora-cli --version
# A first run on temporary folders, with its own configuration.
export DUPLORA_HOME="$work/home"
mkdir -p "$work/host/sub" "$work/mirror"
echo alpha >"$work/host/a.txt"
echo beta >"$work/host/sub/b.txt"
/usr/bin/duplora-cli new Smoke --host "$work/host" --mirror "$work/mirror" --subfolders on \
    --only-in-host to-mirror
/usr/bin/duplora-cli run Smoke
cmp "$work/host/sub/b.txt" "$work/mirror/sub/b.txt"
test -f "$DUPLORA_HOME/duplora.log"
unset DUPLORA_HOME

appstreamcli validate --no-net /usr/share/metainfo/org.duplora.Duplora.metainfo.xml
desktop-file-validate /usr/share/applications/org.duplora.Duplora.desktop
test -f /usr/share/icons/hicolor/scalable/apps/org.duplora.Duplora.svg
unit=/usr/lib/systemd/user/duplora-scheduler.service
grep -qx 'ExecStart=/usr/bin/duplora-cli scheduler --wait' "$unit"
systemd-analyze verify "$unit"
man -w duplora-cli >/dev/null
man -w duplora >/dev/null
bash -c 'source /usr/share/bash-completion/completions/duplora-cli && complete -p duplora-cli'
test -f /usr/share/doc/duplora/copyright

$SUDO apt-get purge -y -qq duplora >/dev/null
left=()
for f in "${files[@]}"; do
    # Shared folders (/usr/bin, /usr/share/man/man1) stay; files must not.
    if [ -e "$f" ] && [ ! -d "$f" ]; then
        left+=("$f")
    fi
done
# The package's own folder goes with its last file.
[ -e /usr/share/doc/duplora ] && left+=(/usr/share/doc/duplora)
if [ ${#left[@]} -gt 0 ]; then
    echo "package-check: left after purge: ${left[*]}" >&2
    exit 1
fi
echo "package-check: built, installed, ran, validated and purged $deb"
