#include "bench/photo_like.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tessaline::bench {

namespace {

// Own hash and generator rather than <random>'s distributions, whose output differs between
// standard libraries.
std::uint32_t Hash(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
{
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ (std::uint64_t{a} << 32 | b);
    h ^= std::uint64_t{c} << 21 ^ std::uint64_t{d} * 0xD1B54A32D192ED03ull;
    h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
    h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
    return std::uint32_t(h ^ (h >> 31));
}

float Unit(std::uint32_t bits)
{
    return float(bits >> 8) * (1.0f / 16777216.0f);
}

class Generator
{
public:
    explicit Generator(std::uint32_t seed) : state(seed * 0x9E3779B9u + 0x7F4A7C15u) {}
    float Next() // [0, 1)
    {
        state = Hash(state, counter++, 17, 23);
        return Unit(state);
    }
    float Range(float lo, float hi) { return lo + (hi - lo) * Next(); }

private:
    std::uint32_t state;
    std::uint32_t counter = 0;
};

// Smoothly interpolated lattice noise in [0, 1); `layer` selects an independent lattice.
float ValueNoise(float fx, float fy, std::uint32_t layer, std::uint32_t seed)
{
    const float x0 = std::floor(fx), y0 = std::floor(fy);
    const float tx = fx - x0, ty = fy - y0;
    const float sx = tx * tx * (3.0f - 2.0f * tx), sy = ty * ty * (3.0f - 2.0f * ty);
    const auto ix = std::uint32_t(std::int32_t(x0)), iy = std::uint32_t(std::int32_t(y0));
    const float v00 = Unit(Hash(ix, iy, layer, seed)), v10 = Unit(Hash(ix + 1, iy, layer, seed));
    const float v01 = Unit(Hash(ix, iy + 1, layer, seed)), v11 = Unit(Hash(ix + 1, iy + 1, layer, seed));
    const float top = v00 + (v10 - v00) * sx, bottom = v01 + (v11 - v01) * sx;
    return top + (bottom - top) * sy;
}

struct Colour
{
    float r, g, b;
};

Colour Mix(const Colour& x, const Colour& y, float t)
{
    return {x.r + (y.r - x.r) * t, x.g + (y.g - x.g) * t, x.b + (y.b - x.b) * t};
}

struct Shape
{
    bool round;
    float cx, cy, rx, ry; // centre and half extents, in frame units
    Colour near, far;     // a gradient across the shape
};

} // namespace

RgbaImage MakePhotoLikeImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed)
{
    RgbaImage image = CreateRgbaImage(width, height);
    if (width == 0 || height == 0)
        return image;
    Generator rng(seed);
    const float phase = rng.Range(0.0f, 6.283f);
    const Colour skyTop{rng.Range(20, 60), rng.Range(70, 110), rng.Range(150, 200)};
    const Colour skyLow{rng.Range(170, 210), rng.Range(195, 225), rng.Range(215, 240)};
    const Colour groundNear{rng.Range(50, 80), rng.Range(40, 60), rng.Range(20, 40)};
    const Colour groundFar{rng.Range(80, 120), rng.Range(100, 130), rng.Range(40, 70)};

    std::vector<Shape> shapes(14);
    for (Shape& s : shapes) {
        s.round = rng.Next() < 0.5f;
        s.cx = rng.Range(0.05f, 0.95f);
        s.cy = rng.Range(0.2f, 0.95f);
        s.rx = rng.Range(0.03f, 0.15f);
        s.ry = rng.Range(0.03f, 0.15f);
        s.near = {rng.Range(0, 255), rng.Range(0, 255), rng.Range(0, 255)};
        s.far = {rng.Range(0, 255), rng.Range(0, 255), rng.Range(0, 255)};
    }
    // A patch of foliage-like fine texture and a striped "fence".
    const float leafX0 = rng.Range(0.05f, 0.4f), leafY0 = rng.Range(0.55f, 0.7f);
    const float fenceX0 = rng.Range(0.5f, 0.7f), fenceY0 = rng.Range(0.5f, 0.6f);

    const float invW = 1.0f / float(width), invH = 1.0f / float(height);
    const float scale = float(std::max(width, height)); // noise lattice follows the frame, not pixels
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = image.rows[y];
        const float v = (float(y) + 0.5f) * invH;
        for (std::uint32_t x = 0; x < width; ++x) {
            const float u = (float(x) + 0.5f) * invW;
            const float horizon = 0.45f + 0.05f * std::sin(u * 6.3f + phase) +
                                  0.04f * (ValueNoise(u * 12.0f, 0.0f, 1, seed) - 0.5f);
            Colour c = v < horizon ? Mix(skyTop, skyLow, v / horizon)
                                   : Mix(groundFar, groundNear, (v - horizon) / (1.0f - horizon));
            for (const Shape& s : shapes) {
                const float dx = (u - s.cx) / s.rx, dy = (v - s.cy) / s.ry;
                const bool inside =
                    s.round ? dx * dx + dy * dy <= 1.0f : std::fabs(dx) <= 1.0f && std::fabs(dy) <= 1.0f;
                if (inside)
                    c = Mix(s.near, s.far, std::clamp(0.5f + 0.5f * (dx + dy) * 0.7071f, 0.0f, 1.0f));
            }
            if (u > leafX0 && u < leafX0 + 0.25f && v > leafY0 && v < leafY0 + 0.25f) {
                const float fine = ValueNoise(u * scale / 3.0f, v * scale / 3.0f, 2, seed);
                c = Mix(Colour{30, 70, 20}, Colour{140, 190, 60}, fine);
            }
            if (u > fenceX0 && u < fenceX0 + 0.2f && v > fenceY0 && v < fenceY0 + 0.15f &&
                std::fmod(float(x), 7.0f) < 2.0f)
                c = Colour{230, 225, 210};

            // Soft light and shade over everything, in three octaves.
            const float shade = 0.55f * ValueNoise(u * 4.0f, v * 3.0f, 3, seed) +
                                0.3f * ValueNoise(u * 9.0f, v * 7.0f, 4, seed) +
                                0.15f * ValueNoise(u * 23.0f, v * 17.0f, 5, seed);
            const float light = 0.75f + 0.5f * shade;
            const std::uint32_t n = Hash(x, y, 6, seed);
            const auto noise = [n](int lane) {
                return float(int((n >> (8 * lane)) & 15u) + int((n >> (8 * lane + 4)) & 15u) - 15) * 0.4f;
            };
            const float out[3] = {c.r * light + noise(0), c.g * light + noise(1), c.b * light + noise(2)};
            for (int k = 0; k < 3; ++k)
                row[4 * x + k] = std::uint8_t(std::clamp(out[k], 0.0f, 255.0f));
            row[4 * x + 3] = 255;
        }
    }
    return image;
}

} // namespace tessaline::bench
