// The WAV reader of asfenc: every sample encoding it takes, the chunk
// layouts met in practice, and damaged files.
#include "wav_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace asfenc {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void putTag(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }
void chunk(Bytes& b, const char* tag, const Bytes& body)
{
    putTag(b, tag);
    put32(b, static_cast<std::uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1) b.push_back(0);
}

struct Fmt {
    unsigned tag = 1;
    unsigned channels = 2;
    std::uint32_t rate = 48000;
    unsigned bits = 16;
    bool extensible = false;
    unsigned subTag = 1;
    std::uint32_t mask = 0;
    int blockAlign = -1;  // -1: the right value
};

Bytes fmtBody(const Fmt& f)
{
    Bytes b;
    const unsigned align = f.blockAlign >= 0 ? static_cast<unsigned>(f.blockAlign) : f.channels * f.bits / 8;
    put16(b, f.extensible ? 0xFFFE : f.tag);
    put16(b, f.channels);
    put32(b, f.rate);
    put32(b, f.rate * align);
    put16(b, align);
    put16(b, f.bits);
    if (f.extensible) {
        put16(b, 22);
        put16(b, f.bits);
        put32(b, f.mask);
        put16(b, f.subTag);
        const std::uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        b.insert(b.end(), tail, tail + 14);
    }
    return b;
}

