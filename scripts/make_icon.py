#!/usr/bin/env python3
"""Turns a text pixel map into a Windows icon file: one 16 x 16 image with an
8-bit palette and a 1-bit transparency mask.

The map: '#' lines are comments; a comment line "# C R G B ..." names the
colour of character C; then one line per pixel row, top first; '.' is
transparent.  Usage: make_icon.py MAP ICO
"""
import re
import struct
import sys


def read_map(path):
    colours, rows = {}, []
    for line in open(path, encoding="ascii"):
        line = line.rstrip("\n")
        if line.startswith("#"):
            m = re.match(r"#\s+(\S)\s+(\d+)\s+(\d+)\s+(\d+)\b", line)
            if m:
                colours[m.group(1)] = tuple(int(m.group(i)) for i in (2, 3, 4))
        elif line:
            rows.append(line)
    size = len(rows)
    if size == 0 or any(len(r) != size for r in rows):
        sys.exit(f"{path}: the map must be square")
    for r in rows:
        for ch in r:
            if ch != "." and ch not in colours:
                sys.exit(f"{path}: no colour for {ch!r}")
    return colours, rows


def make_icon(colours, rows):
    size = len(rows)
    names = sorted(colours)
    palette = [(0, 0, 0)] + [colours[n] for n in names]  # index 0: behind the mask
    index = {n: i + 1 for i, n in enumerate(names)}
    pal_bytes = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    pal_bytes += b"\0" * (256 * 4 - len(pal_bytes))

    xor = b""
    mask = b""
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):  # bottom-up
        xor += bytes(0 if ch == "." else index[ch] for ch in row)
        bits = 0
        for ch in row:
            bits = (bits << 1) | (1 if ch == "." else 0)
        mask += bits.to_bytes((size + 7) // 8, "big").ljust(mask_stride, b"\0")

    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0,
                         len(xor) + len(mask), 0, 0, 256, 0)
    image = header + pal_bytes + xor + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(image), 6 + 16)
    return icondir + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    colours, rows = read_map(sys.argv[1])
    with open(sys.argv[2], "wb") as out:
        out.write(make_icon(colours, rows))


if __name__ == "__main__":
    main()
