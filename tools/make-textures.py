#!/usr/bin/env python3
"""Writes a texture for a samplerCUBE or a sampler3D, made here, so that an example needs no
one's pictures: an uncompressed .dds that D3DX reads.

    tools/make-textures.py sky OUT.dds [SIZE]     a cube map of six SIZE x SIZE faces (64 unless
                                                  given), A8R8G8B8: a sky graded from the horizon
                                                  up, a sun, and a checkered ground below
    tools/make-textures.py noise OUT.dds [SIZE]   a volume of SIZE x SIZE x SIZE (32 unless given),
                                                  L8: value noise of three octaves that tiles

SIZE is a power of 2 from 4 to 256. The same arguments give the same file. Exits 2 with one
line on bad arguments.
"""

import math
import os
import random
import struct
import sys

USAGE = "usage: tools/make-textures.py sky|noise OUT.dds [SIZE]"
SIZES = {"sky": 64, "noise": 32}

# The DDS header's flags, as the platform's headers name them.
DDSD_CAPS, DDSD_HEIGHT, DDSD_WIDTH, DDSD_PITCH, DDSD_PIXELFORMAT, DDSD_DEPTH = 0x1, 0x2, 0x4, 0x8, 0x1000, 0x800000
DDPF_ALPHAPIXELS, DDPF_RGB, DDPF_LUMINANCE = 0x1, 0x40, 0x20000
DDSCAPS_COMPLEX, DDSCAPS_TEXTURE = 0x8, 0x1000
DDSCAPS2_CUBEMAP, DDSCAPS2_CUBEMAP_ALLFACES, DDSCAPS2_VOLUME = 0x200, 0xFC00, 0x200000


def dds(width, height, depth=1, cube=False, luminance=False):
    """The magic and the header of an uncompressed texture without mipmaps; the texels follow it,
    rows top first, a cube map's faces in the order +X, -X, +Y, -Y, +Z, -Z, a volume's slices
    front first, each texel B, G, R, A (or one byte of luminance)."""
    bits = 8 if luminance else 32
    flags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_PIXELFORMAT | (DDSD_DEPTH if depth > 1 else 0)
    masks = (0xFF, 0, 0, 0) if luminance else (0xFF0000, 0xFF00, 0xFF, 0xFF000000)
    pixel_format = struct.pack("<8I", 32, DDPF_LUMINANCE if luminance else DDPF_RGB | DDPF_ALPHAPIXELS, 0, bits, *masks)
    caps2 = (DDSCAPS2_CUBEMAP | DDSCAPS2_CUBEMAP_ALLFACES if cube else 0) | (DDSCAPS2_VOLUME if depth > 1 else 0)
    return (b"DDS " + struct.pack("<7I44x", 124, flags, height, width, width * bits // 8, depth, 0) + pixel_format +
            struct.pack("<5I", DDSCAPS_TEXTURE | (DDSCAPS_COMPLEX if cube else 0), caps2, 0, 0, 0))


# Where the texel at (s, t) of each face looks, s and t from -1 to 1, t growing downwards.
FACES = [lambda s, t: (1, -t, -s), lambda s, t: (-1, -t, s), lambda s, t: (s, 1, t),
         lambda s, t: (s, -1, -t), lambda s, t: (s, -t, 1), lambda s, t: (-s, -t, -1)]
SUN = (0.5, 0.17, 0.85)


def edge(a, width):
    """1 inside the even squares along one axis and -1 inside the odd ones, ramping between over
    a texel's width of the ground, so that the squares' edges don't step when magnified."""
    side = 1 if math.floor(a) % 2 == 0 else -1
    return side * min(1.0, min(a - math.floor(a), math.ceil(a) - a) / width)


def sky_colour(x, y, z, size):
    length = math.sqrt(x * x + y * y + z * z)
    x, y, z = x / length, y / length, z / length
    if y > 0:
        k = math.sqrt(y)
        colour = [0.85 - 0.65 * k, 0.9 - 0.45 * k, 1.0 - 0.1 * k]
    else:
        # The ground plane one unit below, in squares of one, fading into haze far off.
        y = min(y, -1e-3)
        width = 0.5 / (size * y * y)
        square = 0.35 - 0.15 * edge(x / -y, width) * edge(z / -y, width)
        haze = math.exp(8 * y)
        colour = [square * (1 - haze) + 0.85 * haze, square * 0.9 * (1 - haze) + 0.9 * haze,
                  square * 0.75 * (1 - haze) + haze]
    sun = max(0.0, x * SUN[0] + y * SUN[1] + z * SUN[2])
    glow = sun ** 2000 * 4 + sun ** 16 * 0.3
    return [min(255, round(255 * (c + glow * w))) for c, w in zip(colour, (1, 0.9, 0.7))]


def sky(size):
    texels = bytearray()
    for face in FACES:
        for row in range(size):
            for column in range(size):
                r, g, b = sky_colour(*face(2 * (column + 0.5) / size - 1, 2 * (row + 0.5) / size - 1), size)
                texels += bytes((b, g, r, 255))
    return dds(size, size, cube=True) + texels


def noise(size):
    """Each octave is a lattice of random values at twice the cells of the one before, wrapped
    at the volume's edge, so that the texture repeats without a seam."""
    chance = random.Random(2024)
    octaves = []
    for cells, weight in ((4, 0.55), (8, 0.3), (16, 0.15)):
        cells = min(cells, size)
        octaves.append((cells, weight, [chance.random() for _ in range(cells ** 3)]))
    smooth = lambda f: f * f * (3 - 2 * f)
    texels = bytearray()
    for z in range(size):
        for y in range(size):
            for x in range(size):
                total = 0.0
                for cells, weight, lattice in octaves:
                    at = [(c + 0.5) * cells / size for c in (x, y, z)]
                    low = [int(a) for a in at]
                    f = [smooth(a - i) for a, i in zip(at, low)]
                    value = 0.0
                    for corner in range(8):
                        i, j, k = ((low[n] + (corner >> n & 1)) % cells for n in range(3))
                        share = 1.0
                        for n in range(3):
                            share *= f[n] if corner >> n & 1 else 1 - f[n]
                        value += share * lattice[(k * cells + j) * cells + i]
                    total += weight * value
                texels.append(round(255 * total))
    return dds(size, size, size, luminance=True) + texels


def bad_input(text):
    print("make-textures: %s; %s" % (text, USAGE), file=sys.stderr)
    sys.exit(2)


def main(args):
    if not 2 <= len(args) <= 3:
        bad_input("%d arguments, not 2 or 3" % len(args))
    kind, out = args[0], args[1]
    if kind not in SIZES:
        bad_input("not sky or noise: %s" % kind)
    size = args[2] if len(args) == 3 else str(SIZES[kind])
    if not size.isdigit() or int(size) not in [2 ** n for n in range(2, 9)]:
        bad_input("not a power of 2 from 4 to 256: %s" % size)
    if not out.lower().endswith(".dds"):
        bad_input("not a .dds name: %s" % out)
    folder = os.path.dirname(out) or "."
    if not os.path.isdir(folder) or not os.access(folder, os.W_OK):
        bad_input("cannot write into the folder: %s" % folder)
    if os.path.isdir(out):
        bad_input("a folder, not a file: %s" % out)
    size = int(size)
    with open(out, "wb") as file:
        file.write(sky(size) if kind == "sky" else noise(size))
    what = "a cube map of six %d x %d faces" % (size, size) if kind == "sky" else "a volume of %d x %d x %d" % (
        size, size, size)
    print("make-textures: %s, %s" % (out, what), file=sys.stderr)


if __name__ == "__main__":
    main(sys.argv[1:])
