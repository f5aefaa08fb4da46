#!/usr/bin/env python3
"""Writes small PNG images rich in ancillary chunks into a folder, for the
tests of the optimizer we ship: each kind of ancillary chunk before and
after the image data, compressed text and colour profiles that inflate to
64 MiB, and compressed streams cut short; one image for each reduction that
-reduce makes; and images with transparency (tRNS) of every colour type and
bit depth that can carry it, among them those whose pixels pngcrush 1.8.13
changes (named trns-lost-*). With --same, pairs of images instead, NAME-a
and NAME-b, whose pixels are the same in another colour type, bit depth,
palette order or interlacing (same-*), or differ by one sample (differ-*),
for the tests of the pixel oracle. With --variants, variants of an image.
With --own, the tests' own yardstick (see own()). Only the standard library.
Usage: chunks.py [--same] FOLDER
       chunks.py --variants IMAGE FOLDER
       chunks.py --own INPUTS COPIES"""
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

# Only main() uses the bombs, a second's work: not made for the other modes.
BOMB = zlib.compress(bytes(64 << 20), 9) if len(sys.argv) == 2 else b""
# A profile whose header claims 64 MiB, and that many bytes.
PROFILE_BOMB = zlib.compress(be32(64 << 20) + PROFILE[4:132] + bytes((64 << 20) - 132), 9) if BOMB else b""
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


def pack(samples, depth):
    """One row's samples as bytes, packed below 8 bits, big-endian at 16."""
    if depth == 16:
        return b"".join(struct.pack(">H", v) for v in samples)
    if depth == 8:
        return bytes(samples)
    per = 8 // depth
    samples = list(samples) + [0] * (-len(samples) % per)
    return bytes(sum(v << (8 - depth * (k + 1)) for k, v in enumerate(samples[i:i + per]))
                 for i in range(0, len(samples), per))


# Adam7's passes: the first column and row, and the steps between them.
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def encode(width, height, depth, colour, pixel, extra=(), interlaced=False):
    """A whole PNG file: pixel(x, y) gives the samples of one pixel (one
    index for a palette), and extra the chunks between IHDR and IDAT."""
    passes = ADAM7 if interlaced else [(0, 0, 1, 1)]
    data = b""
    for x0, y0, dx, dy in passes:
        xs = range(x0, width, dx)
        if not xs:
            continue
        for y in range(y0, height, dy):
            data += b"\0" + pack([v for x in xs for v in pixel(x, y)], depth)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", be32(width, height) + bytes((depth, colour, 0, 0, int(interlaced))))
            + b"".join(extra) + chunk(b"IDAT", zlib.compress(data)) + END)


def palette(colours, alphas=None):
    """A PLTE chunk, and a tRNS chunk when alphas are given."""
    chunks = [chunk(b"PLTE", b"".join(bytes(c) for c in colours))]
    return chunks + ([chunk(b"tRNS", bytes(alphas))] if alphas is not None else [])


def key(*samples):
    return chunk(b"tRNS", struct.pack(">%dH" % len(samples), *samples))


