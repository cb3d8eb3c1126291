#!/usr/bin/env python3
"""Tells whether two palette PNG files hold the same image: the same chunks in the same order
(consecutive IDATs counted as one), every chunk other than IDAT byte for byte equal, and the image
data decoding to the same rows. The compressed bytes may differ. Prints one line per pair with
the sizes; exit status 1 when any pair differs.
    bench/png_same_image.py REFERENCE.png NEW.png [REFERENCE2.png NEW2.png ...]"""
import struct
import sys
import zlib


def chunks(path):
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError(f'{path}: not a PNG file')
    pos, found = 8, []
    while pos + 8 <= len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        found.append((kind.decode('latin-1'), data[pos + 8:pos + 8 + length]))
        pos += 12 + length
    return found, len(data)


def rows(found):
    ihdr = next(body for kind, body in found if kind == 'IHDR')
    width, height, depth, colour = struct.unpack('>IIBB', ihdr[:10])
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    pixel_bytes = max(1, channels * depth // 8)
    row_bytes = (width * channels * depth + 7) // 8
    raw = zlib.decompress(b''.join(body for kind, body in found if kind == 'IDAT'))
    previous, result = bytearray(row_bytes), []
    for y in range(height):
        start = y * (row_bytes + 1)
        kind, row = raw[start], bytearray(raw[start + 1:start + 1 + row_bytes])
        for i in range(row_bytes if kind else 0):
            left = row[i - pixel_bytes] if i >= pixel_bytes else 0
            up = previous[i]
            corner = previous[i - pixel_bytes] if i >= pixel_bytes else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                row[i] = (row[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        result.append(bytes(row))
        previous = row
    return result


def order(found):
    kinds = []
    for kind, _ in found:
        if not (kind == 'IDAT' and kinds and kinds[-1] == 'IDAT'):
            kinds.append(kind)
    return kinds


def compare(reference, new):
    old_chunks, old_size = chunks(reference)
    new_chunks, new_size = chunks(new)
    problems = []
    if order(old_chunks) != order(new_chunks):
        problems.append(f'chunks {order(old_chunks)} became {order(new_chunks)}')
    old_other = [c for c in old_chunks if c[0] != 'IDAT']
    new_other = [c for c in new_chunks if c[0] != 'IDAT']
    if old_other != new_other:
        problems.append('a chunk other than IDAT differs')
    if not problems and rows(old_chunks) != rows(new_chunks):
        problems.append('the decoded rows differ')
    verdict = 'same image' if not problems else 'DIFFERS: ' + '; '.join(problems)
    print(f'{new}: {verdict}; {old_size} -> {new_size} bytes ({100.0 * (new_size - old_size) / old_size:+.2f} %)')
    return not problems


def main(arguments):
    if len(arguments) < 2 or len(arguments) % 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    pairs = zip(arguments[0::2], arguments[1::2])
    return 0 if all([compare(old, new) for old, new in pairs]) else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
