#pragma once
// imageio/colour_profile.h: an image's embedded ICC colour profile, applied through LittleCMS so
// that the engine sees the colours a colour-managed viewer shows. A profile that describes sRGB
// (or comes close enough that no pixel would move by more than a level) leaves the pixels as they
// are, byte for byte; any other RGB or grey profile converts them to sRGB with the perceptual
// intent. Alpha is never touched. A profile is untrusted input: one larger than MaxProfileBytes,
// damaged, or of a kind that cannot describe the image (CMYK, Lab, a device link) is ignored with
// a warning, and the pixels are taken as sRGB. Every call works in a LittleCMS context of its own,
// so conversions may run on several threads at once. Nothing here throws but std::bad_alloc.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "engine/colour_model.h"

namespace tessaline {

/// The largest profile looked at: real RGB profiles are a few hundred bytes (matrix and curves)
/// to a few hundred kilobytes (tables); 4 MiB leaves room for the largest camera profiles.
inline constexpr std::size_t MaxProfileBytes = std::size_t{4} << 20;

/// The longest profile description kept, in bytes.
inline constexpr std::size_t MaxProfileDescriptionBytes = 120;

/// What became of an image's embedded profile, for the front ends to say. Both empty: the image
/// had no profile, or an sRGB one.
struct ProfileOutcome
{
    std::string convertedFrom; ///< the description of the profile the pixels were converted from
    std::string warning;       ///< why an embedded profile was ignored ("colour profile ignored: ...")
};

/// The conversion one profile asks for, ready to run on rows of pixels.
class SrgbConversion
{
public:
    /// Reads `icc` for samples of `bitsPerSample` (8 or 16) bits.
    SrgbConversion(std::span<const std::uint8_t> icc, int bitsPerSample);
    ~SrgbConversion();
    SrgbConversion(const SrgbConversion&) = delete;
    SrgbConversion& operator=(const SrgbConversion&) = delete;

    /// True when the pixels must be converted; false for an sRGB profile or an ignored one.
    bool Needed() const;
    /// True for a grey profile, which reads only the first of R, G, B (equal in a grey image).
    bool ReadsGrey() const { return grey; }
    /// The outcome once the conversion has been applied (or, when not Needed, at once).
    const ProfileOutcome& Outcome() const { return outcome; }

    /// Converts `count` pixels of 8-bit R, G, B, A in place.
    void ConvertRgba8(std::uint8_t* pixels, std::size_t count) const;
    /// Converts `count` pixels of 16-bit R, G, B, A in the machine's byte order into the 8-bit R,
    /// G, B of `out` (4 bytes per pixel); the alpha bytes of `out` are left as they are.
    void ConvertRgba16(const std::uint16_t* in, std::uint8_t* out, std::size_t count) const;

private:
    struct Transform;
    std::unique_ptr<Transform> transform; ///< null unless Needed
    ProfileOutcome outcome;
    bool grey = false;
};

/// Converts the 8-bit `image` from `icc` to sRGB when the profile asks for it (rows at a time);
/// says what was done. An empty `icc` does nothing.
ProfileOutcome ConvertToSrgb(RgbaImage& image, std::span<const std::uint8_t> icc);

} // namespace tessaline
