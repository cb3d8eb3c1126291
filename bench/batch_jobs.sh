#!/usr/bin/env bash
# Times a batch of the shared 768x512 photographs with -j 1 and with -j N (default 2), checks that
# both write the same bytes, and prints the ratio. Also times -j N with two OpenMP threads per file
# (OMP_NUM_THREADS=2N), to show whether the threads inside a reduction and the files side by side
# fight. Not part of ctest; speed belongs here. The machine's load is printed with the figures.
#   bench/batch_jobs.sh [path/to/tessaline-cli] [copies of each photo (default 4)] [N (default 2)]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build/release/cli/tessaline-cli}
copies=${2:-4}
jobs=${3:-2}
images=${TESSALINE_SHARED_DIR:-../shared}/testdata/images
if [ ! -d "$images" ]; then
    echo "batch_jobs: no shared images in $images; nothing to measure"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
for image in "$images"/photo-fossa.png "$images"/photo-kleiber.png "$images"/photo-painting-colors.png; do
    for ((i = 0; i < copies; i++)); do cp "$image" "$work/in/$(basename "$image" .png)-$i.png"; done
done
files=$(ls "$work/in" | wc -l)
processors=$(nproc)

run() { # label, output folder, then environment and options
    local label=$1 out=$2
    shift 2
    /usr/bin/time -f '%e %U %S' -o "$work/time" env "$@" --quiet --output-dir "$work/$out" "$work"/in/*.png
    read -r wall user sys <"$work/time"
    awk -v l="$label" -v w="$wall" -v c="$user" -v s="$sys" 'BEGIN { printf "%-34s %8.2f %8.2f\n", l, w, c + s }'
    echo "$wall" >"$work/$out.wall"
}

echo "$files photos of 768x512, $processors processors; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-34s %8s %8s\n' run wall_s cpu_s
run "-j 1" one "$cli" -j 1
run "-j $jobs" many "$cli" -j "$jobs"
run "-j $jobs, 2 threads per file" fight OMP_NUM_THREADS=$((2 * jobs)) "$cli" -j "$jobs"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
same=yes
for result in "$work"/one/*.png; do
    cmp -s "$result" "$work/many/$(basename "$result")" || same=no
    cmp -s "$result" "$work/fight/$(basename "$result")" || same=no
done
echo "results byte-identical: $same"
awk -v a="$(cat "$work/one.wall")" -v b="$(cat "$work/many.wall")" -v c="$(cat "$work/fight.wall")" -v j="$jobs" \
    'BEGIN { printf "-j %d / -j 1 = %.2f (2 threads per file: %.2f)\n", j, b / a, c / a }'
