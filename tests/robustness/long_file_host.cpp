// A host for the long- and huge-file benches (bench/long_file.sh): writes
// video and audio through the public library for a long time, as any host
// would, and says how long it took.
//
//   long_file_host OUTPUT SECONDS WIDTHxHEIGHT KBPS [noise]
//
// Video at 25 fps: a panned texture with a moving block (cheap to make and
// to code), or with "noise" pictures of fresh noise every frame (which no
// prediction helps: the largest frames the encoder makes, for files beyond
// 4 GB). Audio: 48 kHz stereo, a tone, 128 kbit/s. Exit status 0 on
// success, 1 when a call failed, 2 usage.
#include "AsfWriter.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kFps = 25;
constexpr int kAudioRate = 48000;
constexpr int kAudioBytesPerFrame = kAudioRate * 4 / kFps;

class Pictures {
public:
    Pictures(int w, int h, bool noise) : w_(w), h_(h), noise_(noise), frame_(static_cast<std::size_t>(w) * h * 3 / 2, 128)
    {
        texture_.resize(static_cast<std::size_t>(2 * w) * h);
        std::uint32_t s = 12345;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < 2 * w; ++x) {
                s = s * 1664525u + 1013904223u;
                const double smooth = 128 + 60 * std::sin(x * 0.05) * std::cos(y * 0.07);
                texture_[static_cast<std::size_t>(y) * 2 * w + x] =
                    static_cast<std::uint8_t>(std::lround(smooth + static_cast<int>(s >> 28) - 8));
            }
    }
    unsigned char* make(long long n)
    {
        if (noise_) {
            for (auto& b : frame_) {
                seed_ = seed_ * 1664525u + 1013904223u;
                b = static_cast<unsigned char>(seed_ >> 24);
            }
            return frame_.data();
        }
        const int shift = static_cast<int>((n * 2) % w_);
        for (int y = 0; y < h_; ++y)
            std::memcpy(&frame_[static_cast<std::size_t>(y) * w_], &texture_[static_cast<std::size_t>(y) * 2 * w_ + shift],
                        static_cast<std::size_t>(w_));
        const int bx = static_cast<int>((n * 7) % (w_ - 16)), by = static_cast<int>((n * 3) % (h_ - 16));
        for (int y = by; y < by + 16; ++y) std::memset(&frame_[static_cast<std::size_t>(y) * w_ + bx], 235, 16);
        return frame_.data();
    }

private:
    int w_, h_;
    bool noise_;
    std::vector<unsigned char> frame_, texture_;
    std::uint32_t seed_ = 1;
};

}  // namespace

int main(int argc, char** argv)
{
    int w = 0, h = 0;
    if ((argc != 5 && argc != 6) || std::sscanf(argv[3], "%dx%d", &w, &h) != 2 || w < 32 || h < 32 ||
        (argc == 6 && std::strcmp(argv[5], "noise") != 0)) {
        std::fprintf(stderr, "usage: %s OUTPUT SECONDS WIDTHxHEIGHT KBPS [noise]\n", argv[0]);
        return 2;
    }
    const long long seconds = std::atoll(argv[2]);
    const int kbps = std::atoi(argv[4]);
    CAsfWriter writer;
    if (writer.Init() != 0 || writer.AddVideo(w, h, kFps, 1, kbps, 0, 1) != 0 || writer.AddAudio(kAudioRate, 2, 128) != 1 ||
        writer.OpenFile(argv[1]) != 0) {
        std::fprintf(stderr, "setting up failed\n");
        writer.Close();
        return 1;
    }
    Pictures pictures(w, h, argc == 6);
    std::vector<unsigned char> audio(kAudioBytesPerFrame);
    const auto started = std::chrono::steady_clock::now();
    const double step = 2.0 * 3.14159265358979 * 440.0 / kAudioRate;
    for (long long n = 0; n < seconds * kFps; ++n) {
        for (int i = 0; i < kAudioBytesPerFrame / 4; ++i) {
            const auto s = static_cast<short>(std::lround(8000.0 * std::sin(step * static_cast<double>(n * (kAudioBytesPerFrame / 4) + i))));
            std::memcpy(&audio[4 * static_cast<std::size_t>(i)], &s, 2);
            std::memcpy(&audio[4 * static_cast<std::size_t>(i) + 2], &s, 2);
        }
        if (writer.WriteSample(0, pictures.make(n), w * h * 3 / 2) != 0 ||
            writer.WriteSample(1, audio.data(), kAudioBytesPerFrame) != 0) {
            std::fprintf(stderr, "WriteSample failed at frame %lld\n", n);
            writer.CloseFile();
            writer.Close();
            return 1;
        }
        if (n > 0 && n % (kFps * 600) == 0) {
            const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::fprintf(stderr, "%lld s of media in %.0f s\n", n / kFps, t);
        }
    }
    const int closed = writer.CloseFile();
    writer.Close();
    if (closed != 0) {
        std::fprintf(stderr, "CloseFile failed\n");
        return 1;
    }
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("wrote %lld s of %dx%d media in %.1f s (%.1fx real time)\n", seconds, w, h, t,
                static_cast<double>(seconds) / t);
    return 0;
}
