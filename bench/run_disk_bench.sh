#!/usr/bin/env bash
# Reads a 1 GiB image through the disk layer (plain and striped) and with
# `dd bs=10M` in the same run, and prints the throughput ratios.
#   bench/run_disk_bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
ROUNDS=${2:-3}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j2 --target disk_read_bench >/dev/null
IMAGE="$BUILD/bench-work/disk-1g.img"
if [ ! -e "$IMAGE" ]; then
  mkdir -p "$(dirname "$IMAGE")"
  # Incompressible data, so no layer below can shortcut the reads.
  head -c 1G /dev/urandom >"$IMAGE.tmp"
  mv "$IMAGE.tmp" "$IMAGE"
fi
"$BUILD/bench/disk_read_bench" "$IMAGE" "$ROUNDS"
