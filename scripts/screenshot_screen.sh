#!/usr/bin/env bash
# Builds the desktop program, starts it on a virtual screen of the given size (Xvfb, no window
# manager: the window takes the screen as far as its size allows) with IMAGE as its argument,
# waits for the reduction and takes a picture of the whole screen with ImageMagick's import.
# Usage: scripts/screenshot_screen.sh [WIDTHxHEIGHT] [OUTPUT.png] [IMAGE]
# Defaults: 1024x600, docs/screenshot-1024x600.png, the project's test card. WAIT_SECONDS (default
# 15) is how long the reduction is given.
set -euo pipefail
cd "$(dirname "$0")/.."

size="${1:-1024x600}"
output="${2:-docs/screenshot-${size}.png}"
image="${3:-}"
mkdir -p "$(dirname "$output")"
command -v xvfb-run >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null || scripts/bootstrap.sh

cmake --preset release >/dev/null
cmake --build --preset release --target tessaline tessaline-make-sample -j2
if [ -z "$image" ]; then
    image=build/release/sample/tessaline-card.png
    mkdir -p "$(dirname "$image")"
    build/release/cli/tessaline-make-sample "$image"
fi

# 96 dpi keeps the panel's dialog-unit layout at the size it was drawn for.
xvfb-run -a -s "-screen 0 ${size}x24 -dpi 96" bash -c '
    build/release/app/tessaline "$1" &
    app=$!
    xdotool search --sync --name "^Tessaline$" >/dev/null
    sleep "${WAIT_SECONDS:-15}"
    import -window root "$2"
    kill "$app"
' screenshot "$image" "$output"
echo "screenshot: $output"
