#!/usr/bin/env bash
# Builds the fuzz targets (a clang build in build-fuzz) and runs each for
# SECONDS: fuzz/run_fuzzers.sh [SECONDS]. `./run test` runs them for 30 s
# each; longer runs here keep their corpora in build-fuzz/fuzz/corpus.
# ONLY=REGEX runs just the targets whose names match.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_EACH=${1:-60}
OUT="$ROOT/build-fuzz"
cmake -S "$ROOT" -B "$OUT" -DQUORVEL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEL_FUZZ_SECONDS="$SECONDS_EACH" -DQUORVEL_FUZZ_SEEDS="$ROOT/build/fixtures" >/dev/null
cmake --build "$OUT" -j"${JOBS:-2}"
cd "$OUT" && ctest --output-on-failure -j1 ${ONLY:+-R "$ONLY"}
