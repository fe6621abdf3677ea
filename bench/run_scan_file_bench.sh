#!/usr/bin/env bash
# Saving and loading the scan-result file of a large scan (1,000,000 FAT
# directory sectors, 100,000 carved files) against the deep scan that finds
# such things, in the same run: the deep scan of a 1 GiB image of random
# data (`quorvel deep-scan`), and `dd bs=10M` reading it for scale. A disk
# holding that many directory sectors and carved files is at least 0.5 GiB
# (one sector each); real ones are many times larger.
#   bench/run_scan_file_bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(realpath "${1:-$ROOT/build}")
ROUNDS=${2:-3}
export LC_ALL=C.UTF-8
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j2 --target quorvel scan_file_bench >/dev/null
WORK="$BUILD/bench-work/scan-file"
mkdir -p "$WORK"
IMG="$WORK/random_1g.img"
[ -e "$IMG" ] || head -c $((1024 * 1024 * 1024)) /dev/urandom >"$IMG"

best() { sort -n | head -1; }
now() { date +%s.%N; }

save=() load=() deep=() dd=()
for round in $(seq "$ROUNDS"); do
  line=$("$BUILD/bench/scan_file_bench" "$WORK/large.rvz_scn")
  save+=("$(sed 's/.*save_seconds=\([0-9.]*\).*/\1/' <<<"$line")")
  load+=("$(sed 's/.*load_seconds=\([0-9.]*\).*/\1/' <<<"$line")")
  bytes=$(sed 's/.* bytes=\([0-9]*\).*/\1/' <<<"$line")
  covered=$(sed 's/.*covered_bytes=\([0-9]*\).*/\1/' <<<"$line")
  t=$(now)
  "$BUILD/quorvel" deep-scan "$IMG" --quiet >/dev/null
  deep+=("$(echo "$(now) - $t" | bc)")
  t=$(now)
  dd if="$IMG" of=/dev/null bs=10M status=none
  dd+=("$(echo "$(now) - $t" | bc)")
done
S=$(printf '%s\n' "${save[@]}" | best)
L=$(printf '%s\n' "${load[@]}" | best)
D=$(printf '%s\n' "${deep[@]}" | best)
R=$(printf '%s\n' "${dd[@]}" | best)
printf 'scan-result file: %s bytes (1,000,000 directory sectors, 100,000 carved files)\n' "$bytes"
printf 'save %.2f s, load %.2f s; deep scan of 1 GiB %.2f s (dd %.2f s)\n' "$S" "$L" "$D" "$R"
# The deep scan of the smallest disk that could hold what the file lists,
# at the rate just measured (page cache: a real drive is many times slower).
GIB=$(echo "$covered / 1073741824" | bc -l)
printf 'smallest disk holding them: %.1f GiB, its deep scan at that rate %.2f s: save / scan %.3f, load / scan %.3f\n' \
  "$GIB" "$(echo "$D * $GIB" | bc -l)" "$(echo "$S / ($D * $GIB)" | bc -l)" "$(echo "$L / ($D * $GIB)" | bc -l)"
printf 'save / deep scan of 1 GiB: %.3f, load / deep scan of 1 GiB: %.3f (best of %s rounds)\n' \
  "$(echo "$S / $D" | bc -l)" "$(echo "$L / $D" | bc -l)" "$ROUNDS"
