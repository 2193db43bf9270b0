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
// delayed by two frames on the encoder's time line and ceil(L / n) + 1
// frames are coded; the decoded stream then starts in sync and is within
// one frame of the input's length.
//
// Conventions found by decoding: the decoder's inverse transform is the
// negative of this encoder's inverse of its forward MDCT, so a set sign bit
// means a negative value here; escape levels are limited by the total
// gain (13 down to 9 bits), so the gain rises until the largest level fits.
#include "audio_encoder/wma9_encoder.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>

#include "audio_encoder/wma9_formats.h"
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

struct PendingFrame {
    std::vector<std::uint8_t> bytes;
    std::uint64_t bits = 0;
    int prevIndex = 0;   // block size before the frame
    int firstIndex = 0;  // first block size of the frame
    std::int64_t index = 0;
};

// Copies n bits starting at bit `start` of src into w.
void appendBits(BitWriter& w, const std::vector<std::uint8_t>& src, std::uint64_t start, std::uint64_t n)
{
    while (n > 0) {
        const int c = static_cast<int>(std::min<std::uint64_t>(n, 16));
        std::uint32_t v = 0;
        const std::size_t byte = static_cast<std::size_t>(start >> 3);
        for (int i = 0; i < 3; ++i) {
            v <<= 8;
            if (byte + static_cast<std::size_t>(i) < src.size()) v |= src[byte + static_cast<std::size_t>(i)];
        }
        const int shift = 24 - static_cast<int>(start & 7) - c;
        w.put((v >> shift) & ((1u << c) - 1u), c);
        start += static_cast<std::uint64_t>(c);
        n -= static_cast<std::uint64_t>(c);
    }
}

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
    void codeFrame(std::int64_t f, double target, double minimum, BitWriter& out);
    void pack(bool flushing, MediaObjects& out);
    bool substituteNoise(const std::vector<float>& x, const std::vector<float>& mask, int k, int emax, WmaChannelCode& cc) const;
    void trimInput(std::int64_t f);

    Wma9Format format_;
    WmaParams p_;
    std::string error_;
    int channels_;
    int frameLen_;
    int delay_;
    int shortIndex_;
    std::vector<float> window_[kWmaMaxBlockSizes];  // rising half per size
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
    int lastOffset_ = 0;            // noise offset (dB) chosen for the previous frame
    double detEnergy_[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    float prevSample_[2] = {0, 0};
    std::int64_t detectedUpTo_ = -1;

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
    // stream adds the last frame's overlap tail (one frame): ceil(L / n) + 1
    // frames decode to within one frame of the input's length. The last
    // frame ends in the shortest block so the tail is as short as it can be.
    const std::int64_t frames = (totalIn_ + n - 1) / n + 1;
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
    BitWriter w;
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

void Wma9Encoder::codeFrame(std::int64_t f, double target, double minimum, BitWriter& out)
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
        // Window: the shorter neighbour's slope over the overlap.
        const int prevLen = p_.blockLen(bd.prevK);
        const int nextLen = p_.blockLen(bd.nextK);
        const int sl = std::min(n, prevLen);
        const int sr = std::min(n, nextLen);
        const int nl = (n - sl) / 2;
        const int nr = (n - sr) / 2;
        const std::int64_t start = f * frameLen_ + frameLen_ / 2 + pos - n / 2 - delay_;
        std::vector<float> thrCh[2], enCh[2];
        for (int c = 0; c < channels_; ++c) {
            for (int i = 0; i < n; ++i) {
                float wl;
                if (i < nl) wl = 0.f;
                else if (i < nl + sl) wl = window_[static_cast<std::size_t>(std::max(k, bd.prevK))][static_cast<std::size_t>(i - nl)];
                else wl = 1.f;
                float wr;
                if (i < nr) wr = 1.f;
                else if (i < nr + sr) wr = window_[static_cast<std::size_t>(std::max(k, bd.nextK))][static_cast<std::size_t>(sr - 1 - (i - nr))];
                else wr = 0.f;
                frameIn_[static_cast<std::size_t>(i)] = sample(c, start + i) * wl;
                frameIn_[static_cast<std::size_t>(n + i)] = sample(c, start + n + i) * wr;
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
            double energy = 0;
            for (int i = 0; i < n; ++i) energy += static_cast<double>(bd.x[c][static_cast<std::size_t>(i)]) * bd.x[c][static_cast<std::size_t>(i)];
            bd.silent[c] = energy < 1e-2 * n;
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

    // Quantise the whole frame at noise offset a (dB relative to the mask).
    std::vector<WmaBlockCode> codes(nBlocks);
    auto quantise = [&](int a) {
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
            // One gain for the block: from the louder channel's exponent scale.
            double emaxReal = -1e9;
            for (int c = 0; c < channels_; ++c) emaxReal = std::max(emaxReal, bd.emaxReal[c]);
            int gain = static_cast<int>(std::lround(20.0 * emaxReal / 16.0 + a - 20.0 * std::log10(kDecoderScale)));
            if (gain < 1) gain = 1;
            bool anyCoded = false;
            for (int attempt = 0; attempt < 4; ++attempt) {
            int maxQ = 0;
            bc.gain = gain;
            const double gmul = std::pow(10.0, gain / 20.0) * kDecoderScale;  // once per block and attempt
            for (int c = 0; c < channels_; ++c) {
                WmaChannelCode& cc = bc.ch[c];
                cc.exps = bd.exps[c];
                const int emaxActual = *std::max_element(cc.exps.begin(), cc.exps.end());
                cc.noiseBand.assign(p_.highBandWidths[k].size(), 0);
                cc.noiseGain.assign(p_.highBandWidths[k].size(), 0);
                cc.stuffing = 0;
                const int nCoded = p_.coefsEnd[k];
                cc.q.resize(static_cast<std::size_t>(nCoded));
                bool nonzero = false;
                if (bd.silent[c]) {
                    std::fill(cc.q.begin(), cc.q.end(), 0);
                } else {
                    int posb = 0;
                    for (std::size_t b = 0; b < cc.exps.size() && posb < nCoded; ++b) {
                        const float inv = static_cast<float>(1.0 / (exp16(cc.exps[b] - emaxActual) * gmul));
                        const int w = p_.bandWidths[k][b];
                        const int end = std::min(posb + w, nCoded);
                        const float* xs = bd.x[c].data();
                        int* qs = cc.q.data();
                        const float round = static_cast<float>(rounding_);
                        int bandMax = 0;
                        for (int i = posb; i < end; ++i) {
                            const float v = xs[i] * inv;
                            const int qv = static_cast<int>(std::fabs(v) + round);
                            bandMax = std::max(bandMax, qv);
                            qs[i] = v < 0 ? -std::min(qv, 8191) : std::min(qv, 8191);
                        }
                        maxQ = std::max(maxQ, bandMax);
                        nonzero = nonzero || bandMax > 0;
                        posb += w;
                    }
                }
                if (p_.noiseCoding && !bd.silent[c]) nonzero = substituteNoise(bd.x[c], bd.mask[c], k, emaxActual, cc) || nonzero;
                cc.coded = nonzero;
                anyCoded = anyCoded || nonzero;
            }
            // Levels must fit the escape field of this gain.
            const int maxLevel = (1 << wmaEscapeLevelBits(gain)) - 1;
            if (maxQ <= maxLevel) break;
            gain += static_cast<int>(std::ceil(20.0 * std::log10(static_cast<double>(maxQ) / maxLevel))) + 1;
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
        }
    };
    auto countBits = [&]() {
        BitCounter bc;
        for (std::size_t bi = 0; bi < nBlocks; ++bi)
            wmaWriteBlock(bc, p_, codes[bi], false, blocks[bi].prevK, blocks[bi].nextK);
        return static_cast<double>(bc.bitCount());
    };
    // Binary search over the noise offset (dB): smallest offset that fits.
    // Search over the noise offset in whole dB (the gain is in whole dB):
    // start from the previous frame's offset, gallop to a bracket, then
    // bisect. Result: the finest offset whose frame fits the target.
    constexpr int kLow = -40, kHigh = 90;
    int evaluated = kLow - 100;  // offset the codes currently hold
    auto fits = [&](int a) {
        quantise(a);
        evaluated = a;
        return countBits() <= target;
    };
    int start = std::min(kHigh, std::max(kLow, lastOffset_));
    int lo, hi;  // lo does not fit (or is below the range), hi fits
    bool ok = true;
    if (fits(start)) {
        hi = start;
        lo = kLow - 1;
        for (int step = 2; hi > kLow; step *= 2) {
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
        for (int step = 2; lo < kHigh; step *= 2) {
            const int t = std::min(kHigh, lo + step);
            if (fits(t)) {
                hi = t;
                break;
            }
            lo = t;
        }
        ok = hi <= kHigh;
    }
    if (ok) {
        while (hi - lo > 1) {
            const int mid = lo + (hi - lo) / 2;
            if (fits(mid)) hi = mid;
            else lo = mid;
        }
        if (evaluated != hi) quantise(hi);
        lastOffset_ = hi;
    } else {
        // Even the coarsest quantiser does not fit: send silence.
        for (auto& bc : codes)
            for (int c = 0; c < 2; ++c) bc.ch[c].coded = false;
    }
    double bits = countBits();
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
        BitWriter body;
        if (rem) {
            BitWriter tmp;
            if (carryPrefix_) {
                tmp.put(static_cast<std::uint32_t>(carryFrame_.prevIndex), p_.blockCodeBits);
                tmp.put(static_cast<std::uint32_t>(carryFrame_.firstIndex), p_.blockCodeBits);
            }
            appendBits(tmp, carryFrame_.bytes, 0, carryFrame_.bits);
            const std::uint64_t total = tmp.bitCount();
            const std::vector<std::uint8_t> all = tmp.take();
            appendBits(body, all, total - rem, rem);
        }
        body.put(0, 0);
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
            BitWriter tmp;
            if (withPrefix && prefixBits) {
                tmp.put(static_cast<std::uint32_t>(fr.prevIndex), p_.blockCodeBits);
                tmp.put(static_cast<std::uint32_t>(fr.firstIndex), p_.blockCodeBits);
                produced_ += static_cast<double>(prefixBits);
            }
            appendBits(tmp, fr.bytes, 0, fr.bits);
            const std::uint64_t size = tmp.bitCount();
            const std::vector<std::uint8_t> all = tmp.take();
            // At most 14 frames complete in a packet (4-bit count); the
            // minimum frame size keeps packets far from that.
            if (used + size <= payload && complete < 14) {
                appendBits(body, all, 0, size);
                used += size;
                ++complete;
            } else if (used + size <= payload) {
                // Unreachable with the minimum frame size: drop the frame
                // rather than write a count the field cannot hold.
                error_ = "too many frames in one packet";
            } else {
                const std::uint64_t part = payload - used;
                appendBits(body, all, 0, part);
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
        BitWriter pkt;
        pkt.put(static_cast<std::uint32_t>(packetIndex_ & 15), 4);
        pkt.put(static_cast<std::uint32_t>(complete + 1), 4);
        pkt.put(static_cast<std::uint32_t>(rem + pad), p_.byteOffsetBits + 3);
        const std::uint64_t bodyBits = body.bitCount();
        const std::vector<std::uint8_t> bodyBytes = body.take();
        appendBits(pkt, bodyBytes, 0, bodyBits);
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
