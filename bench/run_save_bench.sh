#!/usr/bin/env bash
# `quorvel save` against The Sleuth Kit's tsk_recover on the same images in the
# same run: a FAT32 and an NTFS volume filled with a few thousand files (some
# fragmented, some deleted). Prints wall times, the ratio quorvel / tsk (goals:
# --normal <= 0.35 x tsk_recover -a, everything <= 0.40 x tsk_recover -e) and
# how many of the files tsk_recover wrote quorvel wrote byte-identical.
#   bench/run_save_bench.sh [BUILD_DIR] [ROUNDS]
# Needs root for the ntfs-3g mount that fills the NTFS image.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
ROUNDS=${2:-3}
export LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j2 --target quorvel >/dev/null
Q="$BUILD/quorvel"
WORK="$BUILD/bench-work/save"
mkdir -p "$WORK"

# The same content for both images: many small text files, some mid-size
# binaries, a few large ones; folders nested three deep.
make_tree() {
  local dir=$1
  [ -d "$dir" ] && return 0
  python3 - "$dir.tmp" <<'PY'
import os, random, sys
root = sys.argv[1]
r = random.Random(42)
for d in range(20):
    for s in range(5):
        folder = os.path.join(root, 'dir%02d' % d, 'sub%d' % s)
        os.makedirs(folder, exist_ok=True)
        for f in range(30):
            size = r.choice([100, 700, 3000, 12000, 40000])
            with open(os.path.join(folder, 'note%03d.txt' % f), 'w') as out:
                out.write(('line %d of %s\n' % (f, folder)) * (size // 30 + 1))
        with open(os.path.join(folder, 'data.bin'), 'wb') as out:
            out.write(r.randbytes(r.randint(100000, 600000)))
os.makedirs(os.path.join(root, 'big'), exist_ok=True)
for i in range(4):
    with open(os.path.join(root, 'big', 'large%d.bin' % i), 'wb') as out:
        out.write(r.randbytes(24 * 1048576))
PY
  mv "$dir.tmp" "$dir"
}

TREE="$WORK/tree"
make_tree "$TREE"

FAT="$WORK/bench_fat32.img"
if [ ! -f "$FAT" ]; then
  mkfs.fat -F 32 -C -n BENCH "$FAT.tmp" $((640 * 1024)) >/dev/null
  mcopy -s -Q -i "$FAT.tmp" "$TREE"/* ::/
  # Deleted files: every fifth folder loses its notes.
  for d in 00 05 10 15; do mdeltree -i "$FAT.tmp" "::/dir$d/sub1"; done
  mdel -i "$FAT.tmp" ::/big/large3.bin
  mv "$FAT.tmp" "$FAT"
fi

NTFS="$WORK/bench_ntfs.img"
if [ ! -f "$NTFS" ]; then
  truncate -s 640M "$NTFS.tmp"
  mkntfs -F -Q -q -c 4096 -s 512 -p 0 -H 255 -S 63 -L BENCH "$NTFS.tmp" >/dev/null 2>&1
  MNT=$(mktemp -d /tmp/qv-bench-mnt.XXXXXX)
  ntfs-3g -o no_detach "$NTFS.tmp" "$MNT" &
  PID=$!
  for _ in $(seq 1 100); do mountpoint -q "$MNT" && break; sleep 0.1; done
  cp -r "$TREE"/. "$MNT"/
  for d in 00 05 10 15; do rm -rf "$MNT/dir$d/sub1"; done
  rm -f "$MNT/big/large3.bin"
  sync
  umount "$MNT"
  wait "$PID" || true
  rmdir "$MNT"
  mv "$NTFS.tmp" "$NTFS"
fi

now() { date +%s.%N; }

# timed OUT COMMAND...: empties OUT and flushes earlier writes (untimed), then
# runs COMMAND and prints "wall user sys" in seconds (the kernel's copy into
# the page cache is most of every save here, and swings with writeback: the
# user time is each tool's own work).
timed() {
  local out=$1; shift
  fresh "$out"
  sync
  local TIMEFORMAT='%R %U %S' times
  times=$( { time "$@" >/dev/null 2>&1; } 2>&1 ) || true
  awk '{ printf "%.3f %.3f %.3f\n", $1, $2, $3 }' <<<"$times"
}

# min A B: the smaller number.
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

fresh() { rm -rf "$1"; mkdir -p "$1"; }

quorvel_save() {  # quorvel_save IMAGE OUT [switches]
  local img=$1 out=$2; shift 2
  "$Q" save "$img" 0 --to "$out" --quiet --allow-same-disk "$@"
}
tsk_save() {  # tsk_save IMAGE OUT [switches]
  local img=$1 out=$2; shift 2
  tsk_recover "$@" "$img" "$out"
}

# identical TSK_OUT QUORVEL_ROOT: "same/total" over the files tsk_recover wrote
# (its $OrphanFiles excepted: quorvel puts orphans under its lost folder).
identical() {
  python3 - "$1" "$2" <<'PY'
import hashlib, os, sys
tsk, q = sys.argv[1], sys.argv[2]
def digest(p):
    h = hashlib.sha256()
    with open(p, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            h.update(block)
    return h.hexdigest()
total = same = 0
for base, dirs, files in os.walk(tsk):
    rel = os.path.relpath(base, tsk)
    if rel.split(os.sep)[0] == '$OrphanFiles':
        continue
    for name in files:
        total += 1
        other = os.path.normpath(os.path.join(q, rel, name))
        if not os.path.isfile(other):
            # A deleted FAT entry lost its first letter: TSK writes "_", quorvel
            # the repaired "$".
            parts = [('$' + p[1:]) if p.startswith('_') else p for p in os.path.join(rel, name).split(os.sep)]
            other = os.path.normpath(os.path.join(q, *parts))
        if os.path.isfile(other) and digest(other) == digest(os.path.join(base, name)):
            same += 1
print('%d/%d' % (same, total))
PY
}

# Where both tools write: a RAM file system when there is one (SAVE_BENCH_TARGET
# names another folder). On ext4 each round's new files wait on the search
# past the inodes the round before freed (ext4 keeps recently freed inodes
# unused), which then is most of both tools' time and measures neither.
TARGET=${SAVE_BENCH_TARGET:-}
if [ -z "$TARGET" ]; then
  if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ]; then
    TARGET=$(mktemp -d /dev/shm/qv-save-bench.XXXXXX)
    trap 'rm -rf "$TARGET"' EXIT
  else
    TARGET=$WORK
  fi
fi

report() {  # report LABEL IMAGE QUORVEL_SWITCH TSK_SWITCH
  local label=$1 img=$2 qs=$3 ts=$4
  local qo="$TARGET/out-q" to="$TARGET/out-t"
  # Warm-up, then rounds that alternate the two tools so that the load of a
  # shared machine falls on both alike; the best of each is kept.
  timed "$qo" quorvel_save "$img" "$qo" $qs >/dev/null
  timed "$to" tsk_save "$img" "$to" $ts >/dev/null
  local qw="" qc="" qk="" tw="" tc="" tk="" w c k
  for _ in $(seq 1 "$ROUNDS"); do
    read -r w c k < <(timed "$qo" quorvel_save "$img" "$qo" $qs)
    qw=$(min "$w" "$qw"); qc=$(min "$c" "$qc"); qk=$(min "$k" "$qk")
    read -r w c k < <(timed "$to" tsk_save "$img" "$to" $ts)
    tw=$(min "$w" "$tw"); tc=$(min "$c" "$tc"); tk=$(min "$k" "$tk")
  done
  local files_q files_t
  files_q=$(find "$qo" -type f | wc -l)
  files_t=$(find "$to" -type f -not -path '*/$OrphanFiles/*' | wc -l)
  printf '%-19s quorvel %6.3fs (user %5.3fs, sys %5.3fs, %4d files)  tsk_recover %s %6.3fs (user %5.3fs, sys %5.3fs, %4d files)  ratio %.2f  identical %s\n' \
    "$label" "$qw" "$qc" "$qk" "$files_q" "$ts" "$tw" "$tc" "$tk" "$files_t" "$(awk -v a="$qw" -v b="$tw" 'BEGIN { print (b > 0 ? a / b : 0) }')" \
    "$(identical "$to" "$qo/根目录")"
}

echo "save bench: $ROUNDS alternating rounds, best wall, user and sys time; images in $WORK, written to $TARGET"
report "FAT32 live" "$FAT" --normal -a
report "FAT32 live+deleted" "$FAT" "" -e
report "NTFS live" "$NTFS" --normal -a
report "NTFS live+deleted" "$NTFS" "" -e
