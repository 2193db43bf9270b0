#include "audio_encoder/wma_params.h"

#include "audio_encoder/wma9_formats.h"
#include "tables/wma_tables.h"

namespace asfw {

namespace {
int floorLog2(unsigned v)
{
    int n = -1;
    while (v) {
        v >>= 1;
        ++n;
    }
    return n < 0 ? 0 : n;
}
}  // namespace

WmaParams wmaParams(int sampleRate, int channels, std::uint32_t bitRate, std::uint16_t options)
{
    WmaParams p;
    p.sampleRate = sampleRate;
    p.channels = channels;
    p.bitRate = bitRate;
    p.frameLenBits = wmaFrameLengthBits(sampleRate);
    p.frameLen = 1 << p.frameLenBits;

    if (options & 0x0004) {
        int nb = ((options >> 3) & 3) + 1;
        if (bitRate / static_cast<std::uint32_t>(channels) >= 32000) nb += 2;
        const int nbMax = p.frameLenBits - 7;
        if (nb > nbMax) nb = nbMax;
        p.blockSizes = nb + 1;
    } else {
        p.blockSizes = 1;
    }
    p.blockCodeBits = floorLog2(static_cast<unsigned>(p.blockSizes - 1)) + 1;

    // Rate-dependent choices, in the decoder's single-precision arithmetic.
    p.noiseCoding = true;
    float highFreq = static_cast<float>(sampleRate) * 0.5f;
    int rate1 = sampleRate;
    if (rate1 >= 44100) rate1 = 44100;
    else if (rate1 >= 22050) rate1 = 22050;
    else if (rate1 >= 16000) rate1 = 16000;
    else if (rate1 >= 11025) rate1 = 11025;
    else if (rate1 >= 8000) rate1 = 8000;
    volatile float bps = static_cast<float>(bitRate) / static_cast<float>(channels * sampleRate);
    const float bpsV = bps;
    p.byteOffsetBits = floorLog2(static_cast<unsigned>(static_cast<int>(bpsV * p.frameLen / 8.0 + 0.5))) + 2;
    float bps1 = bpsV;
    if (channels == 2) bps1 = static_cast<float>(bpsV * 1.6);
    if (rate1 == 44100) {
        if (bps1 >= 0.61) p.noiseCoding = false;
        else highFreq = static_cast<float>(highFreq * 0.4);
    } else if (rate1 == 22050) {
        if (bps1 >= 1.16) p.noiseCoding = false;
        else if (bps1 >= 0.72) highFreq = static_cast<float>(highFreq * 0.7);
        else highFreq = static_cast<float>(highFreq * 0.6);
    } else if (rate1 == 16000) {
        if (bpsV > 0.5) highFreq = static_cast<float>(highFreq * 0.5);
        else highFreq = static_cast<float>(highFreq * 0.3);
    } else if (rate1 == 11025) {
        highFreq = static_cast<float>(highFreq * 0.7);
    } else if (rate1 == 8000) {
        if (bpsV <= 0.625) highFreq = static_cast<float>(highFreq * 0.5);
        else if (bpsV > 0.75) p.noiseCoding = false;
        else highFreq = static_cast<float>(highFreq * 0.65);
    } else {
        if (bpsV >= 0.8) highFreq = static_cast<float>(highFreq * 0.75);
        else if (bpsV >= 0.6) highFreq = static_cast<float>(highFreq * 0.6);
        else highFreq = static_cast<float>(highFreq * 0.5);
    }
    p.highFreq = highFreq;
    p.noiseMult = (options & 0x0001) ? 0.02f : 0.04f;

    p.coefTablePair = 2;
    if (sampleRate >= 32000) {
        if (bps1 < 0.72) p.coefTablePair = 0;
        else if (bps1 < 1.16) p.coefTablePair = 1;
    }

    for (int k = 0; k < p.blockSizes; ++k) {
        const int blockLen = p.frameLen >> k;
        std::vector<int>& bands = p.bandWidths[k];
        const int a = p.frameLenBits - 7 - k;
        int rateClass = -1;
        if (a < 3) {
            if (sampleRate >= 44100) rateClass = 2;
            else if (sampleRate >= 32000) rateClass = 1;
            else if (sampleRate >= 22050) rateClass = 0;
        }
        if (rateClass >= 0) {
            bands = wmaFixedExponentBands(rateClass, a);
        } else {
            int lpos = 0;
            for (int i = 0; i < 25; ++i) {
                const int f = kWmaCriticalFreqs[i];
                int pos = ((blockLen * 2 * f) + (sampleRate << 1)) / (4 * sampleRate);
                pos <<= 2;
                if (pos > blockLen) pos = blockLen;
                if (pos > lpos) bands.push_back(pos - lpos);
                if (pos >= blockLen) break;
                lpos = pos;
            }
        }
        p.coefsEnd[k] = (p.frameLen - ((p.frameLen * 9) / 100)) >> k;
        p.highBandStart[k] = static_cast<int>((blockLen * 2 * highFreq) / sampleRate + 0.5);
        int pos = 0;
        for (std::size_t i = 0; i < bands.size(); ++i) {
            int start = pos;
            pos += bands[i];
            int end = pos;
            if (start < p.highBandStart[k]) start = p.highBandStart[k];
            if (end > p.coefsEnd[k]) end = p.coefsEnd[k];
            if (end > start) {
                p.highBandWidths[k].push_back(end - start);
                p.highBandFirst[k].push_back(start);
                p.highBandExpBand[k].push_back(static_cast<int>(i));
            }
        }
    }
    return p;
}

}  // namespace asfw
