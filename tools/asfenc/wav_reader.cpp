#include "wav_reader.h"

#include <cmath>
#include <cstring>

namespace asfenc {

namespace {

constexpr std::uint16_t kTagPcm = 0x0001;
constexpr std::uint16_t kTagFloat = 0x0003;
constexpr std::uint16_t kTagExtensible = 0xFFFE;
// The part of the KSDATAFORMAT_SUBTYPE_* GUIDs after their first two bytes.
constexpr std::uint8_t kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Largest chunk before the sample data read into memory (format, ds64);
// anything else is skipped.
constexpr std::uint32_t kMaxHeaderChunk = 4096;

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t le64(const std::uint8_t* p) { return le32(p) | (static_cast<std::uint64_t>(le32(p + 4)) << 32); }

// Float samples as the converter can take them: not-a-number and infinities
// become silence, and values far beyond full scale are held at a level that
// mixing and resampling cannot overflow (they clip at 16 bits anyway).
float usableSample(double value)
{
    constexpr double kLimit = 1000.0;
    if (!std::isfinite(value)) return 0.0f;
    return static_cast<float>(value > kLimit ? kLimit : value < -kLimit ? -kLimit : value);
}

std::string hex16(unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x0000";
    for (int i = 0; i < 4; ++i) s[5 - i] = digits[(value >> (4 * i)) & 15];
    return s;
}

}  // namespace

ReadResult WavReader::parseFormat(const std::vector<std::uint8_t>& chunk, std::string& error)
{
    if (chunk.size() < 16) {
        error = "the WAV format chunk is too short";
        return ReadResult::Invalid;
    }
    const std::uint8_t* p = chunk.data();
    std::uint16_t tag = le16(p);
    const int channels = le16(p + 2);
    const std::uint32_t rate = le32(p + 4);
    const int blockAlign = le16(p + 12);
    const int bits = le16(p + 14);
    std::uint32_t mask = 0;
    if (tag == kTagExtensible) {
        if (chunk.size() < 40 || le16(p + 16) < 22) {
            error = "the WAV extensible format chunk is too short";
            return ReadResult::Invalid;
        }
        const int validBits = le16(p + 18);
        mask = le32(p + 20);
        const std::uint16_t sub = le16(p + 24);
        if (std::memcmp(p + 26, kSubtypeTail, sizeof kSubtypeTail) != 0 || (sub != kTagPcm && sub != kTagFloat)) {
            error = "unsupported WAV sub-format (only PCM and IEEE float are taken)";
            return ReadResult::Invalid;
        }
        if (validBits > bits) {
            error = "the WAV format declares more valid bits than its sample size";
            return ReadResult::Invalid;
        }
        tag = sub;
    }
    if (tag != kTagPcm && tag != kTagFloat) {
        error = "unsupported WAV encoding (format tag " + hex16(tag) + "); only PCM and IEEE float are taken";
        return ReadResult::Invalid;
    }
    if (channels < 1 || channels > kMaxWavChannels) {
        error = "unsupported channel count " + std::to_string(channels) + " (1 to " +
                std::to_string(kMaxWavChannels) + " are taken)";
        return ReadResult::Invalid;
    }
    if (rate < static_cast<std::uint32_t>(kMinWavRate) || rate > static_cast<std::uint32_t>(kMaxWavRate)) {
        error = "unsupported sample rate " + std::to_string(rate) + " Hz";
        return ReadResult::Invalid;
    }
    const bool isFloat = tag == kTagFloat;
    const bool bitsOk = isFloat ? (bits == 32 || bits == 64) : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    if (!bitsOk) {
        error = "unsupported sample size of " + std::to_string(bits) + " bits" + (isFloat ? " (float)" : "");
        return ReadResult::Invalid;
    }
    if (blockAlign != channels * bits / 8) {
        error = "the WAV block size (" + std::to_string(blockAlign) + ") does not match " +
                std::to_string(channels) + " channels of " + std::to_string(bits) + " bits";
        return ReadResult::Invalid;
    }
    format_.channels = channels;
    format_.sampleRate = static_cast<int>(rate);
    format_.bitsPerSample = bits;
    format_.isFloat = isFloat;
    format_.channelMask = mask;
    format_.blockAlign = blockAlign;
    return ReadResult::Ok;
}

ReadResult WavReader::readHeader(std::string& error)
{
    std::uint8_t riff[12];
    const std::size_t got = input_.readFully(riff, sizeof riff);
    if (got < sizeof riff && input_.failed()) {
        error = "read error in the WAV header";
        return ReadResult::IoError;
    }
    const bool isRiff = got >= 4 && (std::memcmp(riff, "RIFF", 4) == 0 || std::memcmp(riff, "RF64", 4) == 0);
    if (got < sizeof riff) {
        error = isRiff ? "the WAV header is cut short" : "not a WAV file";
        return isRiff ? ReadResult::Truncated : ReadResult::Invalid;
    }
    if (!isRiff || std::memcmp(riff + 8, "WAVE", 4) != 0) {
        error = "not a WAV file";
        return ReadResult::Invalid;
    }
    const bool rf64 = std::memcmp(riff, "RF64", 4) == 0;
    bool haveFormat = false;
    bool haveDs64 = false;
    std::uint64_t ds64Data = 0;
    for (;;) {
        std::uint8_t head[8];
        const std::size_t h = input_.readFully(head, sizeof head);
        if (h < sizeof head) {
            if (input_.failed()) {
                error = "read error in the WAV header";
                return ReadResult::IoError;
            }
            error = h == 0 ? "the WAV file has no sample data" : "the WAV header is cut short";
            return ReadResult::Truncated;
        }
        const std::uint32_t size = le32(head + 4);
        if (std::memcmp(head, "data", 4) == 0) {
            if (!haveFormat) {
                error = "the WAV file has sample data before its format";
                return ReadResult::Invalid;
            }
            std::uint64_t bytes = size;
            bool known = true;
            if (rf64 && size == 0xFFFFFFFFu) {
                if (!haveDs64) {
                    error = "the RF64 file has no data size";
                    return ReadResult::Invalid;
                }
                bytes = ds64Data;
            } else if (size == 0 || size == 0xFFFFFFFFu || (input_.knownSize() < 0 && size >= 0x7FFFF000u)) {
                // Written by a program that could not go back to fill in the
                // size (into a pipe): the data runs to the end of the input.
                known = false;
            }
            format_.lengthKnown = known;
            format_.dataBytes = known ? bytes : 0;
            remaining_ = bytes;
            framesRead_ = 0;
            finished_ = false;
            pending_ = ReadResult::End;
            return ReadResult::Ok;
        }
        const std::uint64_t padded = static_cast<std::uint64_t>(size) + (size & 1u);
        if (std::memcmp(head, "fmt ", 4) == 0 || (rf64 && std::memcmp(head, "ds64", 4) == 0)) {
            if (size > kMaxHeaderChunk) {
                error = "the WAV '" + std::string(reinterpret_cast<const char*>(head), 4) + "' chunk is too large";
                return ReadResult::Invalid;
            }
            std::vector<std::uint8_t> chunk(padded);
            if (input_.readFully(chunk.data(), chunk.size()) < chunk.size()) {
                if (input_.failed()) {
                    error = "read error in the WAV header";
                    return ReadResult::IoError;
                }
                error = "the WAV header is cut short";
                return ReadResult::Truncated;
            }
            chunk.resize(size);
            if (head[0] == 'f') {
                if (haveFormat) {
                    error = "the WAV file has two format chunks";
                    return ReadResult::Invalid;
                }
                const ReadResult r = parseFormat(chunk, error);
                if (r != ReadResult::Ok) return r;
                haveFormat = true;
            } else {
                if (chunk.size() < 16) {
                    error = "the RF64 size chunk is too short";
                    return ReadResult::Invalid;
                }
                ds64Data = le64(chunk.data() + 8);
                haveDs64 = true;
            }
            continue;
        }
        // Any other chunk (LIST, fact, bext, ...) is skipped.
        if (input_.skip(padded) < padded) {
            if (input_.failed()) {
                error = "read error in the WAV header";
                return ReadResult::IoError;
            }
            error = haveFormat ? "the WAV file has no sample data" : "the WAV header is cut short";
            return ReadResult::Truncated;
        }
    }
}

ReadResult WavReader::read(std::vector<float>& samples, std::size_t maxFrames, std::size_t& frames,
                           std::string& error)
{
    frames = 0;
    samples.clear();
    if (finished_) return finish(error);
    if (maxFrames == 0) return ReadResult::Ok;
    const std::size_t align = static_cast<std::size_t>(format_.blockAlign);
    std::size_t want = maxFrames * align;
    if (format_.lengthKnown && want > remaining_) want = static_cast<std::size_t>(remaining_);
    raw_.resize(want);
    const std::size_t got = input_.readFully(raw_.data(), want);
    if (format_.lengthKnown) remaining_ -= got;
    frames = got / align;
    const std::size_t leftover = got % align;

    const int channels = format_.channels;
    samples.resize(frames * static_cast<std::size_t>(channels));
    const std::uint8_t* p = raw_.data();
    float* out = samples.data();
    const std::size_t count = samples.size();
    switch (format_.bitsPerSample) {
    case 8:
        for (std::size_t i = 0; i < count; ++i) out[i] = (static_cast<int>(p[i]) - 128) * (1.0f / 128.0f);
        break;
    case 16:
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<float>(static_cast<std::int16_t>(le16(p + 2 * i))) * (1.0f / 32768.0f);
        break;
    case 24:
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* s = p + 3 * i;
            const std::int32_t v = static_cast<std::int32_t>(static_cast<std::uint32_t>(s[0]) << 8 |
                                                             static_cast<std::uint32_t>(s[1]) << 16 |
                                                             static_cast<std::uint32_t>(s[2]) << 24) /
                                   256;
            out[i] = static_cast<float>(v) * (1.0f / 8388608.0f);
        }
        break;
    case 32:
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t bits = le32(p + 4 * i);
            if (format_.isFloat) {
                float f;
                std::memcpy(&f, &bits, sizeof f);
                out[i] = usableSample(f);
            } else {
                out[i] = static_cast<float>(static_cast<double>(static_cast<std::int32_t>(bits)) / 2147483648.0);
            }
        }
        break;
    case 64:
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t bits = le64(p + 8 * i);
            double d;
            std::memcpy(&d, &bits, sizeof d);
            out[i] = usableSample(d);
        }
        break;
    default:
        break;
    }
    framesRead_ += frames;

    if (got < want || leftover != 0) {
        finished_ = true;
        if (input_.failed()) {
            pending_ = ReadResult::IoError;
            pendingError_ = "read error in the WAV sample data";
        } else if (leftover != 0 || (format_.lengthKnown && remaining_ > 0)) {
            pending_ = ReadResult::Truncated;
            pendingError_ = "the WAV sample data is cut short after " + std::to_string(framesRead_) +
                            " sample frames";
        }
    } else if (format_.lengthKnown && remaining_ == 0) {
        finished_ = true;
    }
    if (frames > 0) return ReadResult::Ok;
    return finish(error);
}

ReadResult WavReader::finish(std::string& error)
{
    if (pending_ != ReadResult::End) error = pendingError_;
    return pending_;
}

}  // namespace asfenc
