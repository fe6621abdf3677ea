#!/usr/bin/env python3
"""Writes a linear logical volume's bytes from lvs --segments' physical
extent ranges and pvs' pe_start alone. Usage: FOLDER LV OUT"""
import json
import re
import sys


def main():
    folder, name, out = sys.argv[1:4]
    pvs = {p['pv_name']: p for p in json.load(open(f'{folder}/lvm-pvs.json'))['report'][0]['pv']}
    vg = json.load(open(f'{folder}/lvm-vgs.json'))['report'][0]['vg'][0]
    extent = int(vg['vg_extent_size'].rstrip('S')) * 512
    segs = [s for s in json.load(open(f'{folder}/lvm-lvs.json'))['report'][0]['seg'] if s['lv_name'] == name]
    segs.sort(key=lambda s: int(s['seg_start_pe']))
    with open(out, 'wb') as f:
        for s in segs:
            pv, first, last = re.fullmatch(r'(\w+):(\d+)-(\d+)', s['seg_pe_ranges']).groups()
            start = int(pvs[pv]['pe_start'].rstrip('S')) * 512 + int(first) * extent
            with open(f'{folder}/lvm-{pv}.img', 'rb') as disk:
                disk.seek(start)
                f.write(disk.read((int(last) - int(first) + 1) * extent))


if __name__ == '__main__':
    main()
