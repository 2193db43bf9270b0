// Fuzz target: the WMA9 encoder on the media-encoder seam, fed random
// settings (every format of its table, and others it must refuse) and
// blocks of random sizes and contents: silence, full-scale squares and
// impulses, noise, tones, sudden level jumps.
//
// Input layout: one byte choosing the format (a table row, or raw settings
// from the next bytes), a block count, then per block one byte for its size,
// one for its contents and one seed byte.
//
// Promises checked besides the sanitizers: only the table's formats are
// taken, others refused with a message; input that is not whole sample
// frames is refused with a message and adds nothing; every media object is
// whole blocks of the format's size, its time and duration are not
// negative and times never go back; input after flush() is refused;
// what comes out lasts about as long as what went in.
#include "audio_encoder/wma9_encoder.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_TARGET "audio_encoder_fuzz"

namespace {

using fuzz::Input;

constexpr int kMaxBlocks = 24;
const int kFrameCounts[] = {441, 480, 1, 0, 2048, 4096, 7, 1023, 8192};

void Fill(std::vector<std::uint8_t>& block, int channels, std::uint8_t how, std::uint8_t seed, std::int64_t start)
{
    std::uint32_t s = seed * 2654435761u + 7;
    auto rnd = [&s] {
        s = s * 1664525u + 1013904223u;
        return static_cast<std::int16_t>(s >> 16);
    };
    const std::size_t frames = block.size() / (2 * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const double t = static_cast<double>(start + static_cast<std::int64_t>(i));
            std::int32_t v = 0;
            switch (how % 8) {
            case 0: v = 0; break;
            case 1: v = rnd(); break;
            case 2: v = ((start + static_cast<std::int64_t>(i)) / (1 + seed % 50)) & 1 ? 32767 : -32768; break;
            case 3: v = static_cast<std::int32_t>(std::lround(30000.0 * std::sin(t * (0.001 + seed * 0.01) + c))); break;
            case 4: v = i % (1 + seed) == 0 ? 32767 : 0; break;  // impulses
            case 5: v = (c & 1) ? 32767 : -32768; break;         // full-scale DC, opposite sides
            case 6: v = rnd() / (1 + (seed & 15) * 256); break;  // quiet noise
            default: v = static_cast<std::int32_t>(std::lround(100.0 * std::sin(t * 0.05))) * ((i / 64) % 2 ? 300 : 1); break;
            }
            v = std::max(-32768, std::min(32767, v));
            const std::size_t o = (i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)) * 2;
            block[o] = static_cast<std::uint8_t>(v & 0xFF);
            block[o + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const auto& formats = asfw::wma9CbrFormats();
    asfw::AudioSettings settings;
    const std::uint8_t which = in.u8();
    if (which < 224 && !formats.empty()) {
        const asfw::Wma9Format& f = formats[which % formats.size()];
        settings.sampleRate = f.sampleRate;
        settings.channels = f.channels;
        settings.avgBytesPerSec = f.avgBytesPerSec;
        settings.blockAlign = f.blockAlign;
        if (which & 0x80) {  // one field off
            switch (in.u8() % 4) {
            case 0: settings.sampleRate += 1; break;
            case 1: settings.channels = settings.channels == 1 ? 2 : 1; break;
            case 2: settings.avgBytesPerSec += 1; break;
            default: settings.blockAlign = static_cast<std::uint16_t>(settings.blockAlign + 1); break;
            }
        }
    } else {
        settings.sampleRate = static_cast<int>(in.u32() % 200000) - 1000;
        settings.channels = static_cast<int>(in.u8() % 10) - 1;
        settings.avgBytesPerSec = in.u32() % 100000;
        settings.blockAlign = in.u16();
    }

    fuzz::currentOp = -1;
    std::string error;
    auto encoder = asfw::createWma9Encoder(settings, &error);
    bool listed = false;
    for (const auto& f : formats)
        listed = listed || (f.sampleRate == settings.sampleRate && f.channels == settings.channels &&
                            f.avgBytesPerSec == settings.avgBytesPerSec && f.blockAlign == settings.blockAlign);
    if (!encoder) {
        FUZZ_PROMISE(!error.empty(), "settings refused without a message");
        FUZZ_PROMISE(!listed, "a format of the table refused: " + error);
        return 0;
    }
    FUZZ_PROMISE(listed, "a format outside the table taken");
    FUZZ_PROMISE(!encoder->codecData().empty(), "no codec data");

    const int channels = settings.channels;
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(channels);
    const int blocks = 1 + in.u8() % kMaxBlocks;
    asfw::MediaObjects out;
    std::vector<std::uint8_t> block;
    std::int64_t framesIn = 0;
    for (int b = 0; b < blocks; ++b) {
        fuzz::currentOp = b;
        const std::uint8_t sizeChoice = in.u8();
        std::size_t bytes = static_cast<std::size_t>(kFrameCounts[sizeChoice % 9]) * frameBytes;
        if (sizeChoice >= 248) bytes += 1 + (sizeChoice & 1);  // not whole sample frames
        block.assign(bytes, 0);
        Fill(block, channels, in.u8(), in.u8(), framesIn);
        const std::int64_t time = framesIn * 10000000 / settings.sampleRate;
        const std::size_t before = out.size();
        const bool ok = encoder->encode(block.data(), block.size(), time, out);
        if (bytes % frameBytes != 0) FUZZ_PROMISE(!ok, "a part of a sample frame taken");
        if (!ok) {
            FUZZ_PROMISE(out.size() == before, "refused input added objects");
            FUZZ_PROMISE(!encoder->lastError().empty(), "refused input without a message");
            continue;
        }
        framesIn += static_cast<std::int64_t>(bytes / frameBytes);
    }
    fuzz::currentOp = 1000;
    FUZZ_PROMISE(encoder->flush(out), "flush: " + encoder->lastError());
    {
        std::vector<std::uint8_t> late(frameBytes * 16, 0);
        asfw::MediaObjects more;
        FUZZ_PROMISE(!encoder->encode(late.data(), late.size(), 0, more) && more.empty(), "input after the end taken");
    }
    std::int64_t lastTime = -1, end = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        fuzz::currentOp = 2000 + static_cast<int>(i);
        const asfw::MediaObject& o = out[i];
        FUZZ_PROMISE(!o.data.empty() && o.data.size() % settings.blockAlign == 0,
                     std::to_string(o.data.size()) + " bytes, blocks of " + std::to_string(settings.blockAlign));
        FUZZ_PROMISE(o.presentationTime >= 0 && o.duration >= 0, "a negative time");
        FUZZ_PROMISE(o.presentationTime >= lastTime, "time goes back");
        lastTime = o.presentationTime;
        end = std::max(end, o.presentationTime + o.duration);
    }
    // The output covers the input, give or take a packet's length (the
    // encoder's delay and its last, padded packet).
    const std::int64_t inputEnd = framesIn * 10000000 / settings.sampleRate;
    const std::int64_t slack = 2 * 10000000LL * 4096 / settings.sampleRate;  // two frames of the longest length
    if (framesIn > 0) FUZZ_PROMISE(!out.empty(), "input without output");
    FUZZ_PROMISE(std::llabs(end - inputEnd) <= slack + 10000000LL * 8192 / settings.sampleRate,
                 "output ends at " + std::to_string(end) + ", input at " + std::to_string(inputEnd));
    return 0;
}
