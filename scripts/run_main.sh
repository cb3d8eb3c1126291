#!/usr/bin/env bash
# Sets up, builds and runs the main job: the project's own test card (smooth gradients, fine
# detail, translucent edges, a fully transparent area) is generated and reduced to an 8-bit
# palette PNG. With a display (DISPLAY or WAYLAND_DISPLAY set) and no arguments, the card opens in
# the desktop window, which reduces it at once; otherwise tessaline-cli reduces it, and extra
# arguments go to tessaline-cli (e.g. scripts/run_main.sh --colours 64).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target tessaline-cli tessaline-make-sample tessaline

sample_dir=build/release/sample
mkdir -p "$sample_dir"
build/release/cli/tessaline-make-sample "$sample_dir/tessaline-card.png"
echo "sample: $sample_dir/tessaline-card.png"

if [ $# -eq 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "window: build/release/app/tessaline (close it to end)"
    status=0
    build/release/app/tessaline "$sample_dir/tessaline-card.png" || status=$?
    # A normal close ends the window with 1.
    [ "$status" -le 1 ] || exit "$status"
    exit 0
fi

# The result goes where the desktop program's automatic save puts it: OUTPUT/ beside the source.
build/release/cli/tessaline-cli --timings "$@" -- "$sample_dir/tessaline-card.png"
echo "result: $(pwd)/$sample_dir/OUTPUT/tessaline-card.png"
