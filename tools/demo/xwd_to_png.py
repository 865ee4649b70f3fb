#!/usr/bin/env python3
"""Turns an X window dump (xwd -root, 24/32-bit ZPixmap) on stdin into a PNG file."""
import struct
import sys
import zlib


def main(out_path):
    data = sys.stdin.buffer.read()
    header_size, _version, _fmt, depth, width, height = struct.unpack(">6I", data[:24])
    bits_per_pixel, bytes_per_line = struct.unpack(">2I", data[44:52])
    red_mask, green_mask, blue_mask = struct.unpack(">3I", data[56:68])
    ncolors = struct.unpack(">I", data[76:80])[0]
    byte_order = struct.unpack(">I", data[28:32])[0]
    # Some servers report 24 bits per pixel yet store four bytes per pixel.
    step = bytes_per_line // width if width else 0
    if depth < 24 or bits_per_pixel not in (24, 32) or step not in (3, 4):
        sys.exit("xwd_to_png: only 24/32-bit dumps are handled")
    pixels = data[header_size + ncolors * 12:]
    order = "<" if byte_order == 0 else ">"
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        line = pixels[y * bytes_per_line:y * bytes_per_line + width * step]
        for x in range(width):
            value = int.from_bytes(line[x * step:(x + 1) * step], "little" if order == "<" else "big")
            rows += bytes(((value & red_mask) >> 16, (value & green_mask) >> 8, value & blue_mask))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">2I5B", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b"")
    with open(out_path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main(sys.argv[1])
