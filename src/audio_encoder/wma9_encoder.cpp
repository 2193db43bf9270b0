// Windows Media Audio 9 (standard codec) encoder.
//
// Pipeline per frame (frameLen samples): block pattern (one long block, or
// short blocks where a transient is found), sine-windowed MDCT per block,
// psychoacoustic thresholds per band, mid/side decision, exponents from
// the thresholds, then a search over a global noise offset for the frame
// that meets the bit target from the reservoir. Frames are laid
// end to end into packets of exactly blockAlign bytes (superframes): a
// frame may straddle two packets, and the packet header's bit offset lets
// a packet start with padding when the reservoir overflows.
//
// Timing: the decoder drops its first two frames of output and at the end
// of the stream adds the last frame's overlap tail, so the input is
// delayed by two frames on the encoder's time line; the decoded stream then
// starts in sync. F frames decode to (F - 1) n samples, of which only the
// first (F - 1.5) n - b/2 are whole (b: the last block's length; past that
// the tail is the last block's window slope, then silence). The encoder
// codes the fewest frames whose whole part holds every input sample, so the
// end is never faded; the decoded stream is then between n/2 + b/2 and
// 3n/2 + b/2 samples longer than the input.
//
// Conventions found by decoding: the decoder's inverse transform is the
// negative of this encoder's inverse of its forward MDCT, so a set sign bit
// means a negative value here; escape levels are limited by the total
// gain (13 down to 9 bits), so the gain rises until the largest level fits.
#include "audio_encoder/wma9_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>

#include "audio_encoder/wma9_formats.h"
#include "audio_encoder/wma_bit_writer.h"
#include "audio_encoder/wma_block.h"
#include "audio_encoder/wma_params.h"
#include "dsp/mdct.h"
#include "dsp/wma_psy.h"

