#!/usr/bin/python3
"""Draws the program's icon at 48, 32 and 16 pixels and packs it into
talvek.ico as three 32-bit images (BGRA with an AND mask), the form every
Windows version since XP reads. Needs Debian's python3-pil:
/usr/bin/python3 resources/make-icon.py"""
import os
import struct

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = (48, 32, 16)


def draw(size):
    """A rounded green tile with a white arrow pressing down on a bar."""
    scale = 4  # drawn large, then scaled down for smooth edges
    s = size * scale
    image = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    pen = ImageDraw.Draw(image)
    pen.rounded_rectangle((0, 0, s - 1, s - 1), radius=s // 5,
                          fill=(22, 128, 96, 255))
    white = (255, 255, 255, 255)
    pen.polygon([(s * 0.30, s * 0.18), (s * 0.70, s * 0.18),
                 (s * 0.70, s * 0.42), (s * 0.84, s * 0.42),
                 (s * 0.50, s * 0.70), (s * 0.16, s * 0.42),
                 (s * 0.30, s * 0.42)], fill=white)
    pen.rectangle((s * 0.16, s * 0.76, s * 0.84, s * 0.84), fill=white)
    return image.resize((size, size), Image.LANCZOS)


def dib(image):
    """The icon image: header with doubled height, BGRA rows bottom-up, then
    an AND mask of rows padded to 32 bits (all zero: alpha decides)."""
    size = image.width
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0,
                         0, 0, 0)
    rows = []
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = image.getpixel((x, y))
            rows.append(struct.pack("BBBB", b, g, r, a))
    mask = b"\0" * (((size + 31) // 32) * 4 * size)
    return header + b"".join(rows) + mask


def main():
    images = []
    for size in SIZES:
        image = draw(size)
        image.save(os.path.join(HERE, "icon-%d.png" % size))
        images.append((size, dib(image)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, bits in images:
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32,
                               len(bits), offset + len(data))
        data += bits
    with open(os.path.join(HERE, "talvek.ico"), "wb") as out:
        out.write(directory + entries + data)


if __name__ == "__main__":
    main()
