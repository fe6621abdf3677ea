# Image builders shared by the listing benchmarks (sourced, not run).
# Every image is built once by real tools (mkfs.fat + mcopy + mdeltree,
# mkntfs + ntfs-3g) and cached under the work folder.

# make_fat_image IMG FILES PER_FOLDER: FILES small files in folders of
# PER_FOLDER (one folder when PER_FOLDER >= FILES), the last two folders
# deleted with mdeltree (none when there is only one folder: then every
# tenth file is deleted with mdel).
make_fat_image() {
  local img=$1 files=$2 per=$3
  [ -e "$img" ] && return 0
  local tmp="$img.tmp" src="$img.content"
  rm -rf "$tmp" "$src"
  truncate -s $((64 + files / 1024 * 2))M "$tmp"
  mkfs.fat -F 32 -s 1 -n LSBENCH "$tmp" >/dev/null
  mkdir -p "$src"
  # In one huge folder the names start with their number: mtools would
  # otherwise search numeric tails (DOCUME~1 .. ~20000) for every file.
  local pattern='document %06d of folder %04d.txt'
  [ "$per" -ge "$files" ] && pattern='%06d document of folder %04d.txt'
  perl -e 'my ($root, $n, $per, $pattern) = @ARGV; for my $i (0 .. $n - 1) { my $d = int($i / $per);
      my $dir = sprintf("%s/folder %04d", $root, $d); mkdir $dir unless -d $dir;
      open(my $h, ">", sprintf("%s/$pattern", $dir, $i, $d)) or die;
      print $h "folder $d file $i\n"; close $h; }' "$src" "$files" "$per" "$pattern"
  MTOOLS_SKIP_CHECK=1 mcopy -s -i "$tmp" "$src"/* ::/
  local folders=$(((files + per - 1) / per))
  if [ "$folders" -gt 1 ]; then
    MTOOLS_SKIP_CHECK=1 mdeltree -i "$tmp" "::/$(printf 'folder %04d' $((folders - 1)))" \
      "::/$(printf 'folder %04d' $((folders - 2)))"
  else
    local victims=()
    for i in $(seq 0 10 $((files - 1))); do victims+=("::/folder 0000/$(printf "$pattern" "$i" 0)"); done
    MTOOLS_SKIP_CHECK=1 mdel -i "$tmp" "${victims[@]}"
  fi
  rm -rf "$src"
  mv "$tmp" "$img"
}

# make_ntfs_image IMG FILES PER_FOLDER: small resident files in folders of
# PER_FOLDER, names of varying length; every tenth folder's files deleted
# (every fifth of those folders too), or every tenth file of a single folder.
# Needs root for the ntfs-3g mount.
make_ntfs_image() {
  local img=$1 files=$2 per=$3
  [ -e "$img" ] && return 0
  local tmp="$img.tmp" mnt pid
  truncate -s $((128 + files / 256))M "$tmp"
  mkntfs -F -Q -q -c 4096 -s 512 -p 0 -H 255 -S 63 -L LSBENCH "$tmp" >/dev/null 2>&1
  mnt=$(mktemp -d /tmp/qv-bench-ntfs.XXXXXX)
  ntfs-3g -o no_detach "$tmp" "$mnt" >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do mountpoint -q "$mnt" && break; sleep 0.1; done
  perl -e 'my ($root, $n, $per) = @ARGV; for my $i (0 .. $n - 1) { my $d = int($i / $per);
      my $dir = sprintf("%s/folder%04d", $root, $d); mkdir $dir unless -d $dir;
      open(my $h, ">", sprintf("%s/file_%06d_%s.txt", $dir, $i, "x" x ($i % 17))) or die;
      print $h "entry $d $i\n" x (1 + $i % 9); close $h; }' "$mnt" "$files" "$per"
  local folders=$(((files + per - 1) / per))
  if [ "$folders" -gt 1 ]; then
    for d in $(seq 0 10 $((folders - 1))); do
      local dir
      dir="$mnt/$(printf 'folder%04d' "$d")"
      if [ $((d % 50)) -eq 0 ]; then rm -rf "$dir"; else find "$dir" -type f -delete; fi
    done
  else
    perl -e 'my ($dir, $n) = @ARGV; for (my $i = 0; $i < $n; $i += 10) {
        unlink(sprintf("%s/file_%06d_%s.txt", $dir, $i, "x" x ($i % 17))) or die; }' "$mnt/folder0000" "$files"
  fi
  sync
  umount "$mnt"
  wait "$pid" || true
  rmdir "$mnt"
  mv "$tmp" "$img"
}
