// Windows Media Audio 9 (standard codec) encoder: the seam object.
#include "audio_encoder/wma9_encoder.h"

#include "audio_encoder/wma9_formats.h"

namespace asfw {

namespace {

class Wma9Encoder final : public MediaEncoder {
public:
    explicit Wma9Encoder(const Wma9Format& format) : format_(format) {}

    std::vector<std::uint8_t> codecData() const override { return format_.extra; }
    bool analyse(const std::uint8_t*, std::size_t, std::int64_t) override { return true; }
    void endAnalysis() override {}
    bool encode(const std::uint8_t* data, std::size_t size, std::int64_t, MediaObjects&) override
    {
        const std::size_t frameBytes = static_cast<std::size_t>(format_.channels) * 2;
        if (size % frameBytes != 0 || (size != 0 && data == nullptr)) {
            error_ = "input is not a whole number of sample frames";
            return false;
        }
        return true;
    }
    bool flush(MediaObjects&) override { return true; }
    std::string lastError() const override { return error_; }

private:
    Wma9Format format_;
    std::string error_;
};

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
