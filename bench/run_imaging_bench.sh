#!/usr/bin/env bash
# Imaging benchmarks, each against its peer in the same run:
#  1. a healthy 2 GiB image to an image file: `quorvel image` vs `dd bs=1M`
#     (plain, and with conv=fsync: quorvel flushes the image before it calls
#     the copy done, plain dd does not);
#  2. the same image behind faulty_image_fs with 100 scattered unreadable
#     sectors: `quorvel image` vs GNU ddrescue (default settings), time and
#     sectors rescued.
#   bench/run_imaging_bench.sh [BUILD_DIR] [ROUNDS] [SIZE_MIB]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
ROUNDS=${2:-3}
SIZE_MIB=${3:-2048}
BAD=100
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j2 --target quorvel faulty_image_fs >/dev/null
QUORVEL=$BUILD/quorvel
FAULTY=$(find "$BUILD" -name faulty_image_fs -type f -perm -u+x | head -1)
WORK=$BUILD/bench-work/imaging
mkdir -p "$WORK"
IMAGE=$WORK/healthy-${SIZE_MIB}m.img
if [ ! -e "$IMAGE" ]; then
  # Incompressible data, so no layer below can shortcut the copy.
  head -c "${SIZE_MIB}M" /dev/urandom >"$IMAGE.tmp"
  mv "$IMAGE.tmp" "$IMAGE"
fi
OUT=$WORK/out.img
MNT=$WORK/mnt
cleanup() {
  if mountpoint -q "$MNT" 2>/dev/null; then fusermount3 -u "$MNT" || true; fi
  rm -f "$OUT" "$WORK"/*.map "$WORK"/*.times
}
trap cleanup EXIT

seconds() {  # seconds COMMAND...: wall time of one run
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
rate() { echo "scale=1; $SIZE_MIB / $1" | bc -l; }
ratio() { echo "scale=3; $1 / $2" | bc -l; }

cat "$IMAGE" >/dev/null  # both read from the page cache
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
echo "== healthy ${SIZE_MIB} MiB image to a file, $ROUNDS rounds (MiB/s) =="
: >"$WORK/q.times"
: >"$WORK/dd.times"
: >"$WORK/dds.times"
for round in $(seq "$ROUNDS"); do
  # The order turns each round, so neither tool always follows the other's writeback.
  for tool in $(if [ $((round % 2)) -eq 1 ]; then echo q dd dds; else echo dds dd q; fi); do
    rm -f "$OUT"
    sync
    case $tool in
      q) t=$(seconds "$QUORVEL" image "$IMAGE" --to-file "$OUT" --quiet) ;;
      dd) t=$(seconds dd if="$IMAGE" of="$OUT" bs=1M) ;;
      dds) t=$(seconds dd if="$IMAGE" of="$OUT" bs=1M conv=fsync) ;;
    esac
    echo "$t" >>"$WORK/$tool.times"
  done
  echo "round $round: quorvel $(rate "$(tail -1 "$WORK/q.times")")  dd $(rate "$(tail -1 "$WORK/dd.times")")" \
    " dd conv=fsync $(rate "$(tail -1 "$WORK/dds.times")")"
done
tq=$(median <"$WORK/q.times")
td=$(median <"$WORK/dd.times")
tds=$(median <"$WORK/dds.times")
echo "median: quorvel $(rate "$tq")  dd $(rate "$td")  dd conv=fsync $(rate "$tds")"
echo "throughput ratio quorvel/dd: $(ratio "$td" "$tq")"
echo "throughput ratio quorvel/(dd conv=fsync): $(ratio "$tds" "$tq")"

# 100 bad sectors spread over the image, one per stretch of its size / 100.
SECTORS=$((SIZE_MIB * 2048))
BADS=()
for i in $(seq 0 $((BAD - 1))); do
  BADS+=(--bad $((i * SECTORS / BAD + (i * 7919 + 1237) % (SECTORS / BAD))))
done
mkdir -p "$MNT"
"$FAULTY" "$IMAGE" "$MNT" "${BADS[@]}" 2>/dev/null &
for _ in $(seq 100); do [ -e "$MNT/disk.img" ] && break; sleep 0.05; done
echo
echo "== ${SIZE_MIB} MiB with $BAD unreadable sectors behind FUSE =="
rm -f "$OUT" "$WORK/q.map"; sync
tq=$(seconds "$QUORVEL" image "$MNT/disk.img" --to-file "$OUT" --mapfile "$WORK/q.map" --quiet)
q_bad=$(ddrescuelog -b512 -l- "$WORK/q.map" | wc -l)
q_rescued=$(ddrescuelog -b512 -l+ "$WORK/q.map" | wc -l)
rm -f "$OUT"; sync
tr=$(seconds ddrescue -b512 "$MNT/disk.img" "$OUT" "$WORK/dd.map")
r_bad=$(ddrescuelog -b512 -l- "$WORK/dd.map" | wc -l)
r_rescued=$(ddrescuelog -b512 -l+ "$WORK/dd.map" | wc -l)
same=$(diff <(ddrescuelog -b512 -l- "$WORK/q.map") <(ddrescuelog -b512 -l- "$WORK/dd.map") >/dev/null && echo yes || echo no)
printf 'quorvel : %6.1f s  rescued %d of %d sectors, %d bad\n' "$tq" "$q_rescued" "$SECTORS" "$q_bad"
printf 'ddrescue: %6.1f s  rescued %d of %d sectors, %d bad\n' "$tr" "$r_rescued" "$SECTORS" "$r_bad"
echo "same bad sectors: $same; time ratio quorvel/ddrescue: $(ratio "$tq" "$tr")"
