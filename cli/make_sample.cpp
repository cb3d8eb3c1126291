// tessaline-make-sample: writes the project's own test card as a 32-bit RGBA PNG, so the main job
// and the tests have a picture with every kind of content the reducer has to handle without
// depending on anybody else's images. Every pixel is a function of its position, so the file is
// the same on every run and machine.
//
// The card, 640 x 480 by default:
//   - a hue sweep across the top whose brightness fades downwards (smooth two-way gradients),
//   - a 256-step grey ramp and a skin-tone ramp (banding shows at once),
//   - fine detail: one- and two-pixel checkerboards, a zone plate of rings and thin diagonal lines,
//   - translucent content: a colour disc with a soft alpha edge and an alpha ramp over colour,
//   - a fully transparent rectangle, and fully transparent corners around a rounded card edge.

#include <QCoreApplication>
#include <QImage>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr double Pi = 3.14159265358979323846;

struct Rgba
{
    double r = 0, g = 0, b = 0, a = 1; // each 0 to 1, straight alpha
};

std::uint8_t ToByte(double v)
{
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

Rgba Hue(double h, double value)
{
    // h in [0, 1): the six-sector hue wheel at full saturation.
    const double s = h * 6.0;
    const int sector = static_cast<int>(s) % 6;
    const double f = s - std::floor(s);
    double r = 0, g = 0, b = 0;
    switch (sector) {
    case 0: r = 1; g = f; break;
    case 1: r = 1 - f; g = 1; break;
    case 2: g = 1; b = f; break;
    case 3: g = 1 - f; b = 1; break;
    case 4: r = f; b = 1; break;
    default: r = 1; b = 1 - f; break;
    }
    return {r * value, g * value, b * value, 1};
}

// Source-over of a straight-alpha colour onto another.
Rgba Over(const Rgba& top, const Rgba& bottom)
{
    const double a = top.a + bottom.a * (1 - top.a);
    if (a <= 0)
        return {0, 0, 0, 0};
    auto mix = [&](double t, double u) { return (t * top.a + u * bottom.a * (1 - top.a)) / a; };
    return {mix(top.r, bottom.r), mix(top.g, bottom.g), mix(top.b, bottom.b), a};
}

Rgba CardPixel(int x, int y, int width, int height)
{
    const double u = (x + 0.5) / width;  // 0 to 1 across
    const double v = (y + 0.5) / height; // 0 to 1 down
    Rgba pixel{0.5, 0.5, 0.5, 1};

    if (v < 0.40) {
        // Hue sweep, fading to black downwards and to white near the very top.
        Rgba hue = Hue(u, 1.0 - (v / 0.40) * 0.85);
        const double white = std::max(0.0, 0.15 - v) / 0.15;
        pixel = {hue.r + (1 - hue.r) * white, hue.g + (1 - hue.g) * white, hue.b + (1 - hue.b) * white, 1};
    } else if (v < 0.47) {
        const double level = std::floor(u * 256.0) / 255.0;
        pixel = {level, level, level, 1};
    } else if (v < 0.54) {
        pixel = {0.25 + 0.70 * u, 0.15 + 0.55 * u, 0.10 + 0.45 * u, 1};
    } else {
        // Lower part: four panels of detail and translucency on a cool blue-grey ground.
        pixel = {0.30 + 0.2 * v, 0.35 + 0.2 * v, 0.45 + 0.2 * v, 1};
        if (u < 0.25) {
            const bool fine = v < 0.77;
            const int cell = fine ? 1 : 2;
            const bool dark = ((x / cell) + (y / cell)) % 2 == 0;
            pixel = dark ? Rgba{0.05, 0.05, 0.08, 1} : Rgba{0.95, 0.93, 0.85, 1};
        } else if (u < 0.50) {
            // Zone plate: rings whose frequency grows with the distance from the centre.
            const double cx = width * 0.375, cy = height * 0.77;
            const double dx = x - cx, dy = y - cy;
            const double ring = 0.5 + 0.5 * std::cos(Pi * (dx * dx + dy * dy) / (width * 0.45));
            pixel = {ring, ring * 0.9, 1 - ring * 0.8, 1};
        } else if (u < 0.75) {
            // A soft-edged disc over thin diagonal lines: the edge mixes colour and transparency.
            const bool line = ((x + y) % 7) == 0 || ((x - y + 4 * height) % 11) == 0;
            const Rgba ground = line ? Rgba{0.9, 0.9, 0.2, 1} : Rgba{0.30, 0.35, 0.45, 0.0};
            const double cx = width * 0.625, cy = height * 0.77;
            const double r = std::hypot(x - cx, y - cy) / (height * 0.20);
            const double discAlpha = std::clamp((1.0 - r) / 0.35, 0.0, 1.0);
            const Rgba disc = Hue(std::fmod(std::atan2(y - cy, x - cx) / (2 * Pi) + 1.0, 1.0), 1.0);
            pixel = Over({disc.r, disc.g, disc.b, discAlpha}, ground);
        } else {
            // Alpha ramp over colour bars, then a fully transparent rectangle at the bottom.
            const double w = (u - 0.75) / 0.25;
            if (v > 0.88) {
                pixel = {0, 0, 0, 0};
            } else {
                const Rgba bar = Hue(std::floor(w * 6.0) / 6.0, 1.0);
                pixel = {bar.r, bar.g, bar.b, (v - 0.54) / (0.88 - 0.54)};
            }
        }
    }

    // Rounded card corners, anti-aliased over one pixel, transparent outside.
    const double radius = std::min(width, height) * 0.08;
    const double qx = std::max({radius - (x + 0.5), (x + 0.5) - (width - radius), 0.0});
    const double qy = std::max({radius - (y + 0.5), (y + 0.5) - (height - radius), 0.0});
    const double outside = std::hypot(qx, qy) - radius; // > 0 outside the rounded rectangle
    pixel.a *= std::clamp(0.5 - outside, 0.0, 1.0);
    return pixel;
}

constexpr const char* Usage = "usage: tessaline-make-sample [--] OUT.png [WIDTH HEIGHT]\n"
                              "Writes the test card (default 640 x 480; 16 to 8192 a side) as an RGBA PNG.\n"
                              "Names starting with '-' go after '--'.\n";

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // As tessaline-cli reads its command line: options first, names after "--" taken as they are;
    // an unknown option is an error, never a file name.
    QStringList args;
    bool namesOnly = false;
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        if (!namesOnly && argument == "--") {
            namesOnly = true;
        } else if (!namesOnly && (argument == "--help" || argument == "-h")) {
            std::fputs(Usage, stdout);
            return 0;
        } else if (!namesOnly && argument.startsWith('-') && argument.size() > 1) {
            std::fprintf(stderr, "tessaline-make-sample: unknown option %s\n%s", qUtf8Printable(argument),
                         Usage);
            return 2;
        } else {
            args.append(argument);
        }
    }
    args.prepend(QCoreApplication::applicationFilePath());
    if (args.size() != 2 && args.size() != 4) {
        std::fputs(Usage, stderr);
        return 2;
    }
    int width = 640, height = 480;
    if (args.size() == 4) {
        bool okW = false, okH = false;
        width = args[2].toInt(&okW);
        height = args[3].toInt(&okH);
        if (!okW || !okH || width < 16 || height < 16 || width > 8192 || height > 8192) {
            std::fprintf(stderr, "tessaline-make-sample: WIDTH and HEIGHT must be 16 to 8192\n");
            return 2;
        }
    }
    QImage card(width, height, QImage::Format_ARGB32);
    if (card.isNull()) {
        std::fprintf(stderr, "tessaline-make-sample: out of memory\n");
        return 1;
    }
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(card.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const Rgba p = CardPixel(x, y, width, height);
            line[x] = p.a <= 0 ? qRgba(0, 0, 0, 0) : qRgba(ToByte(p.r), ToByte(p.g), ToByte(p.b), ToByte(p.a));
        }
    }
    if (!card.save(args[1], "PNG")) {
        std::fprintf(stderr, "tessaline-make-sample: %s: cannot write\n", qUtf8Printable(args[1]));
        return 1;
    }
    return 0;
}
