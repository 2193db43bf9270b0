#include "audio_convert.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace asfenc {

namespace {

constexpr float kMinus3dB = 0.70710678f;
constexpr std::size_t kReadFrames = 4096;

// Left and right weight of one speaker position (bit of a channel mask).
void speakerWeights(int bit, float& left, float& right)
{
    switch (bit) {
    case 0: left = 1.0f; right = 0.0f; break;               // front left
    case 1: left = 0.0f; right = 1.0f; break;               // front right
    case 2: left = right = kMinus3dB; break;                // front centre
    case 3: left = right = 0.0f; break;                     // low frequency
    case 4: left = kMinus3dB; right = 0.0f; break;          // back left
    case 5: left = 0.0f; right = kMinus3dB; break;          // back right
    case 6: left = 0.9238795f; right = 0.3826834f; break;   // front left of centre
    case 7: left = 0.3826834f; right = 0.9238795f; break;   // front right of centre
    case 8: left = right = 0.5f; break;                     // back centre
    case 9: left = kMinus3dB; right = 0.0f; break;          // side left
    case 10: left = 0.0f; right = kMinus3dB; break;         // side right
    case 12: left = kMinus3dB; right = 0.0f; break;         // top front left
    case 14: left = 0.0f; right = kMinus3dB; break;         // top front right
    case 15: left = 0.5f; right = 0.0f; break;              // top back left
    case 17: left = 0.0f; right = 0.5f; break;              // top back right
    default: left = right = 0.5f; break;                    // centred or unknown
    }
}

std::uint32_t defaultMask(int channels)
{
    switch (channels) {
    case 2: return 0x3;    // FL FR
    case 3: return 0x7;    // FL FR FC
    case 4: return 0x33;   // FL FR BL BR
    case 5: return 0x37;   // FL FR FC BL BR
    case 6: return 0x3F;   // FL FR FC LFE BL BR
    case 7: return 0x70F;  // FL FR FC LFE BC SL SR
    case 8: return 0x63F;  // FL FR FC LFE BL BR SL SR
    default: return 0;
    }
}

}  // namespace

StereoMix stereoMixFor(int channels, std::uint32_t mask)
{
    StereoMix mix;
    if (channels <= 0) return mix;
    mix.left.assign(static_cast<std::size_t>(channels), 0.0f);
    mix.right.assign(static_cast<std::size_t>(channels), 0.0f);
    if (channels == 1) {
        mix.left[0] = mix.right[0] = 1.0f;
        return mix;
    }
    if (mask == 0) mask = defaultMask(channels);
    int bit = 0;
    for (int c = 0; c < channels; ++c) {
        while (bit < 32 && (mask & (1u << bit)) == 0) ++bit;
        float l = 0.5f, r = 0.5f;  // a channel the mask does not place
        if (bit < 32) {
            speakerWeights(bit, l, r);
            ++bit;
        }
        mix.left[static_cast<std::size_t>(c)] = l;
        mix.right[static_cast<std::size_t>(c)] = r;
    }
    float sumL = 0.0f, sumR = 0.0f;
    for (int c = 0; c < channels; ++c) {
        sumL += mix.left[static_cast<std::size_t>(c)];
        sumR += mix.right[static_cast<std::size_t>(c)];
    }
    for (int c = 0; c < channels; ++c) {
        if (sumL > 1.0f) mix.left[static_cast<std::size_t>(c)] /= sumL;
        if (sumR > 1.0f) mix.right[static_cast<std::size_t>(c)] /= sumR;
    }
    return mix;
}

std::int16_t toPcm16(float sample)
{
    if (std::isnan(sample)) return 0;
    const float scaled = sample * 32768.0f;
    if (scaled <= -32768.0f) return -32768;
    if (scaled >= 32767.0f) return 32767;
    return static_cast<std::int16_t>(std::lrint(scaled));
}

WavAudioSource::WavAudioSource(WavReader& reader) : reader_(reader)
{
    const WavFormat& f = reader.format();
    mix_ = stereoMixFor(f.channels, f.channelMask);
    if (f.sampleRate != kRate) {
        soxr_error_t failure = nullptr;
        soxr_t s = soxr_create(f.sampleRate, kRate, kChannels, &failure, nullptr, nullptr, nullptr);
        if (failure != nullptr || s == nullptr) {
            setupError_ = std::string("cannot set up the resampler: ") + (failure ? failure : "unknown error");
            if (s != nullptr) soxr_delete(s);
        } else {
            resampler_ = s;
        }
    }
}

WavAudioSource::~WavAudioSource()
{
    if (resampler_ != nullptr) soxr_delete(static_cast<soxr_t>(resampler_));
}

bool WavAudioSource::ready(std::string& error) const
{
    if (setupError_.empty()) return true;
    error = setupError_;
    return false;
}

void WavAudioSource::emit(const float* stereo, std::size_t frames)
{
    for (std::size_t i = 0; i < 2 * frames; ++i) pending_.push_back(toPcm16(stereo[i]));
}

void WavAudioSource::pull()
{
    std::size_t frames = 0;
    std::string error;
    const ReadResult r = reader_.read(in_, kReadFrames, frames, error);
    const std::size_t channels = mix_.left.size();
    stereo_.resize(2 * frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const float* s = in_.data() + i * channels;
        float l = 0.0f, rr = 0.0f;
        for (std::size_t c = 0; c < channels; ++c) {
            l += mix_.left[c] * s[c];
            rr += mix_.right[c] * s[c];
        }
        stereo_[2 * i] = l;
        stereo_[2 * i + 1] = rr;
    }
    const bool last = r != ReadResult::Ok;
    if (last) {
        inputDone_ = true;
        endResult_ = r;
        endError_ = error;
    }
    if (resampler_ == nullptr) {
        emit(stereo_.data(), frames);
        return;
    }
    auto* s = static_cast<soxr_t>(resampler_);
    const double ratio = static_cast<double>(kRate) / reader_.format().sampleRate;
    const std::size_t room = static_cast<std::size_t>(static_cast<double>(frames) * ratio) + 256;
    resampled_.resize(2 * room);
    std::size_t used = 0;
    while (used < frames) {
        std::size_t idone = 0, odone = 0;
        if (soxr_process(s, stereo_.data() + 2 * used, frames - used, &idone, resampled_.data(), room, &odone) !=
            nullptr) {
            inputDone_ = true;
            endResult_ = ReadResult::IoError;
            endError_ = "the resampler failed";
            return;
        }
        emit(resampled_.data(), odone);
        used += idone;
        if (idone == 0 && odone == 0) break;
    }
    if (last) {
        for (;;) {  // drain what the filter still holds
            std::size_t odone = 0;
            if (soxr_process(s, nullptr, 0, nullptr, resampled_.data(), room, &odone) != nullptr || odone == 0) break;
            emit(resampled_.data(), odone);
        }
    }
}

ReadResult WavAudioSource::next(std::vector<std::uint8_t>& block, std::string& error)
{
    if (!setupError_.empty()) {
        error = setupError_;
        return ReadResult::IoError;
    }
    const std::size_t blockSamples = kBlockBytes / 2;
    while (pending_.size() < blockSamples && !inputDone_) pull();
    if (pending_.empty()) {
        if (endResult_ != ReadResult::End) error = endError_;
        return endResult_;
    }
    const std::size_t n = std::min(blockSamples, pending_.size());
    block.resize(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::uint16_t>(pending_[i]);
        block[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
        block[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    delivered_ += n / 2;
    return ReadResult::Ok;
}

}  // namespace asfenc
