// WriteSample and the stream clocks; the video pre-processing pass.
#include "writer_fixture.h"

#include <climits>
#include <cstdint>
#include <functional>

namespace {

using Log = std::vector<std::string>;

std::vector<unsigned char> Bytes(int n, int seed)
{
    std::vector<unsigned char> b(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        b[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i * 7 + seed);
    return b;
}

std::vector<QWORD> Stamps(const rec::Runtime& r, const std::string& to, DWORD input)
{
    std::vector<QWORD> out;
    for (const rec::SampleRecord& s : r.samples)
        if (s.to == to && s.input == input)
            out.push_back(s.time);
    return out;
}

TEST_F(WriterTest, SampleIsCopiedOnceAndHandedToTheWriter)
{
    OpenOk();
    std::vector<unsigned char> frame = Bytes(640 * 480 * 3 / 2, 1);
    EXPECT_EQ(0, w.WriteSample(0, frame.data(), static_cast<int>(frame.size())));
    EXPECT_EQ((Log{"writer.AllocateSample(460800)", "sample.GetBuffer()", "sample.SetLength(460800)",
                   "writer.WriteSample(0,0,0)", "sample.Release"}),
              rt.log);
    ASSERT_EQ(1u, rt.samples.size());
    EXPECT_EQ("writer", rt.samples[0].to);
    EXPECT_EQ(0u, rt.samples[0].flags);
    EXPECT_EQ(std::vector<BYTE>(frame.begin(), frame.end()), rt.samples[0].bytes);

    std::vector<unsigned char> pcm = Bytes(1920, 2);
    EXPECT_EQ(0, w.WriteSample(1, pcm.data(), 1920));
    ASSERT_EQ(2u, rt.samples.size());
    EXPECT_EQ(1u, rt.samples[1].input);
    EXPECT_EQ(std::vector<BYTE>(pcm.begin(), pcm.end()), rt.samples[1].bytes);
}

TEST_F(WriterTest, StreamClocks)
{
    struct Case {
        const char* what;
        int kind, num, den, size, count;
        std::vector<QWORD> firstStamps;
        long long end;
    };
    const Case cases[] = {
        {"30000/1001", 0, 30000, 1001, 64, 3, {0, 333666, 667332}, 1000998},
        {"25/1", 0, 25, 1, 64, 4, {0, 400000, 800000, 1200000}, 1600000},
        {"24000/1001 truncation adds up", 0, 24000, 1001, 8, 1000, {0, 417083, 834166}, 417083000},
        {"audio 1920 bytes", 1, 30, 1, 1920, 3, {0, 100000, 200000}, 300000},
        {"audio 4096 bytes", 1, 30, 1, 4096, 10, {0, 213333, 426666}, 2133330},
        {"audio 1 byte", 1, 30, 1, 1, 5, {0, 52, 104}, 260},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRuntime();
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        ASSERT_EQ(0, obj.AddVideo(320, 240, c.num, c.den, 500, 0, 1));
        ASSERT_EQ(1, obj.AddAudio(44100, 2, 128));
        ASSERT_EQ(0, obj.OpenFile("x.wmv"));
        std::vector<unsigned char> data = Bytes(c.size, 3);
        for (int i = 0; i < c.count; ++i)
            ASSERT_EQ(0, obj.WriteSample(c.kind, data.data(), c.size));
        const DWORD input = c.kind == 0 ? 0 : 1;
        std::vector<QWORD> stamps = Stamps(rt, "writer", input);
        ASSERT_EQ(static_cast<std::size_t>(c.count), stamps.size());
        stamps.resize(c.firstStamps.size());
        EXPECT_EQ(c.firstStamps, stamps);
        EXPECT_EQ(c.end, c.kind == 0 ? obj.videoTime : obj.audioTime);
        EXPECT_EQ(0, c.kind == 0 ? obj.audioTime : obj.videoTime);
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(WriterTest, WriteSampleRefusesWithoutTouchingAnything)
{
    struct Case {
        const char* what;
        int kind;
        bool nullData;
        int size;
    };
    const Case cases[] = {
        {"stream kind 2", 2, false, 16},     {"stream kind -1", -1, false, 16},
        {"null data, positive size", 0, true, 16}, {"null audio data", 1, true, 1},
        {"negative size", 0, false, -1},     {"negative audio size", 1, false, INT_MIN},
    };
    OpenOk();
    w.videoTime = 10;
    w.audioTime = 20;
    std::vector<unsigned char> data = Bytes(16, 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(-1, w.WriteSample(c.kind, c.nullData ? nullptr : data.data(), c.size));
        EXPECT_EQ(Log{}, rt.log);
        EXPECT_EQ(10, w.videoTime);
        EXPECT_EQ(20, w.audioTime);
    }
}

TEST_F(WriterTest, EmptySampleWithoutData)
{
    OpenOk();
    EXPECT_EQ(0, w.WriteSample(1, nullptr, 0));
    ASSERT_EQ(1u, rt.samples.size());
    EXPECT_TRUE(rt.samples[0].bytes.empty());
    EXPECT_EQ(0, w.audioTime);
}

TEST_F(WriterTest, StreamWithoutInputIsRefused)
{
    rt.inputs = {{u"Video", {}}};
    OpenOk(30, 1, false);
    ASSERT_EQ(-1, w.audioInput);
    unsigned char pcm[8] = {};
    w.audioTime = 5;
    EXPECT_EQ(-1, w.WriteSample(1, pcm, 8));
    EXPECT_EQ(5, w.audioTime);
    EXPECT_EQ(Log{}, rt.log);
}

// States in which a video sample cannot be timed or routed.
TEST_F(WriterTest, VideoSampleInAnUnusableStateIsRefused)
{
    struct Case {
        const char* what;
        std::function<void(CAsfWriter&)> arrange;
    };
    const Case cases[] = {
        {"no frame rate", [](CAsfWriter& o) { o.frameRateNum = 0; }},
        {"negative frame rate", [](CAsfWriter& o) { o.frameRateDen = -1; }},
        {"pre-pass without pre-processor", [](CAsfWriter& o) { o.inPrePass = 1; }},
        {"clock would overflow", [](CAsfWriter& o) { o.videoTime = INT64_MAX - 100; }},
    };
    unsigned char frame[8] = {};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRuntime();
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        ASSERT_EQ(0, obj.AddVideo(320, 240, 30, 1, 500, 0, 1));
        ASSERT_EQ(0, obj.OpenFile("x.wmv"));
        c.arrange(obj);
        const long long before = obj.videoTime;
        rt.log.clear();
        EXPECT_EQ(-1, obj.WriteSample(0, frame, 8));
        EXPECT_EQ(Log{}, rt.log);
        EXPECT_EQ(before, obj.videoTime);
        obj.Close();
        ExpectBalanced();
    }
}

// A sample the runtime cannot supply or does not take is reported and does
// not move the clock: the retry carries the same time stamp.
TEST_F(WriterTest, RejectedSampleKeepsTheClock)
{
    struct Case {
        const char* failing;
        int kind;
        bool prePass;
    };
    const Case cases[] = {
        {"AllocateSample", 0, false}, {"AllocateSample", 1, false}, {"GetBuffer", 0, false},
        {"SetLength", 1, false},      {"writer.WriteSample", 0, false}, {"writer.WriteSample", 1, false},
        {"PreprocessSample", 0, true}, {"writer.WriteSample", 1, true},
    };
    std::vector<unsigned char> data = Bytes(1920, 5);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.failing) + " kind " + std::to_string(c.kind) + (c.prePass ? " pre-pass" : ""));
        ResetRuntime();
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        ASSERT_EQ(0, obj.AddVideo(320, 240, 25, 1, 500, 0, 1));
        ASSERT_EQ(1, obj.AddAudio(44100, 2, 128));
        ASSERT_EQ(0, obj.OpenFile("x.wmv"));
        if (c.prePass) {
            ASSERT_EQ(0, obj.StartPrePass());
        }
        ASSERT_EQ(0, obj.WriteSample(c.kind, data.data(), 1920));
        rt.Fail(c.failing);
        EXPECT_EQ(-1, obj.WriteSample(c.kind, data.data(), 1920));
        rt.ClearFailures();
        EXPECT_EQ(0, obj.WriteSample(c.kind, data.data(), 1920));
        const std::string to = c.prePass && c.kind == 0 ? "preprocessor" : "writer";
        const std::vector<QWORD> step1 = {0, c.kind == 0 ? 400000u : 100000u};
        EXPECT_EQ(step1, Stamps(rt, to, c.kind == 0 ? 0 : 1));
        EXPECT_EQ(c.kind == 0 ? 800000 : 200000, c.kind == 0 ? obj.videoTime : obj.audioTime);
        obj.EndPrePass();
        obj.CloseFile();
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(WriterTest, PrePassSequence)
{
    OpenOk();
    std::vector<unsigned char> frame = Bytes(64, 6);
    std::vector<unsigned char> pcm = Bytes(1920, 7);

    ASSERT_EQ(0, w.StartPrePass());
    EXPECT_EQ((Log{"writer.QueryInterface(IWMWriterPreprocess)", "writer.SetNumPreprocessingPasses(0,0,1)",
                   "writer.BeginPreprocessingPass(0,0)"}),
              rt.log);
    EXPECT_EQ(1, w.inPrePass);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(0, w.WriteSample(0, frame.data(), 64));
    // Audio during the pass goes straight to the writer.
    ASSERT_EQ(0, w.WriteSample(1, pcm.data(), 1920));
    EXPECT_EQ((std::vector<QWORD>{0, 333666, 667332}), Stamps(rt, "preprocessor", 0));
    EXPECT_EQ(std::vector<QWORD>{}, Stamps(rt, "writer", 0));
    EXPECT_EQ(std::vector<QWORD>{0}, Stamps(rt, "writer", 1));

    rt.log.clear();
    EXPECT_EQ(0, w.EndPrePass());
    EXPECT_EQ((Log{"writer.EndPreprocessingPass(0,0)", "writer.Release"}), rt.log);
    EXPECT_EQ(nullptr, w.preprocessor);
    EXPECT_EQ(0, w.inPrePass);
    EXPECT_EQ(0, w.videoTime);
    EXPECT_EQ(100000, w.audioTime);

    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(0, w.WriteSample(0, frame.data(), 64));
    EXPECT_EQ((std::vector<QWORD>{0, 333666}), Stamps(rt, "writer", 0));

    rt.log.clear();
    EXPECT_EQ(0, w.EndPrePass());  // a second end makes no call
    EXPECT_EQ(Log{}, rt.log);
    EXPECT_EQ(1, rt.RefCount("writer"));
    EXPECT_EQ(0, w.CloseFile());
}

TEST_F(WriterTest, EndPrePassWithoutAPassRewindsOnlyTheVideoClock)
{
    OpenOk();
    w.videoTime = 999;
    w.audioTime = 888;
    w.inPrePass = 1;
    EXPECT_EQ(0, w.EndPrePass());
    EXPECT_EQ(Log{}, rt.log);
    EXPECT_EQ(0, w.inPrePass);
    EXPECT_EQ(0, w.videoTime);
    EXPECT_EQ(888, w.audioTime);
}

TEST_F(WriterTest, RefusedPassCountKeepsThePreprocessorUntilEndOrClose)
{
    for (bool endFirst : {true, false}) {
        SCOPED_TRACE(endFirst ? "EndPrePass" : "Close");
        ResetRuntime();
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        ASSERT_EQ(0, obj.AddVideo(320, 240, 30, 1, 500, 75, 2));
        ASSERT_EQ(0, obj.OpenFile("x.wmv"));
        rt.Fail("SetNumPreprocessingPasses");
        EXPECT_EQ(-1, obj.StartPrePass());
        EXPECT_EQ(0, obj.inPrePass);
        EXPECT_NE(nullptr, obj.preprocessor);
        EXPECT_EQ(Log{}, rt.Calls("BeginPreprocessingPass"));
        unsigned char frame[4] = {};
        ASSERT_EQ(0, obj.WriteSample(0, frame, 4));
        EXPECT_EQ(std::vector<QWORD>{0}, Stamps(rt, "writer", 0));
        rt.log.clear();
        if (endFirst) {
            obj.EndPrePass();
            EXPECT_EQ((Log{"writer.EndPreprocessingPass(0,0)", "writer.Release"}), rt.log);
        }
        obj.Close();
        if (!endFirst) {
            EXPECT_EQ(Log{}, rt.Calls("EndPreprocessingPass"));
        }
        ExpectBalanced();
    }
}

TEST_F(WriterTest, StartPrePassAgainGivesBackTheHeldPreprocessorFirst)
{
    OpenOk();
    ASSERT_EQ(0, w.StartPrePass());
    EXPECT_EQ(2, rt.RefCount("writer"));
    rt.log.clear();
    ASSERT_EQ(0, w.StartPrePass());
    EXPECT_EQ((Log{"writer.Release", "writer.QueryInterface(IWMWriterPreprocess)",
                   "writer.SetNumPreprocessingPasses(0,0,1)", "writer.BeginPreprocessingPass(0,0)"}),
              rt.log);
    EXPECT_EQ(2, rt.RefCount("writer"));
    w.EndPrePass();
}

TEST_F(WriterTest, StartPrePassRefusals)
{
    struct Case {
        const char* what;
        bool open;
        bool offersPreprocess;
    };
    const Case cases[] = {
        {"writer without pre-processing", true, false},
        {"before OpenFile found the video input", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRuntime();
        rt.writerHasPreprocess = c.offersPreprocess;
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        ASSERT_EQ(0, obj.AddVideo(320, 240, 30, 1, 500, 0, 1));
        if (c.open) {
            ASSERT_EQ(0, obj.OpenFile("x.wmv"));
        }
        EXPECT_EQ(-1, obj.StartPrePass());
        EXPECT_EQ(nullptr, obj.preprocessor);
        EXPECT_EQ(0, obj.inPrePass);
        EXPECT_EQ(Log{}, rt.Calls("SetNumPreprocessingPasses"));
        obj.Close();
        ExpectBalanced();
    }
}

// A whole two-pass file from Init to Close.
TEST_F(WriterTest, WholeTwoPassFile)
{
    ASSERT_EQ(0, w.Init());
    ASSERT_EQ(0, w.AddVideo(176, 144, 25, 1, 300, 80, 2));
    ASSERT_EQ(1, w.AddAudio(44100, 2, 128));
    ASSERT_EQ(0, w.OpenFile("two-pass.wmv"));
    std::vector<unsigned char> frame = Bytes(176 * 144 * 3 / 2, 8);
    std::vector<unsigned char> pcm = Bytes(7680, 9);
    ASSERT_EQ(0, w.StartPrePass());
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(0, w.WriteSample(0, frame.data(), static_cast<int>(frame.size())));
    ASSERT_EQ(0, w.EndPrePass());
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(0, w.WriteSample(0, frame.data(), static_cast<int>(frame.size())));
        ASSERT_EQ(0, w.WriteSample(1, pcm.data(), static_cast<int>(pcm.size())));
    }
    EXPECT_EQ(0, w.CloseFile());
    w.Close();
    EXPECT_EQ(5u, Stamps(rt, "preprocessor", 0).size());
    EXPECT_EQ((std::vector<QWORD>{0, 400000, 800000, 1200000, 1600000}), Stamps(rt, "writer", 0));
    EXPECT_EQ((std::vector<QWORD>{0, 400000, 800000, 1200000, 1600000}), Stamps(rt, "writer", 1));
}

}  // namespace
