// libFuzzer target: an embedded colour profile on arbitrary bytes, as the PNG reader and Qt's
// readers hand one over. Reading it must not crash, hang or leak; a conversion it allows must
// leave every alpha byte as it was, at 8 and at 16 bits.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "imageio/colour_profile.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Every corner and a few mid-tones of the cube, each with its own alpha.
constexpr std::size_t Pixels = 64;

std::uint8_t Sample(std::size_t pixel, std::size_t channel)
{
    return static_cast<std::uint8_t>((pixel >> (2 * channel) & 3) * 85 + (channel == 3 ? 1 : 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> icc(data, size);
    std::array<std::uint8_t, Pixels * 4> rgba{};
    std::array<std::uint16_t, Pixels * 4> wide{};
    for (std::size_t i = 0; i < Pixels; ++i)
        for (std::size_t c = 0; c < 4; ++c) {
            rgba[4 * i + c] = Sample(i, c);
            wide[4 * i + c] = static_cast<std::uint16_t>(Sample(i, c) * 257);
        }
    for (const int bits : {8, 16}) {
        const tessaline::SrgbConversion conversion(icc, bits);
        const tessaline::ProfileOutcome& outcome = conversion.Outcome();
        Check(!(conversion.Needed() && outcome.convertedFrom.empty()));
        Check(conversion.Needed() || outcome.convertedFrom.empty());
        Check(outcome.convertedFrom.size() <= tessaline::MaxProfileDescriptionBytes);
        std::array<std::uint8_t, Pixels* 4> out = rgba;
        if (bits == 8)
            conversion.ConvertRgba8(out.data(), Pixels);
        else
            conversion.ConvertRgba16(wide.data(), out.data(), Pixels);
        for (std::size_t i = 0; i < Pixels; ++i)
            Check(out[4 * i + 3] == rgba[4 * i + 3]);
    }
    // The whole-image form, on a grey image and a colour one.
    for (const bool grey : {true, false}) {
        tessaline::RgbaImage image = tessaline::CreateRgbaImage(8, 8);
        for (std::size_t i = 0; i < image.pixels.size(); ++i)
            image.pixels[i] = grey && i % 4 != 3 ? Sample(i / 4, 0) : Sample(i / 4, i % 4);
        const tessaline::ProfileOutcome outcome = tessaline::ConvertToSrgb(image, icc);
        Check(outcome.convertedFrom.empty() || outcome.warning.empty());
        for (std::size_t i = 0; i < image.pixels.size() / 4; ++i)
            Check(image.pixels[4 * i + 3] == Sample(i, 3));
    }
    return 0;
}
