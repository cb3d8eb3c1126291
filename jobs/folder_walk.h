#pragma once
// jobs/folder_walk.h: the image files under a folder, as a batch takes them (the command line's
// -r, a folder dropped on the window). Walked in name order, byte by byte, so that every run sees
// the same list. Hidden files and folders, the tools' own OUTPUT folders, one given folder to
// skip and links to folders are left out; files are taken by their content, whatever their
// extension, and a file that cannot be opened is taken too (it then fails with its reason, as
// when named directly).

#include <atomic>
#include <filesystem>
#include <optional>
#include <vector>

#include <QString>

#include "imageio/bitmap_reader.h"

namespace tessaline {

struct WalkedFile
{
    std::filesystem::path path;
    std::filesystem::path subfolder;  ///< its folder below the walked one
    std::optional<QString> walkError; ///< a folder that could not be read (path): the reason
};

/// Appends the files under `folder` to `found` in walk order. `skipFolder` (may be empty) is
/// never walked into; `bitmaps` tells image files by their content. Once `stop` (may be null) is
/// set the walk ends where it is, leaving `found` short. Never throws but std::bad_alloc.
void WalkFolder(const std::filesystem::path& folder, const std::filesystem::path& skipFolder, BitmapReader& bitmaps,
                std::vector<WalkedFile>& found, const std::atomic<bool>* stop = nullptr);

} // namespace tessaline
