#!/usr/bin/env python3
"""Writes the seed corpus of the PNG reader's fuzz target: small PNGs of every colour type and
bit depth, plain and Adam7-interlaced, with and without gAMA and tRNS, plus a few other chunks.
Built here from nothing (zlib and struct only).

    python3 scripts/make_fuzz_seeds.py [output-folder]   # default tests/fuzz/corpus/png_reader
"""
import os
import random
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_hostile_pngs import SIGNATURE, chunk  # noqa: E402  (the one chunk writer of our scripts)
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
DEPTHS = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}
ADAM7 = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2))


def pack_row(samples, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    out = bytearray((len(samples) * depth + 7) // 8)
    for i, s in enumerate(samples):
        bit = i * depth
        out[bit // 8] |= s << (8 - depth - bit % 8)
    return bytes(out)


def encode(width, height, colour, depth, interlaced, rng, filters=False):
    channels = CHANNELS[colour]
    pixels = [[[rng.randrange(1 << depth) for _ in range(channels)] for _ in range(width)] for _ in range(height)]
    passes = ADAM7 if interlaced else ((0, 0, 1, 1),)
    raw = bytearray()
    for x0, y0, dx, dy in passes:
        for y in range(y0, height, dy):
            row = [s for x in range(x0, width, dx) for s in pixels[y][x]]
            if row:
                raw += bytes([rng.randrange(5) if filters else 0]) + pack_row(row, depth)
    return zlib.compress(bytes(raw), 9)


def png(width, height, colour, depth, interlaced=False, gama=None, trns=False, extra=b"", seed=1, filters=False):
    rng = random.Random(seed)
    out = SIGNATURE + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, int(interlaced)))
    if gama is not None:
        out += chunk(b"gAMA", struct.pack(">I", gama))
    out += extra
    if colour == 3:
        entries = 1 << depth
        out += chunk(b"PLTE", bytes(rng.randrange(256) for _ in range(3 * entries)))
        if trns:
            out += chunk(b"tRNS", bytes(rng.randrange(256) for _ in range(min(entries, 3))))
    elif trns and colour in (0, 2):
        out += chunk(b"tRNS", bytes(2 * CHANNELS[colour]))
    out += chunk(b"IDAT", encode(width, height, colour, depth, interlaced, rng, filters))
    return out + chunk(b"IEND", b"")


def seeds():
    out = {}
    for colour, depths in DEPTHS.items():
        for depth in depths:
            for interlaced in (False, True):
                name = f"c{colour}_d{depth}_{'adam7' if interlaced else 'plain'}"
                out[name + ".png"] = png(9, 7, colour, depth, interlaced, seed=colour * 100 + depth)
            out[f"c{colour}_d{depth}_gama_trns.png"] = png(5, 3, colour, depth, gama=45455, trns=True, seed=depth)
    out["filters_rgba.png"] = png(8, 8, 6, 8, filters=True, seed=7)
    out["one_pixel_adam7.png"] = png(1, 1, 2, 8, True)
    text = chunk(b"tEXt", b"Comment\0seed") + chunk(b"zTXt", b"Title\0\0" + zlib.compress(b"compressed text"))
    out["text_chunks.png"] = png(4, 4, 0, 8, extra=text)
    out["iccp_srgb.png"] = png(4, 4, 2, 8, extra=chunk(b"sRGB", b"\0") + chunk(
        b"iCCP", b"icc\0\0" + zlib.compress(bytes(128))))
    # Profiles that convert (the colour_profile target's seeds, made by make_fuzz_seeds), at 8 and
    # 16 bits, on colour and grey; and the chunks --keep-metadata carries.
    profiles = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fuzz", "corpus",
                            "colour_profile")
    for name, colour, depth, interlaced in (("swapped", 2, 8, False), ("swapped", 6, 16, False),
                                            ("swapped", 6, 16, True), ("grey_gamma22", 0, 16, False)):
        with open(os.path.join(profiles, name + ".icc"), "rb") as f:
            iccp = chunk(b"iCCP", b"icc\0\0" + zlib.compress(f.read()))
        out[f"iccp_{name}_c{colour}_d{depth}{'_adam7' if interlaced else ''}.png"] = png(
            5, 4, colour, depth, interlaced, gama=100000, extra=iccp, seed=depth)
    exif = b"II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0"
    out["metadata_chunks.png"] = png(4, 4, 2, 8, extra=chunk(b"eXIf", exif) + chunk(
        b"pHYs", struct.pack(">IIB", 2835, 2835, 1)) + chunk(b"iTXt", b"XML:com.adobe.xmp\0\0\0\0\0<x/>"))
    return out


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fuzz", "corpus", "png_reader")
    os.makedirs(folder, exist_ok=True)
    corpus = seeds()
    for name, data in sorted(corpus.items()):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    print(f"{len(corpus)} seeds in {folder}")


if __name__ == "__main__":
    main()
