"""PNG files for the browser tests, written and read with the standard library alone (zlib)."""
import struct
import zlib


def _chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def write_png(path, width, height, rgb_at):
    """Writes an 8-bit RGB image without filtering; rgb_at(x, y) gives each pixel."""
    rows = b"".join(b"\x00" + bytes(c for x in range(width) for c in rgb_at(x, y))
                    for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header)
                     + _chunk(b"IDAT", zlib.compress(rows)) + _chunk(b"IEND", b""))


def _unfilter(kind, row, previous, bpp):
    if kind == 0:
        return row
    out = bytearray(row)
    n = len(out)
    if kind == 1:
        for i in range(bpp, n):
            out[i] = (out[i] + out[i - bpp]) & 0xFF
    elif kind == 2:
        for i in range(n):
            out[i] = (out[i] + previous[i]) & 0xFF
    elif kind == 3:
        for i in range(n):
            left = out[i - bpp] if i >= bpp else 0
            out[i] = (out[i] + ((left + previous[i]) >> 1)) & 0xFF
    elif kind == 4:
        for i in range(n):
            a = out[i - bpp] if i >= bpp else 0
            b = previous[i]
            c = previous[i - bpp] if i >= bpp else 0
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            predicted = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            out[i] = (out[i] + predicted) & 0xFF
    else:
        raise ValueError(f"unknown PNG filter {kind}")
    return out


class Image:
    """An 8-bit RGB or RGBA, non-interlaced PNG; pixel(x, y) gives (r, g, b)."""

    def __init__(self, path):
        data = path.read_bytes()
        assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG file"
        at, compressed = 8, b""
        while at < len(data):
            length, kind = struct.unpack(">I4s", data[at:at + 8])
            body = data[at + 8:at + 8 + length]
            if kind == b"IHDR":
                self.width, self.height, depth, color, _, _, interlace = struct.unpack(
                    ">IIBBBBB", body)
                assert depth == 8 and color in (2, 6) and interlace == 0, "unsupported PNG"
            elif kind == b"IDAT":
                compressed += body
            at += 12 + length
        self.bpp = 3 if color == 2 else 4
        raw = zlib.decompress(compressed)
        stride = self.width * self.bpp + 1
        self.rows, previous = [], bytes(self.width * self.bpp)
        for y in range(self.height):
            line = raw[y * stride:(y + 1) * stride]
            previous = _unfilter(line[0], line[1:], previous, self.bpp)
            self.rows.append(previous)

    def pixel(self, x, y):
        at = x * self.bpp
        return tuple(self.rows[y][at:at + 3])

    def box_of(self, color, tolerance=2):
        """The bounding box (left, top, right, bottom) of the pixels near `color`, or None."""
        found = None
        for y in range(self.height):
            row = self.rows[y]
            for x in range(self.width):
                at = x * self.bpp
                if all(abs(row[at + i] - color[i]) <= tolerance for i in range(3)):
                    found = (x, y, x, y) if found is None else (
                        min(found[0], x), min(found[1], y), max(found[2], x), max(found[3], y))
        return found
