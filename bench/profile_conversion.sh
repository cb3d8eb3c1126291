#!/usr/bin/env bash
# How close a photo tagged with a colour profile comes out to what a colour-managed viewer shows.
# For each of colord's Adobe RGB, Wide Gamut RGB and swapped-channel profiles: ImageMagick converts
# the (sRGB) photo into the profile and embeds it; the truth is that tagged copy converted back to
# sRGB by ImageMagick (perceptual intent); each tessaline-cli reduces the tagged copy, and its
# result is compared with the truth. The untagged photo's own result against the photo is the
# yardstick: a tool that honours the profile lands within about 1 dB of it. PSNR by ImageMagick's
# compare (8-bit RGB, dB). On a photo whose own result is nearly exact (painting-colors, about 65
# dB) the yardstick is out of reach: ImageMagick's conversion and LittleCMS's with its own sRGB
# already differ by a level here and there (about 52 dB), which bounds any tool. Not part of ctest.
#   bench/profile_conversion.sh [AFTER_CLI] [BEFORE_CLI] [PHOTO...]
set -euo pipefail
cd "$(dirname "$0")/.."
after=${1:-build/release/cli/tessaline-cli}
before=${2:-}
shift 2 || shift $#
images=${TESSALINE_SHARED_DIR:-../shared}/testdata/images
photos=("$@")
[ ${#photos[@]} -gt 0 ] || photos=("$images/photo-painting-colors.png" "$images/photo-fossa.png" "$images/photo-kleiber.png")
icc=/usr/share/color/icc/colord
# The real ImageMagick 6 binaries, whatever else is first on the PATH.
convert=$(command -v convert-im6.q16 || command -v convert)
compare=$(command -v compare-im6.q16 || command -v compare)
if [ ! -f "${photos[0]}" ] || [ ! -d "$icc" ]; then
    echo "profile_conversion: needs ${photos[0]} and colord's profiles in $icc; nothing to measure"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

psnr() { "$compare" -metric PSNR "$1" "$2" null: 2>&1 | cut -d' ' -f1 || true; }

for photo in "${photos[@]}"; do
    "$after" --quiet -o "$work/plain.png" "$photo"
    own=$(psnr "$work/plain.png" "$photo")
    echo
    echo "photo: $(basename "$photo"); untagged result against the photo: $own dB"
    header="| profile | after dB | after - untagged"
    [ -n "$before" ] && header="| profile | before dB | before - untagged | after dB | after - untagged"
    echo "$header |"
    echo "$header |" | sed 's/[^|][^|]*|/---|/g'
    for profile in AdobeRGB1998 WideGamutRGB SwappedRedAndGreen; do
        [ -f "$icc/$profile.icc" ] || continue
        "$convert" "$photo" -profile "$icc/sRGB.icc" -profile "$icc/$profile.icc" "$work/$profile.png"
        "$convert" "$work/$profile.png" -intent Perceptual -profile "$icc/sRGB.icc" -strip "$work/$profile-truth.png"
        row="| $profile"
        for cli in $before $after; do
            "$cli" --quiet -o "$work/$profile-out.png" "$work/$profile.png"
            value=$(psnr "$work/$profile-out.png" "$work/$profile-truth.png")
            row="$row | $value | $(awk -v a="$value" -v b="$own" 'BEGIN { printf "%+.2f", a - b }')"
        done
        echo "$row |"
    done
done
