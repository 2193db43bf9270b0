// Running the asfenc program in tests, and the small inputs it is fed.
#ifndef ASFWRITER_TESTS_TOOLS_ASFENC_SUPPORT_H
#define ASFWRITER_TESTS_TOOLS_ASFENC_SUPPORT_H

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace asfenc_test {

using asfw::test::CommandResult;
using asfw::test::runCommand;
using asfw::test::shellQuote;
using asfw::test::TempDir;
using Bytes = std::vector<std::uint8_t>;

inline const std::string kAsfenc = ASFENC_PATH;

// Runs asfenc with `args` (already quoted) inside `dir`.
inline CommandResult asfenc(const TempDir& dir, const std::string& args)
{
    return runCommand("cd " + shellQuote(dir.path()) + " && " + shellQuote(kAsfenc) + " " + args);
}

inline bool exists(const std::string& path) { return std::filesystem::exists(path); }

// A YUV4MPEG2 stream of moving gradients.
inline Bytes y4m(int w, int h, int frames, const std::string& extra = "F25:1")
{
    const std::string header = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " " + extra + "\n";
    Bytes out(header.begin(), header.end());
    for (int f = 0; f < frames; ++f) {
        const std::string fh = "FRAME\n";
        out.insert(out.end(), fh.begin(), fh.end());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) out.push_back(static_cast<std::uint8_t>(16 + (x + y + 3 * f) % 200));
        out.resize(out.size() + static_cast<std::size_t>(w / 2 * (h / 2) * 2), 128);
    }
    return out;
}

inline void put16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A 16-bit PCM WAV holding a 440 Hz tone.
inline Bytes wav(int rate, int channels, double seconds, unsigned tag = 1)
{
    const int frames = static_cast<int>(rate * seconds);
    Bytes data;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            put16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * i / rate))));
    Bytes b{'R', 'I', 'F', 'F'};
    put32(b, static_cast<std::uint32_t>(36 + data.size()));
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(b, 16);
    put16(b, tag);
    put16(b, static_cast<unsigned>(channels));
    put32(b, static_cast<std::uint32_t>(rate));
    put32(b, static_cast<std::uint32_t>(rate * channels * 2));
    put16(b, static_cast<unsigned>(channels * 2));
    put16(b, 16);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

inline void write(const std::string& path, const Bytes& bytes) { ASSERT_TRUE(asfw::test::writeFileBytes(path, bytes)); }

// One line of `ffprobe -show_entries` output per stream, fields in ffprobe's order
// (codec_name,codec_type,width,height).
inline std::string probeStreams(const std::string& file, const std::string& entries = "codec_type,codec_name,width,height")
{
    return runCommand("ffprobe -v error -show_entries stream=" + entries + " -of csv=p=0 " + shellQuote(file)).output;
}

// Frames FFmpeg decodes from the first video stream, failing on any error.
inline int decodedFrames(const std::string& file)
{
    const CommandResult r = runCommand("ffmpeg -v error -xerror -i " + shellQuote(file) +
                                       " -map 0:v:0 -fps_mode passthrough -f framemd5 -");
    if (r.exitCode != 0) return -1;
    int frames = 0;
    std::size_t pos = 0;
    while ((pos = r.output.find('\n', pos)) != std::string::npos) {
        ++pos;
        if (pos < r.output.size() && r.output[pos] != '#') ++frames;
    }
    return frames;
}

}  // namespace asfenc_test

#endif
