#!/usr/bin/env python3
"""Writes small PNG images rich in ancillary chunks into a folder, for the
tests of the optimizer we ship: each kind of ancillary chunk before and
after the image data, compressed text and colour profiles that inflate to
64 MiB, and compressed streams cut short; and one image for each reduction
that -reduce makes. Only the standard library.
Usage: chunks.py FOLDER"""
import os
import struct
import sys
import zlib


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def be32(*values):
    return struct.pack(">%dI" % len(values), *values)


SIZE = 8
ROWS = b"".join(b"\0" + bytes(v for x in range(SIZE) for v in (x * 32, y * 32, (x ^ y) * 32))
                for y in range(SIZE))
HEAD = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", be32(SIZE, SIZE) + bytes((8, 2, 0, 0, 0)))
IMAGE = chunk(b"IDAT", zlib.compress(ROWS))
END = chunk(b"IEND", b"")

# A colour profile that libpng accepts: a header, no tags, and data that
# does not compress away.
PROFILE = bytearray(132) + bytes((i * 7919) % 251 for i in range(512))
PROFILE[0:4] = be32(len(PROFILE))
PROFILE[12:24] = b"mntrRGB XYZ "
PROFILE[36:40] = b"acsp"
PROFILE[68:80] = be32(63190, 65536, 54061)
PROFILE = bytes(PROFILE)

BOMB = zlib.compress(bytes(64 << 20), 9)
# A profile whose header claims 64 MiB, and that many bytes.
PROFILE_BOMB = zlib.compress(be32(64 << 20) + PROFILE[4:132] + bytes((64 << 20) - 132), 9)
FRAME = zlib.compress(bytes(reversed(ROWS)))

# Compressed text and profiles, each kind in an image of its own.
COMPRESSED = {
    "zTXt": [chunk(b"zTXt", b"Comment\0\0" + zlib.compress(b"compressed text"))],
    "iTXt": [chunk(b"iTXt", b"Comment\0\1\0es\0Comentario\0" + zlib.compress("año".encode())),
             chunk(b"iTXt", b"Title\0\0\0\0\0plain international text")],
    "iCCP": [chunk(b"iCCP", b"Profile\0\0" + zlib.compress(PROFILE))],
}
# Every other kind together: text, colour and HDR, size, time, background,
# a suggested palette, Exif, stereo, and private chunks.
OTHERS = [
    chunk(b"tEXt", b"Comment\0plain text"),
    chunk(b"sRGB", b"\0"), chunk(b"gAMA", be32(45455)),
    chunk(b"cHRM", be32(31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000)),
    chunk(b"cICP", bytes((1, 13, 0, 1))), chunk(b"cLLI", be32(1000, 400)),
    chunk(b"mDCV", struct.pack(">8H2I", 35400, 14600, 8500, 39850, 6550, 2300,
                               15635, 16450, 10000000, 1)),
    chunk(b"pHYs", be32(2835, 2835) + b"\1"), chunk(b"oFFs", be32(10, 20) + b"\0"),
    chunk(b"sCAL", b"\1" + b"0.5\0" + b"0.5"),
    chunk(b"tIME", struct.pack(">H5B", 2026, 12, 7, 12, 30, 0)),
    chunk(b"bKGD", struct.pack(">3H", 255, 255, 255)), chunk(b"sBIT", bytes((8, 8, 8))),
    chunk(b"sPLT", b"Suggested\0\x08" + bytes((255, 0, 0, 255, 0, 9, 0, 0, 255, 255, 0, 3))),
    chunk(b"eXIf", b"MM\0*" + be32(8) + b"\0\0" + be32(0)),
    chunk(b"sTER", b"\0"),
    chunk(b"prVt", b"a private chunk, safe to copy"), chunk(b"prVT", b"and one that is not"),
]
# An animation: the control chunk and the first frame's before the image
# data, the second frame after it.
APNG_BEFORE = [chunk(b"acTL", be32(2, 0)), chunk(b"fcTL", be32(0, SIZE, SIZE, 0, 0) + bytes((0, 1, 0, 10, 0, 0)))]
APNG_AFTER = [chunk(b"fcTL", be32(1, SIZE, SIZE, 0, 0) + bytes((0, 1, 0, 10, 0, 0))),
              chunk(b"fdAT", be32(2) + FRAME)]
# Text and profiles that inflate to 64 MiB, and streams cut short.
HOSTILE = {
    "bomb-zTXt": chunk(b"zTXt", b"Bomb\0\0" + BOMB),
    "bomb-iTXt": chunk(b"iTXt", b"Bomb\0\1\0\0\0" + BOMB),
    "bomb-iCCP": chunk(b"iCCP", b"Bomb\0\0" + PROFILE_BOMB),
    "cut-zTXt": chunk(b"zTXt", b"Cut\0\0" + zlib.compress(b"text " * 400)[:40]),
    "cut-iTXt": chunk(b"iTXt", b"Cut\0\1\0\0\0" + zlib.compress(b"text " * 400)[:40]),
    "cut-iCCP": chunk(b"iCCP", b"Cut\0\0" + zlib.compress(PROFILE)[:300]),
}
# One image for each reduction of -reduce, under the variable of pngcrush.c
# that governs it: with that reduction broken, the copy is not Debian's
# pngcrush's. Bit depth, colour type, the bytes of the pixel at x, y, palette.
REDUCIBLE = {
    # RGBA, every pixel opaque: to RGB (make_opaque).
    "reduce-opaque": (8, 6, lambda x, y: bytes((x * 32, y * 32, (x ^ y) * 32, 255)), b""),
    # 16-bit RGB, the two bytes of every sample equal: to 8 bits (make_8_bit).
    "reduce-16-bit": (16, 2, lambda x, y: bytes(v for v in (x * 32, y * 32, (x ^ y) * 32) for _ in "hl"), b""),
    # RGB, every pixel grey: to grey (make_gray).
    "reduce-grey": (8, 2, lambda x, y: bytes(((x + y) * 16,) * 3), b""),
    # 16 palette entries of which 4 are used: the palette cut to 4 (reduce_palette).
    "reduce-palette": (8, 3, lambda x, y: bytes(((x + y) % 4,)), chunk(b"PLTE", bytes(range(48)))),
}


def write(folder, name, before=(), after=()):
    with open(os.path.join(folder, name + ".png"), "wb") as out:
        out.write(HEAD + b"".join(before) + IMAGE + b"".join(after) + END)


def main(folder):
    os.makedirs(folder, exist_ok=True)
    for kind, chunks in list(COMPRESSED.items()) + [("others", OTHERS)]:
        write(folder, "before-" + kind, before=chunks)
        write(folder, "after-" + kind, after=chunks)
    write(folder, "animated", APNG_BEFORE, APNG_AFTER)
    for name, hostile in HOSTILE.items():
        write(folder, name + "-before", before=[hostile])
        write(folder, name + "-after", after=[hostile])
    for name, (depth, colour, pixel, palette) in REDUCIBLE.items():
        rows = b"".join(b"\0" + b"".join(pixel(x, y) for x in range(SIZE)) for y in range(SIZE))
        with open(os.path.join(folder, name + ".png"), "wb") as out:
            out.write(HEAD[:8] + chunk(b"IHDR", be32(SIZE, SIZE) + bytes((depth, colour, 0, 0, 0)))
                      + palette + chunk(b"IDAT", zlib.compress(rows)) + END)


if __name__ == "__main__":
    main(sys.argv[1])