namespace asfw {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Decoded coefficient (in this encoder's MDCT units) per quantisation unit
// q * 10^((e - emax)/16) * 10^(gain/20) * kDecoderScale.
constexpr double kDecoderScale = 1.0;

// 10^(e/16) for exponent differences -255..0 (the quantiser's band steps).
double exp16(int e)
{
    static const std::vector<double> table = [] {
        std::vector<double> t(256);
        for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = std::pow(10.0, -i / 16.0);
        return t;
    }();
    const int i = e > 0 ? 0 : (e < -255 ? 255 : -e);
    return e > 0 ? std::pow(10.0, e / 16.0) : table[static_cast<std::size_t>(i)];
}

// 10^(-g/20) for whole-dB gains (the quantiser's step at gain g).
float gainStep(int g)
{
    static const std::vector<float> table = [] {
        std::vector<float> t(1024);
        for (int i = 0; i < 1024; ++i) t[static_cast<std::size_t>(i)] = static_cast<float>(std::pow(10.0, -i / 20.0));
        return t;
    }();
    if (g >= 0 && g < 1024) return table[static_cast<std::size_t>(g)];
    return static_cast<float>(std::pow(10.0, -g / 20.0));
}

// Sum of squares with independent partial sums (vectorises).
float sumSquares(const float* x, int n)
{
    float acc[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int i = 0;
    for (; i + 8 <= n; i += 8)
        for (int j = 0; j < 8; ++j) acc[j] += x[i + j] * x[i + j];
    float s = 0;
    for (; i < n; ++i) s += x[i] * x[i];
    for (float a : acc) s += a;
    return s;
}

// dst[i] = src[i] * scale over [begin, end); returns the largest |dst[i]|.
float scaleRange(const float* src, float* dst, int begin, int end, float scale)
{
    float top[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int i = begin;
    for (; i + 8 <= end; i += 8)
        for (int j = 0; j < 8; ++j) {
            const float v = src[i + j] * scale;
            dst[i + j] = v;
            top[j] = std::max(top[j], std::fabs(v));
        }
    float t = 0;
    for (; i < end; ++i) {
        dst[i] = src[i] * scale;
        t = std::max(t, std::fabs(dst[i]));
    }
    for (float v : top) t = std::max(t, v);
    return t;
}

// Adds the magnitudes |y[i]| * scale to a histogram in eighths of an octave
// (exponent and top three mantissa bits of the float), bin 0 = 2^-(octaves/2).
void addToHistogram(const float* y, int n, float scale, int* hist, int octaves)
{
    const int bins = octaves * 8;
    const int bias = (127 - octaves / 2) * 8;
    for (int i = 0; i < n; ++i) {
        const float v = std::fabs(y[i]) * scale;
        std::uint32_t u;
        std::memcpy(&u, &v, 4);
        const int bin = static_cast<int>(u >> 20) - bias;
        ++hist[std::min(std::max(bin, 0), bins - 1)];
    }
}

struct PendingFrame {
    std::vector<std::uint8_t> bytes;
    std::uint64_t bits = 0;
    int prevIndex = 0;   // block size before the frame
    int firstIndex = 0;  // first block size of the frame
    std::int64_t index = 0;
};

class Wma9Encoder final : public MediaEncoder {
public:
    explicit Wma9Encoder(const Wma9Format& format);

    std::vector<std::uint8_t> codecData() const override { return format_.extra; }
    bool analyse(const std::uint8_t*, std::size_t, std::int64_t) override { return true; }
    void endAnalysis() override {}
    bool encode(const std::uint8_t* data, std::size_t size, std::int64_t time, MediaObjects& out) override;
    bool flush(MediaObjects& out) override;
    std::string lastError() const override { return error_; }

private:
    // Input access by absolute sample index (0 = first input sample).
    float sample(int ch, std::int64_t s) const
    {
        if (s < bufStart_ || s >= bufStart_ + static_cast<std::int64_t>(buf_[ch].size())) return 0.f;
        return buf_[ch][static_cast<std::size_t>(s - bufStart_)];
    }
    std::int64_t available() const { return bufStart_ + static_cast<std::int64_t>(buf_[0].size()); }

    void decidePattern(std::int64_t f);
    const std::vector<int>& pattern(std::int64_t f);
    void encodeFrame(std::int64_t f);
    void codeFrame(std::int64_t f, double target, double minimum, WmaBitWriter& out);
    void pack(bool flushing, MediaObjects& out);
    bool substituteNoise(const std::vector<float>& x, const std::vector<float>& mask, int k, int emax, WmaChannelCode& cc) const;
    void trimInput(std::int64_t f);
    const std::vector<float>& blockWindow(int k, int prevK, int nextK);

    Wma9Format format_;
    WmaParams p_;
    std::string error_;
    int channels_;
    int frameLen_;
    int delay_;
    int shortIndex_;
    std::vector<float> window_[kWmaMaxBlockSizes];  // rising half per size
    // Whole analysis windows (2n samples) by (size, previous size, next size).
    std::vector<float> blockWindows_[kWmaMaxBlockSizes * kWmaMaxBlockSizes * kWmaMaxBlockSizes];
    std::unique_ptr<Mdct> mdct_[kWmaMaxBlockSizes];
    std::unique_ptr<PsyModel> psy_[kWmaMaxBlockSizes];

    // Input
    std::vector<float> buf_[2];
    std::int64_t bufStart_ = 0;
    std::int64_t totalIn_ = 0;
    bool started_ = false;
    std::int64_t startTime_ = 0;
    bool ended_ = false;

    // Frames
    std::int64_t nextFrame_ = 0;
    std::int64_t frameCount_ = -1;  // known at flush
    std::deque<std::pair<std::int64_t, std::vector<int>>> patterns_;
    int lastBlockIndex_ = 0;        // size index of the previous frame's last block
    static constexpr int kHistOctaves = 48;  // magnitude histogram span
    static constexpr double kBitsPerValue = 4.0;
    std::vector<int> magHist_;
    double estimateScale_ = 1.0;    // recent exact bits / estimated bits
    double detEnergy_[8] = {0, 0, 0, 0, 0, 0, 0, 0};

    // Rate
    double frameBudget_ = 0;  // payload bits per frame
    double produced_ = 0;     // payload bits produced (frames + padding)
    double maxFrameBits_ = 0;
    double reservoirMax_ = 0;
    int headerBits_ = 0;
    int payloadBits_ = 0;

    // Packets
    std::deque<PendingFrame> queue_;
    bool carry_ = false;
    PendingFrame carryFrame_;
    std::uint64_t carryWritten_ = 0;  // bits of carryFrame_ (with prefix) already in packets
    bool carryPrefix_ = false;
    int packetIndex_ = 0;
    std::int64_t packetsOut_ = 0;
    double rounding_ = 0.4054;  // quantiser rounding offset (dead zone)
    double shaping_ = 0.2;      // power applied to the masking curve

    // Scratch
    std::vector<float> frameIn_, coefs_[2], ms_[2];
};

Wma9Encoder::Wma9Encoder(const Wma9Format& format)
    : format_(format),
      p_(wmaParams(format.sampleRate, format.channels, format.avgBytesPerSec * 8u, kWmaEncodeOptions)),
      channels_(format.channels),
      frameLen_(p_.frameLen)
{
    // The decoder drops its first two frames of output (FFmpeg trims
    // 2 * frameLen samples): with that delay the decoded stream starts in
    // sync with the input.
    delay_ = 2 * frameLen_;
    // Short blocks: an eighth of the frame, not below the smallest size.
    shortIndex_ = std::min(3, p_.blockSizes - 1);
    for (int k = 0; k < p_.blockSizes; ++k) {
        const int n = p_.blockLen(k);
        window_[k].resize(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) window_[k][static_cast<std::size_t>(i)] = static_cast<float>(std::sin((i + 0.5) * kPi / (2.0 * n)));
        mdct_[k] = std::make_unique<Mdct>(n);
        psy_[k] = std::make_unique<PsyModel>(p_.sampleRate, n, p_.bandWidths[k]);
    }
    const double bitsPerSample = static_cast<double>(format.avgBytesPerSec) * 8.0 / (channels_ * static_cast<double>(p_.sampleRate));
    shaping_ = std::min(0.4, std::max(0.05, 0.138 * bitsPerSample));
    headerBits_ = 8 + p_.byteOffsetBits + 3;
    payloadBits_ = format.blockAlign * 8 - headerBits_;
    frameBudget_ = static_cast<double>(format.avgBytesPerSec) * payloadBits_ * frameLen_ /
                   (static_cast<double>(format.blockAlign) * p_.sampleRate);
    const double maxOffset = static_cast<double>((1 << (p_.byteOffsetBits + 3)) - 1);
    maxFrameBits_ = std::min(maxOffset, static_cast<double>(payloadBits_)) - 64;
    reservoirMax_ = std::max(static_cast<double>(payloadBits_) * 0.5, maxFrameBits_ - frameBudget_);
    frameIn_.resize(static_cast<std::size_t>(2 * frameLen_));
    for (int c = 0; c < 2; ++c) {
        coefs_[c].resize(static_cast<std::size_t>(frameLen_));
        ms_[c].resize(static_cast<std::size_t>(frameLen_));
    }
}

bool Wma9Encoder::encode(const std::uint8_t* data, std::size_t size, std::int64_t time, MediaObjects& out)
{
    const std::size_t frameBytes = static_cast<std::size_t>(channels_) * 2;
    if (size % frameBytes != 0 || (size != 0 && data == nullptr)) {
        error_ = "input is not a whole number of sample frames";
        return false;
    }
    if (ended_) {
        error_ = "input after the end of the stream";
        return false;
    }
    if (!started_) {
        started_ = true;
        startTime_ = time;
    }
    const std::size_t frames = size / frameBytes;
    for (int c = 0; c < channels_; ++c) buf_[c].reserve(buf_[c].size() + frames);
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels_; ++c) {
            const std::size_t o = (i * static_cast<std::size_t>(channels_) + static_cast<std::size_t>(c)) * 2;
            const std::int16_t v = static_cast<std::int16_t>(static_cast<std::uint16_t>(data[o] | (data[o + 1] << 8)));
            buf_[c].push_back(static_cast<float>(v));
        }
    }
    totalIn_ += static_cast<std::int64_t>(frames);
    // Frame f needs input up to (f + 2) * frameLen + frameLen / 2 - delay
    // (its own blocks and the next frame's block decision).
    while ((nextFrame_ + 2) * frameLen_ + frameLen_ / 2 - delay_ <= available()) {
        encodeFrame(nextFrame_);
        ++nextFrame_;
        pack(false, out);
        trimInput(nextFrame_);
    }
    return true;
}

bool Wma9Encoder::flush(MediaObjects& out)
{
    if (ended_) return true;
    ended_ = true;
    const std::int64_t n = frameLen_;
    // The decoder drops the first two frames' output and at the end of the
    // stream adds the last frame's overlap tail: the output of F frames is
    // whole up to (F - 1.5) n - b/2. The last frame ends in the shortest
    // block (b) so the faded part is as short as it can be.
    const std::int64_t b = p_.blockLen(p_.blockSizes - 1);
    const std::int64_t frames = (totalIn_ + n / 2 + b / 2 + n - 1) / n + 1;
    frameCount_ = frames;
    while (nextFrame_ < frameCount_) {
        encodeFrame(nextFrame_);
        ++nextFrame_;
        pack(false, out);
    }
    pack(true, out);
    return true;
}

void Wma9Encoder::trimInput(std::int64_t f)
{
    const std::int64_t keep = f * frameLen_ - 2 * frameLen_;
    if (keep - bufStart_ > 16 * frameLen_) {
        const std::size_t drop = static_cast<std::size_t>(keep - bufStart_);
        for (int c = 0; c < channels_; ++c) buf_[c].erase(buf_[c].begin(), buf_[c].begin() + static_cast<std::ptrdiff_t>(drop));
        bufStart_ = keep;
    }
}

// The window of a block of size index k between neighbours prevK and
// nextK: over each overlap, the shorter neighbour's sine slope.
const std::vector<float>& Wma9Encoder::blockWindow(int k, int prevK, int nextK)
{
    std::vector<float>& w = blockWindows_[(k * kWmaMaxBlockSizes + prevK) * kWmaMaxBlockSizes + nextK];
    if (!w.empty()) return w;
    const int n = p_.blockLen(k);
    const int sl = std::min(n, p_.blockLen(prevK));
    const int sr = std::min(n, p_.blockLen(nextK));
    const int nl = (n - sl) / 2;
    const int nr = (n - sr) / 2;
    w.resize(static_cast<std::size_t>(2 * n));
    for (int i = 0; i < n; ++i) {
        float wl;
        if (i < nl) wl = 0.f;
        else if (i < nl + sl) wl = window_[static_cast<std::size_t>(std::max(k, prevK))][static_cast<std::size_t>(i - nl)];
        else wl = 1.f;
        float wr;
        if (i < nr) wr = 1.f;
        else if (i < nr + sr) wr = window_[static_cast<std::size_t>(std::max(k, nextK))][static_cast<std::size_t>(sr - 1 - (i - nr))];
        else wr = 0.f;
        w[static_cast<std::size_t>(i)] = wl;
        w[static_cast<std::size_t>(n + i)] = wr;
    }
    return w;
}

void Wma9Encoder::decidePattern(std::int64_t f)
{
    std::vector<int> pat;
    const int last = p_.blockSizes - 1;
    if (frameCount_ >= 0 && f == frameCount_ - 1) {
        for (int k = 1; k <= last; ++k) pat.push_back(k);
        pat.push_back(last);
    } else {
        // Transient detection over the frame's own span, on the first
        // difference, in segments of half a short block.
        const int shortLen = p_.blockLen(shortIndex_);
        const int seg = std::max(16, shortLen / 2);
        const std::int64_t begin = f * frameLen_ + frameLen_ / 2 - delay_;
        bool attack = false;
        for (int s = 0; s < frameLen_ / seg; ++s) {
            double e = 0;
            for (int c = 0; c < channels_; ++c) {
                float prev = sample(c, begin + static_cast<std::int64_t>(s) * seg - 1);
                for (int i = 0; i < seg; ++i) {
                    const float x = sample(c, begin + static_cast<std::int64_t>(s) * seg + i);
                    const double d = x - prev;
                    e += d * d;
                    prev = x;
                }
            }
            // Attack: a segment far louder than the recent average (about
            // 20 ms, so pitch pulses of voiced sound do not count).
            double hist = 0;
            for (double h : detEnergy_) hist += h;
            hist /= 8.0;
            if (e > 15.0 * hist && e > 4.0e4 * seg) attack = true;
            for (int h = 0; h < 7; ++h) detEnergy_[h] = detEnergy_[h + 1];
            detEnergy_[7] = e;
        }
        if (attack) {
            for (int i = 0; i < (1 << shortIndex_); ++i) pat.push_back(shortIndex_);
        } else {
            pat.push_back(0);
        }
    }
    patterns_.emplace_back(f, std::move(pat));
}

const std::vector<int>& Wma9Encoder::pattern(std::int64_t f)
{
    while (patterns_.empty() || patterns_.back().first < f) decidePattern(patterns_.empty() ? f : patterns_.back().first + 1);
    while (patterns_.front().first < f) patterns_.pop_front();
    return patterns_.front().second;
}

void Wma9Encoder::encodeFrame(std::int64_t f)
{
    const std::vector<int> pat = pattern(f);
    // Bit target from the reservoir.
    const double budgetSoFar = frameBudget_ * static_cast<double>(f);
    double reservoir = budgetSoFar - produced_;  // saved bits
    double boost = pat.size() > 1 ? 1.5 : 1.0;
    double target = frameBudget_ * boost + 0.25 * (reservoir - reservoirMax_ * 0.5);
    target = std::min(target, reservoir + frameBudget_);
    target = std::min(target, maxFrameBits_);
    if (target < 0) target = 0;
    double minimum = std::max(static_cast<double>(payloadBits_) / 12.0, frameBudget_ + reservoir - reservoirMax_);
    minimum = std::min(minimum, target);
    minimum = std::min(minimum, maxFrameBits_);

    PendingFrame fr;
    WmaBitWriter w;
    codeFrame(f, target, minimum, w);
    fr.bits = w.bitCount();
    fr.bytes = w.take();
    fr.prevIndex = lastBlockIndex_;
    fr.firstIndex = pat.front();
    fr.index = f;
    lastBlockIndex_ = pat.back();
    produced_ += static_cast<double>(fr.bits);
    queue_.push_back(std::move(fr));
}

void Wma9Encoder::codeFrame(std::int64_t f, double target, double minimum, WmaBitWriter& out)
{
    const std::vector<int> pat = pattern(f);
    const bool lastFrame = frameCount_ >= 0 && f + 1 >= frameCount_;
    const std::vector<int> nextPat = lastFrame ? std::vector<int>{0} : pattern(f + 1);
    const std::size_t nBlocks = pat.size();

    struct BlockData {
        int k;
        int prevK, nextK;
        std::vector<float> x[2];  // coded channels (L/R or M/S)
        bool ms = false;
        std::vector<float> thr[2];
        std::vector<float> mask[2];  // allowed noise per band, before shaping
        std::vector<int> exps[2];
        double emaxReal[2] = {0, 0};
        bool silent[2] = {false, false};
    };
    std::vector<BlockData> blocks(nBlocks);

    int pos = 0;
    for (std::size_t bi = 0; bi < nBlocks; ++bi) {
        BlockData& bd = blocks[bi];
        const int k = pat[bi];
        const int n = p_.blockLen(k);
        bd.k = k;
        bd.prevK = bi == 0 ? lastBlockIndex_ : pat[bi - 1];
        bd.nextK = bi + 1 < nBlocks ? pat[bi + 1] : nextPat.front();
        const std::vector<float>& win = blockWindow(k, bd.prevK, bd.nextK);
        const std::int64_t start = f * frameLen_ + frameLen_ / 2 + pos - n / 2 - delay_;
        std::vector<float> thrCh[2], enCh[2];
        const bool inside = start >= bufStart_ && start + 2 * n <= available();
        for (int c = 0; c < channels_; ++c) {
            float* dst = frameIn_.data();
            if (inside) {
                const float* src = buf_[c].data() + (start - bufStart_);
                for (int i = 0; i < 2 * n; ++i) dst[i] = src[i] * win[static_cast<std::size_t>(i)];
            } else {
                for (int i = 0; i < 2 * n; ++i) dst[i] = sample(c, start + i) * win[static_cast<std::size_t>(i)];
            }
            mdct_[k]->forward(frameIn_.data(), coefs_[c].data());
            psy_[k]->analyse(coefs_[c].data(), thrCh[c], enCh[c]);
        }
        const std::size_t nb = p_.bandWidths[k].size();
        // Mid/side decision by perceptual entropy.
        bd.ms = false;
        if (channels_ == 2) {
            // Mid/side band energies (the mid/side thresholds follow from
            // the left/right ones).
            std::vector<float> enM(nb, 0.f), enS(nb, 0.f);
            int bandPos = 0;
            for (std::size_t b = 0; b < nb; ++b) {
                const int w = p_.bandWidths[k][b];
                double em = 0, es = 0;
                for (int i = bandPos; i < bandPos + w; ++i) {
                    const float l = coefs_[0][static_cast<std::size_t>(i)], r = coefs_[1][static_cast<std::size_t>(i)];
                    const float m = 0.5f * (l + r), sd = 0.5f * (l - r);
                    ms_[0][static_cast<std::size_t>(i)] = m;
                    ms_[1][static_cast<std::size_t>(i)] = sd;
                    em += static_cast<double>(m) * m;
                    es += static_cast<double>(sd) * sd;
                }
                enM[b] = static_cast<float>(em / w + 1e-3);
                enS[b] = static_cast<float>(es / w + 1e-3);
                bandPos += w;
            }
            double peLR = 0, peMS = 0;
            for (std::size_t b = 0; b < nb; ++b) {
                const double w = p_.bandWidths[k][b];
                const double tMS = 0.5 * std::min(thrCh[0][b], thrCh[1][b]);
                peLR += w * (std::log2(1.0 + enCh[0][b] / thrCh[0][b]) + std::log2(1.0 + enCh[1][b] / thrCh[1][b]));
                peMS += w * (std::log2(1.0 + enM[b] / tMS) + std::log2(1.0 + enS[b] / tMS));
            }
            if (peMS < peLR) {
                bd.ms = true;
                for (std::size_t b = 0; b < nb; ++b) {
                    const float t = 0.5f * std::min(thrCh[0][b], thrCh[1][b]);
                    thrCh[0][b] = t;
                    thrCh[1][b] = t;
                }
            }
        }
        for (int c = 0; c < channels_; ++c) {
            const std::vector<float>& src = bd.ms ? ms_[c] : coefs_[c];
            bd.x[c].assign(src.begin(), src.begin() + n);
            bd.thr[c] = thrCh[c];
            bd.mask[c] = thrCh[c];
            // Partial noise shaping: at rates where the mask cannot be met,
            // following it fully starves the quieter bands; the exponent
            // curve follows the mask raised to a rate-dependent power.
            for (std::size_t b = 0; b < nb; ++b)
                bd.thr[c][b] = static_cast<float>(std::pow(std::max(1.0f, thrCh[c][b]), shaping_));
            // Exponents: step size per band from the allowed noise.
            std::vector<double> er(nb);
            double emax = -1e9;
            for (std::size_t b = 0; b < nb; ++b) {
                er[b] = 8.0 * std::log10(12.0 * std::max(1e-6f, bd.thr[c][b]));
                emax = std::max(emax, er[b]);
            }
            bd.emaxReal[c] = emax;
            bd.exps[c].resize(nb);
            int last = 36;
            for (std::size_t b = 0; b < nb; ++b) {
                int e = static_cast<int>(std::lround(er[b] - emax)) + 60;
                e = std::max(e, -60);
                e = std::min(std::max(e, last - 60), last + 60);
                bd.exps[c][b] = e;
                last = e;
            }
            bd.silent[c] = sumSquares(bd.x[c].data(), n) < 1e-2f * static_cast<float>(n);
        }
        pos += n;
    }

    // Short blocks of one frame share their exponents (per mid/side mode):
    // sent with the first block that needs them, reused by the others.
    bool uniformShort = nBlocks > 1;
    for (const BlockData& bd : blocks) uniformShort = uniformShort && bd.k == blocks.front().k && bd.k > 0;
    if (uniformShort) {
        for (int mode = 0; mode < 2; ++mode) {
            for (int c = 0; c < channels_; ++c) {
                const std::size_t nb = p_.bandWidths[blocks.front().k].size();
                std::vector<double> avg(nb, 0.0);
                int count = 0;
                for (const BlockData& bd : blocks) {
                    if (static_cast<int>(bd.ms) != mode) continue;
                    for (std::size_t b = 0; b < nb; ++b) avg[b] += bd.exps[c][b];
                    ++count;
                }
                if (!count) continue;
                std::vector<int> shared(nb);
                int last = 36, top = -1000;
                for (std::size_t b = 0; b < nb; ++b) {
                    int e = static_cast<int>(std::lround(avg[b] / count));
                    e = std::max(e, -60);
                    e = std::min(std::max(e, last - 60), last + 60);
                    shared[b] = e;
                    last = e;
                    top = std::max(top, e);
                }
                for (BlockData& bd : blocks)
                    if (static_cast<int>(bd.ms) == mode) bd.exps[c] = shared;
            }
        }
    }

    // Per block and channel, the coefficients divided by their band's step
    // at gain 0: the quantiser at gain g is then one multiply by 10^(-g/20).
    struct Scaled {
        std::vector<float> y;  // over the coded positions
        float maxAbs = 0;
    };
    std::vector<Scaled> scaled(nBlocks * 2);
    // Histogram of the magnitudes at offset 0 (each block's gain at offset 0
    // divided out) in eighths of an octave: the bit estimate that gives the
    // rate search its first offset counts the values the dead zone keeps
    // at each offset, and their size.
    constexpr int kBins = kHistOctaves * 8;
    magHist_.assign(nBlocks * kBins, 0);
    std::vector<int> baseGain(nBlocks);
    for (std::size_t bi = 0; bi < nBlocks; ++bi) {
        const BlockData& bd = blocks[bi];
        const int k = bd.k;
        const int nCoded = p_.coefsEnd[k];
        double emaxReal = -1e9;
        for (int c = 0; c < channels_; ++c) emaxReal = std::max(emaxReal, bd.emaxReal[c]);
        baseGain[bi] = static_cast<int>(std::lround(20.0 * emaxReal / 16.0));
        const float base = gainStep(baseGain[bi]);
        int* hist = magHist_.data() + bi * kBins;
        for (int c = 0; c < channels_; ++c) {
            Scaled& sc = scaled[bi * 2 + static_cast<std::size_t>(c)];
            sc.y.assign(static_cast<std::size_t>(nCoded), 0.f);
            if (bd.silent[c]) continue;
            const int emaxActual = *std::max_element(bd.exps[c].begin(), bd.exps[c].end());
            const float* xs = bd.x[c].data();
            float* ys = sc.y.data();
            int posb = 0;
            float top = 0;
            for (std::size_t b = 0; b < bd.exps[c].size() && posb < nCoded; ++b) {
                const float inv = static_cast<float>(1.0 / (exp16(bd.exps[c][b] - emaxActual) * kDecoderScale));
                const int end = std::min(posb + p_.bandWidths[k][b], nCoded);
                top = std::max(top, scaleRange(xs, ys, posb, end, inv));
                posb = end;
            }
            sc.maxAbs = top;
            addToHistogram(ys, nCoded, base, hist, kHistOctaves);
        }
    }
    // Gain of each block at offset a: from the louder channel's exponent
    // scale, raised until the largest level fits the escape field.
    auto blockGain = [&](std::size_t bi, int a) {
        const BlockData& bd = blocks[bi];
        double emaxReal = -1e9;
        for (int c = 0; c < channels_; ++c) emaxReal = std::max(emaxReal, bd.emaxReal[c]);
        int gain = static_cast<int>(std::lround(20.0 * emaxReal / 16.0 + a - 20.0 * std::log10(kDecoderScale)));
        if (gain < 1) gain = 1;
        float maxAbs = 0;
        for (int c = 0; c < channels_; ++c)
            if (!bd.silent[c]) maxAbs = std::max(maxAbs, scaled[bi * 2 + static_cast<std::size_t>(c)].maxAbs);
        for (int attempt = 0; attempt < 8; ++attempt) {
            const double invg = gainStep(gain);
            const double maxQ = std::floor(std::min(1e9, static_cast<double>(maxAbs) * invg + rounding_));
            const int maxLevel = (1 << wmaEscapeLevelBits(gain)) - 1;
            if (maxQ <= maxLevel) break;
            gain += static_cast<int>(std::ceil(20.0 * std::log10(static_cast<double>(maxQ) / maxLevel))) + 1;
        }
        return gain;
    };

    // Quantises the frame at noise offset a (dB relative to the mask) and
    // counts its bits; stops early (returning more than `limit`) once the
    // count passes limit, leaving the codes incomplete.
    std::vector<WmaBlockCode> codes(nBlocks);
    for (std::size_t bi = 0; bi < nBlocks; ++bi) {
        // Every block's layout is set here: an evaluation that stops early
        // leaves the later blocks untouched.
        codes[bi].sizeIndex = blocks[bi].k;
        codes[bi].midSide = blocks[bi].ms;
    }
    for (std::size_t bi = 0; bi < nBlocks; ++bi)
        for (int c = 0; c < channels_; ++c) {
            codes[bi].ch[c].exps = blocks[bi].exps[c];
            codes[bi].ch[c].q.resize(static_cast<std::size_t>(p_.coefsEnd[blocks[bi].k]));
        }
    auto quantiseAndCount = [&](int a, double limit) {
        std::int64_t bits = 0;
        // Exponents the decoder holds, per channel, within this frame.
        bool held[2] = {false, false};
        int heldMode = -1;
        for (std::size_t bi = 0; bi < nBlocks; ++bi) {
            const BlockData& bd = blocks[bi];
            WmaBlockCode& bc = codes[bi];
            const int k = bd.k;
            bc.sizeIndex = k;
            bc.midSide = bd.ms;
            bc.sendExps = true;
            bc.gain = blockGain(bi, a);
            const float invg = gainStep(bc.gain);
            const float round = static_cast<float>(rounding_);
            // Levels past the escape field (only if the gain could not be
            // raised far enough) are clipped.
            const float top = static_cast<float>((1 << wmaEscapeLevelBits(bc.gain)) - 1);
            bool anyCoded = false;
            for (int c = 0; c < channels_; ++c) {
                WmaChannelCode& cc = bc.ch[c];
                const int nCoded = p_.coefsEnd[k];
                cc.q.resize(static_cast<std::size_t>(nCoded));
                cc.stuffing = 0;
                bool nonzero = false;
                if (bd.silent[c]) {
                    std::fill(cc.q.begin(), cc.q.end(), 0);
                } else {
                    const float* ys = scaled[bi * 2 + static_cast<std::size_t>(c)].y.data();
                    int* qs = cc.q.data();
                    int any = 0;
                    for (int i = 0; i < nCoded; ++i) {
                        const float v = ys[i] * invg;
                        const int qv = static_cast<int>(std::min(std::fabs(v) + round, top));
                        any |= qv;
                        qs[i] = v < 0 ? -qv : qv;
                    }
                    nonzero = any != 0;
                }
                if (p_.noiseCoding) {
                    cc.noiseBand.assign(p_.highBandWidths[k].size(), 0);
                    cc.noiseGain.assign(p_.highBandWidths[k].size(), 0);
                    if (!bd.silent[c]) nonzero = substituteNoise(bd.x[c], bd.mask[c], k, *std::max_element(cc.exps.begin(), cc.exps.end()), cc) || nonzero;
                }
                cc.coded = nonzero;
                anyCoded = anyCoded || nonzero;
            }
            if (bd.ms && anyCoded) {
                bc.ch[0].coded = true;
                bc.ch[1].coded = true;
            }
            if (uniformShort) {
                bool need = bi == 0 || static_cast<int>(bd.ms) != heldMode;
                for (int c = 0; c < channels_; ++c) need = need || (bc.ch[c].coded && !held[c]);
                bc.sendExps = need;
                if (need) {
                    heldMode = static_cast<int>(bd.ms);
                    for (int c = 0; c < channels_; ++c) held[c] = bc.ch[c].coded;
                }
            }
            BitCounter hc;
            wmaWriteBlockHeader(hc, p_, bc, false, bd.prevK, bd.nextK);
            bits += static_cast<std::int64_t>(hc.bitCount());
            const int escBits = wmaEscapeLevelBits(bc.gain);
            for (int c = 0; c < channels_; ++c) {
                const WmaChannelCode& cc = bc.ch[c];
                if (!cc.coded) continue;
                const WmaCoefTable& t = wmaCoefTable(p_.coefTablePair * 2 + ((c == 1 && bd.ms) ? 1 : 0));
                const std::int64_t lim = static_cast<std::int64_t>(std::min(limit, 1e15)) - bits;
                bits += wmaCoefBits(t, cc.q.data(), wmaCodedPositions(p_, k, cc), escBits, p_.frameLenBits, cc.stuffing, lim);
            }
            if (static_cast<double>(bits) > limit) return static_cast<double>(bits);
        }
        return static_cast<double>(bits);
    };
    auto countBits = [&]() {
        std::int64_t bits = 0;
        for (std::size_t bi = 0; bi < nBlocks; ++bi) {
            const WmaBlockCode& bc = codes[bi];
            BitCounter hc;
            wmaWriteBlockHeader(hc, p_, bc, false, blocks[bi].prevK, blocks[bi].nextK);
            bits += static_cast<std::int64_t>(hc.bitCount());
            for (int c = 0; c < channels_; ++c) {
                if (!bc.ch[c].coded) continue;
                const WmaCoefTable& t = wmaCoefTable(p_.coefTablePair * 2 + ((c == 1 && bc.midSide) ? 1 : 0));
                bits += wmaCoefBits(t, bc.ch[c].q.data(), wmaCodedPositions(p_, bc.sizeIndex, bc.ch[c]), wmaEscapeLevelBits(bc.gain),
                                    p_.frameLenBits, bc.ch[c].stuffing, std::int64_t{1} << 60);
            }
        }
        return static_cast<double>(bits);
    };
    // Bit estimate: a value of magnitude m (at offset 0) is kept at offset a
    // when m 10^(-a/20) + rounding >= 1; a kept value costs about
    // kBitsPerValue plus one bit per octave above the dead zone. Suffix sums
    // over the histogram make each offset's estimate a lookup; the estimate
    // is scaled by what it missed on recent frames.
    // Per block, suffix sums over its histogram: count, sum of log2 centres.
    std::vector<double> cnt(nBlocks * (kBins + 1), 0.0), lvl(cnt.size(), 0.0);
    for (std::size_t bi = 0; bi < nBlocks; ++bi) {
        double* cn = cnt.data() + bi * (kBins + 1);
        double* lv = lvl.data() + bi * (kBins + 1);
        const int* hist = magHist_.data() + bi * kBins;
        for (int b = kBins - 1; b >= 0; --b) {
            const double centre = (b + 0.5) / 8.0 - kHistOctaves / 2;
            cn[b] = cn[b + 1] + hist[b];
            lv[b] = lv[b + 1] + hist[b] * centre;
        }
    }
    // Side information (block headers, exponents) is counted once, with
    // every channel coded: it hardly depends on the offset.
    double sideBits = 0;
    for (std::size_t bi = 0; bi < nBlocks; ++bi) {
        WmaBlockCode bc;
        bc.sizeIndex = blocks[bi].k;
        bc.midSide = blocks[bi].ms;
        bc.gain = std::max(1, baseGain[bi]);
        bc.sendExps = !uniformShort || bi == 0;
        for (int c = 0; c < channels_; ++c) {
            bc.ch[c].coded = !blocks[bi].silent[c];
            bc.ch[c].exps = blocks[bi].exps[c];
        }
        BitCounter hc;
        wmaWriteBlockHeader(hc, p_, bc, false, blocks[bi].prevK, blocks[bi].nextK);
        sideBits += static_cast<double>(hc.bitCount());
    }
    const double deadZone = std::log2(1.0 - rounding_);
    auto estimate = [&](int a) {
        double bits = 0;
        for (std::size_t bi = 0; bi < nBlocks; ++bi) {
            // The block's own offset (its gain may be raised for the escapes).
            const int off = blockGain(bi, a) - baseGain[bi];
            const double t = off / 6.0205999 + deadZone;  // log2 of the smallest kept magnitude
            const int b = std::min(kBins, std::max(0, static_cast<int>(std::ceil((t + kHistOctaves / 2) * 8.0 - 0.5))));
            const std::size_t i = bi * (kBins + 1) + static_cast<std::size_t>(b);
            bits += cnt[i] * (kBitsPerValue - t) + lvl[i];
        }
        return bits;
    };
    constexpr int kLow = -40, kHigh = 150;
    // Estimated offset: the finest whose corrected estimate fits.
    int estHi = kLow;
    while (estHi < kHigh && estimate(estHi) * estimateScale_ + sideBits > target) ++estHi;
    // Exact search from the estimate corrected by what the estimate missed
    // on recent frames: step out to a bracket, then bisect. Result: the
    // finest offset whose frame fits the target.
    int evaluated = kLow - 100;  // offset the codes currently hold complete
    double evaluatedBits = 0;
    auto fits = [&](int a) {
        const double bits = quantiseAndCount(a, target);
        evaluated = bits <= target ? a : kLow - 100;
        evaluatedBits = bits;
        return bits <= target;
    };
    const int start = estHi;
    int lo, hi;  // lo does not fit (or is below the range), hi fits
    bool ok = true;
    if (fits(start)) {
        hi = start;
        lo = kLow - 1;
        for (int step = 1; hi > kLow; step *= 2) {
            const int t = std::max(kLow, hi - step);
            if (!fits(t)) {
                lo = t;
                break;
            }
            hi = t;
        }
    } else {
        lo = start;
        hi = kHigh + 1;
        for (int step = 1; lo < kHigh; step *= 2) {
            const int t = std::min(kHigh, lo + step);
            if (fits(t)) {
                hi = t;
                break;
            }
            lo = t;
        }
        ok = hi <= kHigh;
    }
    double bits = 0;
    if (ok) {
        while (hi - lo > 1) {
            const int mid = lo + (hi - lo) / 2;
            if (fits(mid)) hi = mid;
            else lo = mid;
        }
        if (evaluated != hi) fits(hi);
        bits = evaluatedBits;
        const double e = estimate(hi);
        if (e > 200 && bits - sideBits > 200)
            estimateScale_ = std::min(4.0, std::max(0.25, 0.7 * estimateScale_ + 0.3 * (bits - sideBits) / e));
    } else {
        // Even the coarsest quantiser does not fit: send silence. The values
        // of the last (failed) evaluation are cleared, so that stuffing,
        // which codes a channel again, adds nothing but its zero escapes.
        for (std::size_t bi = 0; bi < nBlocks; ++bi) {
            WmaBlockCode& bc = codes[bi];
            bc.gain = blockGain(bi, kHigh);
            bc.sendExps = true;
            for (int c = 0; c < 2; ++c) {
                WmaChannelCode& cc = bc.ch[c];
                cc.coded = false;
                cc.stuffing = 0;
                std::fill(cc.noiseBand.begin(), cc.noiseBand.end(), 0);
                cc.q.assign(static_cast<std::size_t>(p_.coefsEnd[bc.sizeIndex]), 0);
            }
        }
        bits = countBits();
    }
    // Stuffing up to the minimum size: zero-valued escapes in the last block.
    if (bits < minimum) {
        WmaBlockCode& bc = codes.back();
        const int k = bc.sizeIndex;
        for (int c = 0; c < channels_ && bits < minimum; ++c) {
            WmaChannelCode& cc = bc.ch[c];
            if (!cc.coded) {
                cc.coded = true;
                if (bc.midSide) bc.ch[0].coded = bc.ch[1].coded = true;
            }
            const WmaCoefTable& t = wmaCoefTable(p_.coefTablePair * 2 + ((c == 1 && bc.midSide) ? 1 : 0));
            const double per = t.codes[0].length + wmaEscapeLevelBits(bc.gain) + p_.frameLenBits + 1;
            int lastNz = -1;
            for (std::size_t i = 0; i < cc.q.size(); ++i)
                if (cc.q[i]) lastNz = static_cast<int>(i);
            const int room = wmaCodedPositions(p_, k, cc) - lastNz - 1;
            bits = countBits();
            const int need = static_cast<int>(std::ceil((minimum - bits) / per)) + 1;
            cc.stuffing = std::max(0, std::min(room, need));
            bits = countBits();
        }
    }
    for (std::size_t bi = 0; bi < nBlocks; ++bi) wmaWriteBlock(out, p_, codes[bi], false, blocks[bi].prevK, blocks[bi].nextK);
}

// High bands that quantise to nothing although they are audible are
// replaced by the decoder's noise at the band's level; their coefficients
// leave the coded list. Returns true when any band was replaced.
bool Wma9Encoder::substituteNoise(const std::vector<float>& x, const std::vector<float>& mask, int k, int emax,
                                  WmaChannelCode& cc) const
{
    const std::vector<int>& widths = p_.highBandWidths[k];
    const std::vector<int>& firsts = p_.highBandFirst[k];
    const std::vector<int>& expBand = p_.highBandExpBand[k];
    std::vector<double> level(widths.size(), 0.0);
    int lastBand = -1;
    for (std::size_t j = 0; j < widths.size(); ++j) {
        bool zero = true;
        double energy = 0;
        for (int i = firsts[j]; i < firsts[j] + widths[j]; ++i) {
            zero = zero && cc.q[static_cast<std::size_t>(i)] == 0;
            energy += static_cast<double>(x[static_cast<std::size_t>(i)]) * x[static_cast<std::size_t>(i)];
        }
        energy /= widths[j];
        if (zero && energy > mask[static_cast<std::size_t>(expBand[j])] && energy > 1.0) {
            cc.noiseBand[j] = 1;
            level[j] = 10.0 * std::log10(energy);  // dB of the rms
            lastBand = static_cast<int>(j);
        }
    }
    if (lastBand < 0) return false;
    // Noise rms the decoder makes: E_j^2 / (E_last * E_max) * 10^(g/20),
    // E = 10^(e/16) of the band's exponent.
    const double eLast = cc.exps[static_cast<std::size_t>(expBand[static_cast<std::size_t>(lastBand)])];
    bool first = true;
    int prev = 0;
    for (std::size_t j = 0; j < widths.size(); ++j) {
        if (!cc.noiseBand[j]) continue;
        const double ej = cc.exps[static_cast<std::size_t>(expBand[j])];
        double g = level[j] + 20.0 * (eLast + emax - 2.0 * ej) / 16.0;
        int gi = static_cast<int>(std::lround(g));
        if (first) gi = std::min(108, std::max(-19, gi));
        else gi = std::min(prev + 18, std::max(prev - 18, gi));
        cc.noiseGain[j] = gi;
        prev = gi;
        first = false;
    }
    // Drop the replaced bands' positions from the coded list.
    std::vector<int> kept;
    kept.reserve(cc.q.size());
    std::size_t j = 0;
    for (int i = 0; i < static_cast<int>(cc.q.size()); ++i) {
        while (j < widths.size() && i >= firsts[j] + widths[j]) ++j;
        const bool replaced = j < widths.size() && i >= firsts[j] && cc.noiseBand[j];
        if (!replaced) kept.push_back(cc.q[static_cast<std::size_t>(i)]);
    }
    cc.q.swap(kept);
    return true;
}

void Wma9Encoder::pack(bool flushing, MediaObjects& out)
{
    const std::uint64_t prefixBits = p_.blockSizes > 1 ? static_cast<std::uint64_t>(2 * p_.blockCodeBits) : 0;
    const std::uint64_t payload = static_cast<std::uint64_t>(payloadBits_);
    const std::uint64_t maxOffset = (1u << (p_.byteOffsetBits + 3)) - 1u;
    for (;;) {
        const std::uint64_t rem = carry_ ? (carryFrame_.bits + (carryPrefix_ ? prefixBits : 0) - carryWritten_) : 0;
        std::uint64_t queued = rem;
        for (const PendingFrame& fr : queue_) queued += fr.bits + prefixBits;
        if (!flushing && queued < payload + prefixBits) return;
        if (flushing && queued == 0 && !carry_) return;
        if (flushing && !carry_ && queue_.empty()) return;
        if (flushing && queue_.empty() && carry_ && rem == 0) return;

        // Padding at the start of the packet when the reservoir is too full.
        std::uint64_t pad = 0;
        const double reservoir = frameBudget_ * static_cast<double>(nextFrame_) - produced_;
        if (reservoir > reservoirMax_ && !flushing) {
            const double room = static_cast<double>(std::min<std::uint64_t>(maxOffset - rem, payload / 2));
            pad = static_cast<std::uint64_t>(std::max(0.0, std::min(room, reservoir - reservoirMax_)));
        }
        produced_ += static_cast<double>(pad);

        // Lay out the packet.
        WmaBitWriter body;
        if (rem) {
            WmaBitWriter tmp;
            if (carryPrefix_) {
                tmp.put(static_cast<std::uint32_t>(carryFrame_.prevIndex), p_.blockCodeBits);
                tmp.put(static_cast<std::uint32_t>(carryFrame_.firstIndex), p_.blockCodeBits);
            }
            tmp.putRange(carryFrame_.bytes, 0, carryFrame_.bits);
            const std::uint64_t total = tmp.bitCount();
            const std::vector<std::uint8_t> all = tmp.take();
            body.putRange(all, total - rem, rem);
        }
        for (std::uint64_t i = 0; i < pad; i += 32) body.put(0, static_cast<int>(std::min<std::uint64_t>(32, pad - i)));
        std::uint64_t used = rem + pad;
        int complete = 0;
        bool first = true;
        std::int64_t firstIndex = carry_ ? carryFrame_.index : -1;
        bool startedOne = false;
        carry_ = false;
        while (used < payload && !queue_.empty()) {
            PendingFrame fr = std::move(queue_.front());
            queue_.pop_front();
            const bool withPrefix = first;
            first = false;
            if (!startedOne) {
                firstIndex = fr.index;
                startedOne = true;
            }
            WmaBitWriter tmp;
            if (withPrefix && prefixBits) {
                tmp.put(static_cast<std::uint32_t>(fr.prevIndex), p_.blockCodeBits);
                tmp.put(static_cast<std::uint32_t>(fr.firstIndex), p_.blockCodeBits);
                produced_ += static_cast<double>(prefixBits);
            }
            tmp.putRange(fr.bytes, 0, fr.bits);
            const std::uint64_t size = tmp.bitCount();
            const std::vector<std::uint8_t> all = tmp.take();
            // At most 14 frames complete in a packet (4-bit count); the
            // minimum frame size keeps packets far from that.
            if (used + size <= payload && complete < 14) {
                body.putRange(all, 0, size);
                used += size;
                ++complete;
            } else if (used + size <= payload) {
                // Unreachable with the minimum frame size: drop the frame
                // rather than write a count the field cannot hold.
                error_ = "too many frames in one packet";
            } else {
                const std::uint64_t part = payload - used;
                body.putRange(all, 0, part);
                used = payload;
                carry_ = true;
                carryFrame_ = std::move(fr);
                carryPrefix_ = withPrefix && prefixBits;
                carryWritten_ = part;
            }
        }
        // Final packet: zero fill.
        while (used < payload) {
            const int c = static_cast<int>(std::min<std::uint64_t>(32, payload - used));
            body.put(0, c);
            used += static_cast<std::uint64_t>(c);
        }
        WmaBitWriter pkt;
        pkt.put(static_cast<std::uint32_t>(packetIndex_ & 15), 4);
        pkt.put(static_cast<std::uint32_t>(complete + 1), 4);
        pkt.put(static_cast<std::uint32_t>(rem + pad), p_.byteOffsetBits + 3);
        const std::uint64_t bodyBits = body.bitCount();
        const std::vector<std::uint8_t> bodyBytes = body.take();
        pkt.putRange(bodyBytes, 0, bodyBits);
        MediaObject mo;
        mo.data = pkt.take();
        mo.data.resize(format_.blockAlign, 0);
        const std::int64_t startSample = std::max<std::int64_t>(0, (firstIndex < 0 ? 0 : firstIndex) * frameLen_ - delay_);
        mo.presentationTime = startTime_ + startSample * 10000000 / p_.sampleRate;
        mo.duration = static_cast<std::int64_t>(format_.blockAlign) * 10000000 / format_.avgBytesPerSec;
        mo.keyFrame = true;
        out.push_back(std::move(mo));
        ++packetIndex_;
        ++packetsOut_;
        if (flushing && queue_.empty()) {
            // Whatever is carried now is the tail of the last frame; one
            // more packet finishes it.
            if (!carry_) return;
        }
    }
}

}  // namespace

std::unique_ptr<MediaEncoder> createWma9Encoder(const AudioSettings& settings, std::string* error)
{
    const Wma9Format* format = findWma9Format(settings);
    if (!format) {
        if (error) *error = "not a constant-bit-rate format of the audio encoder";
        return nullptr;
    }
    return std::make_unique<Wma9Encoder>(*format);
}

}  // namespace asfw
