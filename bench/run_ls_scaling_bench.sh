#!/usr/bin/env bash
# `quorvel ls --json` against The Sleuth Kit's `fls -r -p` (which lists
# deleted entries too: the same content) on FAT32 and NTFS images of 10k to
# 200k files in folders of 500, and on one folder of 20,000 files, in the
# same run. Before any time is trusted, the paths both list are compared.
# Prints per image: entries, shared paths, medians, the ratio, microseconds
# per entry (linear scaling keeps it flat) and peak RSS per listed entry.
#
# Usage: bench/run_ls_scaling_bench.sh [BUILD_DIR] [WORK_DIR]
#   ROUNDS (default 5) timed rounds per image, alternating the two tools;
#   SIZES (default "10000 50000 100000 200000") file counts of the scaling run.
# Needs root for the ntfs-3g mount that fills the NTFS images, and python3.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
WORK=${2:-$BUILD/bench-work/scaling}
ROUNDS=${ROUNDS:-5}
SIZES=${SIZES:-"10000 50000 100000 200000"}
export LC_ALL=C.UTF-8
unset MTOOLSRC
# shellcheck source=bench/ls_images.sh
source "$ROOT/bench/ls_images.sh"
mkdir -p "$WORK"
cmake --build "$BUILD" --target quorvel -j2 >/dev/null
Q="$BUILD/quorvel"

images=()
for n in $SIZES; do
  make_fat_image "$WORK/fat32_$n.img" "$n" 500
  make_ntfs_image "$WORK/ntfs_$n.img" "$n" 500
  images+=("$WORK/fat32_$n.img" "$WORK/ntfs_$n.img")
done
make_fat_image "$WORK/fat32_onefolder_20000.img" 20000 20000
make_ntfs_image "$WORK/ntfs_onefolder_20000.img" 20000 20000
images+=("$WORK/fat32_onefolder_20000.img" "$WORK/ntfs_onefolder_20000.img")

# shellcheck source=bench/bench_timing.sh
source "$ROOT/bench/bench_timing.sh"

# Paths under the root as quorvel lists them, and as fls does without the
# metafiles, streams and the volume label (which quorvel shows elsewhere).
# Prints: quorvel-paths fls-paths shared-paths.
same_content() {
  python3 - "$1" "$2" <<'EOF'
import json, sys
listing = json.load(open(sys.argv[1], encoding="utf-8"))
ours = {e["path"][len("根目录/"):] for e in listing["entries"] if e["path"].startswith("根目录/")}
theirs = set()
for line in open(sys.argv[2], encoding="utf-8", errors="replace"):
    path = line.rstrip("\n").split("\t", 1)[-1]
    if "$" in path or line.startswith("r/r 3:") or "(Volume Label Entry)" in path:
        continue
    theirs.add(path)
print(len(ours), len(theirs), len(ours & theirs))
EOF
}

printf '%-28s %8s %8s %8s %9s %9s %6s %8s %10s\n' image quorvel fls shared "q s" "fls s" ratio "us/entry" "RSS B/ent"
for img in "${images[@]}"; do
  cat "$img" >/dev/null  # warm cache: both read the same storage
  "$Q" ls "$img" 0 --json --quiet >"$WORK/q.json"
  fls -r -p "$img" >"$WORK/fls.txt"
  read -r ours theirs shared < <(same_content "$WORK/q.json" "$WORK/fls.txt")
  entries=$(grep -o '"state":' "$WORK/q.json" | wc -l)
  q_times=() f_times=()
  for _ in $(seq 1 "$ROUNDS"); do
    q_times+=("$(timed "$Q" ls "$img" 0 --json --quiet)")
    f_times+=("$(timed fls -r -p "$img")")
  done
  q=$(printf '%s\n' "${q_times[@]}" | median)
  f=$(printf '%s\n' "${f_times[@]}" | median)
  /usr/bin/time -v "$Q" ls "$img" 0 --json --quiet 2>"$WORK/time.txt" >/dev/null
  kb=$(awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }' "$WORK/time.txt")
  printf '%-28s %8s %8s %8s %9.3f %9.3f %6.2f %8.2f %10.0f\n' "$(basename "$img")" "$ours" "$theirs" "$shared" \
    "$q" "$f" "$(calc "$q / $f")" "$(calc "$q * 1000000 / $entries")" "$(calc "$kb * 1024 / $entries")"
done
echo "ratio = quorvel ls --json / fls -r -p (medians of $ROUNDS alternating rounds, warm cache)"
echo "goals: FAT32 <= 0.10, NTFS <= 0.30, us/entry flat from 10k to 200k, RSS <= 250 B/entry at 200k"
