// Real files through the built-in runtime: the product's factories, the real
// encoders and muxer, checked by the independent tools.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "objects_helpers.h"
#include "support/asf_checkers.h"
#include "support/test_support.h"

namespace asfw::rt::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Scenario {
    const char* name;
    bool video;
    bool audio;
    bool vbr = false;
    DWORD passes = 1;
};

class EndToEnd : public ::testing::TestWithParam<Scenario> {};

// Drives the runtime as the writer class does: profile, codec formats,
// inputs by connection name, I420 and 48 kHz stereo 16-bit input, samples
// stamped from per-stream clocks.
TEST_P(EndToEnd, WritesAFileTheToolsDecode)
{
    ASFW_REQUIRE_TOOL("ffprobe");
    ASFW_REQUIRE_TOOL("ffmpeg");
    const Scenario& s = GetParam();
    const std::size_t baseline = liveObjectCount();
    asfw::test::TempDir dir;
    const std::string path = dir.file(std::string(s.name) + ".wmv");
    const int width = 176, height = 144, frames = 50;  // two seconds at 25 frames per second
    const REFERENCE_TIME frameDuration = 400000;
    {
        ComPtr<IWMProfileManager> manager;
        ASSERT_EQ(WMCreateProfileManager(manager.put()), S_OK);
        ComPtr<IWMCodecInfo3> info;
        ASSERT_EQ(manager->QueryInterface(IID_IWMCodecInfo3, info.putVoid()), S_OK);
        ComPtr<IWMProfile> profile;
        ASSERT_EQ(manager->CreateEmptyProfile(WMT_VER_9_0, profile.put()), S_OK);
        if (s.video) {
            VideoStreamSpec spec;
            spec.width = width;
            spec.height = height;
            spec.frameDuration = frameDuration;
            spec.bitrate = 400000;
            spec.vbr = s.vbr;
            spec.passes = s.passes;
            if (s.vbr) {
                spec.setVbrProperties = true;
                spec.rmax = 1000000;
                spec.bmax = 6000;
            }
            ASSERT_EQ(addVideoStream(info.get(), profile.get(), spec), S_OK);
        }
        if (s.audio) {
            // The best 44.1 kHz stereo format up to 64 kbit/s, as the writer class picks.
            ASSERT_EQ(setEnumeration(info.get(), WMMEDIATYPE_Audio, false, 1), S_OK);
            DWORD count = 0, best = 0, bestRate = 0;
            ASSERT_EQ(info->GetCodecFormatCount(WMMEDIATYPE_Audio, 0, &count), S_OK);
            for (DWORD j = 0; j < count; ++j) {
                ComPtr<IWMStreamConfig> config;
                ASSERT_EQ(info->GetCodecFormat(WMMEDIATYPE_Audio, 0, j, config.put()), S_OK);
                MediaTypeCopy mt;
                ASSERT_EQ(readMediaType(config.get(), &mt), S_OK);
                const auto w = mt.format<WAVEFORMATEX>();
                const DWORD kbps = w.nAvgBytesPerSec * 8 / 1000;
                if (w.nSamplesPerSec == 44100 && w.nChannels == 2 && kbps <= 64 && kbps > bestRate) {
                    best = j;
                    bestRate = kbps;
                }
            }
            ASSERT_GT(bestRate, 0u);
            ASSERT_EQ(addAudioStream(info.get(), profile.get(), best), S_OK);
        }
        ComPtr<IWMWriter> writer;
        ASSERT_EQ(WMCreateWriter(nullptr, writer.put()), S_OK);
        ASSERT_EQ(writer->SetProfile(profile.get()), S_OK);
        DWORD inputs = 0;
        writer->GetInputCount(&inputs);
        DWORD videoInput = 99, audioInput = 99;
        for (DWORD i = 0; i < inputs; ++i) {
            ComPtr<IWMInputMediaProps> props;
            ASSERT_EQ(writer->GetInputProps(i, props.put()), S_OK);
            const std::u16string name = connectionName(props.get());
            DWORD formats = 0;
            writer->GetInputFormatCount(i, &formats);
            for (DWORD j = 0; j < formats; ++j) {
                ComPtr<IWMInputMediaProps> format;
                writer->GetInputFormat(i, j, format.put());
                MediaTypeCopy mt;
                ASSERT_EQ(readMediaType(format.get(), &mt), S_OK);
                bool match = false;
                if (name == u"Video") {
                    videoInput = i;
                    match = mt.get()->subtype == WMMEDIASUBTYPE_I420;
                } else if (name == u"Audio") {
                    audioInput = i;
                    const auto w = mt.format<WAVEFORMATEX>();
                    match = w.wFormatTag == WAVE_FORMAT_PCM && w.wBitsPerSample == 16 && w.nChannels == 2 &&
                            w.nSamplesPerSec == 48000;
                }
                if (match) {
                    ASSERT_EQ(writer->SetInputProps(i, format.get()), S_OK);
                    break;
                }
            }
        }
        const std::u16string wide(path.begin(), path.end());
        ASSERT_EQ(writer->SetOutputFilename(wide.c_str()), S_OK);
        ASSERT_EQ(writer->BeginWriting(), S_OK);

        auto picture = [&](int n) {
            std::vector<std::uint8_t> f(static_cast<std::size_t>(width) * height * 3 / 2);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    f[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(
                        128 + 90 * std::sin((x + 3 * n) * 0.11) * std::cos((y - 2 * n) * 0.07));
            std::fill(f.begin() + width * height, f.begin() + width * height * 5 / 4, static_cast<std::uint8_t>(100 + n));
            std::fill(f.begin() + width * height * 5 / 4, f.end(), static_cast<std::uint8_t>(160 - n));
            return f;
        };
        auto send = [&](IUnknown* target, DWORD input, QWORD time, const std::vector<std::uint8_t>& bytes,
                        bool pre) {
            ComPtr<INSSBuffer> sample;
            EXPECT_EQ(writer->AllocateSample(static_cast<DWORD>(bytes.size()), sample.put()), S_OK);
            BYTE* p = nullptr;
            sample->GetBuffer(&p);
            std::memcpy(p, bytes.data(), bytes.size());
            sample->SetLength(static_cast<DWORD>(bytes.size()));
            if (pre) return static_cast<IWMWriterPreprocess*>(target)->PreprocessSample(input, time, 0, sample.get());
            return static_cast<IWMWriter*>(target)->WriteSample(input, time, 0, sample.get());
        };
        if (s.video && s.passes == 2) {
            ComPtr<IWMWriterPreprocess> pre;
            ASSERT_EQ(writer->QueryInterface(IID_IWMWriterPreprocess, pre.putVoid()), S_OK);
            ASSERT_EQ(pre->SetNumPreprocessingPasses(videoInput, 0, 1), S_OK);
            ASSERT_EQ(pre->BeginPreprocessingPass(videoInput, 0), S_OK);
            for (int n = 0; n < frames; ++n)
                ASSERT_EQ(send(pre.get(), videoInput, static_cast<QWORD>(n) * frameDuration, picture(n), true), S_OK);
            ASSERT_EQ(pre->EndPreprocessingPass(videoInput, 0), S_OK);
        }
        // 10 ms audio blocks of a 1 kHz tone, interleaved with the frames.
        QWORD audioTime = 0;
        int block = 0;
        for (int n = 0; n < frames; ++n) {
            const QWORD videoTime = static_cast<QWORD>(n) * frameDuration;
            if (s.video) {
                ASSERT_EQ(send(writer.get(), videoInput, videoTime, picture(n), false), S_OK) << n;
            }
            while (s.audio && audioTime < videoTime + frameDuration) {
                std::vector<std::uint8_t> pcm(1920);
                for (int k = 0; k < 480; ++k) {
                    const auto v = static_cast<std::int16_t>(
                        10000 * std::sin(2 * kPi * 1000 * (block * 480 + k) / 48000.0));
                    std::memcpy(&pcm[static_cast<std::size_t>(k) * 4], &v, 2);
                    std::memcpy(&pcm[static_cast<std::size_t>(k) * 4 + 2], &v, 2);
                }
                ASSERT_EQ(send(writer.get(), audioInput, audioTime, pcm, false), S_OK);
                audioTime += 100000;
                ++block;
            }
        }
        ASSERT_EQ(writer->EndWriting(), S_OK);
    }
    EXPECT_EQ(liveObjectCount(), baseline);

    const auto probe = asfw::test::ffprobeStreams(path);
    ASSERT_TRUE(probe.ok) << probe.errors << probe.raw;
    ASSERT_EQ(probe.streams.size(), static_cast<std::size_t>(s.video) + s.audio);
    for (const auto& st : probe.streams) {
        if (st.codecType == "video") {
            EXPECT_EQ(st.codecName, "wmv3");
            EXPECT_EQ(st.width, width);
            EXPECT_EQ(st.height, height);
        } else {
            EXPECT_EQ(st.codecName, "wmav2");
            EXPECT_EQ(st.sampleRate, 44100);
            EXPECT_EQ(st.channels, 2);
        }
    }
    EXPECT_NEAR(probe.duration, 2.0, 0.25) << probe.raw;
    const auto decode = asfw::test::ffmpegDecode(path);
    EXPECT_TRUE(decode.ok) << decode.errors;
    if (asfw::test::toolAvailable("gst-discoverer-1.0")) {
        const auto found = asfw::test::gstDiscover(path);
        EXPECT_TRUE(found.ok) << found.output;
        EXPECT_NEAR(found.duration, 2.0, 0.25) << found.output;
        if (s.video) {
            EXPECT_TRUE(found.seekable) << found.output;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, EndToEnd,
                         ::testing::Values(Scenario{"video_only", true, false}, Scenario{"audio_only", false, true},
                                           Scenario{"audio_video", true, true},
                                           Scenario{"two_pass_vbr", true, true, true, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// A host that links only the shared library writes a file through the
// exported class, in one pass and with the pre-processing pass.
class SharedLibraryHost : public ::testing::TestWithParam<const char*> {};

TEST_P(SharedLibraryHost, WritesAFileTheToolsAccept)
{
    ASFW_REQUIRE_TOOL("ffprobe");
    ASFW_REQUIRE_TOOL("ffmpeg");
    const char* build = std::getenv("ASFW_BUILD_DIR");
    ASSERT_NE(build, nullptr);
    const std::string host = std::string(build) + "/tests/runtime_objects/runtime_objects_tiny_host";
    ASSERT_TRUE(std::filesystem::exists(host)) << host;
    asfw::test::TempDir dir;
    const std::string path = dir.file("host.wmv");
    const auto run = asfw::test::runCommand(asfw::test::shellQuote(host) + " " + asfw::test::shellQuote(path) + " " +
                                            GetParam());
    ASSERT_EQ(run.exitCode, 0) << run.output << run.errors;
    const auto libs = asfw::test::runCommand("ldd " + asfw::test::shellQuote(host));
    EXPECT_NE(libs.output.find("libasfwriter.so"), std::string::npos) << libs.output;
    const auto probe = asfw::test::ffprobeStreams(path);
    ASSERT_TRUE(probe.ok) << probe.errors;
    EXPECT_EQ(probe.streams.size(), 2u);
    EXPECT_NEAR(probe.duration, 1.0, 0.2);
    const auto decode = asfw::test::ffmpegDecode(path);
    EXPECT_TRUE(decode.ok) << decode.errors;
    const auto packets = asfw::test::ffprobePackets(path, "-select_streams v");
    ASSERT_TRUE(packets.ok) << packets.errors;
    EXPECT_EQ(packets.packets.size(), 25u) << "every frame written once, none from the pre-processing pass";
}

INSTANTIATE_TEST_SUITE_P(Modes, SharedLibraryHost, ::testing::Values("onepass", "twopass"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace asfw::rt::test
