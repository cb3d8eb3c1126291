#pragma once
// imageio/file_stream.h: C streams opened from a std::filesystem::path, closed by their owner.
// The path's native form is used, so Japanese, spaced and long names work on every platform.

#include <cstdio>
#include <filesystem>
#include <memory>

namespace tessaline {

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

/// An open stream that closes itself; null when the file could not be opened.
using FileStream = std::unique_ptr<std::FILE, FileCloser>;

/// Opens `path` with a binary mode ("rb" or "wb"). Never throws.
inline FileStream OpenFile(const std::filesystem::path& path, bool forWriting)
{
#if defined(_WIN32)
    return FileStream(_wfopen(path.c_str(), forWriting ? L"wb" : L"rb"));
#else
    return FileStream(std::fopen(path.c_str(), forWriting ? "wb" : "rb"));
#endif
}

} // namespace tessaline
