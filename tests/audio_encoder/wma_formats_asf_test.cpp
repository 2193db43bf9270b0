// Every constant-bit-rate audio format the built-in runtime offers, written
// into a real ASF file through the exported class (audio alone, and audio
// beside video), then read by the independent tools: FFmpeg decodes it with
// every error check on, at the format's rate and channel count, to the
// input's length (and the few frames that keep its end whole); the audio payloads are whole packets of the format's block
// size at exactly its byte rate; GStreamer discovers and decodes it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <tuple>

#include "AsfWriter.h"
#include "audio_encoder/wma9_formats.h"
#include "audio_encoder/wma_params.h"
#include "runtime/wmf_runtime.h"
#include "support/asf_checkers.h"
#include "support/asf_reader.h"
#include "support/audio_signals.h"
#include "support/audio_wav.h"
#include "support/test_support.h"

namespace asfw {
namespace {

using test::TempDir;

struct OfferedFormat {
    WAVEFORMATEX wave{};
    std::vector<std::uint8_t> extra;
};

// The runtime's one-pass CBR list of its first audio codec, read through the
// writer's own codec information object (after Init), as AddAudio sees it.
std::vector<OfferedFormat> offeredFormats(CAsfWriter& w)
{
    std::vector<OfferedFormat> list;
    IWMCodecInfo3* info = w.codecInfo;
    if (!info) return list;
    BOOL vbr = FALSE;
    DWORD passes = 1;
    if (FAILED(info->SetCodecEnumerationSetting(WMMEDIATYPE_Audio, 0, u"_VBRENABLED", WMT_TYPE_BOOL,
                                                reinterpret_cast<const BYTE*>(&vbr), sizeof(vbr))) ||
        FAILED(info->SetCodecEnumerationSetting(WMMEDIATYPE_Audio, 0, u"_PASSESUSED", WMT_TYPE_DWORD,
                                                reinterpret_cast<const BYTE*>(&passes), sizeof(passes))))
        return list;
    DWORD count = 0;
    if (FAILED(info->GetCodecFormatCount(WMMEDIATYPE_Audio, 0, &count))) return list;
    for (DWORD j = 0; j < count; ++j) {
        IWMStreamConfig* config = nullptr;
        if (FAILED(info->GetCodecFormat(WMMEDIATYPE_Audio, 0, j, &config)) || !config) continue;
        IWMMediaProps* props = nullptr;
        if (SUCCEEDED(config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props))) && props) {
            DWORD size = 0;
            if (SUCCEEDED(props->GetMediaType(nullptr, &size)) && size >= sizeof(WM_MEDIA_TYPE)) {
                std::vector<std::uint64_t> storage((size + 7) / 8);
                auto* mt = reinterpret_cast<WM_MEDIA_TYPE*>(storage.data());
                if (SUCCEEDED(props->GetMediaType(mt, &size)) && mt->cbFormat >= sizeof(WAVEFORMATEX)) {
                    OfferedFormat f;
                    std::memcpy(&f.wave, mt->pbFormat, sizeof(WAVEFORMATEX));
                    f.extra.assign(mt->pbFormat + sizeof(WAVEFORMATEX), mt->pbFormat + mt->cbFormat);
                    list.push_back(f);
                }
            }
            props->Release();
        }
        config->Release();
    }
    return list;
}

// Parameters: index into the format table, with video.
class WmaFormatInAsf : public ::testing::TestWithParam<std::tuple<std::size_t, bool>> {};

TEST(WmaRuntimeFormats, TheRuntimeOffersExactlyTheEncoderTable)
{
    CAsfWriter w;
    ASSERT_EQ(w.Init(), 0);
    const std::vector<OfferedFormat> offered = offeredFormats(w);
    std::set<std::tuple<int, int, std::uint32_t>> runtime, table;
    for (const OfferedFormat& f : offered) {
        EXPECT_EQ(f.wave.wFormatTag, 0x0161);
        EXPECT_EQ(f.wave.wBitsPerSample, 16);
        runtime.insert({static_cast<int>(f.wave.nSamplesPerSec), f.wave.nChannels, f.wave.nAvgBytesPerSec});
    }
    for (const Wma9Format& f : wma9CbrFormats()) table.insert({f.sampleRate, f.channels, f.avgBytesPerSec});
    EXPECT_EQ(offered.size(), wma9CbrFormats().size());
    EXPECT_EQ(runtime, table);
    w.Close();
}

