#pragma once
// imageio/bitmap_bridge.h: conversions between display bitmaps (QImage, Format_ARGB32: straight
// alpha, bytes B, G, R, A on little-endian machines) and the engine's images, whose bytes are
// R, G, B, A. A null QImage stands for "no bitmap": every function here returns one instead of
// failing any other way. Sizes are checked against the limits image files have
// (WithinImageLimits, imageio/image_limits.h) before anything is allocated.

#include <QImage>

#include "engine/colour_model.h"

namespace tessaline {

/// Replaces `image` with the pixels of `bitmap` (converted to Format_ARGB32 first when it is in
/// another format; opaque formats get alpha 255), gamma InternalGamma, sourceBytes 0. Returns
/// false, leaving `image` empty with every field zero, when the bitmap is null, empty or beyond
/// the limits, cannot be converted, or memory runs out.
bool LoadFromBitmap(RgbaImage& image, const QImage& bitmap);

/// A Format_ARGB32 copy of the rectangle (0, 0, width, height) of `bitmap`, or a null image when
/// the rectangle is empty or leaves the bitmap, or the copy cannot be made.
QImage CloneToArgb(const QImage& bitmap, int width, int height);

/// A Format_ARGB32 bitmap of `image`'s pixels; null when the image is empty, inconsistent, too
/// large or memory runs out.
QImage MakeSourceBitmap(const RgbaImage& image);

/// A Format_ARGB32 bitmap of `image` through its palette, showing what the PNG writer stores:
/// entries at or after transparentCount are opaque. Null as for MakeSourceBitmap.
QImage MakeResultBitmap(const IndexedImage& image);

} // namespace tessaline
