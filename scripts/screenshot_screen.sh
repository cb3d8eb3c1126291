#!/usr/bin/env bash
# Builds the desktop program and takes pictures of it on a virtual screen of the given size (Xvfb
# with the openbox window manager, so the window has a title bar as on a desktop), with
# ImageMagick's import:
#   OUTPUT           the window with IMAGE reduced;
#   BATCH_OUTPUT     (when set) the batch list after a batch with failures: a second start with
#                    自動保存 on in its settings store takes a folder made for it (good photos, a
#                    damaged PNG, one too large, a file that is no image), and Ctrl+L opens the list.
# Usage: scripts/screenshot_screen.sh [WIDTHxHEIGHT] [OUTPUT.png] [IMAGE]
# Defaults: 1024x600, docs/screenshot-1024x600.png, the project's test card. WAIT_SECONDS (default
# 15) is how long a reduction (or the batch) is given.
set -euo pipefail
cd "$(dirname "$0")/.."

size="${1:-1024x600}"
output="${2:-docs/screenshot-${size}.png}"
image="${3:-}"
batch_output="${BATCH_OUTPUT:-}"
mkdir -p "$(dirname "$output")"
command -v xvfb-run >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null &&
    command -v openbox >/dev/null || scripts/bootstrap.sh

cmake --preset release >/dev/null
cmake --build --preset release --target tessaline tessaline-make-sample -j2
if [ -z "$image" ]; then
    image=build/release/sample/tessaline-card.png
    mkdir -p "$(dirname "$image")"
    build/release/cli/tessaline-make-sample "$image"
fi
batch_folder="$(mktemp -d)"
trap 'rm -rf "$batch_folder"' EXIT
# The window as a first start shows it, whatever settings this machine's user has kept.
export XDG_CONFIG_HOME="$batch_folder/.config"
if [ -n "$batch_output" ]; then
    cp "$image" "$batch_folder/card.png"
    cp tests/data/hostile/huge_dimensions.png "$batch_folder/huge.png"
    cp tests/data/hostile/truncated_in_idat.png "$batch_folder/truncated.png"
    head -c 300 /dev/zero >"$batch_folder/notes.jpg"
    build/release/cli/tessaline-make-sample "$batch_folder/second.png"
fi

# 96 dpi keeps the panel's dialog-unit layout at the size it was drawn for.
xvfb-run -a -s "-screen 0 ${size}x24 -dpi 96" bash -c '
    openbox &
    sleep 1
    build/release/app/tessaline "$1" &
    app=$!
    xdotool search --sync --name "Tessaline$" >/dev/null
    sleep "${WAIT_SECONDS:-15}"
    import -window root "$2"
    kill "$app"
    wait "$app" || true
    if [ -n "$3" ]; then
        # A second start with 自動保存 set in the settings store, so the batch does
        # not depend on where the box stands in the settings dock (the compact dock of a short
        # screen scrolls it out of view); the folder named on the command line is taken like a
        # drop, every image in it in the order tessaline-cli -r takes them.
        mkdir -p "$XDG_CONFIG_HOME/Tessaline"
        printf "[panel]\nauto-save=true\n" >"$XDG_CONFIG_HOME/Tessaline/Tessaline.conf"
        build/release/app/tessaline "$4" &
        app=$!
        window=$(xdotool search --sync --name "Tessaline$" | tail -1)
        sleep "${WAIT_SECONDS:-15}"
        xdotool windowactivate --sync "$window" key ctrl+l
        sleep 2
        import -window root "$3"
        kill "$app"
    fi
' screenshot "$image" "$output" "$batch_output" "$batch_folder"
echo "screenshot: $output"
[ -z "$batch_output" ] || echo "screenshot: $batch_output"
