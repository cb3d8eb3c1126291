#pragma once
// app/reduced_copies.h: an image's area-averaged copies at 1/2, 1/4, 1/8 and so on, made once
// (off the UI thread where the image is large) so that a reduced view shows what the pixels
// average to: a thin line of a dithered result stays a faint line instead of breaking into the
// dots that sampling every fourth or eighth pixel leaves. Each copy is a 2 x 2 box average of the
// one before, computed on premultiplied colour so that transparent pixels lend no colour.

#include <vector>

#include <QImage>

namespace tessaline {

struct ReducedCopies
{
    /// levels[k] is the image at 1/2^(k+1) (ARGB32 premultiplied, sides rounded up).
    std::vector<QImage> levels;
    /// The image the copies were made of (its cacheKey), so a stale set is never drawn.
    qint64 of = 0;
    bool Empty() const { return levels.empty(); }
};

/// The 2 x 2 box average of `image` (any format), premultiplied; an odd last row or column
/// averages the pixels it has. A null image when there is no memory for it.
QImage HalveByArea(const QImage& image);

/// The copies of `image` down to the level whose longer side is at most `smallest` pixels, or to
/// 1/`deepest`. Empty for a null image; stops early (with fewer levels) when memory runs out.
ReducedCopies MakeReducedCopies(const QImage& image, int smallest = 64, int deepest = 256);

} // namespace tessaline
