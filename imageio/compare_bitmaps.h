#pragma once
// imageio/compare_bitmaps.h: display bitmaps that help judge a result, each of the result's size in
// Format_ARGB32, so a view can show them in place of the result at the same zoom and scroll. A null
// QImage stands for "no bitmap", as in the bitmap bridge.

#include <cstdint>

#include <QImage>

#include "engine/colour_model.h"

namespace tessaline {

/// The error, in levels, at which the difference colours reach their end (and beyond which they
/// stay there). The scale is a square root, so the legend's marks 0, 4, 16 and 64 are equally apart.
inline constexpr int DifferenceScaleTop = 64;

/// The heat colour of a pixel error of `levels` (0 to 255): black for none, through blue, red and
/// orange, to pale yellow at DifferenceScaleTop and above. Opaque.
QRgb DifferenceColour(int levels);

/// Where `levels` sits on the difference scale, 0 to 1.
double DifferenceScalePosition(int levels);

/// Every pixel's error between `source` (as loaded) and `result` (engine/result_figures.h), as
/// heat colours. Null when the images do not match or memory runs out.
QImage MakeDifferenceBitmap(const RgbaImage& source, const IndexedImage& result);

/// A veil to draw over the result: clear where a pixel uses palette entry `index`, a translucent
/// grey everywhere else, so the entry's pixels stand out. Null for an empty result.
QImage MakeHighlightBitmap(const IndexedImage& result, int index);

} // namespace tessaline
