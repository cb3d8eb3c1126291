#!/usr/bin/env bash
# Installs the peers bench/peers.py compares Tessaline with: ImageMagick, ffmpeg and butteraugli
# (Debian's libjxl-devtools) from Debian, and image-q 4 with npm into bench/peers/node_modules
# (git-ignored; nothing of it enters the product). Idempotent.
set -euo pipefail
cd "$(dirname "$0")"

packages=(imagemagick ffmpeg libjxl-devtools nodejs python3)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup_peers: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${SUDO[@]}" apt-get update -qq
    "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Some nodejs builds carry npm, Debian's own does not.
command -v npm >/dev/null || "${SUDO[@]}" apt-get install -y -qq --no-install-recommends npm

if [ ! -d peers/node_modules/image-q ] || [ ! -d peers/node_modules/pngjs ]; then
    (cd peers && npm install --no-audit --no-fund --no-save)
fi
