// The block and frame syntax of the standard WMA bitstream, written once
// as templates over the bit writer (BitWriter emits, BitCounter prices).
#ifndef ASFWRITER_AUDIO_ENCODER_WMA_BLOCK_H
#define ASFWRITER_AUDIO_ENCODER_WMA_BLOCK_H

#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "audio_encoder/wma_params.h"
#include "bitwriter/bit_writer.h"
#include "tables/wma_tables.h"

namespace asfw {

struct WmaChannelCode {
    bool coded = false;
    std::vector<int> exps;                 // per exponent band, absolute (-60..95)
    std::vector<int> q;                    // quantised values over the coded positions
    std::vector<std::uint8_t> noiseBand;   // per high band: 1 = replaced by noise
    std::vector<int> noiseGain;            // per high band, dB (where noiseBand)
    int stuffing = 0;                      // zero-valued escapes after the last value
};

struct WmaBlockCode {
    int sizeIndex = 0;     // block length = frameLen >> sizeIndex
    bool midSide = false;
    int gain = 1;          // total gain, >= 1
    bool sendExps = true;  // only short blocks may reuse exponents
    WmaChannelCode ch[2];
};

// Escape level field width for a total gain.
inline int wmaEscapeLevelBits(int gain)
{
    if (gain < 15) return 13;
    if (gain < 32) return 12;
    if (gain < 40) return 11;
    if (gain < 45) return 10;
    return 9;
}

// Number of coded coefficient positions of a channel (bands replaced by
// noise carry none).
inline int wmaCodedPositions(const WmaParams& p, int k, const WmaChannelCode& c)
{
    int n = p.coefsEnd[k];
    if (p.noiseCoding)
        for (std::size_t i = 0; i < p.highBandWidths[k].size(); ++i)
            if (i < c.noiseBand.size() && c.noiseBand[i]) n -= p.highBandWidths[k][i];
    return n;
}

// Bit j set where q[j] != 0, for the first n (<= 64) values: the coefficient
// loops step from value to value instead of testing every position.
inline std::uint64_t wmaNonZeroMask(const int* q, int n)
{
    std::uint64_t m = 0;
    int j = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; j + 4 <= n; j += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + j));
        const int eq = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, zero)));
        m |= static_cast<std::uint64_t>(~eq & 15) << j;
    }
#endif
    for (; j < n; ++j) m |= static_cast<std::uint64_t>(q[j] != 0) << j;
    return m;
}

inline int wmaLowestBit(std::uint64_t m)
{
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_ctzll(m);
#else
    int i = 0;
    while (!(m & 1)) {
        m >>= 1;
        ++i;
    }
    return i;
#endif
}

template <class W>
void wmaWriteCoefs(W& w, const WmaCoefTable& t, const std::vector<int>& q, int n, int escBits, int frameLenBits, int stuffing)
{
    int last = -1;
    const int* qs = q.data();
    for (int base = 0; base < n; base += 64) {
        std::uint64_t m = wmaNonZeroMask(qs + base, n - base < 64 ? n - base : 64);
        while (m) {
            const int i = base + wmaLowestBit(m);
            m &= m - 1;
            const int run = i - last - 1;
            const int v = qs[i];
            const int level = v < 0 ? -v : v;
            const int sym = t.symbolOf(run, level);
            if (sym >= 0) {
                w.put(t.codes[static_cast<std::size_t>(sym)]);
            } else {
                const int maxLevel = (1 << escBits) - 1;
                w.put(t.codes[0]);
                w.put(static_cast<std::uint32_t>(level > maxLevel ? maxLevel : level), escBits);
                w.put(static_cast<std::uint32_t>(run), frameLenBits);
            }
            w.putBit(v < 0);  // the decoder's inverse transform is negated: 1 = negative here
            last = i;
        }
    }
    int pos = last + 1;
    for (int s = 0; s < stuffing && pos < n; ++s, ++pos) {
        w.put(t.codes[0]);
        w.put(0, escBits);
        w.put(0, frameLenBits);
        w.putBit(true);
    }
    if (pos < n) w.put(t.codes[1]);  // end of block (omitted when the block is full)
}