# 256 colours, all different.
COLOURS = [((i * 37) % 256, (i * 101) % 256, i) for i in range(256)]
# Images with tRNS: bit depth, colour type, the pixel at x, y, the chunks
# before the image data, and the size when it is not 16 x 16.
TRANSPARENT = {
    # Of every colour type and bit depth that tRNS can go with.
    "trns-grey-1": (1, 0, lambda x, y: ((x ^ y) & 1,), [key(1)]),
    "trns-grey-2": (2, 0, lambda x, y: ((x + y) % 4,), [key(2)]),
    "trns-grey-4": (4, 0, lambda x, y: ((x * y) % 16,), [key(9)]),
    "trns-grey-8": (8, 0, lambda x, y: ((x * 16 + y) % 64,), [key(37)]),
    "trns-grey-16": (16, 0, lambda x, y: (x * 4099 + y,), [key(4099 * 3 + 5)]),
    "trns-rgb-8": (8, 2, lambda x, y: (x * 16, y * 16, 37), [key(32, 48, 37)]),
    "trns-rgb-16": (16, 2, lambda x, y: (x * 4099, y, 7), [key(4099, 5, 7)]),
    "trns-palette-1": (1, 3, lambda x, y: ((x + y) % 2,), palette(COLOURS[:2], [0])),
    "trns-palette-2": (2, 3, lambda x, y: ((x * y) % 4,), palette(COLOURS[:4], [255, 0, 128])),
    "trns-palette-4": (4, 3, lambda x, y: ((x + 3 * y) % 16,), palette(COLOURS[:16], [0, 64] * 5)),
    "trns-palette-8": (8, 3, lambda x, y: (x * 16 + y,), palette(COLOURS, [(i * 7) % 256 for i in range(256)])),
    # Reducible, keeping every pixel: a 16-bit key whose bytes are equal,
    # a grey key on grey RGB pixels, and a palette cut with its tRNS.
    "trns-reduce-16-bit": (16, 0, lambda x, y: ((x + y) * 257,), [key(5 * 257)]),
    "trns-reduce-grey": (8, 2, lambda x, y: ((x * y) % 50,) * 3, [key(0, 0, 0)]),
    "trns-reduce-palette": (8, 3, lambda x, y: ((x + y) % 8,), palette(COLOURS[:32], [0, 128] + [255] * 30)),
    # pngcrush 1.8.13 changes these pixels. A full tRNS on a palette of
    # which 100 entries are used, the last (unused) entry transparent: the
    # tRNS is dropped with the unused entries.
    "trns-lost-palette-full": (8, 3, lambda x, y: ((x * 7 + y * 13) % 100,),
                               palette(COLOURS, [0 if i % 10 == 0 or i == 255 else 255 for i in range(256)])),
    # A tRNS that names a half-transparent entry after the used ones.
    "trns-lost-palette-after": (8, 3, lambda x, y: ((x + y) % 6,), palette(COLOURS[:16], [0, 255, 0, 255, 255, 255, 255, 255, 255, 128])),
    # 16-bit grey, every sample reducible to 8 bits, with a key that no
    # pixel has and whose bytes differ: reduced to 0x17, it matches 0x1717.
    "trns-lost-grey-16-key": (16, 0, lambda x, y: (((x + y) % 32) * 257,) if x else (0x1717,), [key(0x2a17)]),
    # The same in RGB.
    "trns-lost-rgb-16-key": (16, 2, lambda x, y: (0x1717, 0x1717, ((x + y) % 32) * 257), [key(0x2a17, 0x2a17, 0x2a17)]),
    # RGB whose pixels are all grey, with a grey key: reduced to grey, the
    # key becomes 0. With a key that is not grey, the same.
    "trns-lost-grey-rgb": (8, 2, lambda x, y: ((x * y) % 40,) * 3, [key(37, 37, 37)]),
    "trns-lost-colour-key": (8, 2, lambda x, y: ((x * y) % 40,) * 3, [key(3, 4, 3)]),
    # A palette whose highest used index lies only in the first column.
    "trns-lost-palette-first-column": (8, 3, lambda x, y: (7,) if x == 0 else ((x + y) % 2,), palette(COLOURS[:8], [0, 255])),
    # The first fault on an image large enough to measure side by side.
    "trns-lost-palette-large": (8, 3, lambda x, y: ((x * 7 + y * 13) % 100,),
                                palette(COLOURS, [0 if i % 10 == 0 or i == 255 else 255 for i in range(256)]), (600, 400)),
    # Keys that match no pixel, nor do pngcrush 1.8.13's reduced ones, by luck.
    "trns-dead-rgb-16-key": (16, 2, lambda x, y: (x * 257, y * 257, (x ^ y) * 257), [key(0x1008, 0x2010, 0x3412)], (32, 32)),
    "trns-dead-colour-key": (8, 2, lambda x, y: ((x * y) % 40 + 10,) * 3, [key(3, 4, 3)]),
    # Palettes whose rows are one byte long (no cut), or one row high.
    "palette-width-1-8": (8, 3, lambda x, y: (y % 4,), palette(COLOURS[:16]), (1, 8)),
    "palette-width-1-1": (1, 3, lambda x, y: (y % 2,), palette(COLOURS[:2]), (1, 8)),
    "palette-height-1": (8, 3, lambda x, y: (x % 3,), palette(COLOURS[:16]), (8, 1)),
}
# Keys that libpng passes over (samples reduce to 8 bits): colour, pixel, key.
IGNORED = {
    "trns-ignored-after": (0, lambda x, y: ((x + y) * 257,), None),
    "trns-ignored-second": (0, lambda x, y: ((x + y) * 257,), key(5 * 257)),
    "trns-ignored-alpha": (4, lambda x, y: ((x + y) * 257, 65535), None),
    "trns-ignored-length": (0, lambda x, y: ((x + y) * 257,), None),
}


