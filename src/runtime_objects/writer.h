// The writer: binds a profile, offers uncompressed input formats per
// stream, converts what the inputs deliver, runs the encoders and hands
// their media objects to the ASF muxer. Also the pre-processor of the
// two-pass modes.
//
// States: no profile -> configured (SetProfile) -> writing (BeginWriting)
// -> configured again (EndWriting). Calls out of order are refused with
// NS_E_INVALID_REQUEST.
#ifndef ASFWRITER_RUNTIME_OBJECTS_WRITER_H
#define ASFWRITER_RUNTIME_OBJECTS_WRITER_H

#include <memory>
#include <string>
#include <vector>

#include "asf_muxer/asf_muxer.h"
#include "codec/media_encoder.h"
#include "runtime/wmf_runtime.h"
#include "runtime_objects/audio_converter.h"
#include "runtime_objects/media_type.h"
#include "runtime_objects/ref_counted.h"
#include "runtime_objects/runtime_services.h"
#include "runtime_objects/stream_config.h"

namespace asfw::rt {

// Sample rates the audio inputs offer.
extern const int kInputSampleRates[7];

class Writer final : public IWMWriter, public IWMWriterPreprocess, private RefCounted {
public:
    explicit Writer(ServicesPtr services) : services_(std::move(services)) {}
    ~Writer() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return addRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseImpl(); }

    // IWMWriter
    HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID profile) override;
    HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile* profile) override;
    HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* name) override;
    HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetInputProps(DWORD input, IWMInputMediaProps** props) override;
    HRESULT STDMETHODCALLTYPE SetInputProps(DWORD input, IWMInputMediaProps* props) override;
    HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD input, DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD input, DWORD format, IWMInputMediaProps** props) override;
    HRESULT STDMETHODCALLTYPE BeginWriting() override;
    HRESULT STDMETHODCALLTYPE EndWriting() override;
    HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, INSSBuffer** sample) override;
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD input, QWORD time, DWORD flags, INSSBuffer* sample) override;
    HRESULT STDMETHODCALLTYPE Flush() override;

    // IWMWriterPreprocess
    HRESULT STDMETHODCALLTYPE GetMaxPreprocessingPasses(DWORD input, DWORD flags, DWORD* passes) override;
    HRESULT STDMETHODCALLTYPE SetNumPreprocessingPasses(DWORD input, DWORD flags, DWORD passes) override;
    HRESULT STDMETHODCALLTYPE BeginPreprocessingPass(DWORD input, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE PreprocessSample(DWORD input, QWORD time, DWORD flags, INSSBuffer* sample) override;
    HRESULT STDMETHODCALLTYPE EndPreprocessingPass(DWORD input, DWORD flags) override;

    // Why the last call failed, for diagnostics.
    const std::string& lastError() const { return lastError_; }

private:
    enum class State { NoProfile, Configured, Writing };

    struct Input {
        StreamData stream;
        bool video = false;
        int width = 0;
        int height = 0;
        REFERENCE_TIME frameDuration = 0;
        std::vector<MediaType> formats;
        MediaType current;
        // Pre-processing.
        DWORD passesRequested = 0;
        DWORD passesDone = 0;
        bool inPass = false;
        // Writing.
        bool needsPrepass = false;
        bool sampleWritten = false;
        std::int64_t lastTime = 0;  // of the last video sample written
        std::unique_ptr<MediaEncoder> encoder;
        std::unique_ptr<AudioConverter> converter;
        int outRate = 0;
        int outChannels = 0;
        bool haveStart = false;
        std::int64_t startTime = 0;
        std::uint64_t framesEncoded = 0;
        std::vector<std::int16_t> pcm;
        std::vector<std::uint8_t> scratch;
    };

    HRESULT fail(HRESULT hr, std::string why);
    Input* input(DWORD number);
    HRESULT buildInput(const StreamData& stream, Input* out);
    bool offered(const Input& in, const MediaType& type) const;
    HRESULT beginWriting();
    HRESULT startStream(Input& in, asf::StreamDescription* description);
    HRESULT frameBytes(Input& in, INSSBuffer* sample, const std::uint8_t** data, std::size_t* size);
    HRESULT writeSample(Input& in, std::int64_t time, INSSBuffer* sample);
    HRESULT encodePcm(Input& in, MediaObjects* objects);
    HRESULT deliver(Input& in, MediaObjects& objects);
    HRESULT finishWriting();

    ServicesPtr services_;
    State state_ = State::NoProfile;
    std::vector<Input> inputs_;
    bool haveOutput_ = false;
    std::string outputPath_;
    std::unique_ptr<asf::Muxer> muxer_;
    HRESULT failure_ = S_OK;  // a write failure sticks until EndWriting
    std::string lastError_;
};

}  // namespace asfw::rt

#endif
