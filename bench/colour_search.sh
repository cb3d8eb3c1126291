#!/usr/bin/env bash
# The colour search replayed over the shared photographs: records every count of each photo as a
# probe and as a full reduction (once; about 15 minutes on two cores, kept in DIR), then replays the
# search over a few hundred quality and size targets in modelled time. Not part of ctest.
#   bench/colour_search.sh [build dir] [DIR]
# Pairs are priced per photo as measured by bench/targets.sh traces on two cores: two trials side by
# side cost 1.6 times one alone on fossa and painting-colors, 2.0 on kleiber, 1.16 on the sea.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
dir=${2:-${TMPDIR:-/tmp}/tessaline-colour-curves}
images=${TESSALINE_SHARED_DIR:-../shared}/testdata/images
if [ ! -d "$images" ]; then
    echo "colour search: no shared images in $images; nothing to measure"
    exit 0
fi
mkdir -p "$dir"
for photo in fossa kleiber large-sea painting-colors; do
    if [ ! -s "$dir/$photo.csv" ]; then
        echo "recording $photo"
        "$build/bench/tessaline-bench-colour-curves" "$images/photo-$photo.png" > "$dir/$photo.csv.part"
        mv "$dir/$photo.csv.part" "$dir/$photo.csv"
    fi
done
"$build/bench/tessaline-bench-colour-search" "$dir/painting-colors.csv:1.6" "$dir/fossa.csv:1.57" \
    "$dir/kleiber.csv:2.0" "$dir/large-sea.csv:1.16"
