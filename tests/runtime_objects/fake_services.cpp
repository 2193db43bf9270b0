#include "fake_services.h"

#include <cerrno>
#include <cstring>

namespace asfw::rt::test {

namespace {

class FakeVideoEncoder : public MediaEncoder {
public:
    FakeVideoEncoder(VideoSettings s, std::shared_ptr<EncoderLog> log) : s_(s), log_(std::move(log)) {}
    std::vector<std::uint8_t> codecData() const override { return {0x4E, 0xF1, 0x0A, 0x01}; }
    bool analyse(const std::uint8_t*, std::size_t size, std::int64_t time) override
    {
        if (size != frameSize()) return false;
        log_->analysed.push_back(time);
        return true;
    }
    void endAnalysis() override { ++log_->endAnalysisCalls; }
    bool encode(const std::uint8_t* data, std::size_t size, std::int64_t time, MediaObjects& out) override
    {
        if (size != frameSize()) return false;
        const std::size_t luma = static_cast<std::size_t>(s_.width) * s_.height;
        log_->encodedVideo.push_back(time);
        log_->frames.push_back({data[0], data[luma], data[luma + luma / 4]});
        MediaObject o;
        o.data.assign(200, static_cast<std::uint8_t>(log_->encodedVideo.size()));
        o.presentationTime = time;
        o.duration = s_.frameDuration;
        o.keyFrame = log_->encodedVideo.size() == 1;
        out.push_back(std::move(o));
        return true;
    }
    bool flush(MediaObjects&) override
    {
        ++log_->flushCalls;
        return true;
    }

private:
    std::size_t frameSize() const { return static_cast<std::size_t>(s_.width) * s_.height * 3 / 2; }
    VideoSettings s_;
    std::shared_ptr<EncoderLog> log_;
};

// Emits one block of blockAlign bytes per 1024 sample frames.
class FakeAudioEncoder : public MediaEncoder {
public:
    FakeAudioEncoder(AudioSettings s, std::shared_ptr<EncoderLog> log) : s_(s), log_(std::move(log)) {}
    std::vector<std::uint8_t> codecData() const override { return std::vector<std::uint8_t>(10, 0x11); }
    bool analyse(const std::uint8_t*, std::size_t, std::int64_t) override { return false; }
    void endAnalysis() override {}
    bool encode(const std::uint8_t* data, std::size_t size, std::int64_t time, MediaObjects& out) override
    {
        const std::size_t frameBytes = static_cast<std::size_t>(s_.channels) * 2;
        if (size % frameBytes != 0) return false;
        log_->audioTimes.push_back(time);
        log_->audioFrames.push_back(size / frameBytes);
        const std::size_t n = size / 2;
        const std::size_t start = log_->pcm.size();
        log_->pcm.resize(start + n);
        std::memcpy(log_->pcm.data() + start, data, size);
        pending_ += size / frameBytes;
        while (pending_ >= 1024) emit(out), pending_ -= 1024;
        return true;
    }
    bool flush(MediaObjects& out) override
    {
        ++log_->flushCalls;
        if (pending_ > 0) emit(out);
        pending_ = 0;
        return true;
    }

private:
    void emit(MediaObjects& out)
    {
        MediaObject o;
        o.data.assign(s_.blockAlign, 0x22);
        o.presentationTime = static_cast<std::int64_t>(blocks_ * 1024 * 10000000 / s_.sampleRate);
        o.duration = static_cast<std::int64_t>(1024 * 10000000LL / s_.sampleRate);
        o.keyFrame = true;
        ++blocks_;
        out.push_back(std::move(o));
    }
    AudioSettings s_;
    std::shared_ptr<EncoderLog> log_;
    std::uint64_t pending_ = 0;
    std::uint64_t blocks_ = 0;
};

class MemorySink : public asf::ByteSink {
public:
    explicit MemorySink(std::shared_ptr<SinkControl> c) : c_(std::move(c)) {}
    bool write(const void* data, std::size_t size) override
    {
        if (c_->bytes.size() + size > c_->failAfterBytes) {
            errno = ENOSPC;
            return false;
        }
        const auto* p = static_cast<const std::uint8_t*>(data);
        c_->bytes.insert(c_->bytes.end(), p, p + size);
        return true;
    }
    bool writeAt(std::uint64_t offset, const void* data, std::size_t size) override
    {
        if (offset + size > c_->bytes.size()) return false;
        std::memcpy(c_->bytes.data() + offset, data, size);
        return true;
    }
    std::uint64_t size() const override { return c_->bytes.size(); }
    bool flush() override { return c_->bytes.size() <= c_->failAfterBytes; }
    std::string error() const override { return "memory sink refused the write"; }

private:
    std::shared_ptr<SinkControl> c_;
};

}  // namespace

std::vector<Wma9Format> fakeAudioFormats()
{
    const std::vector<std::uint8_t> extra(10, 0x11);
    return {
        {48000, 2, 16000, 5461, extra},
        {44100, 2, 16000, 5945, extra},
        {44100, 2, 8000, 2973, extra},
        {44100, 1, 6000, 2229, extra},
        {32000, 2, 5000, 1280, extra},
        {22050, 1, 2500, 929, extra},
    };
}

Fakes makeFakes()
{
    Fakes f;
    auto s = std::make_shared<RuntimeServices>();
    auto log = f.log;
    auto sink = f.sink;
    s->videoCodecData = [](const VideoSettings&) { return std::vector<std::uint8_t>{0x4E, 0xF1, 0x0A, 0x01}; };
    s->createVideoEncoder = [log](const VideoSettings& v, std::string* error) -> std::unique_ptr<MediaEncoder> {
        log->videoSettings.push_back(v);
        if (log->refuseVideoSettings) {
            *error = "refused";
            return nullptr;
        }
        return std::make_unique<FakeVideoEncoder>(v, log);
    };
    s->audioFormats = fakeAudioFormats();
    s->createAudioEncoder = [log](const AudioSettings& a, std::string*) -> std::unique_ptr<MediaEncoder> {
        log->audioSettings.push_back(a);
        return std::make_unique<FakeAudioEncoder>(a, log);
    };
    s->createSink = [sink](const std::string&, std::string* error) -> std::unique_ptr<asf::ByteSink> {
        if (sink->failCreate) {
            errno = sink->createErrno;
            *error = "cannot create";
            return nullptr;
        }
        sink->created = true;
        return std::make_unique<MemorySink>(sink);
    };
    f.services = s;
    return f;
}

}  // namespace asfw::rt::test
