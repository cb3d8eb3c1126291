#pragma once
// cli/bitmap_plugin_loader.h: the bitmap reader of the command-line tool, which loads the Qt
// bitmap module the first time a file is not a PNG. Found beside the program (the build tree) or
// where the package installs it, relative to the program.

#include "imageio/bitmap_reader.h"

namespace tessaline {

/// The reader; loading happens once, on first use, from any thread. Without the module every
/// non-PNG file is refused with a reason that names it. Needs the QCoreApplication.
BitmapReader& PluginBitmaps();

} // namespace tessaline
