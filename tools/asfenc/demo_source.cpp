#include "demo_source.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace asfenc {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Yuv {
    std::uint8_t y, u, v;
};

// 75 % colour bars in studio-range BT.601.
constexpr Yuv kBars[7] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                          {84, 184, 198},  {65, 100, 212}, {35, 212, 114}};
constexpr Yuv kBlack{16, 128, 128};
constexpr Yuv kWhite{235, 128, 128};
constexpr Yuv kOrange{165, 54, 196};

// Segments a..g of a seven-segment digit, bit 0 = a.
constexpr std::uint8_t kDigitSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

struct Canvas {
    int w, h;
    std::vector<std::uint8_t>& y;
    std::vector<std::uint8_t>& u;
    std::vector<std::uint8_t>& v;

    void put(int x, int yy, Yuv c)
    {
        const std::size_t i = static_cast<std::size_t>(yy) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
        y[i] = c.y;
        u[i] = c.u;
        v[i] = c.v;
    }
    void box(int x0, int y0, int x1, int y1, Yuv c)
    {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, w);
        y1 = std::min(y1, h);
        for (int yy = y0; yy < y1; ++yy)
            for (int x = x0; x < x1; ++x) put(x, yy, c);
    }
    void digit(int x, int yy, int cw, int ch, int t, int d, Yuv c)
    {
        const std::uint8_t s = kDigitSegments[d];
        const int mid = yy + ch / 2;
        if (s & 0x01) box(x, yy, x + cw, yy + t, c);                          // a
        if (s & 0x02) box(x + cw - t, yy, x + cw, mid, c);                    // b
        if (s & 0x04) box(x + cw - t, mid, x + cw, yy + ch, c);               // c
        if (s & 0x08) box(x, yy + ch - t, x + cw, yy + ch, c);                // d
        if (s & 0x10) box(x, mid, x + t, yy + ch, c);                         // e
        if (s & 0x20) box(x, yy, x + t, mid, c);                              // f
        if (s & 0x40) box(x, mid - t / 2, x + cw, mid + t - t / 2, c);        // g
    }
};

}  // namespace

DemoVideo::DemoVideo(int frames) : frames_(frames)
{
    format_.width = 640;
    format_.height = 480;
    format_.fpsNum = 30000;
    format_.fpsDen = 1001;
    const std::size_t n = static_cast<std::size_t>(format_.width) * static_cast<std::size_t>(format_.height);
    y_.resize(n);
    u_.resize(n);
    v_.resize(n);
}

