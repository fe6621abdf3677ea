#!/usr/bin/env bash
# Builds the libFuzzer targets: fuzz/build_fuzzers.sh OUTDIR
# The core sources are compiled once with coverage and sanitizers, then each
# fuzz_*.cpp is linked against them. Objects are kept in OUTDIR/obj and only
# rebuilt when their source is newer.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:?usage: build_fuzzers.sh OUTDIR}
# clang and its libFuzzer runtime are only needed here, not by ./run.
if ! command -v clang++-14 >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'ok installed'; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang-14 libclang-rt-14-dev >/dev/null
fi
CXX=${CXX:-clang++-14}
command -v "$CXX" >/dev/null || CXX=clang++
JOBS=${JOBS:-2}
FLAGS=(-std=c++20 -g -O1 -fno-omit-frame-pointer -I"$ROOT/src" -Wall -Wextra)
mkdir -p "$OUT/obj"
export CXX OUT ROOT
export FLAGS_STR="${FLAGS[*]}"

sources=()
for dir in core platform model io fs volumes scan recover save scanfile imaging; do
  [ -d "$ROOT/src/$dir" ] || continue
  while IFS= read -r f; do sources+=("$f"); done < <(find "$ROOT/src/$dir" -name '*.cpp' | sort)
done

compile_one() {  # compile_one SOURCE
  local src=$1 obj
  obj="$OUT/obj/$(realpath --relative-to="$ROOT/src" "$src" | tr / _).o"
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ]; then
    # shellcheck disable=SC2086
    "$CXX" $FLAGS_STR -fsanitize=fuzzer-no-link,address,undefined -c "$src" -o "$obj"
  fi
}
export -f compile_one
printf '%s\n' "${sources[@]}" | xargs -P "$JOBS" -I{} bash -c 'compile_one "$@"' _ {}

objects=()
for f in "${sources[@]}"; do objects+=("$OUT/obj/$(realpath --relative-to="$ROOT/src" "$f" | tr / _).o"); done
for target in "$ROOT"/fuzz/fuzz_*.cpp; do
  name=$(basename "$target" .cpp)
  "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer,address,undefined "$target" "${objects[@]}" -pthread -o "$OUT/$name"
  echo "built $OUT/$name"
done
