#!/usr/bin/env python3
"""What The Sleuth Kit can read of every regular file it lists in an image.

usage: tsk_file_reads.py IMAGE OFFSET [INODE...]

OFFSET is the file system's first sector. For each file (in use or deleted)
that `fls -r` lists, or each INODE given (NTFS: MFT record numbers, so that
records whose folders TSK can no longer walk are checked too), prints
KEY<TAB>SIZE<TAB>ok|short, where KEY is what
quorvel shows as the entry's id: the MFT record number on NTFS, the first
cluster on FAT. A file is "short" when `icat` (with -r for deleted files)
fails or returns fewer bytes than its size, e.g. when its data lies past the
end of a truncated image ("Address missing in partial image").
"""
import re
import subprocess
import sys


def run(args):
    return subprocess.run(args, capture_output=True)


def main():
    image, offset = sys.argv[1], sys.argv[2]
    fsstat = run(['fsstat', '-o', offset, image]).stdout.decode('utf-8', 'replace')
    fat = 'FAT' in fsstat.split('File System Type:', 1)[-1].splitlines()[0]
    cluster_area = spc = 0
    if fat:
        cluster_area = int(re.search(r'Cluster Area: (\d+)', fsstat).group(1))
        spc = int(re.search(r'Cluster Size: (\d+)', fsstat).group(1)) // int(
            re.search(r'Sector Size: (\d+)', fsstat).group(1))
    files = []  # (inode, deleted)
    if len(sys.argv) > 3:
        files = [(inode, None) for inode in sys.argv[3:]]
    else:
        listing = run(['fls', '-r', '-p', '-o', offset, image]).stdout.decode('utf-8', 'replace')
        seen = set()
        for line in listing.splitlines():
            m = re.match(r'r/r (\*? ?)(\d+)(-\d+-\d+)?:\t(.*)$', line)
            if not m or '(realloc)' in line or m.group(3) and not m.group(3).startswith('-128-'):
                continue
            inode, name = m.group(2), m.group(4)
            if name.startswith('$') or ':' in name or inode in seen:
                continue
            seen.add(inode)
            files.append((inode, bool(m.group(1).strip())))
    for inode, deleted in files:
        istat = run(['istat', '-o', offset, image, inode]).stdout.decode('utf-8', 'replace')
        if deleted is None:
            deleted = 'Not Allocated' in istat
        # FAT: "Size: N"; NTFS: the unnamed $DATA attribute's size.
        size = re.search(r'^Size: (\d+)', istat, re.M) or re.search(
            r'Type: \$DATA \(128-\d+\)\s+Name: N/A\s+(?:Non-)?Resident.*?\bsize: (\d+)', istat)
        if not size:
            continue
        size = int(size.group(1))
        if fat:
            sectors = istat.split('Sectors:', 1)[-1].split()
            if not sectors or not sectors[0].isdigit():
                continue  # no data: nothing to read
            key = (int(sectors[0]) - cluster_area) // spc + 2
        else:
            key = int(inode)
        cat = run(['icat'] + (['-r'] if deleted else []) + ['-o', offset, image, inode])
        ok = cat.returncode == 0 and len(cat.stdout) >= size and b'rror' not in cat.stderr
        print('%d\t%d\t%s' % (key, size, 'ok' if ok else 'short'))


if __name__ == '__main__':
    main()
