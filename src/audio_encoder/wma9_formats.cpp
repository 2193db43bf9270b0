// The one-pass CBR format table of the standard codec and the layout of
// its packets (block alignment and the codec's extra bytes).
#include "audio_encoder/wma9_formats.h"

#include "audio_encoder/wma9_encoder.h"

namespace asfw {

namespace {

struct CbrRow {
    int sampleRate;
    int channels;
    int kbps;
};

// Highest sample rate and bit rate first.
constexpr CbrRow kCbrRows[] = {
    {48000, 2, 192}, {48000, 2, 160}, {48000, 2, 128},
    {44100, 2, 192}, {44100, 2, 160}, {44100, 2, 128}, {44100, 2, 96},
    {44100, 2, 80},  {44100, 2, 64},  {44100, 2, 48},  {44100, 2, 32},
    {44100, 1, 48},  {44100, 1, 32},
    {32000, 2, 48},  {32000, 2, 40},  {32000, 2, 32},
    {32000, 1, 20},
    {22050, 2, 32},  {22050, 2, 22},  {22050, 2, 20},
    {22050, 1, 20},  {22050, 1, 16},
    {16000, 2, 20},  {16000, 2, 16},
    {16000, 1, 16},  {16000, 1, 12}, {16000, 1, 10},
    {11025, 1, 10},  {11025, 1, 8},
    {8000, 2, 12},
    {8000, 1, 8},    {8000, 1, 6},   {8000, 1, 5},
};

void putLe16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    putLe16(out, v & 0xFFFF);
    putLe16(out, v >> 16);
}

}  // namespace

int wmaFrameLengthBits(int sampleRate)
{
    if (sampleRate <= 16000) return 9;
    if (sampleRate <= 22050) return 10;
    return 11;
}

std::uint16_t wmaBlockAlignFor(int sampleRate, std::uint32_t avgBytesPerSec)
{
    // A packet carries the bytes of about kWmaFramesPerPacket frames; frames
    // straddle packet borders through the bit reservoir, so the figure need
    // not divide evenly.
    const std::uint64_t frameLen = std::uint64_t{1} << wmaFrameLengthBits(sampleRate);
    const std::uint64_t num = std::uint64_t{avgBytesPerSec} * frameLen * kWmaFramesPerPacket;
    const std::uint64_t align = (num + static_cast<std::uint64_t>(sampleRate) / 2) / static_cast<std::uint64_t>(sampleRate);
    return static_cast<std::uint16_t>(align);
}

std::vector<std::uint8_t> wmaExtraBytes(int sampleRate, std::uint16_t blockAlign)
{
    std::vector<std::uint8_t> extra;
    const std::uint32_t frameLen = 1u << wmaFrameLengthBits(sampleRate);
    putLe32(extra, frameLen * kWmaFramesPerPacket);  // samples per block (nominal)
    putLe16(extra, kWmaEncodeOptions);               // encode options
    putLe32(extra, blockAlign);                      // super block align
    return extra;
}

const std::vector<Wma9Format>& wma9CbrFormats()
{
    static const std::vector<Wma9Format> formats = [] {
        std::vector<Wma9Format> list;
        for (const CbrRow& row : kCbrRows) {
            Wma9Format f;
            f.sampleRate = row.sampleRate;
            f.channels = row.channels;
            f.avgBytesPerSec = static_cast<std::uint32_t>(row.kbps) * 1000u / 8u;
            f.blockAlign = wmaBlockAlignFor(row.sampleRate, f.avgBytesPerSec);
            f.extra = wmaExtraBytes(row.sampleRate, f.blockAlign);
            list.push_back(std::move(f));
        }
        return list;
    }();
    return formats;
}

const Wma9Format* findWma9Format(const AudioSettings& settings)
{
    for (const Wma9Format& f : wma9CbrFormats()) {
        if (f.sampleRate == settings.sampleRate && f.channels == settings.channels &&
            f.avgBytesPerSec == settings.avgBytesPerSec && f.blockAlign == settings.blockAlign)
            return &f;
    }
    return nullptr;
}

}  // namespace asfw
