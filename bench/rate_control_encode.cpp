// Benchmark driver for the WMV9 rate control: encodes raw I420 into an ASF
// file through the encoder and the muxer, the way the built-in runtime
// does, and reports what the stream really holds.
//
//   rate_control_encode W H FPS in.yuv out.wmv MODE KBPS [QUALITY]
//     MODE: cbr1 (constant bit rate, one pass), cbr2 (constant bit rate
//     with the pre-processing pass), pvbr (peak-constrained VBR with the
//     pre-processing pass: peak 2.5 x rate, 6 s), vbrq (quality VBR,
//     QUALITY 1..100).
//
// Prints: frames kbps worst_bucket worst_peak_bucket skipped key_frames
// longest_key_distance_s. The buckets are simulated over the media
// objects in decode order at millisecond times, as a reader of the file
// sees them: rate x 3 s (the stream's), and for pvbr 2.5 x rate x 6 s;
// the worst fullness is a share of the bucket's size (<= 1 never overflows).
// bench/rate_control.sh runs the comparison with FFmpeg's wmv2.
#include "asf_muxer/asf_muxer.h"
#include "video_encoder/vc1_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> bitmapFormat(int w, int h, const std::vector<std::uint8_t>& codecData)
{
    std::vector<std::uint8_t> f;
    auto put = [&f](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) f.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(40 + static_cast<std::uint32_t>(codecData.size()), 4);
    put(static_cast<std::uint32_t>(w), 4);
    put(static_cast<std::uint32_t>(h), 4);
    put(1, 2);
    put(24, 2);
    put(0x33564D57, 4);
    put(static_cast<std::uint32_t>(w * h * 3), 4);
    for (int i = 0; i < 4; ++i) put(0, 4);
    f.insert(f.end(), codecData.begin(), codecData.end());
    return f;
}

double worstBucket(const std::vector<std::uint32_t>& bytes, const std::vector<std::int64_t>& ms, double rate,
                   double windowMs)
{
    double full = 0, worst = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) full = std::max(0.0, full - rate * static_cast<double>(ms[i] - ms[i - 1]) / 1000.0);
        full += 8.0 * bytes[i];
        worst = std::max(worst, full);
    }
    return worst / (rate * windowMs / 1000.0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 8) {
        std::fprintf(stderr, "usage: %s W H FPS in.yuv out.wmv cbr1|cbr2|pvbr|vbrq KBPS [QUALITY]\n", argv[0]);
        return 2;
    }
    const int w = std::atoi(argv[1]), h = std::atoi(argv[2]), fps = std::atoi(argv[3]);
    const std::string in = argv[4], out = argv[5], mode = argv[6];
    const std::uint32_t kbps = static_cast<std::uint32_t>(std::atoi(argv[7]));
    const std::uint32_t quality = argc > 8 ? static_cast<std::uint32_t>(std::atoi(argv[8])) : 75;
    if (w <= 0 || h <= 0 || fps <= 0) return 2;

    asfw::VideoSettings s;
    s.width = w;
    s.height = h;
    s.frameDuration = 10000000 / fps;
    s.bitrate = kbps * 1000;
    s.bufferWindowMs = 3000;
    s.maxKeyFrameSpacing = 40000000;
    const bool prepass = mode == "cbr2" || mode == "pvbr";
    if (mode == "cbr2") s.passes = 2;
    if (mode == "pvbr") {
        s.vbr = true;
        s.passes = 2;
        s.peakBitrate = kbps * 2500;
        s.peakBufferMs = 6000;
    }
    if (mode == "vbrq") {
        s.vbr = true;
        s.passes = 1;
        s.vbrQuality = quality;
    }
    std::string error;
    auto enc = asfw::createWmv9EncoderWithOptions(s, asfw::Wmv9EncoderOptions(), &error);
    if (!enc) {
        std::fprintf(stderr, "encoder: %s\n", error.c_str());
        return 1;
    }
    const std::size_t frameBytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3 / 2;
    std::vector<std::uint8_t> frame(frameBytes);
    FILE* f = std::fopen(in.c_str(), "rb");
    if (f == nullptr) return 1;
    if (prepass) {
        std::int64_t n = 0;
        while (std::fread(frame.data(), 1, frameBytes, f) == frameBytes) enc->analyse(frame.data(), frameBytes, n++ * s.frameDuration);
        enc->endAnalysis();
        std::rewind(f);
    }
    auto sink = asfw::asf::createFileSink(out, &error);
    if (!sink) {
        std::fprintf(stderr, "file: %s\n", error.c_str());
        return 1;
    }
    asfw::asf::Muxer mux(std::move(sink), asfw::asf::MuxerOptions());
    asfw::asf::StreamDescription d;
    d.number = 1;
    d.format = bitmapFormat(w, h, enc->codecData());
    d.width = static_cast<std::uint32_t>(w);
    d.height = static_cast<std::uint32_t>(h);
    d.bitrate = s.bitrate;
    d.bufferWindowMs = s.bufferWindowMs;
    d.peakBitrate = s.peakBitrate;
    d.averageTimePerFrame = s.frameDuration;
    d.fourCC = 0x33564D57;
    d.name = u"Video";
    if (!mux.addStream(d) || !mux.begin()) return 1;
    std::vector<std::uint32_t> sizes;
    std::vector<std::int64_t> ms;
    int keys = 0;
    std::int64_t lastKey = 0, longestKey = 0, n = 0;
    while (std::fread(frame.data(), 1, frameBytes, f) == frameBytes) {
        asfw::MediaObjects objects;
        if (!enc->encode(frame.data(), frameBytes, n++ * s.frameDuration, objects)) return 1;
        for (asfw::MediaObject& o : objects) {
            sizes.push_back(static_cast<std::uint32_t>(o.data.size()));
            ms.push_back(o.presentationTime / 10000);
            if (o.keyFrame) {
                longestKey = std::max(longestKey, o.presentationTime - lastKey);
                lastKey = o.presentationTime;
                ++keys;
            }
            if (!mux.write(1, std::move(o))) return 1;
        }
    }
    std::fclose(f);
    longestKey = std::max(longestKey, (n - 1) * s.frameDuration - lastKey);
    if (!mux.finish()) return 1;
    double bits = 0;
    for (std::uint32_t b : sizes) bits += 8.0 * b;
    const double seconds = static_cast<double>(n) * static_cast<double>(s.frameDuration) / 1e7;
    const double worst = worstBucket(sizes, ms, s.bitrate, 3000);
    const double worstPeak = mode == "pvbr" ? worstBucket(sizes, ms, s.peakBitrate, 6000) : 0.0;
    std::printf("%lld %.1f %.3f %.3f %lld %d %.2f\n", static_cast<long long>(n), bits / seconds / 1000.0, worst, worstPeak,
                static_cast<long long>(enc->skippedPictures()), keys, static_cast<double>(longestKey) / 1e7);
    return 0;
}
