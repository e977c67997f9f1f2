#!/bin/sh
# Pictures of the main, progress, result and schedule windows for the documentation,
# at normal size and at 200 %, drawn on a virtual X display.
#   scripts/screenshots.sh [build-folder]     (default: build)
# Needs xvfb-run (Debian package xvfb). Writes docs/screenshots/*.png and
# docs/screenshots/200/*.png.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
out="$here/docs/screenshots"

cmake --build "$build" -j 2 --target gui_tests
mkdir -p "$out" "$out/200"

shoot() {
    # The demo writes its configuration and folders into a fresh temporary
    # home, so nothing of the user's own is read or changed.
    dir=$1
    shift
    demo_home=$(mktemp -d)
    trap 'rm -rf "$demo_home"' EXIT
    env DUPLORA_HOME="$demo_home" DUPLORA_REGISTRY_DIR="$demo_home" LANG=C.UTF-8 \
        QT_QPA_PLATFORM=xcb DUPLORA_SCREENSHOT_DIR="$dir" "$@" \
        xvfb-run -a -s "-screen 0 1600x1200x24" \
        "$build/tests/gui_tests" --gtest_filter='Screenshots.*:ScheduleScreenshots.*'
    rm -rf "$demo_home"
    trap - EXIT
}

shoot "$out"
shoot "$out/200" QT_SCALE_FACTOR=2
echo "Pictures in $out"
