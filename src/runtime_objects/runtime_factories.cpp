// The runtime's exported factories, bound to the product's encoders, format
// tables and file sink.
#include "asf_muxer/asf_muxer.h"
#include "audio_encoder/wma9_encoder.h"
#include "runtime_objects/ref_counted.h"
#include "runtime_objects/runtime_services.h"
#include "video_encoder/wmv9_encoder.h"

namespace asfw::rt {

ServicesPtr defaultRuntimeServices()
{
    static const ServicesPtr services = [] {
        auto s = std::make_shared<RuntimeServices>();
        s->videoCodecData = [](const VideoSettings& settings) { return wmv9SequenceHeader(settings); };
        s->createVideoEncoder = [](const VideoSettings& settings, std::string* error) {
            return createWmv9Encoder(settings, error);
        };
        s->audioFormats = wma9CbrFormats();
        s->createAudioEncoder = [](const AudioSettings& settings, std::string* error) {
            return createWma9Encoder(settings, error);
        };
        s->createSink = [](const std::string& path, std::string* error) { return asf::createFileSink(path, error); };
        s->complexityLive = kWmv9ComplexityLive;
        s->complexityOffline = kWmv9ComplexityOffline;
        s->complexityMax = kWmv9ComplexityMax;
        return ServicesPtr(std::move(s));
    }();
    return services;
}

}  // namespace asfw::rt

HRESULT WMCreateProfileManager(IWMProfileManager** ppProfileManager)
try {
    return asfw::rt::createProfileManager(asfw::rt::defaultRuntimeServices(), ppProfileManager);
} catch (...) {
    return asfw::rt::resultOfException();
}

HRESULT WMCreateWriter(IUnknown* /*pUnkCert*/, IWMWriter** ppWriter)
try {
    return asfw::rt::createWriter(asfw::rt::defaultRuntimeServices(), ppWriter);
} catch (...) {
    return asfw::rt::resultOfException();
}
