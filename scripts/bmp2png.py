#!/usr/bin/env python3
"""Converts 24-bit bottom-up BMP files (as the stand-in IDE program writes them) to PNG."""
import struct, sys, zlib

def convert(path):
    data = open(path, 'rb').read()
    offset, = struct.unpack_from('<I', data, 10)
    width, height = struct.unpack_from('<ii', data, 18)
    row = (width * 3 + 3) & ~3
    raw = bytearray()
    for y in range(abs(height)):
        src = height - 1 - y if height > 0 else y
        line = data[offset + src * row: offset + src * row + width * 3]
        raw.append(0)
        for x in range(width):
            b, g, r = line[3 * x: 3 * x + 3]
            raw += bytes((r, g, b))
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, abs(height), 8, 2, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b'')
    out = path[:-4] + '.png'
    open(out, 'wb').write(png)
    return out

for name in sys.argv[1:]:
    print(convert(name))