def write(folder, name, before=(), after=()):
    with open(os.path.join(folder, name + ".png"), "wb") as out:
        out.write(HEAD + b"".join(before) + IMAGE + b"".join(after) + END)


def main(folder):
    os.makedirs(folder, exist_ok=True)
    for name, (depth, colour, pixel, extra, *size) in TRANSPARENT.items():
        width, height = size[0] if size else (16, 16)
        with open(os.path.join(folder, name + ".png"), "wb") as out:
            out.write(encode(width, height, depth, colour, pixel, extra))
    for name, (colour, pixel, first) in IGNORED.items():
        data = encode(16, 16, 16, colour, pixel, [first] if first else [])
        ignored = chunk(b"tRNS", struct.pack(">3H", 0x2a17, 0x2a17, 0x2a17) if name.endswith("length")
                        else struct.pack(">H", 0x2a17))
        at = len(data) - len(END) if name.endswith("after") else data.index(b"IDAT") - 4
        with open(os.path.join(folder, name + ".png"), "wb") as out:
            out.write(data[:at] + ignored + data[at:])
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


def same(folder):
    """Pairs whose pixels are equal as 16-bit RGBA, and pairs that differ."""
    os.makedirs(folder, exist_ok=True)
    grey = lambda x, y: ((x * 16 + y) % 256,)
    order = list(range(16))[::-1]
    pairs = {
        "same-palette-rgba": (encode(16, 16, 8, 3, lambda x, y: ((x + y) % 16,), palette(COLOURS[:16], [0, 128])),
                              encode(16, 16, 8, 6, lambda x, y: COLOURS[(x + y) % 16] + ((0, 128, 255)[min((x + y) % 16, 2)],))),
        "same-palette-order": (encode(16, 16, 4, 3, lambda x, y: ((x * y) % 16,), palette(COLOURS[:16])),
                               encode(16, 16, 8, 3, lambda x, y: (order[(x * y) % 16],), palette([COLOURS[i] for i in order]))),
        "same-grey-rgb-16": (encode(16, 16, 8, 0, grey),
                             encode(16, 16, 16, 2, lambda x, y: (grey(x, y)[0] * 257,) * 3)),
        "same-grey-4-8": (encode(16, 16, 4, 0, lambda x, y: ((x + y) % 16,)),
                          encode(16, 16, 8, 0, lambda x, y: ((x + y) % 16 * 17,))),
        "same-key-alpha": (encode(16, 16, 8, 0, grey, [key(37)]),
                           encode(16, 16, 8, 4, lambda x, y: grey(x, y) + ((0 if grey(x, y)[0] == 37 else 255),))),
        "same-interlaced": (encode(16, 16, 8, 2, lambda x, y: (x * 16, y * 16, 9), interlaced=True),
                            encode(16, 16, 8, 2, lambda x, y: (x * 16, y * 16, 9))),
        # One alpha sample of one pixel, 65535 against 65534; one row less.
        "differ-alpha": (encode(16, 16, 16, 6, lambda x, y: (1, 2, 3, 65535)),
                         encode(16, 16, 16, 6, lambda x, y: (1, 2, 3, 65534 if (x, y) == (15, 15) else 65535))),
        "differ-size": (encode(16, 16, 8, 0, grey), encode(16, 15, 8, 0, grey)),
    }
    for name, images in pairs.items():
        for suffix, data in zip("ab", images):
            with open(os.path.join(folder, "%s-%s.png" % (name, suffix)), "wb") as out:
                out.write(data)


