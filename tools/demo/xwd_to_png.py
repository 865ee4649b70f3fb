#!/usr/bin/env python3
"""Turns an X window dump (xwd -root, 24/32-bit ZPixmap) on stdin into a PNG file.

  xwd_to_png.py OUT.png < dump.xwd
  xwd_to_png.py --bmp IN.bmp... turns 24/32-bit Windows bitmaps into PNG files beside them
"""
import struct
import sys
import zlib


def write_png(out_path, width, height, rows):
    """rows: for each line a filter byte 0, then RGB triples."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">2I5B", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b"")
    with open(out_path, "wb") as f:
        f.write(png)


def from_xwd(data, out_path):
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
    order = "little" if byte_order == 0 else "big"
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        line = pixels[y * bytes_per_line:y * bytes_per_line + width * step]
        for x in range(width):
            value = int.from_bytes(line[x * step:(x + 1) * step], order)
            rows += bytes(((value & red_mask) >> 16, (value & green_mask) >> 8, value & blue_mask))
    write_png(out_path, width, height, rows)


def from_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack("<I", data[10:14])[0]
    width, height, _planes, bits = struct.unpack("<iiHH", data[18:30])
    if data[:2] != b"BM" or bits not in (24, 32):
        sys.exit("xwd_to_png: %s: only 24/32-bit bitmaps are handled" % path)
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = bytearray()
    for y in range(abs(height)):
        src = abs(height) - 1 - y if height > 0 else y  # stored bottom-up unless the height is negative
        line = data[offset + src * stride:offset + src * stride + width * step]
        rows.append(0)
        for x in range(width):
            b, g, r = line[x * step:x * step + 3]
            rows += bytes((r, g, b))
    write_png(path[:-4] + ".png", width, abs(height), rows)


if __name__ == "__main__":
    if sys.argv[1] == "--bmp":
        for p in sys.argv[2:]:
            from_bmp(p)
    else:
        from_xwd(sys.stdin.buffer.read(), sys.argv[1])
