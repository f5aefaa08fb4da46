#!/usr/bin/python3
"""Draws the sample images in this folder. Run with Debian's python3-pil:
/usr/bin/python3 examples/make-examples.py"""
import math
import os

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = 48


def pixels(function):
    return [function(x, y) for y in range(SIZE) for x in range(SIZE)]


def save(mode, name, function, **options):
    image = Image.new(mode, (SIZE, SIZE))
    image.putdata(pixels(function))
    image.save(os.path.join(HERE, name), **options)


def wave(x, y):
    return int(127.5 + 127.5 * math.sin((x * x + y * y) / 90.0))


# Grey, colour, colour with alpha, grey with alpha, a palette, and 16 bits.
save("L", "grey rings.png", wave)
save("RGB", "sunset.png", lambda x, y: (255 - 4 * y, 100 + 3 * x, wave(y, x)))
save("RGBA", "glass.png",
     lambda x, y: (40, 120 + x, 200 - y, min(255, 5 * (x + y))))
save("LA", "fog.png", lambda x, y: (wave(x, y), 255 - 5 * x))
save("I;16", "deep grey.png", lambda x, y: x * 1300 + y * 17)
palette = Image.new("P", (SIZE, SIZE))
palette.putpalette([0, 0, 0, 230, 57, 70, 241, 250, 238, 29, 53, 87])
palette.putdata(pixels(lambda x, y: ((x // 12) + (y // 12)) % 4))
palette.save(os.path.join(HERE, "Tiles.PNG"))
