#!/usr/bin/env bash
# `quorvel ls --json` against The Sleuth Kit's `fls -r -p` (deleted entries
# included: the same content) on the same NTFS image in the same run: 100,000+
# files in 200 folders, a tenth of them deleted. Prints wall times, the ratio
# quorvel / fls (goal <= 0.30),
# how many entries each listed, and quorvel's peak memory per listed entry
# (from /usr/bin/time -v when it is there).
#   bench/run_ntfs_ls_bench.sh [BUILD_DIR] [ROUNDS]
# Needs root for the ntfs-3g mount that fills the image.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
ROUNDS=${2:-3}
export LC_ALL=C.UTF-8
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j2 --target quorvel >/dev/null
Q="$BUILD/quorvel"
WORK="$BUILD/bench-work/ntfs_ls"
mkdir -p "$WORK"

IMG="$WORK/ntfs_100k.img"
if [ ! -f "$IMG" ]; then
  truncate -s 400M "$IMG.tmp"
  mkntfs -F -Q -q -c 4096 -s 512 -p 0 -H 255 -S 63 -L BENCH100K "$IMG.tmp" >/dev/null 2>&1
  MNT=$(mktemp -d /tmp/qv-bench-ntfs.XXXXXX)
  ntfs-3g -o no_detach "$IMG.tmp" "$MNT" >/dev/null 2>&1 &
  PID=$!
  trap 'mountpoint -q "$MNT" && umount "$MNT"; wait "$PID" 2>/dev/null || true; rmdir "$MNT" 2>/dev/null || true' EXIT
  for _ in $(seq 1 100); do mountpoint -q "$MNT" && break; sleep 0.1; done
  # 200 folders of 550 small files (resident data), names of varying length.
  perl -e 'my $root = shift; for my $d (0 .. 199) { my $dir = sprintf("%s/folder%03d", $root, $d);
      mkdir $dir or die; for my $f (0 .. 549) { open(my $h, ">", sprintf("%s/file_%05d_%s.txt", $dir, $f,
      "x" x ($f % 17))) or die; print $h "entry $d $f\n" x (1 + $f % 9); close $h; } }' "$MNT"
  # A tenth deleted: every tenth folder's files go, and every fifth of those folders too.
  for d in $(seq 0 10 199); do
    if [ $((d % 50)) -eq 0 ]; then rm -rf "$MNT/$(printf 'folder%03d' "$d")"; else rm -f "$MNT/$(printf 'folder%03d' "$d")"/*; fi
  done
  sync
  umount "$MNT"
  wait "$PID" || true
  rmdir "$MNT"
  trap - EXIT
  mv "$IMG.tmp" "$IMG"
fi

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
less() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
best_q=""; best_t=""
for round in $(seq 1 "$ROUNDS"); do
  t0=$(now)
  "$Q" ls "$IMG" 0 --json >"$WORK/quorvel.json"
  t1=$(now)
  fls -r -p "$IMG" >"$WORK/fls.txt"
  t2=$(now)
  q=$(elapsed "$t0" "$t1"); t=$(elapsed "$t1" "$t2")
  echo "round $round: quorvel ${q}s, fls ${t}s"
  if [ -z "$best_q" ] || less "$q" "$best_q"; then best_q=$q; fi
  if [ -z "$best_t" ] || less "$t" "$best_t"; then best_t=$t; fi
done
entries=$(grep -o '"state":' "$WORK/quorvel.json" | wc -l)
echo "best: quorvel ${best_q}s, fls ${best_t}s, ratio $(awk -v a="$best_q" -v b="$best_t" 'BEGIN { printf "%.2f", a / b }') (goal <= 0.30)"
echo "entries: quorvel $entries; fls $(wc -l <"$WORK/fls.txt") lines"
if [ -x /usr/bin/time ]; then
  /usr/bin/time -v "$Q" ls "$IMG" 0 --json 2>"$WORK/time.txt" >/dev/null
  kb=$(awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }' "$WORK/time.txt")
  echo "peak memory: ${kb} KiB, $(awk -v k="$kb" -v n="$entries" 'BEGIN { printf "%.0f", k * 1024 / n }') bytes per listed entry"
else
  echo "peak memory: /usr/bin/time is not installed"
fi
