#!/usr/bin/env bash
# Builds the fuzz preset and runs one libFuzzer target for a while over its seed corpus.
#   scripts/fuzz.sh TARGET SECONDS      e.g. scripts/fuzz.sh png_reader 600
# Targets: png_reader (the PNG reader), bitmap_decode (Qt's decoders and the bitmap bridge),
# reduce (BuildReduceJob and the whole reduction on small images, with the PNG writer),
# colour_profile (an embedded ICC profile read and applied; try also /usr/share/color/icc as seeds).
# New inputs go to build/fuzz/corpus/TARGET (the committed seeds stay untouched); crashes to
# build/fuzz/crashes/TARGET. Replay a crash with build/release/tests/fuzz/TARGET_replay FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: scripts/fuzz.sh TARGET SECONDS}
seconds=${2:?usage: scripts/fuzz.sh TARGET SECONDS}
seeds=tests/fuzz/corpus/$target
[ -d "$seeds" ] || { echo "fuzz.sh: no seed corpus $seeds" >&2; exit 2; }

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${target}_fuzz" -j "${FUZZ_BUILD_JOBS:-2}"

corpus=build/fuzz/corpus/$target
crashes=build/fuzz/crashes/$target
mkdir -p "$corpus" "$crashes"
exec build/fuzz/tests/fuzz/"${target}_fuzz" "$corpus" "$seeds" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$crashes/" -print_final_stats=1
