#pragma once
// imageio/qt_bitmap_reader.h: the bitmap reader on Qt's image plugins, through the guarded
// decoder and the bitmap bridge.

#include "imageio/bitmap_reader.h"

namespace tessaline {

/// The one reader on Qt's plugins; usable from any thread.
BitmapReader& QtBitmaps();

} // namespace tessaline
