#!/bin/sh
# Builds the web page into build/web/ with Debian's emscripten (the `web` preset); with --serve it
# then serves that folder on http://localhost:8030/ (or PORT) until Ctrl+C.
set -eu
cd "$(dirname "$0")/.."
# Debian's emscripten runs its JavaScript tools with the node on PATH, which may not be Debian's
# own: point it at Debian's node modules (acorn) and keep Node's fetch from shadowing the module's.
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
export EM_NODE_JS="${EM_NODE_JS:-$(command -v node)}"
# The one library the page takes from npm (the batch's ZIP), pinned by web/package-lock.json.
if [ ! -f web/node_modules/fflate/umd/index.js ]; then
    (cd web && npm ci --no-audit --no-fund --loglevel=error)
fi
cmake --preset web >/dev/null
cmake --build --preset web -j "${JOBS:-2}"
echo "The page is in build/web/ (module: $(gzip -9c build/web/tessaline.wasm | wc -c) bytes gzip'd)."
if [ "${1:-}" = "--serve" ]; then
    port="${PORT:-8030}"
    echo "Serving http://localhost:$port/ (Ctrl+C ends)"
    exec python3 -m http.server "$port" --bind 127.0.0.1 --directory build/web
fi
