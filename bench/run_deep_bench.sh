#!/usr/bin/env bash
# Deep scan of a 2 GiB image (random data with planted files) against `dd
# bs=10M` of the same image, and against foremost and photorec, all in the same
# run. Prints the throughput ratio deep scan / dd (goal >= 0.95), the time
# ratios against the peers, and how many planted files each one writes
# byte-exact (and how many files it reports where nothing was planted).
#   bench/run_deep_bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
ROUNDS=${2:-5}
export LC_ALL=C.UTF-8
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j2 --target quorvel >/dev/null
Q="$BUILD/quorvel"
WORK="$BUILD/bench-work/deep"
mkdir -p "$WORK"

# The planted files come from the carving fixtures (made by real tools).
bash "$ROOT/tests/fixtures/build_carving.sh" "$BUILD/fixtures" >/dev/null
FILES="$BUILD/fixtures/carving"
IMG="$WORK/deep_2g.img"
PLANTED="$WORK/deep_2g.planted"  # "SECTOR FILE" per planted copy
SECTORS=$((2 * 1024 * 1024 * 2))
if [ ! -e "$IMG" ] || [ ! -e "$PLANTED" ]; then
  echo "building a 2 GiB image of random data with planted files..." >&2
  head -c $((SECTORS * 512)) /dev/urandom >"$IMG.tmp"
  : >"$PLANTED.tmp"
  # Twelve copies of the set, spread over the image; each file's last sector
  # is zero behind it, as a file system leaves it; compound documents get
  # 64 KiB of room (carving claims FAT sectors × 64 KiB for them).
  for copy in $(seq 0 11); do
    sector=$((2048 + copy * (SECTORS / 12)))
    for f in $(ls "$FILES"); do
      size=$(stat -c %s "$FILES/$f")
      dd if=/dev/zero of="$IMG.tmp" bs=512 seek="$sector" count=$(((size + 511) / 512)) conv=notrunc status=none
      dd if="$FILES/$f" of="$IMG.tmp" bs=512 seek="$sector" conv=notrunc status=none
      echo "$sector $f" >>"$PLANTED.tmp"
      room=$(((size + 511) / 512))
      case "$f" in *.doc | *.xls) room=$((room > 128 ? room : 128)) ;; esac
      sector=$((sector + room + 4099))
    done
  done
  mv "$PLANTED.tmp" "$PLANTED"
  mv "$IMG.tmp" "$IMG"
fi

# shellcheck source=bench/bench_timing.sh
source "$ROOT/bench/bench_timing.sh"
now() { date +%s.%N; }
hashes_below() { find "$1" -type f -exec sha256sum {} + 2>/dev/null | cut -c1-64 | sort; }
# Planted copies a peer wrote byte-exact: each copy counts when its bytes are
# among the peer's files (as many times as the peer has them).
exact_copies() {  # exact_copies HASHFILE
  local f h n=0
  declare -A have=()
  while read -r h; do have[$h]=$((${have[$h]:-0} + 1)); done <"$1"
  while read -r _ f; do
    h=$(sha256sum <"$FILES/$f" | cut -c1-64)
    if [ "${have[$h]:-0}" -gt 0 ]; then
      have[$h]=$((have[$h] - 1))
      n=$((n + 1))
    fi
  done <"$PLANTED"
  echo "$n"
}
planted=$(wc -l <"$PLANTED")

dd if="$IMG" of=/dev/null bs=10M status=none  # the page cache holds the image for everyone
dd_times=() q_times=()
for _ in $(seq 1 "$ROUNDS"); do
  t0=$(now); dd if="$IMG" of=/dev/null bs=10M status=none; t1=$(now)
  dd_times+=("$(calc "$t1 - $t0")")
  t0=$(now); "$Q" deep-scan "$IMG" --quiet --json >"$WORK/scan.json"; t1=$(now)
  q_times+=("$(calc "$t1 - $t0")")
done
best() { printf '%s\n' "$@" | sort -g | head -1; }
dd_best=$(best "${dd_times[@]}")
q_best=$(best "${q_times[@]}")
size_mib=$(($(stat -c %s "$IMG") / 1048576))

