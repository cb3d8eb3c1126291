#pragma once
// imageio/image_loader.h: how a file becomes the engine's input, the same for the window's drops
// and the command-line tool: the PNG reader first, then Qt's plugins through the guarded decoder.

#include <filesystem>

#include <QString>

#include "engine/colour_model.h"

namespace tessaline {

/// Fills `image` from the file at `path`. Only regular files are opened (WhyNotAnInput), so a FIFO
/// or a device is refused at once instead of blocking the caller. On failure returns false,
/// leaves `image` empty and, when `whyNot` is given, stores a short English reason. Never throws.
bool LoadImageFile(RgbaImage& image, const std::filesystem::path& path, QString* whyNot = nullptr);

} // namespace tessaline
