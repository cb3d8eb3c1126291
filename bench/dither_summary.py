#!/usr/bin/env python3
"""Summarises tessaline-bench-dither CSV files written with --against (and --undithered):
per image, how many results changed and by how many pixels, the mean PSNR and blurred PSNR before
and after, and the counts that break the dithering property before and after: blurred PSNR more
than 1.5 dB below the undithered result's, or (from 16 colours) any pixel straying more than 64
levels.
    bench/dither_summary.py FILE.csv...
"""
import csv
import sys
from collections import defaultdict


def breaks(row, prefix):
    blurred = float(row[prefix + "blurred_psnr"])
    stray = int(row[prefix + "stray"])
    plain = row.get("undithered_blurred_psnr") or ""
    lossy = plain != "" and blurred < float(plain) - 1.5
    return lossy or (int(row["colours"]) >= 16 and stray > 0)


def main(paths):
    groups = defaultdict(list)
    for path in paths:
        with open(path, newline="") as f:
            for row in csv.DictReader(f):
                if row.get("changed_pixels"):
                    groups[row["image"]].append(row)
    print("image | results | changed | changed pixels (max) | PSNR before / after | blurred before / after"
          " | breaking before / after")
    for image, rows in sorted(groups.items()):
        changed = [r for r in rows if int(r["changed_pixels"]) > 0]
        pixels = [int(r["changed_pixels"]) for r in changed]
        mean = lambda key, rs=rows: sum(float(r[key]) for r in rs) / len(rs)
        broken_before = [r["colours"] for r in rows if breaks(r, "before_")]
        broken_after = [r["colours"] for r in rows if breaks(r, "")]
        print(f"{image} | {len(rows)} | {len(changed)} | {sum(pixels)} ({max(pixels, default=0)}) | "
              f"{mean('before_psnr'):.2f} / {mean('psnr'):.2f} | "
              f"{mean('before_blurred_psnr'):.2f} / {mean('blurred_psnr'):.2f} | "
              f"{','.join(broken_before) or '-'} / {','.join(broken_after) or '-'}")


if __name__ == "__main__":
    main(sys.argv[1:])
