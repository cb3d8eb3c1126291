#include "imageio/bitmap_plugin.h"

#include <type_traits>

#include <QImageReader>
#include <QtGlobal>

#include "imageio/image_limits.h"
#include "imageio/qt_bitmap_reader.h"

extern "C" Q_DECL_EXPORT tessaline::BitmapReader* TessalineBitmapReader2()
{
    // Qt's own limit (256 MiB by default) would refuse images the PNG reader accepts.
    QImageReader::setAllocationLimit(static_cast<int>((tessaline::MaxImagePixels * 4) >> 20)); // in MiB
    return &tessaline::QtBitmaps();
}

// The entry's type is the one the loader resolves it as.
static_assert(std::is_same_v<decltype(&TessalineBitmapReader2), tessaline::BitmapPluginEntryFunction>);
