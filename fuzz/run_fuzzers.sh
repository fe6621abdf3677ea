#!/usr/bin/env bash
# Builds and runs every fuzz target: fuzz/run_fuzzers.sh SECONDS [OUTDIR]
# Each target runs single-job for SECONDS with its own corpus in
# OUTDIR/corpus/NAME, seeded from the first sectors of build/fixtures/*.img
# (or $FIXTURES/*.img) when those images exist. Crash inputs land in
# OUTDIR/artifacts. ONLY="fuzz_lznt1 ..." runs just those targets.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_EACH=${1:?usage: run_fuzzers.sh SECONDS [OUTDIR]}
OUT=${2:-$ROOT/build-fuzz}
FIXTURES=${FIXTURES:-$ROOT/build/fixtures}
"$ROOT/fuzz/build_fuzzers.sh" "$OUT"
mkdir -p "$OUT/artifacts"

seed() {  # seed NAME CORPUS: a few pieces of each fixture image
  local name=$1 corpus=$2 img base
  shopt -s nullglob
  for img in "$FIXTURES"/*.img; do
    base=$(basename "$img" .img)
    case $name in
      fuzz_partition_walk) head -c 65536 "$img" >"$corpus/$base-head" ;;
      fuzz_mft_record | fuzz_fat_directory | fuzz_lznt1)
        for skip in 0 2 32 64 128 1024 6144 8192; do  # 512-byte sectors
          dd if="$img" of="$corpus/$base-$skip" bs=512 skip="$skip" count=8 status=none
        done ;;
      fuzz_deep_scan)
        for skip in 0 2 32 64 128 1024 6144 8192; do
          dd if="$img" of="$corpus/$base-$skip" bs=512 skip="$skip" count=64 status=none
        done ;;
    esac
  done
}

status=0
for bin in "$OUT"/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  [ -z "${ONLY:-}" ] || [[ " $ONLY " == *" $name "* ]] || continue
  corpus="$OUT/corpus/$name"
  mkdir -p "$corpus"
  [ -n "$(ls -A "$corpus")" ] || seed "$name" "$corpus"
  echo "== $name ($SECONDS_EACH s)" >&2
  "$bin" -max_total_time="$SECONDS_EACH" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$OUT/artifacts/$name-" "$corpus" 2>"$OUT/$name.log" || { status=1; echo "   FAILED, see $OUT/$name.log" >&2; }
  grep -E '^(#[0-9]+\s+DONE|Done [0-9]+ runs)' "$OUT/$name.log" | tail -1 >&2 || true
done
exit $status
