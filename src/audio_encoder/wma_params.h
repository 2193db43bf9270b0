// Stream parameters the decoder derives from the format (sample rate,
// channels, bit rate, encode options): frame and block sizes, band
// layouts, noise coding, coefficient table choice, superframe offsets.
// The encoder must derive exactly the same figures.
#ifndef ASFWRITER_AUDIO_ENCODER_WMA_PARAMS_H
#define ASFWRITER_AUDIO_ENCODER_WMA_PARAMS_H

#include <cstdint>
#include <vector>

namespace asfw {

constexpr int kWmaMaxBlockSizes = 5;

struct WmaParams {
    int sampleRate = 0;
    int channels = 0;
    std::uint32_t bitRate = 0;
    int frameLenBits = 0;
    int frameLen = 0;
    int blockSizes = 1;        // block lengths frameLen >> k, k < blockSizes
    int blockCodeBits = 0;     // bits of one block-length code
    bool noiseCoding = false;
    float highFreq = 0;        // Hz, start of the noise-coded region
    int coefTablePair = 2;     // 0..2
    int byteOffsetBits = 0;    // superframe offset field = byteOffsetBits + 3 bits
    float noiseMult = 0.02f;
    // Per block size k:
    std::vector<int> bandWidths[kWmaMaxBlockSizes];      // exponent bands, sum = block length
    int coefsEnd[kWmaMaxBlockSizes] = {};                // coded coefficients [0, coefsEnd)
    int highBandStart[kWmaMaxBlockSizes] = {};
    std::vector<int> highBandWidths[kWmaMaxBlockSizes];  // noise-codable bands
    std::vector<int> highBandFirst[kWmaMaxBlockSizes];   // first coefficient of each
    std::vector<int> highBandExpBand[kWmaMaxBlockSizes]; // exponent band of each

    int blockLen(int k) const { return frameLen >> k; }
};

// encodeOptions: the 16-bit option word of the extra bytes.
WmaParams wmaParams(int sampleRate, int channels, std::uint32_t bitRate, std::uint16_t encodeOptions);

}  // namespace asfw

#endif
