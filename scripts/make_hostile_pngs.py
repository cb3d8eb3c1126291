#!/usr/bin/env python3
"""Writes the hostile PNG files under tests/data/hostile/ that the reader must refuse cleanly.

Every file is built here from nothing (zlib and struct only), so the set is ours and can be
regenerated: python3 scripts/make_hostile_pngs.py [output-folder]
"""
import os
import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def chunk(kind, data, length=None, crc=None):
    """One chunk; `length` and `crc` override the true values to make it lie."""
    body = kind + data
    true_crc = zlib.crc32(body) & 0xFFFFFFFF
    return struct.pack(">I", len(data) if length is None else length) + body + struct.pack(
        ">I", true_crc if crc is None else crc)


def ihdr(width, height, depth=8, colour=0, interlace=0):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace))


def grey_rows(width, height):
    """Unfiltered 8-bit grey rows of a small gradient."""
    return b"".join(b"\0" + bytes((x * 7 + y * 13) & 0xFF for x in range(width)) for y in range(height))


def small_grey_png(width=16, height=16):
    return SIGNATURE + ihdr(width, height) + chunk(b"IDAT", zlib.compress(grey_rows(width, height), 9)) + \
        chunk(b"IEND", b"")


def bomb(size):
    """A zlib stream of `size` zero bytes: about 1/1000 of that when compressed."""
    return zlib.compress(b"\0" * size, 9)


def files():
    valid = small_grey_png()
    out = {}
    out["empty.png"] = b""
    # The first bytes of a JPEG file: not a PNG at all.
    out["not_png.jpg"] = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00" + bytes(64)
    out["signature_only.png"] = SIGNATURE
    out["truncated_in_idat.png"] = valid[: len(valid) - 12 - 20]
    out["truncated_in_ihdr.png"] = valid[:20]
    # IDAT whose stored CRC is wrong.
    idat = zlib.compress(grey_rows(16, 16), 9)
    out["bad_idat_crc.png"] = SIGNATURE + ihdr(16, 16) + chunk(b"IDAT", idat, crc=0x12345678) + chunk(b"IEND", b"")
    out["bad_ihdr_crc.png"] = SIGNATURE + chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 0, 0, 0, 0),
                                                 crc=0) + chunk(b"IDAT", idat) + chunk(b"IEND", b"")
    # 50000 x 50000 RGBA would need 10 GB; the IDAT holds only a few rows.
    out["huge_dimensions.png"] = SIGNATURE + ihdr(50000, 50000, 8, 6) + chunk(
        b"IDAT", zlib.compress(b"\0" * (1 + 50000 * 4) * 4, 9)) + chunk(b"IEND", b"")
    out["huge_width.png"] = SIGNATURE + ihdr(2**31 - 1, 1, 8, 0) + chunk(b"IDAT", zlib.compress(b"\0" * 64)) + \
        chunk(b"IEND", b"")
    out["huge_height.png"] = SIGNATURE + ihdr(1, 2**31 - 1, 8, 0) + chunk(b"IDAT", zlib.compress(b"\0" * 64)) + \
        chunk(b"IEND", b"")
    # A tEXt chunk that declares 2^31 - 1 bytes in a file of a few hundred: a reader that sizes
    # its buffer by the declared length allocates (and zeroes) 2 GiB before noticing.
    out["huge_text_chunk.png"] = SIGNATURE + ihdr(16, 16) + struct.pack(">I", 2**31 - 1) + b"tEXt" + \
        b"Comment\0" + bytes(200)
    # The same lie in an ancillary chunk libpng does not know.
    out["huge_unknown_chunk.png"] = SIGNATURE + ihdr(16, 16) + struct.pack(">I", 2**31 - 1) + b"teSt" + bytes(200)
    # Valid image whose zlib stream goes on after the last row with 16 MiB of zeros.
    rows = grey_rows(16, 16)
    out["idat_bomb_after_rows.png"] = SIGNATURE + ihdr(16, 16) + chunk(
        b"IDAT", zlib.compress(rows + b"\0" * (16 << 20), 9)) + chunk(b"IEND", b"")
    # Valid image followed by a second zlib stream in more IDAT chunks.
    extra = bomb(16 << 20)
    out["extra_idat_after_stream.png"] = SIGNATURE + ihdr(16, 16) + chunk(b"IDAT", idat) + b"".join(
        chunk(b"IDAT", extra[i:i + 8192]) for i in range(0, len(extra), 8192)) + chunk(b"IEND", b"")
    # zTXt chunks that inflate to 16 MiB, before and after the image data.
    ztxt = chunk(b"zTXt", b"Comment\0\0" + bomb(16 << 20))
    out["ztxt_bomb_after_idat.png"] = SIGNATURE + ihdr(16, 16) + chunk(b"IDAT", idat) + ztxt + chunk(b"IEND", b"")
    out["ztxt_bomb_before_idat.png"] = SIGNATURE + ihdr(16, 16) + ztxt + chunk(b"IDAT", idat) + chunk(b"IEND", b"")
    # An iCCP profile that inflates to 16 MiB.
    out["iccp_bomb.png"] = SIGNATURE + ihdr(16, 16) + chunk(b"iCCP", b"icc\0\0" + bomb(16 << 20)) + \
        chunk(b"IDAT", idat) + chunk(b"IEND", b"")
    # The image data inflates to far more than the rows need.
    out["idat_longer_than_image.png"] = SIGNATURE + ihdr(16, 16) + chunk(b"IDAT", bomb(16 << 20)) + \
        chunk(b"IEND", b"")
    out["no_idat.png"] = SIGNATURE + ihdr(16, 16) + chunk(b"IEND", b"")
    out["zero_width.png"] = SIGNATURE + ihdr(0, 16) + chunk(b"IDAT", idat) + chunk(b"IEND", b"")
    out["bad_colour_type.png"] = SIGNATURE + ihdr(16, 16, 8, 5) + chunk(b"IDAT", idat) + chunk(b"IEND", b"")
    # A palette image without PLTE, and one whose PLTE is longer than 256 entries.
    out["palette_without_plte.png"] = SIGNATURE + ihdr(16, 16, 8, 3) + chunk(b"IDAT", idat) + chunk(b"IEND", b"")
    out["plte_too_long.png"] = SIGNATURE + ihdr(16, 16, 8, 3) + chunk(b"PLTE", bytes(3 * 300)) + \
        chunk(b"IDAT", idat) + chunk(b"IEND", b"")
    # Thousands of small text chunks: each would be kept in memory.
    out["many_text_chunks.png"] = SIGNATURE + ihdr(16, 16) + chunk(b"tEXt", b"k\0v") * 2000 + \
        chunk(b"IDAT", idat) + chunk(b"IEND", b"")
    return out


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "hostile")
    os.makedirs(folder, exist_ok=True)
    for name, data in sorted(files().items()):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