def chunks_of(data):
    """The chunks of a PNG file as (type, data, CRC right) up to IEND; None
    when it is no PNG file, is cut short or does not end with IEND."""
    at, found = 8, []
    while data[:8] == b"\x89PNG\r\n\x1a\n" and at + 12 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body, crc = data[at + 8:at + 8 + length], data[at + 8 + length:at + 12 + length]
        if len(crc) < 4 or length > 0x7fffffff:
            return None
        found.append((kind, body, struct.unpack(">I", crc)[0] == zlib.crc32(kind + body)))
        if kind == b"IEND":
            return found
        at += 12 + length
    return None


def intact(found):
    """Whether a file's chunks make a whole, undamaged image: every CRC
    right, its critical chunks and tRNS where and as they must be, and its
    image data inflating whole, with its checksum, to exactly its rows,
    each with a known filter and no index past its palette."""
    kinds = [kind for kind, _, _ in found or []]
    if not kinds or kinds[0] != b"IHDR" or len(found[0][1]) != 13 or b"IDAT" not in kinds or not all(r for *_, r in found):
        return False
    width, height, depth, colour, method, filtering, interlace = struct.unpack(">IIBBBBB", found[0][1])
    first, last = kinds.index(b"IDAT"), len(kinds) - kinds[::-1].index(b"IDAT")
    plte = [body for kind, body, _ in found if kind == b"PLTE"] or [b""]
    entries, at = len(plte[0]) // 3, {kind: kinds.index(kind) for kind in kinds}
    trns = [body for kind, body, _ in found if kind == b"tRNS"]
    if (depth not in {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}.get(colour, ())
            or method or filtering or interlace > 1 or not width or not height or kinds.count(b"IHDR") > 1
            or set(kinds[first:last]) != {b"IDAT"} or kinds.count(b"PLTE") > 1 or len(plte[0]) % 3
            or at.get(b"PLTE", 0) > first or entries > (1 << depth if colour == 3 else 256)
            or (colour in (0, 4) and b"PLTE" in at) or (colour == 3 and not entries) or len(trns) > 1
            or (trns and (at[b"tRNS"] > first or at[b"tRNS"] < at.get(b"PLTE", 0) or colour in (4, 6)
                          or len(trns[0]) != {0: 2, 2: 6}.get(colour, len(trns[0])) or (colour == 3 and len(trns[0]) > entries)))):
        return False
    inflater = zlib.decompressobj()
    try:
        rows = inflater.decompress(b"".join(body for kind, body, _ in found if kind == b"IDAT"))
    except zlib.error:
        return False
    at = 0
    for x0, y0, dx, dy in ADAM7 if interlace else [(0, 0, 1, 1)]:
        columns = len(range(x0, width, dx))
        size, above = (columns * depth * {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour] + 7) // 8, None
        for _ in range(len(range(y0, height, dy)) if columns else 0):
            if at + 1 + size > len(rows) or rows[at] > 4:
                return False
            if colour == 3:
                above = unfilter(rows[at], rows[at + 1:at + 1 + size], above or bytes(size))
                if max(unpack(above, depth, columns)) >= entries:
                    return False
            at += 1 + size
    return inflater.eof and not inflater.unused_data and at == len(rows)


