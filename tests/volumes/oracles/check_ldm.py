#!/usr/bin/env python3
"""Compares the dynamic-disk group in `quorvel disks --json` (stdin) with
ldmtool's report of the whole group (argv[1]); argv[2:] are the image files
quorvel was given. Prints one line per difference; exit status 1 if any."""
import json
import os
import sys

KIND = {'spanned': 2, 'striped': 1, 'RAID5': 3}


def main():
    report = json.load(open(sys.argv[1]))
    given = {os.path.basename(p) for p in sys.argv[2:]}
    doc = json.load(sys.stdin)
    problems = []
    groups = [d for d in doc['disks'] if d['kind'] == 2]
    if len(groups) != 1:
        print(f'{len(groups)} group disks instead of 1')
        return 1
    group, want = groups[0], report[0]
    if group['identity'] != want['name']:
        problems.append(f"group named {group['identity']!r}, ldmtool says {want['name']!r}")
    disks = {d['name']: d for d in want['disks']}
    rows = group['partitions']
    seen = 0
    for volume in want['volumes']:
        mine = [r for r in rows if r['volume'] == volume['name']]
        seen += len(mine)
        name = volume['name']
        if volume['type'] == 'mirrored':
            kinds = [(r['volume_kind'], len(r['members'])) for r in mine]
            if kinds != [(2, 1)] * len(volume['partitions']):
                problems.append(f'{name}: mirrored plexes read as {kinds}')
        elif [r['volume_kind'] for r in mine] != [KIND[volume['type']]]:
            problems.append(f"{name}: kinds {[r['volume_kind'] for r in mine]} for {volume['type']}")
        members = [m for r in mine for m in r['members']]
        for r in mine:
            if r['sector_count'] != volume['size']:
                problems.append(f"{name}: size {r['sector_count']} != {volume['size']}")
            if r['drive'] != volume['hint']:
                problems.append(f"{name}: drive {r['drive']!r} != {volume['hint']!r}")
            if volume['type'] in ('striped', 'RAID5') and r['stripe_size'] != volume['chunk-size']:
                problems.append(f"{name}: stripe {r['stripe_size']} != {volume['chunk-size']}")
            if r['fs_kind'] != 7 or r['type'] != 'NTFS':
                problems.append(f"{name}: not NTFS ({r['fs_kind']}, {r['type']!r})")
        if len(members) != len(volume['partitions']):
            problems.append(f'{name}: {len(members)} members, ldmtool lists {len(volume["partitions"])}')
        for m, part in zip(members, volume['partitions']):
            disk = disks[part['disk']]
            where = f"{name} member {m['ordinal']} ({part['name']})"
            if m['disk_id'] != disk['guid']:
                problems.append(f"{where}: disk {m['disk_id']} != {disk['guid']}")
            if m['sector_count'] != part['size']:
                problems.append(f"{where}: count {m['sector_count']} != {part['size']}")
            present = disk['device'] in given
            if present:
                if os.path.basename(m['path']) != disk['device']:
                    problems.append(f"{where}: path {m['path']!r}, disk is {disk['device']}")
                if m['start_sector'] != part['start'] + disk['data-start']:
                    problems.append(f"{where}: start {m['start_sector']} != {part['start'] + disk['data-start']}")
            elif m['path'] != '':
                problems.append(f"{where}: path {m['path']!r} for a disk not given")
    if seen != len(rows):
        problems.append(f'{len(rows) - seen} rows that ldmtool does not list')
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
