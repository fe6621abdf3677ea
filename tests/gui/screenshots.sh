#!/usr/bin/env bash
# Screenshots of the desktop application on the demo disk, taken under Xvfb:
# the disk page, the file page with deleted files, the progress dialog and the
# hex viewer; format recovery's rebuilt tree and the same FAT volume as it
# stands afterwards, the save refusals, Qt's dialogs in Chinese; then the deep
# scan of a wiped disk: its progress dialog, the partition rows it adds and the
# carved files under "Extra Found Files"; that scan saved with "保存" and
# opened again through "打开扫描信息"; last the disk page when a disk or an
# image cannot be opened, and with no disk at all. The application walks
# through the windows itself (hidden option --demo-script) and waits for each
# picture to be taken.
#   tests/gui/screenshots.sh BUILD_DIR [OUT_DIR]
set -euo pipefail
BUILD=$(cd "${1:?usage: screenshots.sh BUILD_DIR [OUT_DIR]}" && pwd)
OUT=${2:-$BUILD/screenshots}
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

if [ -z "${QUORVEL_SCREENSHOT_INNER:-}" ]; then
  bash "$HERE/../fixtures/build_disks.sh" "$BUILD/fixtures" >/dev/null
  bash "$HERE/../fixtures/build_carving.sh" "$BUILD/fixtures" >/dev/null
  bash "$HERE/../fixtures/build_format.sh" "$BUILD/fixtures" >/dev/null
  export QUORVEL_SCREENSHOT_INNER=1
  exec xvfb-run -a -s "-screen 0 1366x800x24" bash "$0" "$BUILD" "$OUT"
fi

# Inside the virtual display from here on.
unset QT_QPA_PLATFORM
# The walk's first pages use the FAT partition of the last image with one (demo.img).
images=()
[ -e "$BUILD/fixtures/format_fat32.img" ] && images+=(--image "$BUILD/fixtures/format_fat32.img")
images+=(--image "$BUILD/fixtures/demo.img")
[ -e "$BUILD/fixtures/carving_volumes.img" ] && images+=(--image "$BUILD/fixtures/carving_volumes.img")
coproc GUI { exec "$BUILD/quorvel-gui" --no-physical-disks "${images[@]}" --demo-script 2>"$OUT/gui.log"; }
taken=0
while IFS= read -r line <&"${GUI[0]}"; do
  case "$line" in
    "SHOT "*)
      name=${line#SHOT }
      import -window root "$OUT/$name.png"
      echo "saved $OUT/$name.png"
      taken=$((taken + 1))
      echo next >&"${GUI[1]}"
      ;;
    DONE) break ;;
  esac
done
wait "$GUI_PID" 2>/dev/null || true

# The disk page when disks or images cannot be opened: the machine's disks
# (unreadable without root) and an image given as a plain argument that does
# not exist; the status line says why.
"$BUILD/quorvel-gui" "$BUILD/fixtures/demo.img" /nonexistent/lost.img 2>>"$OUT/gui.log" &
pid=$!
sleep 4
import -window root "$OUT/disk_page_problems.png" && taken=$((taken + 1)) && echo "saved $OUT/disk_page_problems.png"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
# And with no disk at all: the status line says where to go next.
"$BUILD/quorvel-gui" --no-physical-disks 2>>"$OUT/gui.log" &
pid=$!
sleep 4
import -window root "$OUT/disk_page_empty.png" && taken=$((taken + 1)) && echo "saved $OUT/disk_page_empty.png"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
echo "$taken screenshots in $OUT"
[ "$taken" -ge 4 ]
