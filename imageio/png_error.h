#pragma once
// imageio/png_error.h: how libpng's errors leave libpng. The reader and the writer give libpng the
// same error callback, which throws; their libpng structures belong to guards whose destructors
// release them, so every exit frees everything.
//
// Why an exception rather than setjmp/longjmp: a longjmp out of libpng would skip the
// destructors of our own frames (buffers, guards, the open file) and is undefined behaviour in
// C++ when it does. A C++ exception unwinds libpng's C frames by their unwind tables, which GCC
// and Clang emit for C code on every 64-bit target we build for (Debian's libpng16 carries
// .eh_frame), and then runs our destructors normally. libpng keeps no state on its stack that
// needs cleaning: png_destroy_*_struct frees all of it afterwards, just as after a longjmp.
// MSVC must then compile with /EHs (not /EHsc), which does not assume C functions never throw.

#include <png.h>

#include <stdexcept>
#include <string>

namespace tessaline {

/// A libpng error, carrying libpng's message ("Read error", "Not a PNG file", ...).
class PngError : public std::runtime_error
{
public:
    explicit PngError(const std::string& message) : std::runtime_error(message) {}
};

/// The error callback given to libpng: throws PngError with libpng's message; never returns.
[[noreturn]] void PngErrorToException(png_structp png, png_const_charp message);

/// A warning callback that drops libpng's warnings: they never stop reading and are not reported.
void PngIgnoreWarning(png_structp png, png_const_charp message);

} // namespace tessaline
