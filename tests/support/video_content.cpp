#include "support/video_content.h"

#include <algorithm>
#include <cmath>

namespace asfw::test {

namespace {

std::uint32_t hash32(std::uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// Random lattice values in [0, 1), 256 x 256, tiled.
struct Lattice {
    float v[256][256];
    Lattice()
    {
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                v[y][x] = static_cast<float>(hash32(static_cast<std::uint32_t>(y * 256 + x) * 2654435761U) & 0xFFFF) / 65536.0f;
    }
};
const Lattice kLattice;

// Smooth value noise in [0, 1) on the unit lattice.
double valueNoise(double x, double y, std::uint32_t seed)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = static_cast<int>(fx) + static_cast<int>(seed * 37U & 255U);
    const int iy = static_cast<int>(fy) + static_cast<int>((seed >> 8) * 91U & 255U);
    const float tx = static_cast<float>(x - fx), ty = static_cast<float>(y - fy);
    const float* r0 = kLattice.v[iy & 255];
    const float* r1 = kLattice.v[(iy + 1) & 255];
    const float a0 = r0[ix & 255], a1 = r0[(ix + 1) & 255], b0 = r1[ix & 255], b1 = r1[(ix + 1) & 255];
    const float sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    const float a = a0 + (a1 - a0) * sx;
    const float b = b0 + (b1 - b0) * sx;
    return a + (b - a) * sy;
}

double fractal(double x, double y, std::uint32_t seed, int octaves)
{
    double sum = 0, amp = 0.5, freq = 1;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * valueNoise(x * freq, y * freq, seed + static_cast<std::uint32_t>(i) * 101U);
        amp *= 0.5;
        freq *= 2.03;
    }
    return sum;
}

std::uint8_t clip(double v) { return static_cast<std::uint8_t>(std::clamp(static_cast<int>(std::lround(v)), 0, 255)); }

// The horizon of the "photograph" at scene column u.
double horizonAt(double u, std::uint32_t seed)
{
    return 0.42 + 0.06 * std::sin(u * 5.1) + 0.05 * (fractal(u * 3, 0.5, seed + 7, 3) - 0.5);
}

// The "photograph" in scene coordinates (u, v in roughly 0..1, horizon from
// horizonAt(u)): returns Y, Cb, Cr.
void photo(double u, double v, double horizon, std::uint32_t seed, double out[3])
{
    double y, cb, cr;
    if (v < horizon) {
        // Sky: vertical gradient with soft clouds.
        const double cloud = std::max(0.0, fractal(u * 6, v * 10, seed + 11, 4) - 0.45) * 2.2;
        y = 150 + 70 * v / horizon + 60 * cloud;
        cb = 150 - 10 * v + 0 * cloud;
        cr = 112 + 6 * v;
    } else {
        // Ground: textured fields with rows, plus detail.
        const double d = (v - horizon) / (1 - horizon + 1e-9);
        const double field = fractal(u * 14, d * 9, seed + 23, 4);
        const double rows = 0.5 + 0.5 * std::sin((u - 0.5) * 180 * (0.2 + d) + d * 40);
        y = 55 + 90 * field + 25 * rows * d;
        cb = 108 - 20 * field;
        cr = 120 + 18 * field - 8 * d;
    }
    // A few objects: a dark disc ("tree") and a bright house with sharp edges.
    const double du = u - 0.3, dv = v - 0.47;
    if (du * du + dv * dv * 0.5 < 0.004) {
        y = 40 + 30 * fractal(u * 60, v * 60, seed + 31, 3);
        cb = 115;
        cr = 110;
    }
    if (u > 0.62 && u < 0.74 && v > 0.38 && v < 0.5) {
        y = (std::fmod(u * 200, 4) < 1.2 || std::fmod(v * 200, 5) < 1.0) ? 90 : 215;
        cb = 120;
        cr = 150;
    }
    out[0] = y;
    out[1] = cb;
    out[2] = cr;
}

// Whether the page sample at (x, y) (pixels) is ink: rows of blocky glyphs.
bool ink(int x, int y, std::uint32_t seed)
{
    const int lineH = 14, charW = 8;
    const int line = y / lineH, row = y % lineH;
    if (row < 3 || row > 11) return false;
    const int col = x / charW, cx = x % charW;
    if (cx > 5) return false;
    const std::uint32_t h = hash32(static_cast<std::uint32_t>(line) * 977U + static_cast<std::uint32_t>(col) * 31U + seed);
    if ((h & 7) == 0) return false;  // spaces
    // A 5x8 pattern from the hash bits, stroke-like.
    const int gx = cx, gy = row - 3;
    const std::uint32_t g = hash32(h);
    const bool vertical = (gx == 0 && (g & 1)) || (gx == 4 && (g & 2)) || (gx == 2 && (g & 4));
    const bool horizontal = (gy == 0 && (g & 8)) || (gy == 4 && (g & 16)) || (gy == 8 && (g & 32));
    return vertical || horizontal;
}

}  // namespace

