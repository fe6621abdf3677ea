#!/usr/bin/env python3
"""Compares the LVM2 disk in `quorvel disks IMAGE --json` (stdin) with the
pvs, vgs and lvs --segments reports (argv[1]: the folder holding
lvm-pvs.json, lvm-vgs.json, lvm-lvs.json; argv[2]: the physical volume's name
in them, pv0 or pv1). Prints one line per difference; exit status 1 if any."""
import json
import re
import sys


def report(folder, name, key):
    return json.load(open(f'{folder}/lvm-{name}.json'))['report'][0][key]


def sectors(text):
    return int(text.rstrip('S'))


def main():
    folder, pv_name = sys.argv[1], sys.argv[2]
    disk = json.load(sys.stdin)['disks'][0]
    lvm = disk['lvm']
    problems = []
    pv = next(p for p in report(folder, 'pvs', 'pv') if p['pv_name'] == pv_name)
    vg = report(folder, 'vgs', 'vg')[0]
    if disk['disk_id'] != pv['pv_uuid'].replace('-', ''):
        problems.append(f"disk id {disk['disk_id']} != {pv['pv_uuid']}")
    if disk['group_id'] != vg['vg_uuid']:
        problems.append(f"group id {disk['group_id']} != {vg['vg_uuid']}")
    if lvm['group'] != vg['vg_name']:
        problems.append(f"group {lvm['group']} != {vg['vg_name']}")
    if lvm['extent_size'] != sectors(vg['vg_extent_size']):
        problems.append(f"extent size {lvm['extent_size']} != {vg['vg_extent_size']}")
    if lvm['pe_start'] != sectors(pv['pe_start']) or lvm['pe_count'] != int(pv['pv_pe_count']):
        problems.append(f"pe_start/pe_count {lvm['pe_start']}/{lvm['pe_count']} != {pv['pe_start']}/{pv['pv_pe_count']}")
    segs = report(folder, 'lvs', 'seg')
    want = {}
    for s in segs:
        want.setdefault(s['lv_name'], []).append(s)
    mine = {lv['name']: lv for lv in lvm['logical_volumes']}
    if sorted(mine) != sorted(want) or len(want) != int(vg['lv_count']):
        problems.append(f'logical volumes {sorted(mine)} != {sorted(want)}')
    for name, ws in want.items():
        lv = mine.get(name)
        if not lv:
            continue
        if lv['size'] != sectors(ws[0]['lv_size']):
            problems.append(f"{name}: size {lv['size']} != {ws[0]['lv_size']}")
        got = [(s['start_extent'], s['extent_count'], s['stripe_count'], s['pv_name'], s['pv_start_extent'])
               for s in lv['segments']]
        exp = []
        for w in ws:
            first = re.match(r'(\w+):(\d+)-', w['seg_pe_ranges'])
            exp.append((int(w['seg_start_pe']), int(w['seg_size_pe']), int(w['stripes']), first.group(1),
                        int(first.group(2))))
        # A striped segment's extent count is the whole segment's; lvs gives it so.
        if sorted(got) != sorted(exp):
            problems.append(f'{name}: segments {got} != {exp}')
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
