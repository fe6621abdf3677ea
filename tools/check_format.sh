#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format makes of it (.clang-format).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
command -v clang-format >/dev/null || { echo "clang-format is not installed"; exit 1; }
git ls-files -co --exclude-standard -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'fuzz/*.cpp' |
  xargs -r clang-format --dry-run -Werror
