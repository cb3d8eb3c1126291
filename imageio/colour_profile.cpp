#include "imageio/colour_profile.h"

#include <lcms2.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "imageio/utf8_text.h"

namespace tessaline {

namespace {

/// Owns one LittleCMS context; its error handler keeps the first message for the warning.
class CmsContext
{
public:
    CmsContext() : context(cmsCreateContext(nullptr, &firstError))
    {
        if (context != nullptr)
            cmsSetLogErrorHandlerTHR(context, KeepError);
    }
    ~CmsContext()
    {
        if (context != nullptr)
            cmsDeleteContext(context);
    }
    CmsContext(const CmsContext&) = delete;
    CmsContext& operator=(const CmsContext&) = delete;

    cmsContext Get() const { return context; }
    const std::string& FirstError() const { return firstError; }

private:
    static void KeepError(cmsContext context, cmsUInt32Number, const char* text)
    {
        // Called from inside LittleCMS, which is C: nothing may throw through it.
        auto* first = static_cast<std::string*>(cmsGetContextUserData(context));
        if (first != nullptr && first->empty() && text != nullptr) {
            try {
                first->assign(text, std::min<std::size_t>(std::char_traits<char>::length(text), 200));
            } catch (...) {
            }
        }
    }

    std::string firstError;
    cmsContext context;
};

/// Closes a profile handle on every exit.
struct ProfileHandle
{
    explicit ProfileHandle(cmsHPROFILE handle) : handle(handle) {}
    ~ProfileHandle()
    {
        if (handle != nullptr)
            cmsCloseProfile(handle);
    }
    ProfileHandle(const ProfileHandle&) = delete;
    ProfileHandle& operator=(const ProfileHandle&) = delete;
    cmsHPROFILE handle;
};

/// Whether `code` may show in a description: no control character, no invisible format or
/// direction mark (which could reorder or hide the rest of a summary line), no surrogate.
bool Printable(char32_t code)
{
    return code >= 0x20 && !(code >= 0x7f && code < 0xa0) && code != 0xad && code != 0x61c &&
           !(code >= 0x200b && code <= 0x200f) && !(code >= 0x2028 && code <= 0x202e) &&
           !(code >= 0x2060 && code <= 0x206f) && code != 0xfeff && !(code >= 0xd800 && code <= 0xdfff) &&
           code <= 0x10ffff;
}

/// The profile's description in UTF-8, at most MaxProfileDescriptionBytes long, anything that
/// could not show replaced by a space. Read as wide characters: a v4 description is Unicode, and
/// a v2 one is Latin-1, whose bytes above 0x7f LittleCMS hands over sign-extended.
std::string Description(cmsHPROFILE profile)
{
    wchar_t text[256] = {};
    cmsGetProfileInfo(profile, cmsInfoDescription, "en", "US", text, sizeof text);
    std::string shown;
    for (const wchar_t* c = text; *c != 0; ++c) {
        auto code = static_cast<char32_t>(static_cast<std::uint32_t>(*c));
        if (code >= 0xffffff80)
            code &= 0xff; // a Latin-1 byte through a signed char
        std::string character;
        AppendUtf8(character, Printable(code) ? code : U' ');
        if (shown.size() + character.size() > MaxProfileDescriptionBytes)
            break;
        shown += character;
    }
    const auto first = shown.find_first_not_of(' ');
    if (first == std::string::npos)
        return "unnamed profile";
    return shown.substr(first, shown.find_last_not_of(' ') - first + 1);
}

/// The pixel format of an image's R, G, B, A samples as the profile's colour space reads them: a
/// grey profile reads the first of the three equal channels and skips the other two and alpha.
cmsUInt32Number InputFormat(bool grey, int bitsPerSample)
{
    const cmsUInt32Number bytes = bitsPerSample == 16 ? 2 : 1;
    if (grey)
        return COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | EXTRA_SH(3) | BYTES_SH(bytes);
    return COLORSPACE_SH(PT_RGB) | CHANNELS_SH(3) | EXTRA_SH(1) | BYTES_SH(bytes);
}

/// How far the profile's colours land from sRGB's, in 16-bit levels: the largest difference over
/// a grid of colours (greys for a grey profile) sent through both. Negative when LittleCMS cannot
/// build the comparison.
int DistanceFromSrgb(cmsContext context, cmsHPROFILE profile, cmsHPROFILE srgb, bool grey)
{
    const cmsHTRANSFORM compare =
        cmsCreateTransformTHR(context, profile, grey ? TYPE_GRAY_16 : TYPE_RGB_16, srgb, TYPE_RGB_16,
                              INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    if (compare == nullptr)
        return -1;
    constexpr int Steps = 9; // 0, 1/8, ..., 1 of the range on each channel
    std::vector<cmsUInt16Number> in;
    for (int r = 0; r < Steps; ++r)
        for (int g = 0; g < (grey ? 1 : Steps); ++g)
            for (int b = 0; b < (grey ? 1 : Steps); ++b) {
                const auto level = [](int step) {
                    return static_cast<cmsUInt16Number>(std::min(65535, step * 8192));
                };
                in.push_back(level(r));
                if (!grey) {
                    in.push_back(level(g));
                    in.push_back(level(b));
                }
            }
    const std::size_t count = grey ? in.size() : in.size() / 3;
    std::vector<cmsUInt16Number> out(count * 3);
    cmsDoTransform(compare, in.data(), out.data(), static_cast<cmsUInt32Number>(count));
    cmsDeleteTransform(compare);
    int distance = 0;
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t c = 0; c < 3; ++c) {
            const int expected = grey ? in[i] : in[3 * i + c];
            distance = std::max(distance, std::abs(static_cast<int>(out[3 * i + c]) - expected));
        }
    return distance;
}

/// A profile this close to sRGB moves no 8-bit level by more than two: the variants of the sRGB
/// profile in circulation (curves as tables or as formulas, v2 or v4, compact ones) differ from
/// LittleCMS's own by up to about one and a half, and their images must stay as they are.
constexpr int SrgbTolerance = 2 * 257;

} // namespace

struct SrgbConversion::Transform
{
    CmsContext context;
    cmsHTRANSFORM handle = nullptr;
    ~Transform()
    {
        if (handle != nullptr)
            cmsDeleteTransform(handle);
    }
};

SrgbConversion::SrgbConversion(std::span<const std::uint8_t> icc, int bitsPerSample)
{
    if (icc.empty())
        return;
    if (icc.size() > MaxProfileBytes) {
        outcome.warning = "colour profile ignored: larger than " + std::to_string(MaxProfileBytes) + " bytes";
        return;
    }
    auto made = std::make_unique<Transform>();
    const cmsContext context = made->context.Get();
    const auto ignored = [this, &made](const std::string& why) {
        std::string text = "colour profile ignored: " + why;
        if (!made->context.FirstError().empty())
            text += " (" + made->context.FirstError() + ")";
        outcome.warning = text;
    };
    if (context == nullptr) {
        ignored("no memory for the colour library");
        return;
    }
    const ProfileHandle profile(
        cmsOpenProfileFromMemTHR(context, icc.data(), static_cast<cmsUInt32Number>(icc.size())));
    if (profile.handle == nullptr) {
        ignored("damaged");
        return;
    }
    const cmsColorSpaceSignature space = cmsGetColorSpace(profile.handle);
    const cmsProfileClassSignature kind = cmsGetDeviceClass(profile.handle);
    if (space != cmsSigRgbData && space != cmsSigGrayData) {
        ignored("not an RGB or grey profile");
        return;
    }
    if (kind == cmsSigLinkClass || kind == cmsSigAbstractClass || kind == cmsSigNamedColorClass) {
        ignored("not a profile of an image's colours");
        return;
    }
    grey = space == cmsSigGrayData;
    const ProfileHandle srgb(cmsCreate_sRGBProfileTHR(context));
    if (srgb.handle == nullptr) {
        ignored("no memory for the colour library");
        return;
    }
    const int distance = DistanceFromSrgb(context, profile.handle, srgb.handle, grey);
    if (distance < 0) {
        ignored("cannot be applied");
        return;
    }
    if (distance <= SrgbTolerance)
        return; // sRGB already: the pixels stay exactly as read
    made->handle = cmsCreateTransformTHR(context, profile.handle, InputFormat(grey, bitsPerSample),
                                         srgb.handle, TYPE_RGBA_8, INTENT_PERCEPTUAL, 0);
    if (made->handle == nullptr) {
        ignored("cannot be applied");
        return;
    }
    outcome.convertedFrom = Description(profile.handle);
    transform = std::move(made);
}

SrgbConversion::~SrgbConversion() = default;

bool SrgbConversion::Needed() const
{
    return transform != nullptr;
}

void SrgbConversion::ConvertRgba8(std::uint8_t* pixels, std::size_t count) const
{
    if (!transform)
        return;
    // In place: the input and output formats are both four bytes a pixel, and LittleCMS writes
    // only the colour channels of the output, so the alpha bytes stay.
    constexpr std::size_t Chunk = std::size_t{1} << 24;
    for (std::size_t done = 0; done < count; done += Chunk) {
        const std::size_t n = std::min(Chunk, count - done);
        cmsDoTransform(transform->handle, pixels + 4 * done, pixels + 4 * done,
                       static_cast<cmsUInt32Number>(n));
    }
}

void SrgbConversion::ConvertRgba16(const std::uint16_t* in, std::uint8_t* out, std::size_t count) const
{
    if (!transform)
        return;
    constexpr std::size_t Chunk = std::size_t{1} << 24;
    for (std::size_t done = 0; done < count; done += Chunk) {
        const std::size_t n = std::min(Chunk, count - done);
        cmsDoTransform(transform->handle, in + 4 * done, out + 4 * done, static_cast<cmsUInt32Number>(n));
    }
}

ProfileOutcome ConvertToSrgb(RgbaImage& image, std::span<const std::uint8_t> icc)
{
    if (icc.empty() || image.Empty())
        return {};
    const SrgbConversion conversion(icc, 8);
    if (!conversion.Needed())
        return conversion.Outcome();
    if (conversion.ReadsGrey()) {
        // A grey profile says nothing of colours: on an image that has some it does not apply.
        for (const std::uint8_t* row : image.rows)
            for (std::uint32_t x = 0; x < image.width; ++x)
                if (row[4 * x] != row[4 * x + 1] || row[4 * x] != row[4 * x + 2])
                    return {{}, "colour profile ignored: a grey profile on a colour image"};
    }
    ProfileOutcome outcome = conversion.Outcome();
    for (std::uint8_t* row : image.rows)
        conversion.ConvertRgba8(row, image.width);
    return outcome;
}

} // namespace tessaline
