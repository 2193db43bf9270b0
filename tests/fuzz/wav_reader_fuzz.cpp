// Fuzz target: asfenc's audio input (RIFF/RF64 WAVE) on arbitrary bytes,
// delivered in arbitrary pieces, with read errors, read in random amounts
// and, on request, converted to the writer's 48 kHz stereo 16-bit blocks.
//
// Input layout: one byte of flags, one byte for the piece size, one byte
// for where the input fails (when it does), one byte choosing the read
// sizes, then the file itself.
//
// Promises checked besides the sanitizers: a header is taken only with a
// format the reader can convert (channels, rate, sample size and block size
// agreeing); every result other than Ok and End carries a message; reads
// return whole sample frames, finite samples (within -1..1 for integer
// samples, held within +-1000 for float ones), never more frames than the input or the data chunk holds; the
// end is final; IoError appears only after a read error of the input. The
// converted blocks are whole stereo frames of at most 10 ms, and their
// count matches the frames read at the new rate.
#include "audio_convert.h"
#include "choppy_input.h"
#include "fuzz_support.h"
#include "wav_reader.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#define FUZZ_TARGET "wav_reader_fuzz"

namespace {

using asfenc::ReadResult;

constexpr int kMaxReads = 200;
const std::size_t kReadSizes[] = {4096, 1, 3, 1000, 0, 65536, 7, 480};

void CheckFormat(const asfenc::WavFormat& f)
{
    FUZZ_PROMISE(f.channels >= 1 && f.channels <= asfenc::kMaxWavChannels, std::to_string(f.channels));
    FUZZ_PROMISE(f.sampleRate >= asfenc::kMinWavRate && f.sampleRate <= asfenc::kMaxWavRate,
                 std::to_string(f.sampleRate));
    const bool bitsOk = f.isFloat ? (f.bitsPerSample == 32 || f.bitsPerSample == 64)
                                  : (f.bitsPerSample == 8 || f.bitsPerSample == 16 || f.bitsPerSample == 24 ||
                                     f.bitsPerSample == 32);
    FUZZ_PROMISE(bitsOk, std::to_string(f.bitsPerSample));
    FUZZ_PROMISE(f.blockAlign == f.channels * f.bitsPerSample / 8, std::to_string(f.blockAlign));
}

// Reads the sample data straight; returns the frames read.
std::uint64_t ReadSamples(asfenc::WavReader& reader, const fuzz::ChoppyInput& input, std::size_t inputSize,
                          std::uint8_t sizes)
{
    const asfenc::WavFormat& f = reader.format();
    std::vector<float> samples;
    std::uint64_t total = 0;
    for (int i = 0; i < kMaxReads; ++i) {
        fuzz::currentOp = i;
        const std::size_t want = kReadSizes[(sizes + i * ((sizes >> 3) | 1)) % 8];
        std::size_t frames = 12345;
        std::string error;
        const ReadResult r = reader.read(samples, want, frames, error);
        if (r == ReadResult::Ok) {
            FUZZ_PROMISE(frames <= want, std::to_string(frames) + " of " + std::to_string(want));
            FUZZ_PROMISE(samples.size() == frames * static_cast<std::size_t>(f.channels), "sample count");
            for (float s : samples) {
                FUZZ_PROMISE(std::isfinite(s), "a sample that is not a number");
                FUZZ_PROMISE(std::fabs(s) <= (f.isFloat ? 1000.0f : 1.0f), std::to_string(s));
            }
            total += frames;
            FUZZ_PROMISE(total * static_cast<std::uint64_t>(f.blockAlign) <= inputSize, "more frames than bytes");
            FUZZ_PROMISE(!f.lengthKnown || total * static_cast<std::uint64_t>(f.blockAlign) <= f.dataBytes,
                         "more frames than the data chunk holds");
            FUZZ_PROMISE(reader.framesRead() == total, "frame count");
            continue;
        }
        FUZZ_PROMISE(frames == 0 && samples.empty(), "samples with an end");
        FUZZ_PROMISE(r == ReadResult::End || !error.empty(), "a failure without a message");
        FUZZ_PROMISE(r != ReadResult::IoError || input.failed(), "a read error the input did not report");
        FUZZ_PROMISE(r == ReadResult::End || r == ReadResult::Truncated || r == ReadResult::IoError,
                     "an unexpected result in the sample data");
        std::string again;
        const ReadResult r2 = reader.read(samples, 4096, frames, again);
        FUZZ_PROMISE(r2 == r && frames == 0, "the end is not final");
        break;
    }
    return total;
}

void Convert(asfenc::WavReader& reader, const fuzz::ChoppyInput& input)
{
    asfenc::WavAudioSource source(reader);
    std::string error;
    if (!source.ready(error)) {
        FUZZ_PROMISE(!error.empty(), "a resampler failure without a message");
        return;
    }
    std::vector<std::uint8_t> block;
    std::uint64_t delivered = 0;
    for (int i = 0; i < 20000; ++i) {
        fuzz::currentOp = i;
        const ReadResult r = source.next(block, error);
        if (r != ReadResult::Ok) {
            FUZZ_PROMISE(r == ReadResult::End || !error.empty(), "a failure without a message");
            FUZZ_PROMISE(r != ReadResult::IoError || input.failed(), "a read error the input did not report");
            // All of the input's frames, at 48 kHz (the resampler's filter
            // may round the length by a frame).
            const double expected = static_cast<double>(reader.framesRead()) * asfenc::AudioSource::kRate /
                                    reader.format().sampleRate;
            FUZZ_PROMISE(std::fabs(static_cast<double>(delivered) - expected) <= 2.0,
                         std::to_string(delivered) + " frames for " + std::to_string(expected));
            return;
        }
        FUZZ_PROMISE(!block.empty() && block.size() % 4 == 0 && block.size() <= asfenc::AudioSource::kBlockBytes,
                     std::to_string(block.size()));
        delivered += block.size() / 4;
        FUZZ_PROMISE(source.framesDelivered() == delivered, "delivered count");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t flags = in.u8();
    const std::size_t piece = std::size_t{1} << (in.u8() % 17);
    const std::size_t failAt = in.u8() * 7u;
    const std::uint8_t sizes = in.u8();
    const std::size_t skip = std::min<std::size_t>(4, size);
    const bool fails = (flags & 0x08) != 0;
    fuzz::ChoppyInput input(data + skip, size - skip, piece, fails, failAt);

    asfenc::WavReader reader(input);
    std::string error;
    fuzz::currentOp = -1;
    const ReadResult r = reader.readHeader(error);
    if (r != ReadResult::Ok) {
        FUZZ_PROMISE(!error.empty(), "a refused header without a message");
        FUZZ_PROMISE(r != ReadResult::IoError || input.failed(), "a read error the input did not report");
        return 0;
    }
    CheckFormat(reader.format());
    if (flags & 1)
        Convert(reader, input);
    else
        ReadSamples(reader, input, size - skip, sizes);
    return 0;
}