# What each tool writes, and how much of it is a planted file.
rm -rf "$WORK/quorvel" "$WORK/foremost" "$WORK/photorec" "$WORK/photorec.1"
t0=$(now); "$Q" save "$IMG" --deep-scan --quiet --to "$WORK/quorvel" >/dev/null; t1=$(now)
q_save=$(calc "$t1 - $t0")
hashes_below "$WORK/quorvel" >"$WORK/quorvel.hashes"
q_files=$(wc -l <"$WORK/quorvel.hashes")
q_exact=$(exact_copies "$WORK/quorvel.hashes")
# Carved files that start where no planted file starts: inside a planted file
# (a carved file crossing a block's end: the next block is scanned from its
# first sector, and a stream's middle can look like a start), or in the
# random data.
while read -r sector f; do echo "$sector $(( ($(stat -c %s "$FILES/$f") + 511) / 512 ))"; done <"$PLANTED" >"$WORK/ranges"
read -r q_inside q_random < <(grep -o '"start_sector":[0-9]*,"size"' "$WORK/scan.json" | grep -o '[0-9]*' |
  awk 'NR == FNR { start[NR] = $1; len[NR] = $2; n = NR; next }
       { s = $1; hit = 0; at = 0
         for (i = 1; i <= n; i++) { if (s == start[i]) at = 1; else if (s > start[i] && s < start[i] + len[i]) hit = 1 }
         if (!at) { if (hit) inside++; else random++ } }
       END { print inside + 0, random + 0 }' "$WORK/ranges" -)

fm_line="foremost         not installed"
if command -v foremost >/dev/null; then
  t0=$(now); foremost -Q -t all -i "$IMG" -o "$WORK/foremost" >/dev/null 2>&1 || true; t1=$(now)
  fm_time=$(calc "$t1 - $t0")
  hashes_below "$WORK/foremost" | grep -v "$(sha256sum <"$WORK/foremost/audit.txt" | cut -c1-64)" >"$WORK/foremost.hashes" || true
  fm_line=$(printf 'foremost -t all  %.2f s (quorvel %.2fx faster), %d files, %d of %d planted byte-exact' "$fm_time" \
    "$(calc "$fm_time / $q_best")" "$(wc -l <"$WORK/foremost.hashes")" "$(exact_copies "$WORK/foremost.hashes")" "$planted")
fi
pr_line="photorec         not installed"
if command -v photorec >/dev/null; then
  t0=$(now); photorec /d "$WORK/photorec" /cmd "$IMG" options,search >/dev/null 2>&1 || true; t1=$(now)
  pr_time=$(calc "$t1 - $t0")
  find "$WORK"/photorec.* -name report.xml -delete 2>/dev/null || true
  for d in "$WORK"/photorec.*; do hashes_below "$d"; done | sort >"$WORK/photorec.hashes"
  pr_line=$(printf 'photorec         %.2f s (quorvel %.2fx faster), %d files, %d of %d planted byte-exact' "$pr_time" \
    "$(calc "$pr_time / $q_best")" "$(wc -l <"$WORK/photorec.hashes")" "$(exact_copies "$WORK/photorec.hashes")" "$planted")
fi

printf 'image            %s (%d MiB random, %d planted files), %d rounds\n' "$IMG" "$size_mib" "$planted" "$ROUNDS"
printf 'dd bs=10M        best %.3f s (%.0f MiB/s)\n' "$dd_best" "$(calc "$size_mib / $dd_best")"
printf 'deep scan        best %.3f s (%.0f MiB/s), %d files carved: %d more inside planted files, %d in random data\n' \
  "$q_best" "$(calc "$size_mib / $q_best")" "$q_files" "$q_inside" "$q_random"
printf 'throughput ratio %.2f  (deep scan / dd, goal >= 0.95)\n' "$(calc "$dd_best / $q_best")"
printf 'quorvel save     %.2f s, %d of %d planted byte-exact (the rest at the carving rules'\'' size: PDF to %%EOF, compound documents × 64 KiB)\n' \
  "$q_save" "$q_exact" "$planted"
echo "$fm_line"
echo "$pr_line"
