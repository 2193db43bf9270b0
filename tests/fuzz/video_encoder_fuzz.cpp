// Fuzz target: the WMV9 encoder on the media-encoder seam, fed random
// settings (small picture sizes, frame durations, rates, rate-control
// modes, complexity), an optional pre-processing pass, and pictures of
// random sizes, times and contents.
//
// Input layout: the settings (one table index byte each, see the tables
// below), a frame count and flags, then per frame one byte choosing its
// size, one its time step and one its contents (plus a seed byte).
//
// Promises checked besides the sanitizers: settings are taken only when
// the picture size is even and positive and the frame duration positive,
// and refused with a message otherwise; the codec data is the 4-byte
// sequence header; a picture of the wrong size is refused with a message
// and adds nothing; every media object has bytes, a non-negative time and
// duration, times never go back, the first object is a key frame; flush()
// succeeds.
#include "fuzz_support.h"
#include "video_encoder/wmv9_encoder.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#define FUZZ_TARGET "video_encoder_fuzz"

namespace {

using fuzz::Input;

constexpr int kMaxFrames = 12;

const int kWidths[] = {32, 16, 48, 64, 2, 8, 0, 17, -2, 176};
const int kHeights[] = {32, 16, 48, 2, 8, 64, 0, 15, -2, 144};
const int kDurations[] = {400000, 333667, 166833, 1, 10000000, 0, -1, INT_MAX};
const int kBitrates[] = {300000, 64000, 1000000, 0, 1, 20000, INT_MAX};
const int kWindows[] = {3000, 0, 1, 500, 60000};
const int kKeySpacing[] = {0, 400000, 1, 80000000, -1};
const int kComplexity[] = {0, 3, 1, 2, 4, 5, -1, 6};
const int kPasses[] = {1, 2, 0, 3};
const int kQualities[] = {0, 75, 100, 1, 50, 101};
const int kPeaks[] = {0, 600000, 1, 5000000};

// Picture contents a source may hold: flat, noise, gradients, hard edges,
// the extremes, and a moving copy of the previous picture.
void Fill(std::vector<std::uint8_t>& frame, const std::vector<std::uint8_t>& previous, int w, int h, std::uint8_t how,
          std::uint8_t seed)
{
    std::uint32_t s = seed * 2654435761u + 1;
    auto rnd = [&s] {
        s = s * 1664525u + 1013904223u;
        return static_cast<std::uint8_t>(s >> 24);
    };
    const std::size_t luma = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    switch (how % 7) {
    case 0: std::fill(frame.begin(), frame.end(), seed); break;
    case 1: for (auto& b : frame) b = rnd(); break;
    case 2:
        for (std::size_t i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<std::uint8_t>((i % static_cast<std::size_t>(w > 0 ? w : 1)) * 4 + seed);
        break;
    case 3:
        for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = ((i / 3 + i / 7) & 1) ? 255 : 0;
        break;
    case 4:
        std::fill(frame.begin(), frame.end(), static_cast<std::uint8_t>(seed & 1 ? 255 : 0));
        break;
    case 5:
        if (previous.size() == frame.size() && !frame.empty()) {
            const std::size_t shift = 1 + seed % 17;
            for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = previous[(i + shift) % previous.size()];
            break;
        }
        [[fallthrough]];
    default:
        for (std::size_t i = 0; i < frame.size(); ++i)
            frame[i] = i < luma ? static_cast<std::uint8_t>(i * 7 + seed) : static_cast<std::uint8_t>(128 + (rnd() & 3));
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    asfw::VideoSettings settings;
    settings.width = in.pick(kWidths, 96);
    settings.height = in.pick(kHeights, 96);
    settings.frameDuration = in.pick(kDurations);
    settings.bitrate = static_cast<std::uint32_t>(in.pick(kBitrates));
    settings.bufferWindowMs = static_cast<std::uint32_t>(in.pick(kWindows));
    settings.maxKeyFrameSpacing = in.pick(kKeySpacing);
    settings.complexity = in.pick(kComplexity, 8);
    const std::uint8_t modes = in.u8();
    settings.vbr = modes & 1;
    settings.passes = static_cast<std::uint32_t>(in.pick(kPasses));
    settings.vbrQuality = static_cast<std::uint32_t>(in.pick(kQualities));
    settings.peakBitrate = static_cast<std::uint32_t>(in.pick(kPeaks));
    settings.peakBufferMs = (modes & 2) ? 5000 : 0;

    fuzz::currentOp = -1;
    std::string error;
    auto encoder = asfw::createWmv9Encoder(settings, &error);
    const bool sane = settings.width > 0 && settings.height > 0 && settings.width % 2 == 0 &&
                      settings.height % 2 == 0 && settings.frameDuration > 0;
    if (!encoder) {
        FUZZ_PROMISE(!error.empty(), "settings refused without a message");
        FUZZ_PROMISE(!sane || settings.width > 4096 || settings.height > 4096, "sane settings refused: " + error);
        return 0;
    }
    FUZZ_PROMISE(sane, "settings taken that cannot be encoded");
    FUZZ_PROMISE(encoder->codecData().size() == 4, std::to_string(encoder->codecData().size()));

    const std::size_t frameBytes =
        static_cast<std::size_t>(settings.width) * static_cast<std::size_t>(settings.height) * 3 / 2;
    const int frames = 1 + in.u8() % kMaxFrames;
    const bool prePass = modes & 4;

    struct Picture {
        std::size_t size;
        std::int64_t time;
        std::uint8_t how, seed;
    };
    std::vector<Picture> pictures;
    std::int64_t t = 0;
    for (int i = 0; i < frames; ++i) {
        const std::uint8_t sizeChoice = in.u8();
        Picture p;
        const std::size_t delta = 1 + (sizeChoice & 6);
        p.size = sizeChoice < 240                          ? frameBytes
                 : (sizeChoice & 1) || delta > frameBytes ? frameBytes + delta
                                                          : frameBytes - delta;
        const std::uint8_t step = in.u8();
        t += step < 224 ? settings.frameDuration : (step & 1 ? 0 : settings.frameDuration * (step & 15));
        p.time = t;
        p.how = in.u8();
        p.seed = in.u8();
        pictures.push_back(p);
    }

    std::vector<std::uint8_t> frame, previous;
    if (prePass) {
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            fuzz::currentOp = static_cast<int>(i);
            const Picture& p = pictures[i];
            frame.assign(p.size, 0);
            Fill(frame, previous, settings.width, settings.height, p.how, p.seed);
            const bool ok = encoder->analyse(frame.data(), frame.size(), p.time);
            FUZZ_PROMISE(ok == (p.size == frameBytes), "analyse: " + encoder->lastError());
            if (ok) previous = frame;
        }
        encoder->endAnalysis();
        previous.clear();
    }

    asfw::MediaObjects out;
    std::int64_t lastTime = -1;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        fuzz::currentOp = 100 + static_cast<int>(i);
        const Picture& p = pictures[i];
        frame.assign(p.size, 0);
        Fill(frame, previous, settings.width, settings.height, p.how, p.seed);
        const std::size_t before = out.size();
        const bool ok = encoder->encode(frame.data(), frame.size(), p.time, out);
        if (p.size != frameBytes) {
            FUZZ_PROMISE(!ok, "a picture of the wrong size taken");
        }
        if (!ok) {
            FUZZ_PROMISE(out.size() == before, "a refused picture added objects");
            FUZZ_PROMISE(!encoder->lastError().empty(), "a refused picture without a message");
            continue;
        }
        previous = frame;
    }
    fuzz::currentOp = 1000;
    FUZZ_PROMISE(encoder->flush(out), "flush: " + encoder->lastError());
    for (std::size_t i = 0; i < out.size(); ++i) {
        fuzz::currentOp = 2000 + static_cast<int>(i);
        const asfw::MediaObject& o = out[i];
        FUZZ_PROMISE(!o.data.empty(), "an empty media object");
        FUZZ_PROMISE(o.presentationTime >= 0 && o.duration >= 0, "a negative time");
        FUZZ_PROMISE(o.presentationTime >= lastTime, "time goes back");
        lastTime = o.presentationTime;
        if (i == 0) FUZZ_PROMISE(o.keyFrame, "the first picture is not a key frame");
    }
    return 0;
}