void DemoVideo::draw(int k, std::uint8_t* frame)
{
    const int w = format_.width, h = format_.height;
    Canvas c{w, h, y_, u_, v_};

    // Colour bars over the upper part, a moving luma ramp under them.
    const int barsBottom = h * 3 / 5;
    for (int i = 0; i < 7; ++i) c.box(i * w / 7, 0, (i + 1) * w / 7, barsBottom, kBars[i]);
    const int rampBottom = h * 4 / 5;
    for (int yy = barsBottom; yy < rampBottom; ++yy)
        for (int x = 0; x < w; ++x) {
            const int p = (x + 4 * k) % w;
            c.put(x, yy, Yuv{static_cast<std::uint8_t>(16 + p * 219 / w), 128, 128});
        }
    c.box(0, rampBottom, w, h, kBlack);

    // A checkered square sliding across the ramp.
    const int sq = 64;
    const int sx = (k * 3) % (w + sq) - sq;
    const int sy = barsBottom + (rampBottom - barsBottom - sq) / 2;
    for (int yy = 0; yy < sq; ++yy)
        for (int x = 0; x < sq; ++x) {
            const int px = sx + x, py = sy + yy;
            if (px < 0 || px >= w) continue;
            c.put(px, py, ((x / 8 + yy / 8) & 1) ? kWhite : kBlack);
        }

    // A shaded ball on a Lissajous path over everything above.
    const int r = 40;
    const double cx = w / 2.0 + (w / 2.0 - r - 8) * std::sin(2 * kPi * k / 97.0);
    const double cy = h / 2.0 + (h / 2.0 - r - 8) * std::sin(2 * kPi * k / 61.0);
    for (int yy = static_cast<int>(cy) - r; yy <= static_cast<int>(cy) + r; ++yy)
        for (int x = static_cast<int>(cx) - r; x <= static_cast<int>(cx) + r; ++x) {
            if (x < 0 || x >= w || yy < 0 || yy >= h) continue;
            const double dx = x - cx, dy = yy - cy;
            const double d = std::sqrt(dx * dx + dy * dy);
            if (d > r) continue;
            // Lit from the upper left.
            const double lx = (dx + r * 0.4) / r, ly = (dy + r * 0.4) / r;
            const double shade = std::clamp(1.0 - 0.6 * std::sqrt(lx * lx + ly * ly), 0.25, 1.0);
            c.put(x, yy, Yuv{static_cast<std::uint8_t>(16 + (kOrange.y - 16 + 60) * shade), kOrange.u, kOrange.v});
        }

    // Frame counter in the bottom band.
    const int cw = 28, ch = 52, t = 6, gap = 12;
    int value = k;
    for (int i = 4; i >= 0; --i) {
        c.digit(24 + i * (cw + gap), rampBottom + (h - rampBottom - ch) / 2, cw, ch, t, value % 10, kWhite);
        value /= 10;
    }
    // A white flash for the first 0.1 s of every second.
    const long long phase = static_cast<long long>(k) * format_.fpsDen % format_.fpsNum;
    if (phase * 10 < format_.fpsNum) c.box(w - 96, rampBottom + 8, w - 16, h - 8, kWhite);

    // Luma as drawn; chroma averaged over each 2x2 block.
    std::copy(y_.begin(), y_.end(), frame);
    std::uint8_t* cb = frame + static_cast<std::size_t>(w) * h;
    std::uint8_t* cr = cb + static_cast<std::size_t>(w / 2) * (h / 2);
    for (int yy = 0; yy < h / 2; ++yy)
        for (int x = 0; x < w / 2; ++x) {
            const std::size_t i = static_cast<std::size_t>(2 * yy) * w + 2 * x;
            const std::size_t o = static_cast<std::size_t>(yy) * (w / 2) + x;
            cb[o] = static_cast<std::uint8_t>((u_[i] + u_[i + 1] + u_[i + w] + u_[i + w + 1] + 2) / 4);
            cr[o] = static_cast<std::uint8_t>((v_[i] + v_[i + 1] + v_[i + w] + v_[i + w + 1] + 2) / 4);
        }
}

ReadResult DemoVideo::next(std::vector<std::uint8_t>& frame, std::string&)
{
    if (index_ >= frames_) return ReadResult::End;
    frame.resize(format_.frameBytes());
    draw(index_++, frame.data());
    return ReadResult::Ok;
}

bool DemoVideo::restart(std::string&)
{
    index_ = 0;
    return true;
}

std::uint64_t demoAudioFrames(int videoFrames)
{
    // 30000/1001 frames per second: each frame lasts 1001/30000 s = 1601.6 samples.
    return static_cast<std::uint64_t>(videoFrames) * 1001u * 48000u / 30000u;
}

DemoAudio::DemoAudio(std::uint64_t frames) : frames_(frames) {}

ReadResult DemoAudio::next(std::vector<std::uint8_t>& block, std::string&)
{
    if (delivered_ >= frames_) return ReadResult::End;
    const std::uint64_t n = std::min<std::uint64_t>(kBlockBytes / 4, frames_ - delivered_);
    block.resize(static_cast<std::size_t>(n) * 4);
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t s = delivered_ + i;
        const double t = static_cast<double>(s) / kRate;
        double value = 0.2 * std::sin(2 * kPi * 440.0 * t);
        if (s % kRate < kRate / 10) value += 0.3 * std::sin(2 * kPi * 880.0 * t);  // pip
        const auto pcm = static_cast<std::int16_t>(std::lrint(value * 32767.0));
        const auto bits = static_cast<std::uint16_t>(pcm);
        for (int ch = 0; ch < 2; ++ch) {
            block[static_cast<std::size_t>(4 * i + 2 * ch)] = static_cast<std::uint8_t>(bits & 0xFF);
            block[static_cast<std::size_t>(4 * i + 2 * ch + 1)] = static_cast<std::uint8_t>(bits >> 8);
        }
    }
    delivered_ += n;
    return ReadResult::Ok;
}

}  // namespace asfenc
