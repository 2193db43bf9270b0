// Fuzz target: asfenc's video input (YUV4MPEG2 streams and raw I420 frames)
// on arbitrary bytes, delivered in arbitrary pieces, with read errors.
//
// Input layout: one byte of flags, one byte for the piece size, one byte
// for where the input fails (when it does), two bytes of raw picture size,
// then the stream itself.
//
// Promises checked besides the sanitizers: a source opens only with a
// picture size the writer can take (even, within the limits); every result
// other than Ok and End carries a message; frames come out exactly one
// I420 picture long and no more of them than the input holds; IoError
// appears only when the input reported a read error; and a source read a
// second time after restart() gives the same frames and the same ending.
#include "choppy_input.h"
#include "fuzz_support.h"
#include "y4m_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#define FUZZ_TARGET "y4m_reader_fuzz"

namespace {

using asfenc::ReadResult;

// Frames beyond this many bytes are not read (the reader only fills the
// buffer; a 16384x16384 picture would make every run slow, not more searching).
constexpr std::size_t kLargestFrameRead = 4u << 20;
constexpr int kMaxFrames = 64;

std::uint64_t Hash(const std::vector<std::uint8_t>& bytes)
{
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

struct Pass {
    std::vector<std::uint64_t> frames;  // hashes
    ReadResult end = ReadResult::End;
};

Pass ReadAll(asfenc::VideoSource& source, const asfenc::ByteInput& input, std::size_t inputSize)
{
    Pass pass;
    const asfenc::VideoFormat& f = source.format();
    if (f.frameBytes() > kLargestFrameRead) return pass;
    std::vector<std::uint8_t> frame;
    for (int i = 0; i < kMaxFrames; ++i) {
        fuzz::currentOp = i;
        std::string error;
        const ReadResult r = source.next(frame, error);
        if (r == ReadResult::Ok) {
            FUZZ_PROMISE(frame.size() == f.frameBytes(), std::to_string(frame.size()));
            pass.frames.push_back(Hash(frame));
            FUZZ_PROMISE(pass.frames.size() * f.frameBytes() <= inputSize, "more frames than the input holds");
            continue;
        }
        FUZZ_PROMISE(r == ReadResult::End || !error.empty(), "a failure without a message");
        FUZZ_PROMISE(r != ReadResult::IoError || input.failed(), "a read error the input did not report");
        pass.end = r;
        // The end is final: asking again reports an end or a failure, never a frame.
        std::string again;
        if (r != ReadResult::IoError) {
            const ReadResult r2 = source.next(frame, again);
            FUZZ_PROMISE(r2 != ReadResult::Ok || r == ReadResult::Invalid, "a frame after the end");
        }
        break;
    }
    return pass;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t flags = in.u8();
    const std::size_t piece = std::size_t{1} << (in.u8() % 17);
    const std::size_t failAt = in.u8() * 7u;
    const int rawW = in.u8() * 2 - 2;  // -2 .. 508, even
    const int rawH = in.u8() * 2 - 2;
    const std::size_t skip = std::min<std::size_t>(5, size);
    const std::uint8_t* stream = data + skip;
    const std::size_t streamSize = size - skip;
    const bool fails = (flags & 0x08) != 0;

    fuzz::ChoppyInput input(stream, streamSize, piece, fails, failAt);
    std::unique_ptr<asfenc::VideoSource> source;
    std::string error;
    ReadResult opened;
    fuzz::currentOp = -1;
    if ((flags & 3) == 1) {
        // The reader on its own, reading the signature itself.
        auto reader = std::make_unique<asfenc::Y4mReader>(input);
        opened = reader->readHeader(error);
        if (opened == ReadResult::Ok) {
            FUZZ_PROMISE((reader->format().fpsNum > 0) == (reader->format().fpsDen > 0), "half a frame rate");
            source = std::move(reader);
        }
    } else {
        asfenc::VideoFormat raw;
        if ((flags & 3) >= 2) {
            raw.width = rawW;
            raw.height = rawH;
            raw.fpsNum = (flags & 0x10) ? 0 : 25;
            raw.fpsDen = 1;
        }
        opened = asfenc::openVideo(input, raw, source, error);
    }
    if (opened != ReadResult::Ok) {
        FUZZ_PROMISE(!error.empty(), "a refused input without a message");
        FUZZ_PROMISE(opened != ReadResult::IoError || input.failed(), "a read error the input did not report");
        return 0;
    }
    FUZZ_PROMISE(source != nullptr, "Ok without a source");
    std::string sizeError;
    FUZZ_PROMISE(asfenc::validPictureSize(source->format().width, source->format().height, sizeError), sizeError);

    const Pass first = ReadAll(*source, input, streamSize);
    if ((flags & 0x04) && !fails) {
        std::string restartError;
        const bool restarted = source->restart(restartError);
        FUZZ_PROMISE(restarted, "a rewindable input did not restart: " + restartError);
        const Pass second = ReadAll(*source, input, streamSize);
        FUZZ_PROMISE(second.frames == first.frames, "the second pass read other frames");
        FUZZ_PROMISE(second.end == first.end, "the second pass ended otherwise");
    }
    return 0;
}
