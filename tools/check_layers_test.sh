#!/usr/bin/env bash
# The layer check against small trees of its own: a clean tree passes, and
# each forbidden include (either form, up a layer, to a sibling sub-folder, to
# a folder the list does not name, round a "..") fails it.
set -uo pipefail
CHECK=$(cd "$(dirname "$0")" && pwd)/check_layers.sh
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

# A tree that obeys the list: system headers, a folder's own headers and
# listed edges in both forms.
base() {
  rm -rf "$WORK/src"
  mkdir -p "$WORK/src/core" "$WORK/src/io" "$WORK/src/model" "$WORK/src/fs/fat" "$WORK/src/fs/ntfs" "$WORK/src/save"
  printf '#include <vector>\n#include <sys/stat.h>\n' >"$WORK/src/core/a.h"
  printf '#include "model/m.h"\n' >"$WORK/src/io/i.h"
  : >"$WORK/src/model/m.h"
  printf '#include "fs/fat/f.h"\n#include <core/a.h>\n#include "io/i.h"\n' >"$WORK/src/fs/fat/f.cpp"
  : >"$WORK/src/fs/fat/f.h"
  printf '#include "fs/ntfs/n.h"\n' >"$WORK/src/fs/ntfs/n.cpp"
  : >"$WORK/src/fs/ntfs/n.h"
  printf '#include "core/a.h"\n#include <io/i.h>\n#include "s.h"\n' >"$WORK/src/save/s.cpp"
  : >"$WORK/src/save/s.h"
}

expect() {  # expect PASS|FAIL WHAT: runs the check on the tree as it stands
  local want=$1 what=$2 out status=0
  out=$(bash "$CHECK" "$WORK/src" 2>&1) || status=$?
  if { [ "$want" = PASS ] && [ "$status" -ne 0 ]; } || { [ "$want" = FAIL ] && [ "$status" -eq 0 ]; }; then
    echo "FAILED: $what: expected $want, got status $status"
    echo "$out"
    failures=$((failures + 1))
  fi
}

base
expect PASS "a tree that keeps to the list"

for bad in 'core/a.h:#include "save/s.h"' \
           'core/a.h:#include <save/s.h>' \
           'fs/fat/f.h:#include "fs/ntfs/n.h"' \
           'fs/fat/f.h:#include <fs/ntfs/n.h>' \
           'io/i.h:#include "core/a.h"' \
           'save/s.h:#include "volumes/foo/x.h"' \
           'save/s.h:#include "../core/a.h"' \
           'save/s.h:  #  include   "fs/fat/f.h"'; do
  base
  printf '%s\n' "${bad#*:}" >>"$WORK/src/${bad%%:*}"
  expect FAIL "${bad%%:*} with ${bad#*:}"
done

base
mkdir -p "$WORK/src/newfolder"
: >"$WORK/src/newfolder/x.h"
expect FAIL "a folder the list does not name"

if [ "$failures" -eq 0 ]; then echo "check_layers.sh self-test: all cases as expected"; fi
exit $((failures > 0))
