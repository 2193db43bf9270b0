// A host that writes a long file through the public library and reports
// its peak resident memory: video frames and 10 ms audio blocks delivered
// in time order, or one stream far ahead of the other (all video first,
// or all audio first), which the writer must absorb without holding it all.
//
//   memory_host OUTPUT.wmv MINUTES ORDER [WIDTHxHEIGHT]
//     ORDER: in-order | video-first | audio-first
#include "AsfWriter.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Moving content that costs next to nothing to make: a wide textured strip
// panned across the picture, with a bright block that jumps about.
class Frames {
public:
    Frames(int w, int h) : w_(w), h_(h), texture_(static_cast<std::size_t>(2 * w) * h)
    {
        std::uint32_t seed = 12345;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < 2 * w; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const double smooth = 128 + 60 * std::sin(x * 0.05) * std::cos(y * 0.07);
                texture_[static_cast<std::size_t>(y) * 2 * w + x] =
                    static_cast<std::uint8_t>(std::lround(smooth + static_cast<int>(seed >> 28) - 8));
            }
        frame_.resize(static_cast<std::size_t>(w) * h * 3 / 2, 128);
    }
    unsigned char* make(long long index)
    {
        const int shift = static_cast<int>((index * 2) % w_);
        for (int y = 0; y < h_; ++y)
            std::memcpy(&frame_[static_cast<std::size_t>(y) * w_], &texture_[static_cast<std::size_t>(y) * 2 * w_ + shift],
                        static_cast<std::size_t>(w_));
        const int bx = static_cast<int>((index * 37) % (w_ - 32)), by = static_cast<int>((index * 23) % (h_ - 32));
        for (int y = by; y < by + 32; ++y) std::memset(&frame_[static_cast<std::size_t>(y) * w_ + bx], 235, 32);
        return frame_.data();
    }
    int bytes() const { return static_cast<int>(frame_.size()); }

private:
    int w_, h_;
    std::vector<std::uint8_t> texture_, frame_;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: memory_host OUTPUT.wmv MINUTES in-order|video-first|audio-first [WxH]\n");
        return 2;
    }
    const std::string output = argv[1];
    const double minutes = std::atof(argv[2]);
    const std::string order = argv[3];
    int w = 640, h = 480;
    if (argc > 4 && std::sscanf(argv[4], "%dx%d", &w, &h) != 2) return 2;
    if (order != "in-order" && order != "video-first" && order != "audio-first") return 2;

    const int fpsNum = 30000, fpsDen = 1001;
    const long long frames = std::llround(minutes * 60.0 * fpsNum / fpsDen);
    const long long blocks = std::llround(minutes * 60.0 * 100.0);  // 10 ms each
    Frames video(w, h);
    std::vector<unsigned char> block(1920);

    CAsfWriter writer;
    if (writer.Init() != 0 || writer.AddVideo(w, h, fpsNum, fpsDen, 1000, 0, 1) != 0 ||
        writer.AddAudio(44100, 2, 128) != 1 || writer.OpenFile(output.c_str()) != 0) {
        std::fprintf(stderr, "memory_host: the library refused the set-up\n");
        return 1;
    }
    const long baseline = peakKilobytes();
    const auto start = std::chrono::steady_clock::now();
    long long f = 0, b = 0;
    auto audioBlock = [&]() {
        for (int i = 0; i < 480; ++i) {  // a 440 Hz tone
            const double t = static_cast<double>(b * 480 + i) / 48000.0;
            const auto v = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440.0 * t));
            for (int c = 0; c < 2; ++c) std::memcpy(&block[static_cast<std::size_t>(4 * i + 2 * c)], &v, 2);
        }
        return writer.WriteSample(1, block.data(), 1920) == 0;
    };
    bool ok = true;
    if (order == "in-order") {
        while (ok && (f < frames || b < blocks)) {
            const bool takeVideo = f < frames && (b >= blocks || f * fpsDen * 100 <= b * fpsNum);
            ok = takeVideo ? writer.WriteSample(0, video.make(f), video.bytes()) == 0 : audioBlock();
            takeVideo ? ++f : ++b;
        }
    } else {
        const bool videoFirst = order == "video-first";
        for (int pass = 0; pass < 2 && ok; ++pass) {
            if ((pass == 0) == videoFirst) {
                for (; ok && f < frames; ++f) ok = writer.WriteSample(0, video.make(f), video.bytes()) == 0;
            } else {
                for (; ok && b < blocks; ++b) ok = audioBlock();
            }
        }
    }
    const int closed = writer.CloseFile();
    writer.Close();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct stat info {};
    stat(output.c_str(), &info);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                       usage.ru_stime.tv_usec / 1e6;
    std::printf("%-12s %7.1f min %8lld frames %8lld blocks  peak RSS %7.1f MB (after set-up %6.1f MB)  file %9.1f MB  "
                "cpu %7.1f s  wall %7.1f s%s\n",
                order.c_str(), minutes, f, b, peakKilobytes() / 1024.0, baseline / 1024.0,
                static_cast<double>(info.st_size) / 1e6, cpu, seconds, ok && closed == 0 ? "" : "  FAILED");
    return ok && closed == 0 ? 0 : 1;
}
