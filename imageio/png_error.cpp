#include "imageio/png_error.h"

namespace tessaline {

void PngErrorToException(png_structp, png_const_charp message)
{
    throw PngError(message != nullptr ? message : "libpng error");
}

void PngIgnoreWarning(png_structp, png_const_charp)
{
}

} // namespace tessaline
