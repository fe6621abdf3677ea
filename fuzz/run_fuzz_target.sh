#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time:
#   run_fuzz_target.sh BINARY SECONDS WORKDIR [SEEDS]
# The corpus lives in WORKDIR/corpus/NAME and is seeded, when empty, from the
# fixture images in SEEDS; crash, hang and leak inputs land in
# WORKDIR/artifacts/NAME-*. Exits non-zero when the target found any.
set -euo pipefail
BIN=$1
SECONDS_EACH=$2
WORK=$3
SEEDS=${4:-}
NAME=$(basename "$BIN")
CORPUS="$WORK/corpus/$NAME"
mkdir -p "$CORPUS" "$WORK/artifacts"

# The pipeline targets take whole (small) images; the parser targets pieces.
MAX_LEN=65536
case $NAME in *_pipeline) MAX_LEN=1048576 ;; esac

# Scan-result files of the fixture images, written by the plain build's
# quorvel beside the fixtures (when it is there).
seed_scan_files() {
  local cli="$SEEDS/../quorvel" img
  [ -x "$cli" ] || return 0
  for img in "$SEEDS"/deep_wiped.img "$SEEDS"/carving_raw.img "$SEEDS"/lost-mbr.img "$SEEDS"/lvm-pv0.img; do
    [ -e "$img" ] || continue
    "$cli" deep-scan "$img" --quiet --save-scan "$CORPUS/$(basename "$img" .img).rvz_scn" >/dev/null 2>&1 || true
  done
  if [ -e "$SEEDS/ldm-all/ldm-2008r2-raid5-1.img" ]; then
    "$cli" format-scan "$SEEDS"/ldm-all/ldm-2008r2-raid5-[12].img Volume4-01 --quiet \
      --save-scan "$CORPUS/ldm-group.rvz_scn" >/dev/null 2>&1 || true
  fi
  hostile_scan_files
}

