#!/usr/bin/env bash
# Screenshots of the imaging dialog copying from a disk with unreadable
# sectors (faulty_image_fs), under Xvfb: while the copy runs, and when it is
# done, with the bad-sector list beside the dialog.
#   tests/gui/imaging_screenshots.sh BUILD_DIR [OUT_DIR]
set -euo pipefail
BUILD=$(cd "${1:?usage: imaging_screenshots.sh BUILD_DIR [OUT_DIR]}" && pwd)
OUT=${2:-$BUILD/screenshots}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
cmake --build "$BUILD" -j2 --target ui_img_dlg faulty_image_fs >/dev/null
QT_QPA_PLATFORM=xcb QUORVEL_SHOT_DIR="$OUT" \
  xvfb-run -a -s "-screen 0 1024x700x24" "$BUILD/src/ui/ui_img_dlg" >"$OUT/imaging.log" 2>&1
ls "$OUT"/imaging-*.png
