// Writes a file beyond 4 GiB quickly for bench/long_file.sh: one second of
// WMV9 video (noise pictures at the best quality, one key frame, then
// predicted pictures) is encoded once and its media objects are written
// again and again one second later each time, with 16-bit PCM audio (a
// tone) beside it. Every repetition starts at a key frame, so the whole
// file decodes; only the writing and the reading of a file this large are
// being measured.
//
//   huge_file_host OUTPUT GIB [WIDTHxHEIGHT]     (default 640x480)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "asf_muxer/asf_muxer.h"
#include "video_encoder/wmv9_encoder.h"

namespace {

constexpr int kFps = 25;
constexpr std::int64_t kFrame = 10000000 / kFps;
constexpr int kRate = 48000;

void put16(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void put32(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

}  // namespace

int main(int argc, char** argv)
{
    int w = 640, h = 480;
    if ((argc != 3 && argc != 4) || (argc == 4 && std::sscanf(argv[3], "%dx%d", &w, &h) != 2)) {
        std::fprintf(stderr, "usage: %s OUTPUT GIB [WIDTHxHEIGHT]\n", argv[0]);
        return 2;
    }
    const double gib = std::atof(argv[2]);

    asfw::VideoSettings vs;
    vs.width = w;
    vs.height = h;
    vs.frameDuration = kFrame;
    vs.vbr = true;
    vs.vbrQuality = 100;
    vs.bitrate = 400'000'000;
    vs.maxKeyFrameSpacing = 100'000'000;
    vs.complexity = 0;
    std::string error;
    auto encoder = asfw::createWmv9Encoder(vs, &error);
    if (!encoder) {
        std::fprintf(stderr, "encoder: %s\n", error.c_str());
        return 1;
    }
    asfw::MediaObjects second;
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(w) * h * 3 / 2);
    std::uint32_t seed = 1;
    for (int i = 0; i < kFps; ++i) {
        for (auto& b : picture) {
            seed = seed * 1664525u + 1013904223u;
            b = static_cast<std::uint8_t>(seed >> 24);
        }
        if (!encoder->encode(picture.data(), picture.size(), i * kFrame, second)) {
            std::fprintf(stderr, "encoder: %s\n", encoder->lastError().c_str());
            return 1;
        }
    }
    encoder->flush(second);
    if (second.empty() || !second.front().keyFrame) {
        std::fprintf(stderr, "the encoded second does not start with a key frame\n");
        return 1;
    }
    std::uint64_t bytesPerSecond = 0;
    for (const auto& o : second) bytesPerSecond += o.data.size();

    asfw::asf::StreamDescription video;
    video.number = 1;
    const auto codec = encoder->codecData();
    put32(video.format, static_cast<std::uint32_t>(40 + codec.size()));
    put32(video.format, static_cast<std::uint32_t>(w));
    put32(video.format, static_cast<std::uint32_t>(h));
    put16(video.format, 1);
    put16(video.format, 24);
    put32(video.format, 0x33564D57);  // WMV3
    put32(video.format, static_cast<std::uint32_t>(w * h * 3));
    for (int i = 0; i < 4; ++i) put32(video.format, 0);
    video.format.insert(video.format.end(), codec.begin(), codec.end());
    video.width = static_cast<std::uint32_t>(w);
    video.height = static_cast<std::uint32_t>(h);
    video.bitrate = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytesPerSecond * 8, 0xFFFFFFFFu));
    video.bufferWindowMs = 1000;
    video.averageTimePerFrame = kFrame;
    video.fourCC = 0x33564D57;

    asfw::asf::StreamDescription audio;
    audio.number = 2;
    audio.audio = true;
    put16(audio.format, 1);  // PCM
    put16(audio.format, 2);
    put32(audio.format, kRate);
    put32(audio.format, kRate * 4);
    put16(audio.format, 4);
    put16(audio.format, 16);
    put16(audio.format, 0);
    audio.bitrate = kRate * 32;
    audio.bufferWindowMs = 1000;
    audio.codecId = 1;

    auto sink = asfw::asf::createFileSink(argv[1], &error);
    if (!sink) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    asfw::asf::Muxer muxer(std::move(sink), {});
    if (!muxer.addStream(video) || !muxer.addStream(audio) || !muxer.begin()) {
        std::fprintf(stderr, "muxer: %s\n", muxer.error().c_str());
        return 1;
    }
    const auto started = std::chrono::steady_clock::now();
    const auto seconds = static_cast<long long>(std::ceil(gib * 1073741824.0 / static_cast<double>(bytesPerSecond)));
    asfw::MediaObject tone;
    tone.data.resize(kRate * 4 / kFps);
    tone.duration = kFrame;
    const double step = 2.0 * 3.14159265358979 * 440.0 / kRate;
    for (long long s = 0; s < seconds; ++s) {
        for (const auto& object : second) {
            asfw::MediaObject o = object;
            o.presentationTime += s * 10000000;
            if (!muxer.write(1, std::move(o))) {
                std::fprintf(stderr, "muxer: %s\n", muxer.error().c_str());
                return 1;
            }
        }
        for (int k = 0; k < kFps; ++k) {
            const std::int64_t frameIndex = s * kFps + k;
            tone.presentationTime = frameIndex * kFrame;
            for (int i = 0; i < kRate / kFps; ++i) {
                const double t = static_cast<double>(frameIndex * (kRate / kFps) + i);
                const auto v = static_cast<short>(std::lround(8000.0 * std::sin(step * t)));
                std::memcpy(&tone.data[4 * static_cast<std::size_t>(i)], &v, 2);
                std::memcpy(&tone.data[4 * static_cast<std::size_t>(i) + 2], &v, 2);
            }
            if (!muxer.write(2, tone)) {
                std::fprintf(stderr, "muxer: %s\n", muxer.error().c_str());
                return 1;
            }
        }
    }
    if (!muxer.finish()) {
        std::fprintf(stderr, "muxer: %s\n", muxer.error().c_str());
        return 1;
    }
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("wrote %lld s of %dx%d video (%.1f MB a second) and PCM audio in %.1f s\n", seconds, w, h,
                static_cast<double>(bytesPerSecond) / 1e6, t);
    return 0;
}
