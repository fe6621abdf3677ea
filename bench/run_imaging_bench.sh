#!/usr/bin/env bash
# Imaging benchmarks, quorvel against GNU ddrescue (default settings) in the
# same run:
#  1. three failing disks served by faulty_image_fs (FUSE), each tool rescuing
#     everything readable from the same mount: (a) scattered single bad
#     sectors, (b) three clusters of 2,000 bad sectors, both at 1 ms a read
#     (so the time follows the reads a tool makes, not the load of a shared
#     machine), (c) a slow disk whose every read takes 20 ms, with a few bad
#     sectors. Wall time, read requests and failing reads (counted by the
#     file system), rescued bytes.
#     The images go to tmpfs: these runs measure the order of reads, and a
#     disk's writeback would only blur them (the healthy run measures writes).
#  2. a healthy image to an image file: processor time (user + system) of
#     `quorvel image` against `ddrescue` followed by `sync FILE`, so both have
#     the image on the medium when they are done.
#   bench/run_imaging_bench.sh [BUILD_DIR] [ROUNDS] [SIZE_MIB] [HEALTHY_MIB]
# Needs ddrescue (gddrescue), fusermount3 and /usr/bin/time.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
ROUNDS=${2:-3}
SIZE_MIB=${3:-128}
HEALTHY_MIB=${4:-2048}
SLOW_MIB=64
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j2 --target quorvel faulty_image_fs >/dev/null
QUORVEL=$BUILD/quorvel
FAULTY=$(find "$BUILD" -name faulty_image_fs -type f -perm -u+x | head -1)
WORK=$BUILD/bench-work/imaging
MNT=$WORK/mnt
SHM=$WORK
[ -d /dev/shm ] && SHM=$(mktemp -d /dev/shm/quorvel-bench.XXXXXX)
mkdir -p "$WORK" "$MNT"
cleanup() {
  if mountpoint -q "$MNT" 2>/dev/null; then fusermount3 -u "$MNT" || true; fi
  rm -f "$WORK"/out.img "$WORK"/*.map "$WORK"/*.log "$WORK"/*.times "$WORK"/*.bad "$SHM"/out.img "$SHM"/out.map
  [ "$SHM" = "$WORK" ] || rmdir "$SHM" 2>/dev/null || true
}
trap cleanup EXIT

# Incompressible data, so no layer below can shortcut a copy.
make_image() {  # make_image PATH MIB
  [ -e "$1" ] && return
  head -c "${2}M" /dev/urandom >"$1.tmp"
  mv "$1.tmp" "$1"
}
ratio() { if [ "$2" = 0 ] || [ "$2" = 0.00 ]; then echo "-"; else printf '%.2f' "$(echo "scale=4; $1 / $2" | bc -l)"; fi; }
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# Bytes a mapfile marks finished.
rescued() {
  local pos size status total=0
  while read -r pos size status; do
    [ "$status" = + ] && total=$((total + size))
  done < <(grep -v '^#' "$1" | awk 'NF == 3')
  echo "$total"
}

mount_faulty() {  # mount_faulty IMAGE BADLIST DELAY_MS
  if mountpoint -q "$MNT" 2>/dev/null; then fusermount3 -u "$MNT"; fi
  : >"$WORK/reads.log"
  "$FAULTY" "$1" "$MNT" --bad-list "$2" --delay-ms "$3" --log "$WORK/reads.log" 2>/dev/null &
  for _ in $(seq 200); do [ -e "$MNT/disk.img" ] && return; sleep 0.05; done
  echo "faulty_image_fs did not mount" >&2
  exit 1
}

# One rescue: prints "seconds reads failing rescued_bytes".
rescue() {  # rescue quorvel|ddrescue
  rm -f "$SHM/out.img" "$SHM/out.map"
  local first start end
  first=$(wc -l <"$WORK/reads.log")
  start=$(date +%s.%N)
  if [ "$1" = quorvel ]; then
    "$QUORVEL" image "$MNT/disk.img" --to-file "$SHM/out.img" --mapfile "$SHM/out.map" --quiet >/dev/null
  else
    ddrescue -q "$MNT/disk.img" "$SHM/out.img" "$SHM/out.map"
  fi
  end=$(date +%s.%N)
  tail -n +"$((first + 1))" "$WORK/reads.log" |
    awk -v t="$(echo "$end - $start" | bc -l)" -v r="$(rescued "$SHM/out.map")" \
      '{n++; if ($3 < 0) f++} END {printf "%.2f %d %d %d\n", t, n, f, r}'
}

compare() {  # compare NAME IMAGE BADLIST DELAY_MS ROUNDS
  mount_faulty "$2" "$3" "$4"
  : >"$WORK/q.times"
  : >"$WORK/d.times"
  local round q d
  for round in $(seq "$5"); do
    # The order turns each round, so neither tool always runs second.
    if [ $((round % 2)) -eq 1 ]; then q=$(rescue quorvel); d=$(rescue ddrescue); else
      d=$(rescue ddrescue); q=$(rescue quorvel); fi
    echo "$q" >>"$WORK/q.times"
    echo "$d" >>"$WORK/d.times"
  done
  local qt dt qn dn qf df qr dr
  qt=$(cut -d' ' -f1 "$WORK/q.times" | median); dt=$(cut -d' ' -f1 "$WORK/d.times" | median)
  read -r _ qn qf qr <"$WORK/q.times"; read -r _ dn df dr <"$WORK/d.times"
  printf '%-36s | %7.2f s | %7.2f s | %5s | %6d / %6d | %5d / %5d | %5s | %s\n' "$1" "$qt" "$dt" \
    "$(ratio "$qt" "$dt")" "$qn" "$dn" "$qf" "$df" "$(ratio "$qf" "$df")" \
    "$([ "$qr" = "$dr" ] && echo "equal ($qr)" || echo "DIFFER ($qr vs $dr)")"
  echo "    rounds (s): quorvel $(cut -d' ' -f1 "$WORK/q.times" | tr '\n' ' ')/ ddrescue $(cut -d' ' -f1 "$WORK/d.times" | tr '\n' ' ')"
}

IMAGE=$WORK/source-${SIZE_MIB}m.img
SLOW=$WORK/slow-${SLOW_MIB}m.img
make_image "$IMAGE" "$SIZE_MIB"
[ -e "$SLOW" ] || head -c "${SLOW_MIB}M" "$IMAGE" >"$SLOW"
SECTORS=$((SIZE_MIB * 2048))
# (a) 50 single bad sectors, one in each fiftieth of the disk.
for i in $(seq 0 49); do echo $((i * SECTORS / 50 + (i * 7919 + 1237) % (SECTORS / 50))); done >"$WORK/a.bad"
# (b) three clusters of 2,000 bad sectors, at a quarter, half and three quarters.
for q in 1 2 3; do echo "$((q * SECTORS / 4 + 333))-$((q * SECTORS / 4 + 333 + 1999))"; done >"$WORK/b.bad"
# (c) 20 ms a read, five single bad sectors.
for i in 0 1 2 3 4; do echo $((i * SLOW_MIB * 2048 / 5 + 4321)); done >"$WORK/c.bad"

echo "quorvel $(git -C "$ROOT" rev-parse --short HEAD), $(ddrescue --version | head -1), $(nproc) cores"
echo "median of $ROUNDS rounds ((c): 1 round); reads and failing reads as the file system counted them"
printf '%-36s | %9s | %9s | %5s | %15s | %13s | %5s | %s\n' "source" "quorvel" "ddrescue" "ratio" \
  "reads q / d" "failing q / d" "ratio" "rescued bytes"
compare "(a) ${SIZE_MIB} MiB, 1 ms, 50 scattered bad" "$IMAGE" "$WORK/a.bad" 1 "$ROUNDS"
compare "(b) ${SIZE_MIB} MiB, 1 ms, 3 x 2000 bad" "$IMAGE" "$WORK/b.bad" 1 "$ROUNDS"
compare "(c) ${SLOW_MIB} MiB, 20 ms, 5 bad" "$SLOW" "$WORK/c.bad" 20 1
fusermount3 -u "$MNT"

# Healthy image to a file: processor time with the image on the medium.
HEALTHY=$WORK/healthy-${HEALTHY_MIB}m.img
make_image "$HEALTHY" "$HEALTHY_MIB"
cat "$HEALTHY" >/dev/null  # both read from the page cache
cpu() {  # cpu COMMAND...: "user+system seconds wall seconds"
  /usr/bin/time -f "%U %S %e" -o "$WORK/cpu.out" "$@" >/dev/null 2>&1
  awk '{printf "%.2f %.2f\n", $1 + $2, $3}' "$WORK/cpu.out"
}
: >"$WORK/q.times"
: >"$WORK/d.times"
for round in $(seq "$ROUNDS"); do
  for tool in $(if [ $((round % 2)) -eq 1 ]; then echo q d; else echo d q; fi); do
    rm -f "$WORK/out.img" "$WORK/out.map"
    sync
    if [ "$tool" = q ]; then
      cpu "$QUORVEL" image "$HEALTHY" --to-file "$WORK/out.img" --quiet >>"$WORK/q.times"
    else
      cpu sh -c "ddrescue -q '$HEALTHY' '$WORK/out.img' '$WORK/out.map' && sync '$WORK/out.img'" >>"$WORK/d.times"
    fi
  done
done
qc=$(cut -d' ' -f1 "$WORK/q.times" | median); dc=$(cut -d' ' -f1 "$WORK/d.times" | median)
qw=$(cut -d' ' -f2 "$WORK/q.times" | median); dw=$(cut -d' ' -f2 "$WORK/d.times" | median)
echo
echo "healthy ${HEALTHY_MIB} MiB image to a file, median of $ROUNDS rounds (processor s: $(tr '\n' ' ' <"$WORK/q.times" | awk '{for (i = 1; i <= NF; i += 2) printf "%s ", $i}')/ $(tr '\n' ' ' <"$WORK/d.times" | awk '{for (i = 1; i <= NF; i += 2) printf "%s ", $i}'))"
printf 'quorvel: %.2f s processor, %.2f s wall; ddrescue + sync: %.2f s processor, %.2f s wall; processor ratio %s\n' \
  "$qc" "$qw" "$dc" "$dw" "$(ratio "$qc" "$dc")"
