#!/usr/bin/env bash
# Saves docs/screenshots/preview.png: the preview window on a real plan,
# drawn under Xvfb by the window test that builds that plan.
# SCALE=2 draws it at 200 % (into preview@2x.png) to check the pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target gui_tests
scale="${SCALE:-1}"
out="docs/screenshots/preview.png"
[ "$scale" != 1 ] && out="docs/screenshots/preview@${scale}x.png"
mkdir -p docs/screenshots
xvfb-run -a -s "-screen 0 1280x1024x24" \
    env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" DUPLORA_SCREENSHOT="$PWD/$out" \
    build/tests/gui_tests --gtest_filter=TreeVForm.Screenshot
echo "saved $out"
# The same window on a renamed folder, for the README's part on moves.
move_out="docs/screenshots/preview-move.png"
[ "$scale" != 1 ] && move_out="docs/screenshots/preview-move@${scale}x.png"
xvfb-run -a -s "-screen 0 1280x1024x24" \
    env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" DUPLORA_SCREENSHOT_MOVE="$PWD/$move_out" \
    build/tests/gui_tests --gtest_filter=TreeVForm.MovesShowBothPathsAndFallBackWhenUnticked
echo "saved $move_out"
# The delete guard's panels (red above the task's limit) and the advanced
# options with the safety choices, for the README's part on deletes.
guard_out="docs/screenshots/preview-guard.png"
adv_out="docs/screenshots/advanced-options.png"
if [ "$scale" != 1 ]; then
    guard_out="docs/screenshots/preview-guard@${scale}x.png"
    adv_out="docs/screenshots/advanced-options@${scale}x.png"
fi
xvfb-run -a -s "-screen 0 1280x1024x24" \
    env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" DUPLORA_SCREENSHOT_GUARD="$PWD/$guard_out" \
    DUPLORA_SCREENSHOT_ADV="$PWD/$adv_out" build/tests/gui_tests \
    --gtest_filter='TreeVForm.DeleteGuardPanels*:AdvForm.SafetyOptions*'
echo "saved $guard_out $adv_out"
# Remembered files (a delete and a conflict) with their pictures, reasons
# and filter buttons, for the README's part on remembering the last run.
remember_out="docs/screenshots/remembered-preview.png"
[ "$scale" != 1 ] && remember_out="docs/screenshots/remembered-preview@${scale}x.png"
xvfb-run -a -s "-screen 0 1280x1024x24" \
    env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" DUPLORA_SCREENSHOT_REMEMBER="$PWD/$remember_out" \
    build/tests/gui_tests --gtest_filter='RememberPreview.APlanOfARealRunShowsRememberedRows'
echo "saved $remember_out"