const char* videoPatternName(VideoPattern pattern)
{
    switch (pattern) {
    case VideoPattern::Photo: return "photo";
    case VideoPattern::Noise: return "noise";
    case VideoPattern::Gradient: return "gradient";
    case VideoPattern::Text: return "text";
    case VideoPattern::Mixed: return "mixed";
    }
    return "?";
}

std::vector<std::uint8_t> makeVideoFrame(VideoPattern pattern, int width, int height, int frame, std::uint32_t seed)
{
    const int cw = width / 2, ch = height / 2;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height * 3 / 2);
    std::uint8_t* py = out.data();
    std::uint8_t* pu = py + static_cast<std::size_t>(width) * height;
    std::uint8_t* pv = pu + static_cast<std::size_t>(cw) * ch;

    // Camera: pan right and down, zoom in slowly.
    const double zoom = 1.0 + 0.02 * frame;
    const double panU = 0.004 * frame, panV = 0.002 * frame;
    const double aspect = static_cast<double>(width) / std::max(1, height);
    // Scene coordinates depend on the column or the row alone.
    std::vector<double> us(static_cast<std::size_t>(width)), horizons(static_cast<std::size_t>(width));
    std::vector<double> vs(static_cast<std::size_t>(height));
    for (int x = 0; x < width; ++x) {
        us[x] = 0.5 + ((x + 0.5) / width - 0.5) * aspect / zoom / std::max(aspect, 1.0) + panU;
        horizons[x] = horizonAt(us[x], seed);
    }
    for (int y = 0; y < height; ++y) vs[y] = 0.5 + ((y + 0.5) / height - 0.5) / zoom + panV;
    // Luma sample (x, y) of the scene; chroma takes the top-left one of its 2x2.
    auto scene = [&](int x, int y, double o[3]) { photo(us[x], vs[y], horizons[x], seed, o); };

    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double value = 0;
            switch (pattern) {
            case VideoPattern::Photo:
            case VideoPattern::Mixed: {
                double o[3];
                scene(x, y, o);
                value = o[0];
                if (pattern == VideoPattern::Mixed) {
                    if (y > height * 3 / 4 && y < height * 3 / 4 + 28) value = ink(x + frame * 2, y, seed) ? 20 : 235;
                    if (x < width / 5 && y < height / 5)
                        value = hash32(static_cast<std::uint32_t>(y * width + x) ^ seed ^ static_cast<std::uint32_t>(frame)) & 255;
                }
                break;
            }
            case VideoPattern::Noise:
                value = hash32(static_cast<std::uint32_t>(y * width + x) * 2654435761U ^ seed ^
                               static_cast<std::uint32_t>(frame) * 97U) & 255;
                break;
            case VideoPattern::Gradient:
                value = 16 + 220.0 * (x + y + 3 * frame) / (width + height + 1);
                break;
            case VideoPattern::Text:
                value = ink(x, y + frame * 3, seed) ? 24 : 232 - (y * 10) / std::max(1, height);
                break;
            }
            py[static_cast<std::size_t>(y) * width + x] = clip(value);
        }
    }
    for (int y = 0; y < ch; ++y) {
        for (int x = 0; x < cw; ++x) {
            double u = 128, v = 128;
            switch (pattern) {
            case VideoPattern::Photo:
            case VideoPattern::Mixed: {
                double o[3];
                scene(2 * x, 2 * y, o);
                u = o[1];
                v = o[2];
                break;
            }
            case VideoPattern::Noise: {
                const std::uint32_t h = hash32(static_cast<std::uint32_t>(y * cw + x) ^ (seed * 7919U) ^
                                               static_cast<std::uint32_t>(frame) * 131U);
                u = h & 255;
                v = (h >> 8) & 255;
                break;
            }
            case VideoPattern::Gradient:
                u = 60 + 140.0 * x / std::max(1, cw);
                v = 200 - 140.0 * y / std::max(1, ch);
                break;
            case VideoPattern::Text:
                u = 126;
                v = 131;
                break;
            }
            pu[static_cast<std::size_t>(y) * cw + x] = clip(u);
            pv[static_cast<std::size_t>(y) * cw + x] = clip(v);
        }
    }
    return out;
}

std::vector<std::uint8_t> makeVideoClip(VideoPattern pattern, int width, int height, int frames, std::uint32_t seed)
{
    std::vector<std::uint8_t> out;
    for (int i = 0; i < frames; ++i) {
        const std::vector<std::uint8_t> f = makeVideoFrame(pattern, width, height, i, seed);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

double psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t size)
{
    double se = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        se += d * d;
    }
    if (se == 0 || size == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(size) / se);
}

std::uint64_t hashBytes(const std::uint8_t* data, std::size_t size)
{
    std::uint64_t h = 1469598103934665603ULL;
    for (std::size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 1099511628211ULL;
    }
    return h;
}

}  // namespace asfw::test
