#pragma once
// imageio/bitmap_plugin.h: the Qt bitmap reader as a module loaded at run time. The command-line
// tool loads it only when an input is not a PNG: linking Qt Gui into the tool would load Gui's
// forty-odd libraries (X11, GL, fonts, ICU) at every start, a tenth of a small photograph's run.

#include "imageio/bitmap_reader.h"

namespace tessaline {

/// The module's one exported function, by name: returns the reader, ready to use. The name
/// changes with the reader's interface, so that a module left from another version is refused.
inline constexpr const char* BitmapPluginEntry = "TessalineBitmapReader2";
using BitmapPluginEntryFunction = BitmapReader* (*)();

} // namespace tessaline
