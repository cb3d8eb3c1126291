#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Tessaline need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libpng-dev zlib1g-dev libdeflate-dev liblcms2-dev
    libgtest-dev libbenchmark-dev
    qt6-base-dev qt6-image-formats-plugins libgl-dev
    qt6-translations-l10n
    pngcheck xvfb xauth xdotool imagemagick fonts-noto-cjk openbox
    liblcms2-utils colord-data icc-profiles-free
    clang libclang-rt-dev libomp-dev valgrind strace
    help2man librsvg2-bin man-db
    lintian desktop-file-utils appstream bash-completion
    emscripten node-acorn chromium
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The web page's browser tests install puppeteer-core with npm; a Node.js from elsewhere brings its
# own npm, which Debian's package would fight.
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    SUDO=()
else
    SUDO=(sudo)
fi
echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
