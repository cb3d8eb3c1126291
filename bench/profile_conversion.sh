#!/usr/bin/env bash
# How close a photo tagged with a colour profile comes out to what a colour-managed viewer shows.
# For each of colord's Adobe RGB, Wide Gamut RGB and swapped-channel profiles: ImageMagick converts
# the (sRGB) photo into the profile and embeds it; the truth is that tagged copy converted back to
# sRGB by ImageMagick (perceptual intent), and a second truth, the same tagged copy (as TIFF)
# converted by LittleCMS's own tificc to its built-in sRGB (perceptual intent); each tessaline-cli
# reduces the tagged copy, and its result is compared with both truths. The untagged photo's own result against the photo is the
# yardstick: a tool that honours the profile lands within about 1 dB of it. PSNR by ImageMagick's
# compare (8-bit RGB, dB). On a photo whose own result is nearly exact (painting-colors, about 65
# dB) the yardstick is out of reach of the ImageMagick truth: its conversion and LittleCMS's with its
# own sRGB already differ by a level here and there (about 52 dB), which bounds any tool; the tificc
# truth has no such offset. The tificc column is left out when tificc (liblcms2-utils) is missing.
# Not part of ctest.
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
tificc=$(command -v tificc || true)
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
    header=""
    for cli in ${before:+before} after; do
        header="$header | $cli dB (IM) | $cli - untagged (IM)"
        [ -n "$tificc" ] && header="$header | $cli dB (tificc) | $cli - untagged (tificc)"
    done
    header="| profile$header"
    echo "$header |"
    echo "$header |" | sed 's/[^|][^|]*|/---|/g'
    for profile in AdobeRGB1998 WideGamutRGB SwappedRedAndGreen; do
        [ -f "$icc/$profile.icc" ] || continue
        "$convert" "$photo" -profile "$icc/sRGB.icc" -profile "$icc/$profile.icc" "$work/$profile.png"
        "$convert" "$work/$profile.png" -intent Perceptual -profile "$icc/sRGB.icc" -strip "$work/$profile-truth.png"
        truths=("$work/$profile-truth.png")
        if [ -n "$tificc" ]; then
            # The very same tagged copy as an uncompressed 8-bit TIFF with its profile embedded;
            # tificc takes the embedded profile as input and writes plain 8-bit sRGB numbers.
            "$convert" "$work/$profile.png" -depth 8 -compress None "$work/$profile.tif"
            # tificc prints its banner on stderr even when it succeeds: show it only on failure.
            "$tificc" -t0 -w8 -o'*sRGB' "$work/$profile.tif" "$work/$profile-lcms.tif" 2>"$work/tificc.log" ||
                { cat "$work/tificc.log" >&2; exit 1; }
            "$convert" "$work/$profile-lcms.tif" -strip "$work/$profile-truth-lcms.png"
            truths+=("$work/$profile-truth-lcms.png")
        fi
        row="| $profile"
        for cli in $before $after; do
            "$cli" --quiet -o "$work/$profile-out.png" "$work/$profile.png"
            for truth in "${truths[@]}"; do
                value=$(psnr "$work/$profile-out.png" "$truth")
                row="$row | $value | $(awk -v a="$value" -v b="$own" 'BEGIN { printf "%+.2f", a - b }')"
            done
        done
        echo "$row |"
    done
done