// A whole file: RIFF header, the given chunks in order.
Bytes riff(const std::vector<std::pair<const char*, Bytes>>& chunks, const char* form = "WAVE")
{
    Bytes body;
    putTag(body, form);
    for (const auto& c : chunks) chunk(body, c.first, c.second);
    Bytes out;
    putTag(out, "RIFF");
    put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes wav(const Fmt& f, const Bytes& data) { return riff({{"fmt ", fmtBody(f)}, {"data", data}}); }

std::vector<float> readAll(const Bytes& file, ReadResult& last, std::string& error, std::size_t chunkFrames = 3)
{
    MemoryInput in(file);
    WavReader reader(in);
    last = reader.readHeader(error);
    std::vector<float> all;
    if (last != ReadResult::Ok) return all;
    std::vector<float> part;
    std::size_t frames = 0;
    while ((last = reader.read(part, chunkFrames, frames, error)) == ReadResult::Ok)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct SampleCase {
    const char* name;
    Fmt fmt;
    Bytes data;
    std::vector<float> expected;
};

Bytes le(std::initializer_list<std::uint32_t> values, int bytesEach)
{
    Bytes b;
    for (std::uint32_t v : values)
        for (int i = 0; i < bytesEach; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
}

Bytes floats(std::initializer_list<float> values)
{
    Bytes b;
    for (float v : values) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        put32(b, bits);
    }
    return b;
}

Bytes doubles(std::initializer_list<double> values)
{
    Bytes b;
    for (double v : values) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        put32(b, static_cast<std::uint32_t>(bits));
        put32(b, static_cast<std::uint32_t>(bits >> 32));
    }
    return b;
}

TEST(WavReader, ConvertsEverySampleEncodingToNominalFloats)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Fmt pcm8;
    pcm8.bits = 8;
    pcm8.channels = 1;
    Fmt pcm16;
    Fmt pcm24;
    pcm24.bits = 24;
    Fmt pcm32;
    pcm32.bits = 32;
    Fmt f32;
    f32.tag = 3;
    f32.bits = 32;
    Fmt f64;
    f64.tag = 3;
    f64.bits = 64;
    f64.channels = 1;
    Fmt ext24 = pcm24;
    ext24.extensible = true;
    Fmt extFloat = f32;
    extFloat.extensible = true;
    extFloat.subTag = 3;
    const SampleCase cases[] = {
        {"pcm8", pcm8, {0, 128, 255, 192}, {-1.0f, 0.0f, 127.0f / 128, 0.5f}},
        {"pcm16", pcm16, le({0x8000, 0x4000, 0xFFFF, 0x7FFF}, 2), {-1.0f, 0.5f, -1.0f / 32768, 32767.0f / 32768}},
        {"pcm24", pcm24, le({0x800000, 0x400000, 0xFFFFFF, 0x000001}, 3),
         {-1.0f, 0.5f, -1.0f / 8388608, 1.0f / 8388608}},
        {"pcm32", pcm32, le({0x80000000u, 0x40000000u, 0xC0000000u, 0}, 4), {-1.0f, 0.5f, -0.5f, 0.0f}},
        {"float32 (non-finite values become silence)", f32, floats({0.25f, -2.0f, nan, 1.0f}), {0.25f, -2.0f, 0.0f, 1.0f}},
        {"float64", f64, doubles({-0.5, 0.125}), {-0.5f, 0.125f}},
        {"extensible pcm24", ext24, le({0x400000, 0xC00000}, 3), {0.5f, -0.5f}},
        {"extensible float", extFloat, floats({0.75f, -0.75f}), {0.75f, -0.75f}},
    };
    for (const SampleCase& c : cases) {
        ReadResult last;
        std::string error;
        const auto got = readAll(wav(c.fmt, c.data), last, error);
        EXPECT_EQ(last, ReadResult::End) << c.name << ": " << error;
        ASSERT_EQ(got.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_FLOAT_EQ(got[i], c.expected[i]) << c.name << " #" << i;
    }
}

TEST(WavReader, ReadsTheFormatFieldsAndSkipsOtherChunks)
{
    Fmt f;
    f.channels = 6;
    f.rate = 96000;
    f.bits = 24;
    f.extensible = true;
    f.mask = 0x3F;
    const Bytes data(6 * 3 * 2, 0);
    // A LIST before the format, an odd-sized chunk (with its pad byte) between.
    const Bytes file = riff({{"LIST", Bytes(10, 'x')}, {"fmt ", fmtBody(f)}, {"junk", Bytes(3, 'y')}, {"data", data},
                             {"LIST", Bytes(4, 'z')}});
    MemoryInput in(file);
    WavReader reader(in);
    std::string error;
    ASSERT_EQ(reader.readHeader(error), ReadResult::Ok) << error;
    EXPECT_EQ(reader.format().channels, 6);
    EXPECT_EQ(reader.format().sampleRate, 96000);
    EXPECT_EQ(reader.format().bitsPerSample, 24);
    EXPECT_FALSE(reader.format().isFloat);
    EXPECT_EQ(reader.format().channelMask, 0x3Fu);
    EXPECT_TRUE(reader.format().lengthKnown);
    EXPECT_EQ(reader.format().dataBytes, data.size());
    std::vector<float> s;
    std::size_t frames = 0;
    EXPECT_EQ(reader.read(s, 100, frames, error), ReadResult::Ok);
    EXPECT_EQ(frames, 2u);
    EXPECT_EQ(reader.read(s, 100, frames, error), ReadResult::End);  // the trailing LIST is not sample data
}

TEST(WavReader, AStreamedFileWithoutSizesRunsToTheEnd)
{
    for (std::uint32_t unknown : {0xFFFFFFFFu, 0u}) {
        Bytes file;
        putTag(file, "RIFF");
        put32(file, 0xFFFFFFFFu);
        putTag(file, "WAVE");
        chunk(file, "fmt ", fmtBody(Fmt{}));
        putTag(file, "data");
        put32(file, unknown);
        const Bytes samples = le({1, 2, 3, 4, 5, 6}, 2);
        file.insert(file.end(), samples.begin(), samples.end());
        ReadResult last;
        std::string error;
        const auto got = readAll(file, last, error);
        EXPECT_EQ(last, ReadResult::End) << error;
        EXPECT_EQ(got.size(), 6u) << unknown;
    }
}

TEST(WavReader, Rf64TakesTheDataSizeFromItsSizeChunk)
{
    Bytes ds64;
    put32(ds64, 0);  // RIFF size, low and high
    put32(ds64, 0);
    put32(ds64, 8);  // data size: two stereo 16-bit frames
    put32(ds64, 0);
    put32(ds64, 0);  // sample count
    put32(ds64, 0);
    put32(ds64, 0);  // table length
    Bytes file;
    putTag(file, "RF64");
    put32(file, 0xFFFFFFFFu);
    putTag(file, "WAVE");
    chunk(file, "ds64", ds64);
    chunk(file, "fmt ", fmtBody(Fmt{}));
    putTag(file, "data");
    put32(file, 0xFFFFFFFFu);
    const Bytes samples = le({1, 2, 3, 4, 9, 9}, 2);  // one frame more than declared
    file.insert(file.end(), samples.begin(), samples.end());
    ReadResult last;
    std::string error;
    EXPECT_EQ(readAll(file, last, error).size(), 4u);
    EXPECT_EQ(last, ReadResult::End) << error;
}

TEST(WavReader, RejectsWhatItCannotRead)
{
    Fmt adpcm;
    adpcm.tag = 2;
    Fmt wma;
    wma.tag = 0x0161;
    Fmt noChannels;
    noChannels.channels = 0;
    Fmt nine;
    nine.channels = 9;
    Fmt bits12;
    bits12.bits = 12;
    Fmt float16;
    float16.tag = 3;
    Fmt badAlign;
    badAlign.blockAlign = 3;
    Fmt rate0;
    rate0.rate = 0;
    Fmt hugeRate;
    hugeRate.rate = 100000000;
    Fmt extAdpcm;
    extAdpcm.extensible = true;
    extAdpcm.subTag = 2;
    Bytes shortFmt(14, 0);
    Bytes extShort = fmtBody(Fmt{});
    extShort[0] = 0xFE;
    extShort[1] = 0xFF;  // extensible tag on a 16-byte format chunk
    Bytes badGuid = fmtBody(extAdpcm);
    badGuid[26 + 4] ^= 1;
    badGuid[24] = 1;
    Bytes hugeFmt;
    putTag(hugeFmt, "RIFF");
    put32(hugeFmt, 100);
    putTag(hugeFmt, "WAVE");
    putTag(hugeFmt, "fmt ");
    put32(hugeFmt, 0x7FFFFFFF);
    const Bytes pcm = le({0, 0}, 2);
    struct Case {
        const char* name;
        Bytes file;
        ReadResult result;
    };
    const Case cases[] = {
        {"not RIFF", Bytes{'O', 'g', 'g', 'S', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, ReadResult::Invalid},
        {"RIFF but not WAVE", riff({{"fmt ", fmtBody(Fmt{})}}, "AVI "), ReadResult::Invalid},
        {"empty", Bytes{}, ReadResult::Invalid},
        {"cut RIFF header", Bytes{'R', 'I', 'F', 'F', 1}, ReadResult::Truncated},
        {"adpcm", wav(adpcm, pcm), ReadResult::Invalid},
        {"wma", wav(wma, pcm), ReadResult::Invalid},
        {"no channels", wav(noChannels, pcm), ReadResult::Invalid},
        {"nine channels", wav(nine, pcm), ReadResult::Invalid},
        {"12-bit", wav(bits12, pcm), ReadResult::Invalid},
        {"16-bit float", wav(float16, pcm), ReadResult::Invalid},
        {"wrong block align", wav(badAlign, pcm), ReadResult::Invalid},
        {"rate 0", wav(rate0, pcm), ReadResult::Invalid},
        {"rate too high", wav(hugeRate, pcm), ReadResult::Invalid},
        {"extensible adpcm", wav(extAdpcm, pcm), ReadResult::Invalid},
        {"extensible too short", riff({{"fmt ", extShort}, {"data", pcm}}), ReadResult::Invalid},
        {"extensible bad sub-format", riff({{"fmt ", badGuid}, {"data", pcm}}), ReadResult::Invalid},
        {"format chunk too short", riff({{"fmt ", shortFmt}, {"data", pcm}}), ReadResult::Invalid},
        {"two format chunks", riff({{"fmt ", fmtBody(Fmt{})}, {"fmt ", fmtBody(Fmt{})}, {"data", pcm}}),
         ReadResult::Invalid},
        {"data before format", riff({{"data", pcm}, {"fmt ", fmtBody(Fmt{})}}), ReadResult::Invalid},
        {"no data chunk", riff({{"fmt ", fmtBody(Fmt{})}}), ReadResult::Truncated},
        {"chunk larger than the file", riff({{"fmt ", fmtBody(Fmt{})}, {"LIST", Bytes(4, 0)}}), ReadResult::Truncated},
        {"huge format chunk", hugeFmt, ReadResult::Invalid},
    };
    for (const Case& c : cases) {
        Bytes file = c.file;
        if (std::string(c.name) == "chunk larger than the file") file[file.size() - 8] = 0xF0;  // the LIST claims 240 bytes
        MemoryInput in(file);
        WavReader reader(in);
        std::string error;
        EXPECT_EQ(reader.readHeader(error), c.result) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

TEST(WavReader, ACutDataChunkGivesItsWholeFramesThenTruncated)
{
    struct Case {
        const char* name;
        std::size_t declared, present;
        std::size_t frames;
    };
    // Stereo 16-bit: 4 bytes a frame.
    const Case cases[] = {
        {"declared longer than present", 40, 22, 5},
        {"data size not a whole number of frames", 22, 22, 5},
    };
    for (const Case& c : cases) {
        Bytes file = riff({{"fmt ", fmtBody(Fmt{})}});
        putTag(file, "data");
        put32(file, static_cast<std::uint32_t>(c.declared));
        file.resize(file.size() + c.present, 7);
        ReadResult last;
        std::string error;
        const auto got = readAll(file, last, error, 2);
        EXPECT_EQ(got.size(), 2 * c.frames) << c.name;
        EXPECT_EQ(last, ReadResult::Truncated) << c.name;
        EXPECT_NE(error.find("cut short"), std::string::npos) << c.name << ": " << error;
    }
}

}  // namespace
}  // namespace asfenc
