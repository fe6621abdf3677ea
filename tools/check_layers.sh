#!/usr/bin/env bash
# Fails when a source file includes a project header its folder may not use.
#   tools/check_layers.sh [SRC_DIR]     (SRC_DIR defaults to the project's src/)
#
# Every folder, sub-folders included, lists below the folders whose headers it
# may include: the edges the code needs, nothing more. A folder's own headers
# are always allowed. Both include forms count ("..." and <...>); a header
# whose folder is none of ours (<vector>, <sys/stat.h>) is not checked, and a
# path with ".." in it is refused.
#
# The list itself must point down the layers (a layer and its own sub-folders
# may use each other); from the bottom up:
#   core < platform < model < io < fs < volumes < scan < recover < save
#   < scanfile, imaging < cli, ui
# cli and ui are the two faces: neither includes the other. A new edge goes
# into the list; an edge that points up means the code belongs elsewhere.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SRC=${1:-$ROOT/src}
cd "$SRC"

ALLOWED='
core:
platform:       core
model:
io:             platform model
fs:             core platform model io fs/fat fs/ntfs
fs/fat:         core platform model io fs
fs/ntfs:        core platform model io fs
volumes:        core platform model io fs fs/ntfs volumes/apple volumes/ldm volumes/lvm2
volumes/apple:  core platform model io fs volumes
volumes/ldm:    core model io volumes
volumes/lvm2:   core model io
scan:           core model io fs fs/fat fs/ntfs scan/carving
scan/carving:   core platform model io
recover:        core model io fs/fat fs/ntfs scan
save:           core model io fs/ntfs scan/carving
scanfile:       platform model io
imaging:        core platform model io
cli:            core platform model io volumes scan recover save scanfile imaging
ui:             core platform model io volumes scan recover save scanfile imaging
'

rank() {
  case "${1%%/*}" in
    core) echo 0 ;; platform) echo 1 ;; model) echo 2 ;; io) echo 3 ;; fs) echo 4 ;;
    volumes) echo 5 ;; scan) echo 6 ;; recover) echo 7 ;; save) echo 8 ;;
    scanfile | imaging) echo 9 ;; cli | ui) echo 10 ;; *) echo -1 ;;
  esac
}

declare -A may=()     # "from to" -> 1
declare -A listed=()  # folder -> 1
bad=0
while read -r folder uses; do
  [ -z "$folder" ] && continue
  folder=${folder%:}
  listed[$folder]=1
  for to in $uses; do
    may["$folder $to"]=1
    # A listed edge may not point up, nor from one face (or one of the two
    # top service layers) to the other.
    from_rank=$(rank "$folder")
    to_rank=$(rank "$to")
    if [ "$to_rank" -gt "$from_rank" ] ||
       { [ "$to_rank" -eq "$from_rank" ] && [ "${to%%/*}" != "${folder%%/*}" ]; }; then
      echo "tools/check_layers.sh: the list lets $folder use $to, which points up or across the layers"
      bad=1
    fi
  done
done <<<"$ALLOWED"

known_folder() { [ -n "${listed[$1]:-}" ] || [ "$(rank "$1")" -ge 0 ]; }

# Folders that hold sources must be listed.
while IFS= read -r folder; do
  if [ -z "${listed[$folder]:-}" ]; then
    echo "$folder/: folder '$folder' is not in the list of tools/check_layers.sh"
    bad=1
  fi
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) -printf '%h\n' | sed 's|^\./||' | sort -u)

# Every include of every source, as "FILE:HEADER", in one pass.
include_re='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]+)[>"]'
while IFS= read -r line; do
  file=${line%%:*}
  file=${file#./}
  [[ ${line#*:} =~ $include_re ]] || continue
  header=${BASH_REMATCH[1]}
  from=${file%/*}
  [ "$from" = "$file" ] && from=.
  case $header in
    *..*)
      echo "$file includes $header: a path with '..' in it"
      bad=1
      continue ;;
    */*) ;;
    *) continue ;;  # the file's own folder (or a generated header)
  esac
  to=${header%/*}
  [ "$to" = "$from" ] && continue
  [ -n "${listed[$from]:-}" ] || continue  # reported above
  known_folder "$to" || continue           # not one of ours
  if [ -z "${listed[$to]:-}" ]; then
    echo "$file includes $header: folder '$to' is not in the list of tools/check_layers.sh"
    bad=1
  elif [ -z "${may["$from $to"]:-}" ]; then
    echo "$file includes $header: $from may not use $to"
    bad=1
  fi
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z |
         xargs -0 -r grep -H -E '^[[:space:]]*#[[:space:]]*include' || true)
exit $bad