// Bits wmaWriteCoefs writes for the same arguments, counted from the flat
// table of code lengths. Stops counting once the count passes `limit`
// (returns a value above it).
inline std::int64_t wmaCoefBits(const WmaCoefTable& t, const int* q, int n, int escBits, int frameLenBits, int stuffing,
                        std::int64_t limit)
{
    const std::int64_t escape = static_cast<std::int64_t>(t.codes[0].length) + escBits + frameLenBits + 1;
    const std::uint8_t* quick = t.quickBits.data();
    std::int64_t bits = 0;
    int last = -1;
    for (int base = 0; base < n; base += 64) {
        std::uint64_t m = wmaNonZeroMask(q + base, n - base < 64 ? n - base : 64);
        while (m) {
            const int i = base + wmaLowestBit(m);
            m &= m - 1;
            const int run = i - last - 1;
            const int v = q[i];
            const int level = v < 0 ? -v : v;
            int b = 0;
            if (level < WmaCoefTable::kQuickLevels && run < WmaCoefTable::kQuickRuns) b = quick[level * WmaCoefTable::kQuickRuns + run];
            else if (t.symbolOf(run, level) >= 0) b = t.codes[static_cast<std::size_t>(t.symbolOf(run, level))].length + 1;
            bits += b ? b : escape;
            last = i;
        }
        if (bits > limit) return bits;
    }
    int pos = last + 1;
    const int stuffed = stuffing < n - pos ? stuffing : (n - pos > 0 ? n - pos : 0);
    bits += static_cast<std::int64_t>(stuffed) * escape;
    pos += stuffed;
    if (pos < n) bits += t.codes[1].length;
    return bits;
}

// One block. reset: write the previous and current block-length codes
// first (first frame starting in a packet, first block only).
// Everything of a block before its coefficients.
template <class W>
void wmaWriteBlockHeader(W& w, const WmaParams& p, const WmaBlockCode& b, bool reset, int prevIndex, int nextIndex)
{
    if (p.blockSizes > 1) {
        if (reset) {
            w.put(static_cast<std::uint32_t>(prevIndex), p.blockCodeBits);
            w.put(static_cast<std::uint32_t>(b.sizeIndex), p.blockCodeBits);
        }
        w.put(static_cast<std::uint32_t>(nextIndex), p.blockCodeBits);
    }
    if (p.channels == 2) w.putBit(b.midSide);
    bool any = false;
    for (int c = 0; c < p.channels; ++c) {
        w.putBit(b.ch[c].coded);
        any = any || b.ch[c].coded;
    }
    if (!any) return;
    int g = b.gain - 1;
    while (g >= 127) {
        w.put(127, 7);
        g -= 127;
    }
    w.put(static_cast<std::uint32_t>(g), 7);
    const int k = b.sizeIndex;
    if (p.noiseCoding) {
        const std::size_t nh = p.highBandWidths[k].size();
        for (int c = 0; c < p.channels; ++c) {
            if (!b.ch[c].coded) continue;
            for (std::size_t i = 0; i < nh; ++i) w.putBit(i < b.ch[c].noiseBand.size() && b.ch[c].noiseBand[i]);
        }
        const std::vector<VlcCode>& hg = wmaHgainCodes();
        for (int c = 0; c < p.channels; ++c) {
            if (!b.ch[c].coded) continue;
            bool first = true;
            int prev = 0;
            for (std::size_t i = 0; i < nh; ++i) {
                if (i >= b.ch[c].noiseBand.size() || !b.ch[c].noiseBand[i]) continue;
                const int v = b.ch[c].noiseGain[i];
                if (first) w.put(static_cast<std::uint32_t>(v + 19), 7);
                else w.put(hg[static_cast<std::size_t>(v - prev + kWmaHgainOffset)]);
                first = false;
                prev = v;
            }
        }
    }
    if (k != 0) w.putBit(b.sendExps);
    if (k == 0 || b.sendExps) {
        const std::vector<VlcCode>& sc = wmaScaleCodes();
        for (int c = 0; c < p.channels; ++c) {
            if (!b.ch[c].coded) continue;
            int last = 36;
            for (int e : b.ch[c].exps) {
                w.put(sc[static_cast<std::size_t>(e - last + kWmaScaleOffset)]);
                last = e;
            }
        }
    }
}

template <class W>
void wmaWriteBlock(W& w, const WmaParams& p, const WmaBlockCode& b, bool reset, int prevIndex, int nextIndex)
{
    wmaWriteBlockHeader(w, p, b, reset, prevIndex, nextIndex);
    const int k = b.sizeIndex;
    const int escBits = wmaEscapeLevelBits(b.gain);
    for (int c = 0; c < p.channels; ++c) {
        if (!b.ch[c].coded) continue;
        const WmaCoefTable& t = wmaCoefTable(p.coefTablePair * 2 + ((c == 1 && b.midSide) ? 1 : 0));
        wmaWriteCoefs(w, t, b.ch[c].q, wmaCodedPositions(p, k, b.ch[c]), escBits, p.frameLenBits, b.ch[c].stuffing);
    }
}

}  // namespace asfw

#endif
