#!/usr/bin/env bash
# What a colour-count target costs against one default reduction, on the shared photographs: for
# each photo the best of N runs (default 3) of a plain run and of each target run, the count each
# target chose and the reductions it ran. The times are the report's whole-input milliseconds (read,
# reduced, measured, written), so both sides carry the same load and write. Not part of ctest.
#   bench/targets.sh [path/to/tessaline-cli] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build/release/cli/tessaline-cli}
runs=${2:-3}
images=${TESSALINE_SHARED_DIR:-../shared}/testdata/images
if [ ! -d "$images" ]; then
    echo "targets: no shared images in $images; nothing to measure"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
targets=("" "--min-psnr 38" "--min-psnr 42" "--max-bytes 100k")
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for run in $(seq "$runs"); do
    for i in "${!targets[@]}"; do
        # shellcheck disable=SC2086
        "$cli" --quiet ${targets[$i]} --output-dir "$work/out$i" --report "$work/t$i-$run.jsonl" \
            "$images"/photo-*.png || true
    done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$work" "$runs" "${targets[@]}" <<'PY'
import glob, json, os, sys
work, runs, targets = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
best = {}
for i in range(len(targets)):
    for path in glob.glob(os.path.join(work, f"t{i}-*.jsonl")):
        for line in open(path):
            r = json.loads(line)
            key = (i, os.path.basename(r["input"]))
            if key not in best or r["ms"] < best[key]["ms"]:
                best[key] = r
names = sorted({k[1] for k in best})
head = "| photo | default ms |"
for t in targets[1:]:
    head += f" `{t}`: colours, reductions, ms, × default |"
print(head)
print("|---" * (2 + len(targets) - 1) + "|")
sums = [0] * len(targets)
for name in names:
    base = best[(0, name)]["ms"]
    cells = [str(base)]
    sums[0] += base
    for i in range(1, len(targets)):
        r = best[(i, name)]
        sums[i] += r["ms"]
        mark = "" if r["status"] == "ok" else f" ({r['status']})"
        cells.append(f"{r['palette_size']}{mark}, {r['trials']}, {r['ms']}, {r['ms'] / base:.1f}×")
    print(f"| {name} | " + " | ".join(cells) + " |")
print("| all (sum) | " + str(sums[0]) + " | " +
      " | ".join(f"{sums[i]} ms, {sums[i] / sums[0]:.1f}×" for i in range(1, len(targets))) + " |")
PY
