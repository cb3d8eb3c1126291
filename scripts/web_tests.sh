#!/bin/sh
# Drives the built web page (build/web, scripts/build_web.sh) in headless chromium and compares its
# results with tessaline-cli's (TESSALINE_BUILD_DIR, default build/release). Exits 77 (skipped)
# with a message when chromium or the built page is missing. Installs the pinned puppeteer-core
# (tests/web/package-lock.json; no browser download) on first use.
set -eu
cd "$(dirname "$0")/.."
chromium="${CHROMIUM:-/usr/bin/chromium}"
if [ ! -x "$chromium" ]; then
    echo "web page tests skipped: no chromium at $chromium (scripts/bootstrap.sh installs Debian's)"
    exit 77
fi
if [ ! -f build/web/tessaline.wasm ]; then
    echo "web page tests skipped: the page is not built (scripts/build_web.sh)"
    exit 77
fi
if [ ! -d tests/web/node_modules/puppeteer-core ]; then
    (cd tests/web && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
fi
export CHROMIUM="$chromium"
exec node --test tests/web/web_page.test.mjs