TEST_P(WmaFormatInAsf, WrittenFileDecodesAtTheExactRate)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    ASFW_REQUIRE_TOOL("ffprobe");
    ASFW_REQUIRE_TOOL("gst-launch-1.0");
    ASFW_REQUIRE_TOOL("gst-discoverer-1.0");
    const Wma9Format& row = wma9CbrFormats()[std::get<0>(GetParam())];
    const bool withVideo = std::get<1>(GetParam());
    const int kbps = static_cast<int>(row.avgBytesPerSec * 8 / 1000);
    TempDir dir;
    const std::string path = dir.file(withVideo ? "av.wmv" : "a.wma");

    // 1.2 s of music (tones and drums) at 48 kHz stereo, as the host sends it.
    constexpr int kInRate = 48000;
    const std::vector<std::int16_t> pcm = test::interleave(test::musicSignal(kInRate, 1.2), 2);
    const std::size_t inFrames = pcm.size() / 2;
    const int width = 160, height = 120;
    OfferedFormat format;
    {
        CAsfWriter w;
        ASSERT_EQ(w.Init(), 0);
        bool offered = false;
        for (const OfferedFormat& f : offeredFormats(w)) {
            if (static_cast<int>(f.wave.nSamplesPerSec) == row.sampleRate && f.wave.nChannels == row.channels &&
                f.wave.nAvgBytesPerSec == row.avgBytesPerSec) {
                format = f;
                offered = true;
            }
        }
        ASSERT_TRUE(offered) << "the runtime does not offer " << row.sampleRate << "/" << row.channels << "/" << kbps;
        if (withVideo) {
            ASSERT_EQ(w.AddVideo(width, height, 25, 1, 300, 0, 1), 0);
        }
        ASSERT_EQ(w.AddAudio(row.sampleRate, row.channels, kbps), 1);
        ASSERT_EQ(w.OpenFile(path.c_str()), 0);
        std::vector<unsigned char> picture(static_cast<std::size_t>(width) * height * 3 / 2, 128);
        const std::size_t block = 480;  // 10 ms
        int frame = 0;
        for (std::size_t pos = 0; pos < inFrames; pos += block) {
            // A video frame every 40 ms, before the audio of its time.
            if (withVideo && pos % 1920 == 0) {
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x)
                        picture[static_cast<std::size_t>(y) * width + x] =
                            static_cast<unsigned char>(128 + 80 * std::sin((x + 2 * frame) * 0.13) * std::cos(y * 0.09));
                ASSERT_EQ(w.WriteSample(0, picture.data(), static_cast<int>(picture.size())), 0) << frame;
                ++frame;
            }
            const std::size_t n = std::min(block, inFrames - pos);
            std::vector<unsigned char> bytes(n * 4);
            std::memcpy(bytes.data(), pcm.data() + pos * 2, bytes.size());
            ASSERT_EQ(w.WriteSample(1, bytes.data(), static_cast<int>(bytes.size())), 0) << pos;
        }
        ASSERT_EQ(w.CloseFile(), 0);
        w.Close();
    }

    // The container: consistent, the audio stream's format as offered, and
    // every audio payload one whole packet of nBlockAlign bytes.
    test::asfread::AsfReader file;
    ASSERT_TRUE(file.open(path)) << file.error();
    const std::vector<std::string> problems = test::asfread::validate(file);
    EXPECT_TRUE(problems.empty()) << problems.front();
    const test::asfread::StreamInfo* audio = nullptr;
    for (const auto& s : file.streams())
        if (s.audio) audio = &s;
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->wave.formatTag, 0x0161);
    EXPECT_EQ(audio->wave.sampleRate, static_cast<std::uint32_t>(row.sampleRate));
    EXPECT_EQ(audio->wave.channels, row.channels);
    EXPECT_EQ(audio->wave.avgBytesPerSec, format.wave.nAvgBytesPerSec);
    EXPECT_EQ(audio->wave.blockAlign, format.wave.nBlockAlign);
    EXPECT_EQ(audio->wave.extra, format.extra);
    std::vector<test::asfread::MediaObjectRead> objects;
    ASSERT_TRUE(file.readMediaObjects(objects));
    std::size_t audioBytes = 0, audioObjects = 0;
    std::uint32_t firstMs = 0, lastMs = 0;  // presentation times, in order
    for (const auto& o : objects) {
        if (o.stream != audio->number) continue;
        EXPECT_TRUE(o.complete);
        EXPECT_EQ(o.data.size(), format.wave.nBlockAlign);
        if (audioObjects == 0) firstMs = o.presentationTimeMs;
        EXPECT_GE(o.presentationTimeMs, lastMs);
        lastMs = o.presentationTimeMs;
        audioBytes += o.data.size();
        ++audioObjects;
    }
    ASSERT_GT(audioObjects, 1u);

    // FFmpeg: no decode error anywhere, the format's rate and channels.
    const test::ProbeResult probe = test::ffprobeStreams(path);
    ASSERT_TRUE(probe.ok) << probe.errors;
    ASSERT_EQ(probe.streams.size(), withVideo ? 2u : 1u);
    for (const test::ProbeStream& s : probe.streams) {
        if (s.codecType != "audio") continue;
        EXPECT_EQ(s.codecName, "wmav2");
        EXPECT_EQ(s.sampleRate, row.sampleRate);
        EXPECT_EQ(s.channels, row.channels);
    }
    const test::ToolRun all = test::ffmpegDecode(path);
    EXPECT_TRUE(all.ok) << all.errors;
    const std::string raw = dir.file("audio.raw");
    const test::CommandResult r = test::runCommand("ffmpeg -nostdin -v error -xerror -err_detect explode -i " +
                                                   test::shellQuote(path) + " -map 0:a -f s16le -y " + test::shellQuote(raw));
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_TRUE(r.errors.empty()) << r.errors;
    const std::vector<std::int16_t> decoded = test::readS16(raw);
    const std::size_t frameLen = std::size_t{1} << wmaFrameLengthBits(row.sampleRate);
    const double expectedFrames = static_cast<double>(inFrames) * row.sampleRate / kInRate;
    const double decodedFrames = static_cast<double>(decoded.size()) / row.channels;
    // Nothing lost at the end (a few samples' slack for the rate conversion),
    // and no more added than the whole frames that keep the end from fading
    // (3n/2 plus half the shortest block).
    const WmaParams params = wmaParams(row.sampleRate, row.channels, row.avgBytesPerSec * 8, kWmaEncodeOptions);
    const double shortest = params.blockLen(params.blockSizes - 1);
    EXPECT_GE(decodedFrames, expectedFrames - 16) << "the end of the input is lost";
    EXPECT_LE(decodedFrames, expectedFrames + 1.5 * static_cast<double>(frameLen) + shortest / 2);

    // Exact byte rate. The bytes cover the decoded length plus the
    // decoder's two leading frames at exactly avgBytesPerSec, to within the
    // one packet the last frame leaves partly filled; and packet k sits at
    // k packet durations after the first (within a packet and a frame: the
    // leading packets share time 0, frames move within the reservoir), so
    // the rate holds all along the stream, not only on average.
    const double packetSeconds = static_cast<double>(format.wave.nBlockAlign) / format.wave.nAvgBytesPerSec;
    const double frameSeconds = static_cast<double>(frameLen) / row.sampleRate;
    const double coveredSeconds = (decodedFrames + 2.0 * static_cast<double>(frameLen)) / row.sampleRate;
    EXPECT_NEAR(static_cast<double>(audioBytes), coveredSeconds * format.wave.nAvgBytesPerSec, format.wave.nBlockAlign);
    std::size_t k = 0;
    for (const auto& o : objects) {
        if (o.stream != audio->number) continue;
        const double drift = (o.presentationTimeMs - firstMs) / 1000.0 - static_cast<double>(k) * packetSeconds;
        EXPECT_LE(std::fabs(drift), packetSeconds + frameSeconds + 0.001) << "packet " << k;
        ++k;
    }

    // GStreamer finds the streams and decodes them all.
    const test::Discovery found = test::gstDiscover(path);
    EXPECT_TRUE(found.ok) << found.output;
    EXPECT_NEAR(found.duration, 1.2, 0.25) << found.output;
    const test::ToolRun gst = test::gstDecode(path, withVideo ? 2 : 1);
    EXPECT_TRUE(gst.ok) << gst.errors;
}

INSTANTIATE_TEST_SUITE_P(AllCbrFormats, WmaFormatInAsf,
                         ::testing::Combine(::testing::Range<std::size_t>(0, 33), ::testing::Bool()),
                         [](const auto& info) {
                             const Wma9Format& f = wma9CbrFormats()[std::get<0>(info.param)];
                             return std::to_string(f.sampleRate) + "Hz_" + std::to_string(f.channels) + "ch_" +
                                    std::to_string(f.avgBytesPerSec * 8 / 1000) + "kbps" +
                                    (std::get<1>(info.param) ? "_with_video" : "_audio_only");
                         });

}  // namespace
}  // namespace asfw
