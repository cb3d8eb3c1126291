#!/usr/bin/env bash
# Builds the desktop application, opens its window under Xvfb, drops a test card (or the image
# given as $2) onto it, waits for the reduced result and saves a picture of the window.
# Usage: scripts/screenshot.sh [OUTPUT.png] [SAMPLE-IMAGE [difference|curve]]
#        (default output: docs/screenshot.png; "difference" shows the difference view, "curve"
#        the colour curve once measured)
set -euo pipefail
cd "$(dirname "$0")/.."

output="${1:-docs/screenshot.png}"
mkdir -p "$(dirname "$output")"
command -v xvfb-run >/dev/null || scripts/bootstrap.sh

cmake --preset release >/dev/null
cmake --build --preset release --target tessaline tessaline-screenshot -j2

# The window as a first start shows it, whatever settings this machine's user has kept.
XDG_CONFIG_HOME="$(mktemp -d)"
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
# 96 dpi keeps the panel's dialog-unit layout at the size it was drawn for.
xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" \
    build/release/tests/app/tessaline-screenshot "$output" ${2:+"$2"} ${3:+"$3"}
echo "screenshot: $output"
