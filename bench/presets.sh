#!/usr/bin/env bash
# Time and quality of each --preset on the shared photographs: the milliseconds and the PSNR (over
# black and white, in dB) that tessaline-cli's own report gives for every photo, one file at a
# time. Not part of ctest; speed belongs here. Prints the machine's load with the figures.
#   bench/presets.sh [path/to/tessaline-cli] [extra tessaline-cli options...]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build/release/cli/tessaline-cli}
shift || true
images=${TESSALINE_SHARED_DIR:-../shared}/testdata/images
if [ ! -d "$images" ]; then
    echo "presets: no shared images in $images; nothing to measure"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for preset in fast balanced default best; do
    "$cli" --quiet --preset "$preset" "$@" --output-dir "$work/$preset" --report "$work/$preset.jsonl" \
        "$images"/photo-*.png
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$work" <<'PY'
import json, os, sys
work = sys.argv[1]
rows = {p: [json.loads(l) for l in open(os.path.join(work, p + ".jsonl"))] for p in ("fast", "balanced", "default", "best")}
names = [os.path.basename(r["input"]) for r in rows["default"]]
print("| photo | " + " | ".join(f"{p} ms | {p} PSNR" for p in rows) + " |")
print("|---" * (1 + 2 * len(rows)) + "|")
for name in names:
    cells = []
    for p, records in rows.items():
        r = next(r for r in records if os.path.basename(r["input"]) == name)
        cells += [str(r["ms"]), "%.2f" % r["psnr"] if r["psnr"] is not None else "exact"]
    print(f"| {name} | " + " | ".join(cells) + " |")
totals = []
for p, records in rows.items():
    totals += [str(sum(r["ms"] for r in records)), "%.2f" % (sum(r["psnr"] for r in records) / len(records))]
print("| all (sum ms, mean PSNR) | " + " | ".join(totals) + " |")
PY
