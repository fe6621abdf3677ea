#!/usr/bin/env bash
# `quorvel ls --json` versus The Sleuth Kit's `fls -r -p` (which lists the
# deleted entries too: the same content) on the same FAT32 image with 51,000
# files (two folders of them deleted with mdeltree), in the same run.
# Goal: quorvel's time <= 0.10 x fls. The scaling run is run_ls_scaling_bench.sh.
#
# Usage: bench/run_fat_ls_bench.sh [BUILD_DIR] [WORK_DIR]
#   BUILD_DIR  an optimised build (default: build); its quorvel is built first
#   WORK_DIR   where the image is cached (default: BUILD_DIR/bench-work)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
WORK=${2:-$BUILD/bench-work}
ROUNDS=${ROUNDS:-5}
mkdir -p "$WORK"
export LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1
unset MTOOLSRC

cmake --build "$BUILD" --target quorvel -j2 >/dev/null
QUORVEL="$BUILD/quorvel"

FOLDERS=102
PER_FOLDER=500
IMG="$WORK/fat32_51k_files.img"
if [ ! -e "$IMG" ]; then
  echo "building a FAT32 image with $((FOLDERS * PER_FOLDER)) files (takes a few minutes)..." >&2
  tmp="$IMG.tmp"
  src="$WORK/fat-ls-content"
  rm -rf "$tmp" "$src"
  truncate -s 192M "$tmp"
  mkfs.fat -F 32 -s 1 -n LSBENCH "$tmp" >/dev/null
  mkdir -p "$src"
  for d in $(seq -w 1 "$FOLDERS"); do
    dir="$src/folder $d"
    mkdir -p "$dir"
    for f in $(seq -w 1 "$PER_FOLDER"); do
      printf 'folder %s file %s\n' "$d" "$f" >"$dir/document $f of folder $d.txt"
    done
  done
  # Whole folders in one call: one mtools process for all the files.
  mcopy -s -i "$tmp" "$src"/* ::/
  mdeltree -i "$tmp" "::/folder 001" "::/folder 002"
  rm -rf "$src"
  mv "$tmp" "$IMG"
fi

# shellcheck source=bench/bench_timing.sh
source "$ROOT/bench/bench_timing.sh"

# Warm the page cache so every reader sees the same storage.
cat "$IMG" >/dev/null

q_times=() f_times=()
for _ in $(seq 1 "$ROUNDS"); do
  q_times+=("$(timed "$QUORVEL" ls "$IMG" 0 --json --quiet)")
  f_times+=("$(timed fls -r -p "$IMG")")
done
q=$(printf '%s\n' "${q_times[@]}" | median)
f=$(printf '%s\n' "${f_times[@]}" | median)
listed=$("$QUORVEL" ls "$IMG" 0 --json --quiet | grep -o '"state":' | wc -l)
fls_listed=$(fls -r -p "$IMG" | grep -vc '\$' || true)

echo "image: $IMG ($((FOLDERS * PER_FOLDER)) files written, 1000 of them in deleted folders)"
echo "entries: quorvel ls --json $listed, fls -r -p $fls_listed"
echo "median of $ROUNDS rounds: quorvel ls --json ${q}s, fls -r -p ${f}s"
echo "ratio quorvel / fls -r -p = $(calc "$q / $f")  (goal <= 0.10)"