def unfilter(kind, row, above):
    """A row of one byte a pixel, or less, unfiltered, given the row above."""
    out = bytearray(len(row))
    for i, value in enumerate(row):
        left, up, corner = out[i - 1] if i else 0, above[i], above[i - 1] if i else 0
        p = left + up - corner
        near = (min((abs(p - left), 0, left), (abs(p - up), 1, up), (abs(p - corner), 2, corner))[2] if kind == 4
                else (0, left, up, (left + up) // 2)[kind])
        out[i] = (value + near) & 255
    return bytes(out)


def unpack(row, depth, count):
    """The first COUNT samples of a row packed at DEPTH bits (at most 8)."""
    per = 8 // depth
    return [(row[i // per] >> (8 - depth * (i % per + 1))) & ((1 << depth) - 1) for i in range(count)]


def own(inputs, copies):
    """The yardstick: where the input is intact, its own IHDR, PLTE, tRNS
    and image data (in one IDAT chunk) under the ancillary chunks that the
    copy kept before and after its image data, when that file is smaller
    than the copy."""
    for name in sorted(os.listdir(copies)):
        with open(os.path.join(inputs, name), "rb") as f:
            found = chunks_of(f.read())
        with open(os.path.join(copies, name), "rb") as f:
            copy = f.read()
        kept = chunks_of(copy)
        if not intact(found) or kept is None or {b"bKGD", b"sBIT", b"hIST"} & {kind for kind, _, _ in kept}:
            continue
        split = [kind for kind, _, _ in kept].index(b"IDAT")
        ancillary = lambda part: b"".join(chunk(kind, body) for kind, body, _ in part
                                          if kind not in (b"IHDR", b"PLTE", b"tRNS", b"IDAT", b"IEND"))
        mine = lambda *kinds: b"".join(chunk(kind, body) for kind, body, _ in found if kind in kinds)
        data = (b"\x89PNG\r\n\x1a\n" + mine(b"IHDR") + ancillary(kept[:split]) + mine(b"PLTE") + mine(b"tRNS")
                + chunk(b"IDAT", b"".join(body for kind, body, _ in found if kind == b"IDAT"))
                + ancillary(kept[split:]) + END)
        if len(data) < len(copy):
            with open(os.path.join(copies, name), "wb") as f:
                f.write(data)


def variants(image, folder):
    """Variants of IMAGE: its image data in chunks of 64 bytes, and an
    animation whose default image it is (both intact); and, named
    invalid-*, with a wrong CRC in its image data, a wrong checksum of its
    compressed stream, and that stream cut short (their CRCs right): a
    lenient reader passes over each of these."""
    found = chunks_of(open(image, "rb").read())
    head = b"".join(chunk(kind, body) for kind, body, _ in found if kind in (b"IHDR", b"PLTE", b"tRNS"))
    stream = b"".join(body for kind, body, _ in found if kind == b"IDAT")
    control = lambda number: chunk(b"fcTL", be32(number) + found[0][1][:8] + bytes(8) + bytes((0, 1, 0, 10, 0, 0)))
    name = os.path.splitext(os.path.basename(image))[0]
    for suffix, data in {
        "split": b"".join(chunk(b"IDAT", stream[i:i + 64]) for i in range(0, len(stream), 64)),
        "animated": (chunk(b"acTL", be32(2, 0)) + control(0) + chunk(b"IDAT", stream) + control(1)
                     + chunk(b"fdAT", be32(2) + stream)),
        "damaged-crc": chunk(b"IDAT", stream)[:-4] + struct.pack(">I", zlib.crc32(b"IDAT" + stream) ^ 1),
        "damaged-checksum": chunk(b"IDAT", stream[:-4] + bytes(b ^ 0x55 for b in stream[-4:])),
        "damaged-cut": chunk(b"IDAT", stream[:-12]),
    }.items():
        with open(os.path.join(folder, ("invalid-" if "damaged" in suffix else "") + name + "-" + suffix + ".png"),
                  "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + head + data + END)


if __name__ == "__main__":
    if sys.argv[1] == "--same":
        same(sys.argv[2])
    elif sys.argv[1] == "--own":
        own(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "--variants":
        variants(sys.argv[2], sys.argv[3])
    else:
        main(sys.argv[1])
