#include "runtime_objects/audio_converter.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace asfw::rt {

namespace {

bool supported(const PcmFormat& f, bool output)
{
    if (f.sampleRate < 1000 || f.sampleRate > 384000) return false;
    if (f.channels < 1 || f.channels > 2) return false;
    if (output) return f.bitsPerSample == 16;
    return f.bitsPerSample == 8 || f.bitsPerSample == 16;
}

std::int16_t toS16(float v)
{
    const float scaled = std::nearbyint(v * 32768.0f);
    if (!(scaled > -32768.0f)) return -32768;  // also catches NaN
    if (scaled > 32767.0f) return 32767;
    return static_cast<std::int16_t>(scaled);
}

}  // namespace

std::unique_ptr<AudioConverter> AudioConverter::create(const PcmFormat& input, const PcmFormat& output,
                                                       std::string* error)
{
    if (!supported(input, false) || !supported(output, true)) {
        if (error != nullptr) *error = "unsupported PCM conversion";
        return nullptr;
    }
    std::unique_ptr<AudioConverter> c(new AudioConverter());
    c->in_ = input;
    c->out_ = output;
    if (input.sampleRate != output.sampleRate) {
        soxr_error_t soxrError = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_t s = soxr_create(input.sampleRate, output.sampleRate, static_cast<unsigned>(output.channels),
                               &soxrError, &io, &quality, nullptr);
        if (s == nullptr || soxrError != nullptr) {
            if (s != nullptr) soxr_delete(s);
            if (error != nullptr) *error = std::string("resampler: ") + (soxrError ? soxrError : "creation failed");
            return nullptr;
        }
        c->soxr_ = s;
    }
    return c;
}

AudioConverter::~AudioConverter()
{
    if (soxr_ != nullptr) soxr_delete(static_cast<soxr_t>(soxr_));
}

bool AudioConverter::push(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>* out)
{
    if (size == 0) return true;
    if (data == nullptr || out == nullptr) return false;
    const std::size_t frameBytes = static_cast<std::size_t>(in_.channels * in_.bitsPerSample / 8);

    // Complete a frame left over from the previous block first.
    std::size_t offset = 0;
    std::vector<std::uint8_t> joined;
    const std::uint8_t* src = data;
    std::size_t avail = size;
    if (!carry_.empty()) {
        joined = carry_;
        joined.insert(joined.end(), data, data + size);
        carry_.clear();
        src = joined.data();
        avail = joined.size();
    }
    const std::size_t frames = avail / frameBytes;
    const std::size_t used = frames * frameBytes;
    carry_.assign(src + used, src + avail);
    if (frames == 0) return true;

    // Decode and mix into floats with the output's channel count.
    mixed_.resize(frames * static_cast<std::size_t>(out_.channels));
    for (std::size_t i = 0; i < frames; ++i, offset += frameBytes) {
        float ch[2];
        for (int c = 0; c < in_.channels; ++c) {
            if (in_.bitsPerSample == 8) {
                ch[c] = (static_cast<float>(src[offset + static_cast<std::size_t>(c)]) - 128.0f) / 128.0f;
            } else {
                std::int16_t v;
                std::memcpy(&v, src + offset + static_cast<std::size_t>(c) * 2, 2);
                ch[c] = static_cast<float>(v) / 32768.0f;
            }
        }
        float* dst = &mixed_[i * static_cast<std::size_t>(out_.channels)];
        if (in_.channels == out_.channels) {
            for (int c = 0; c < out_.channels; ++c) dst[c] = ch[c];
        } else if (in_.channels == 1) {
            dst[0] = dst[1] = ch[0];
        } else {
            dst[0] = 0.5f * (ch[0] + ch[1]);
        }
    }
    return resample(mixed_.data(), frames, out);
}

bool AudioConverter::resample(const float* in, std::size_t frames, std::vector<std::int16_t>* out)
{
    const std::size_t channels = static_cast<std::size_t>(out_.channels);
    if (soxr_ == nullptr) {
        if (in == nullptr) return true;
        const std::size_t start = out->size();
        out->resize(start + frames * channels);
        for (std::size_t i = 0; i < frames * channels; ++i) (*out)[start + i] = toS16(in[i]);
        return true;
    }
    auto* s = static_cast<soxr_t>(soxr_);
    const double ratio = static_cast<double>(out_.sampleRate) / in_.sampleRate;
    const std::size_t chunk = static_cast<std::size_t>(std::ceil(static_cast<double>(std::max<std::size_t>(frames, 1024)) * ratio)) + 256;
    resampled_.resize(chunk * channels);
    std::size_t consumed = 0;
    for (;;) {
        std::size_t inDone = 0, outDone = 0;
        const soxr_error_t e = soxr_process(s, in == nullptr ? nullptr : in + consumed * channels,
                                            in == nullptr ? 0 : frames - consumed, &inDone, resampled_.data(), chunk,
                                            &outDone);
        if (e != nullptr) {
            error_ = std::string("resampler: ") + e;
            return false;
        }
        consumed += inDone;
        const std::size_t start = out->size();
        out->resize(start + outDone * channels);
        for (std::size_t i = 0; i < outDone * channels; ++i) (*out)[start + i] = toS16(resampled_[i]);
        if (in == nullptr) {
            if (outDone == 0) return true;  // drained
        } else if (consumed >= frames && outDone < chunk) {
            return true;
        }
    }
}

bool AudioConverter::drain(std::vector<std::int16_t>* out)
{
    if (out == nullptr) return false;
    carry_.clear();
    if (soxr_ == nullptr) return true;
    return resample(nullptr, 0, out);
}

}  // namespace asfw::rt