# Scan-result files as a hostile or damaged one can be: MFT fragments of
# length -1 (4294967295 sectors), directory sectors and carved files far past
# any disk's end, partitions of 0 sectors per cluster or 0 bytes per sector.
hostile_scan_files() {
  local from
  for from in "$CORPUS"/*.rvz_scn; do
    python3 - "$from" <<'PY'
import sys
path = sys.argv[1]
lines = open(path, 'rb').read().split(b'\r\n')
if len(lines) < 4:
    sys.exit(0)
out = list(lines)
i = 1
dirs = int(out[i]); i += 1 + dirs
frags = int(out[i])
for k in range(i + 1, i + 1 + frags):
    out[k] = out[k].split(b',')[0] + b',-1'
i += 1 + frags
out.insert(i + 1, b'281474976710655,-1,far.jpg')
out[i] = str(int(out[i]) + 1).encode()
out.insert(2, b'281474976710000')
out[1] = str(dirs + 1).encode()
for k, line in enumerate(out):
    if line == b'-----partition-----' and k + 14 < len(out):
        out[k + 11] = b'0'   # sectors per cluster
        out[k + 14] = b'0'   # bytes per sector
        break
open(path.rsplit('.', 1)[0] + '-hostile.rvz_scn', 'wb').write(b'\r\n'.join(out))
PY
  done
}

# The database areas of the real dynamic disks, each as the dynamic-disk
# target takes it: the area from its start, its last sector (a private
# header copy) in place of its first (which Windows leaves empty).
seed_ldm_databases() {
  local db
  for db in "$SEEDS"/ldm-databases/*.db; do
    { tail -c 512 "$db"; dd if="$db" bs=512 skip=1 count=$((MAX_LEN / 512 - 1)) status=none; } \
      >"$CORPUS/$(basename "$db" .db)"
  done
}
# The metadata texts of the LVM2 fixture's physical volumes, each after its
# label's UUID and a line feed, as the LVM2 target takes them.
seed_lvm_texts() {
  local img
  for img in "$SEEDS"/lvm-pv*.img; do
    python3 - "$img" "$CORPUS/$(basename "$img" .img)" <<'PY'
import struct, sys
with open(sys.argv[1], 'rb') as f:
    label = f.read(1024)[512:]
    if label[:8] != b'LABELONE':
        sys.exit(0)
    area = struct.unpack_from('<Q', label, 104)[0]
    f.seek(area)
    header = f.read(512)
    offset, length = struct.unpack_from('<QQ', header, 40)
    f.seek(area + offset)
    text = f.read(length)
open(sys.argv[2], 'wb').write(label[32:64] + b'\n' + text)
PY
  done
}

# Mapfiles as ddrescue writes them at each phase, and a hand-edited one.
seed_mapfiles() {
  printf '# Mapfile. Created by GNU ddrescue version 1.27\n# current_pos  current_status  current_pass\n0x00010000     ?               1\n#      pos        size  status\n0x00000000  0x00008000  +\n0x00008000  0x00008000  *\n0x00010000  0x00010000  ?\n' >"$CORPUS/copying.map"
  printf '0x00004200     *               1\n0x00000000  0x00004000  +\n0x00004000  0x00000200  -\n0x00004200  0x00003E00  *\n0x00008000  0x00018000  +\n' >"$CORPUS/trimming.map"
  printf '0x0000C400     /               1\n0x00000000  0x0000C000  +\n0x0000C000  0x00000200  -\n0x0000C200  0x00001000  /\n0x0000D200  0x00000200  -\n0x0000D400  0x00012C00  +\n' >"$CORPUS/scraping.map"
  printf '0x00000600     -               2\n0x0 0x600 +\n0x600 0x200 -\n0x800 0x1F800 +\n' >"$CORPUS/retrying.map"
  printf '0 + 1\n0 100 +\n100 1000 ?\n1100 0x1000 -\n' >"$CORPUS/odd-sizes.map"
}

seed() {
  local img base
  shopt -s nullglob
  [ "$NAME" = fuzz_scan_file ] && seed_scan_files
  [ "$NAME" = fuzz_ldm_database ] && seed_ldm_databases
  [ "$NAME" = fuzz_lvm_metadata ] && seed_lvm_texts
  [ "$NAME" = fuzz_ddrescue_mapfile ] && seed_mapfiles
  for img in "$SEEDS"/*.img; do
    base=$(basename "$img" .img)
    case $NAME in
      fuzz_partition_walk) head -c 65536 "$img" >"$CORPUS/$base-head" ;;
      fuzz_*_pipeline) head -c "$MAX_LEN" "$img" >"$CORPUS/$base-head" ;;
      fuzz_mft_record | fuzz_fat_directory | fuzz_lznt1)
        for skip in 0 2 32 64 128 1024 6144 8192; do  # 512-byte sectors
          dd if="$img" of="$CORPUS/$base-$skip" bs=512 skip="$skip" count=8 status=none
        done ;;
    esac
  done
}
# Boot sectors that lie about their size, as a corrupt or hostile disk can:
# a FAT16 claiming 2 TB, a FAT32 claiming a 1 GiB FAT, an NTFS volume claiming
# 512 TB. Made from the seeds of the images whose volume starts at sector 0.
hostile_seeds() {
  local from
  for from in "$CORPUS"/fat16-head "$CORPUS"/fat32-head "$CORPUS"/ntfs-head; do
    [ -f "$from" ] || continue
    python3 - "$from" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
if len(data) < 512:
    sys.exit(0)
kind = path.rsplit('/', 1)[1].split('-')[0]
if kind == 'fat16':
    struct.pack_into('<H', data, 0x13, 0)
    struct.pack_into('<I', data, 0x20, 0xFFFFFFFF)   # 2 TB of sectors
elif kind == 'fat32':
    struct.pack_into('<I', data, 0x24, 0x00200000)   # 1 GiB FAT
    struct.pack_into('<I', data, 0x20, 0xFFFFFFFF)
elif kind == 'ntfs':
    struct.pack_into('<Q', data, 0x28, 1 << 40)      # 512 TB
open(path + '-hostile', 'wb').write(bytes(data))
PY
  done
}
if [ -n "$SEEDS" ] && [ -z "$(ls -A "$CORPUS")" ]; then
  seed
  case $NAME in fuzz_*_pipeline) hostile_seeds ;; esac
fi

echo "$NAME: $SECONDS_EACH s, corpus $CORPUS ($(ls "$CORPUS" | wc -l) inputs)"
status=0
"$BIN" -max_total_time="$SECONDS_EACH" -max_len="$MAX_LEN" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$WORK/artifacts/$NAME-" "$CORPUS" >"$WORK/$NAME.log" 2>&1 || status=$?
grep -E '^(stat::number_of_executed_units|Done [0-9]+ runs)' "$WORK/$NAME.log" || true
if [ "$status" -ne 0 ]; then
  echo "$NAME FAILED (exit $status); the end of $WORK/$NAME.log:"
  tail -n 60 "$WORK/$NAME.log"
fi
exit "$status"
