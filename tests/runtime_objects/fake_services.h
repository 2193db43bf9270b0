// Stand-ins for the encoders and the file sink, so the runtime objects can
// be tested on their own: encoders that record what they are given and
// return small media objects, and a sink in memory that can be told to fail.
#ifndef ASFWRITER_TESTS_RUNTIME_OBJECTS_FAKE_SERVICES_H
#define ASFWRITER_TESTS_RUNTIME_OBJECTS_FAKE_SERVICES_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime_objects/runtime_services.h"

namespace asfw::rt::test {

struct EncoderLog {
    // Video
    std::vector<VideoSettings> videoSettings;
    std::vector<std::int64_t> analysed;  // times given to analyse()
    int endAnalysisCalls = 0;
    std::vector<std::int64_t> encodedVideo;
    std::vector<std::vector<std::uint8_t>> frames;  // first bytes of each frame's planes
    // Audio
    std::vector<AudioSettings> audioSettings;
    std::vector<std::int64_t> audioTimes;  // time given with each block
    std::vector<std::size_t> audioFrames;  // sample frames in each block
    std::vector<std::int16_t> pcm;         // everything the audio encoder received
    int flushCalls = 0;
    bool refuseVideoSettings = false;
};

struct SinkControl {
    std::vector<std::uint8_t> bytes;   // what was written
    bool created = false;
    std::uint64_t failAfterBytes = UINT64_MAX;  // writes beyond this fail
    bool failCreate = false;
    int createErrno = 0;
};

struct Fakes {
    std::shared_ptr<EncoderLog> log = std::make_shared<EncoderLog>();
    std::shared_ptr<SinkControl> sink = std::make_shared<SinkControl>();
    ServicesPtr services;
};

// The audio formats the fake codec offers (a few rows in the real table's
// style: rate, channels, bytes per second, block size).
std::vector<Wma9Format> fakeAudioFormats();

Fakes makeFakes();

}  // namespace asfw::rt::test

#endif
