// What the built-in runtime objects build on: the encoders, their format
// tables and the file sink. The product binds the real ones; the objects'
// own tests can bind stand-ins.
#ifndef ASFWRITER_RUNTIME_OBJECTS_RUNTIME_SERVICES_H
#define ASFWRITER_RUNTIME_OBJECTS_RUNTIME_SERVICES_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "asf_muxer/asf_muxer.h"
#include "audio_encoder/wma9_encoder.h"
#include "codec/media_encoder.h"
#include "runtime/wmf_runtime.h"

namespace asfw::rt {

struct RuntimeServices {
    // Video codec data (sequence header) for the given settings.
    std::function<std::vector<std::uint8_t>(const VideoSettings&)> videoCodecData;
    std::function<std::unique_ptr<MediaEncoder>(const VideoSettings&, std::string*)> createVideoEncoder;
    // The audio codec's one-pass CBR formats, highest rate and bit rate first.
    std::vector<Wma9Format> audioFormats;
    std::function<std::unique_ptr<MediaEncoder>(const AudioSettings&, std::string*)> createAudioEncoder;
    std::function<std::unique_ptr<asf::ByteSink>(const std::string&, std::string*)> createSink;
    // Complexity levels the video codec reports.
    int complexityLive = 0;
    int complexityOffline = 3;
    int complexityMax = 5;
};

using ServicesPtr = std::shared_ptr<const RuntimeServices>;

// The encoders, tables and file sink of the product.
ServicesPtr defaultRuntimeServices();

// Creation of the runtime's top-level objects on the given services.
HRESULT createProfileManager(ServicesPtr services, IWMProfileManager** manager);
HRESULT createWriter(ServicesPtr services, IWMWriter** writer);

// Names the runtime publishes.
extern const char16_t* const kVideoCodecName;  // "Windows Media Video 9"
extern const char16_t* const kAudioCodecName;  // "Windows Media Audio 9.2"

}  // namespace asfw::rt

#endif
