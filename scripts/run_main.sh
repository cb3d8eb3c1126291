#!/usr/bin/env bash
# Sets up, builds and runs the main job: the project's own test card (smooth gradients, fine
# detail, translucent edges, a fully transparent area) is generated and reduced by tessaline-cli
# to an 8-bit palette PNG. Extra arguments go to tessaline-cli (e.g. scripts/run_main.sh --colours 64).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target tessaline-cli tessaline-make-sample

sample_dir=build/release/sample
mkdir -p "$sample_dir"
build/release/cli/tessaline-make-sample "$sample_dir/tessaline-card.png"
echo "sample: $sample_dir/tessaline-card.png"

# The result goes where the desktop program's automatic save puts it: OUTPUT/ beside the source.
build/release/cli/tessaline-cli --timings "$@" -- "$sample_dir/tessaline-card.png"
echo "result: $(pwd)/$sample_dir/OUTPUT/tessaline-card.png"
