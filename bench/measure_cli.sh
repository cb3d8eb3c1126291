#!/usr/bin/env bash
# Times tessaline-cli at default settings on the shared photographs: wall and processor seconds,
# peak resident memory and that memory per pixel. Not part of ctest; speed belongs here.
#   bench/measure_cli.sh [path/to/tessaline-cli] [extra tessaline-cli options...]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build/release/cli/tessaline-cli}
shift || true
images=${TESSALINE_SHARED_DIR:-../shared}/testdata/images
if [ ! -d "$images" ]; then
    echo "measure_cli: no shared images in $images; nothing to measure"
    exit 0
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '%-28s %11s %8s %8s %10s %8s\n' image pixels wall_s cpu_s peak_MiB B/pixel
for image in "$images"/photo-*.png; do
    name=$(basename "$image")
    size=$(python3 -c "import struct,sys; d=open(sys.argv[1],'rb').read(24); print(*struct.unpack('>II', d[16:24]))" "$image")
    pixels=$(( ${size% *} * ${size#* } ))
    /usr/bin/time -f '%e %U %S %M' -o "$out/time" "$cli" --quiet "$@" -o "$out/$name" "$image"
    read -r wall user sys rss <"$out/time"
    awk -v n="$name" -v p="$pixels" -v w="$wall" -v u="$user" -v s="$sys" -v r="$rss" \
        'BEGIN { printf "%-28s %11d %8.2f %8.2f %10.1f %8.1f\n", n, p, w, u + s, r / 1024, r * 1024 / p }'
done
