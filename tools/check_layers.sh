#!/usr/bin/env bash
# Fails when a source file includes a header of a higher layer. The layers,
# from the bottom up (a layer may use its own headers and those below it):
#   core < platform < model < io < fs < volumes < scan < recover < save
#   < scanfile, imaging < cli, ui
# cli and ui are the two faces: neither includes the other.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT/src"

rank() {
  case "$1" in
    core) echo 0 ;; platform) echo 1 ;; model) echo 2 ;; io) echo 3 ;; fs) echo 4 ;;
    volumes) echo 5 ;; scan) echo 6 ;; recover) echo 7 ;; save) echo 8 ;;
    scanfile|imaging) echo 9 ;; cli|ui) echo 10 ;; *) echo -1 ;;
  esac
}

bad=0
while IFS= read -r file; do
  from=${file%%/*}
  from_rank=$(rank "$from")
  if [ "$from_rank" -lt 0 ]; then
    echo "$file: folder '$from' has no layer (add it to tools/check_layers.sh)"
    bad=1
    continue
  fi
  while IFS= read -r header; do
    to=${header%%/*}
    [ "$to" = "$header" ] && continue  # same-folder or generated include
    to_rank=$(rank "$to")
    [ "$to_rank" -lt 0 ] && continue   # not one of ours (e.g. "gtest/...")
    if [ "$to_rank" -gt "$from_rank" ] || { [ "$to_rank" -eq 10 ] && [ "$to" != "$from" ]; } ||
       { [ "$to_rank" -eq 9 ] && [ "$from_rank" -eq 9 ] && [ "$to" != "$from" ]; }; then
      echo "$file includes $header: $from may not depend on $to"
      bad=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | sort)
exit $bad
