#pragma once
// app/save_name.h: the name the save dialog proposes for a result. Never the source itself, nor
// any other file the session took in, nor a file that exists: the source's name with the
// palette's size, beside it ("photo.png" with 256 colours gives "photo-256.png"), then
// "photo-256-2.png", "photo-256-3.png" and so on until a name is free. The user may still pick
// any name; the dialog asks before replacing one.

#include <filesystem>

#include "imageio/output_files.h"

namespace tessaline {

/// The proposal for the result of `source` with `colours` palette entries; `taken` holds the
/// session's inputs. Gives up after a thousand names, returning the last one tried.
std::filesystem::path SaveNameFor(const std::filesystem::path& source, int colours,
                                  const ProtectedFiles& taken);

} // namespace tessaline
