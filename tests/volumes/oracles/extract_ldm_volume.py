#!/usr/bin/env python3
"""Writes the bytes of a dynamic-disk volume to a file, from ldmtool's report
alone (argv[1]) and the disk images beside it: spanned volumes are their
partitions one after another, a mirror its first plex, a striped volume its
partitions taking turns by chunk. Usage: REPORT VOLUME OUT"""
import json
import os
import sys

SECTOR = 512


def read(path, sector, count):
    with open(path, 'rb') as f:
        f.seek(sector * SECTOR)
        return f.read(count * SECTOR)


def main():
    report_path, name, out = sys.argv[1:4]
    folder = os.path.dirname(os.path.abspath(report_path))
    group = json.load(open(report_path))[0]
    disks = {d['name']: d for d in group['disks']}
    volume = next(v for v in group['volumes'] if v['name'] == name)
    parts = volume['partitions']

    def extent(p):
        d = disks[p['disk']]
        return os.path.join(folder, d['device']), d['data-start'] + p['start'], p['size']

    with open(out, 'wb') as f:
        if volume['type'] == 'spanned':
            for p in parts:
                f.write(read(*extent(p)))
        elif volume['type'] == 'mirrored':
            f.write(read(*extent(parts[0])))
        elif volume['type'] == 'striped':
            chunk = volume['chunk-size']
            extents = [extent(p) for p in parts]
            rows = min(e[2] for e in extents) // chunk
            for row in range(rows):
                for path, start, _ in extents:
                    f.write(read(path, start + row * chunk, chunk))
        else:
            sys.exit(f'{volume["type"]} volumes are not extracted')


if __name__ == '__main__':
    main()
