// OpenFile: binding the profile, finding the inputs, choosing their formats,
// the output name and the start of writing.
#include "writer_fixture.h"

#include <functional>
#include <map>

namespace {

using Log = std::vector<std::string>;
using Installed = std::map<DWORD, std::string>;
using rec::InputSpec;
using rec::MediaTypeSpec;
using rec::Pcm;

MediaTypeSpec Raw(const GUID& subtype)
{
    WMVIDEOINFOHEADER v{};
    v.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    v.bmiHeader.biWidth = 640;
    v.bmiHeader.biHeight = 480;
    return rec::VideoType(subtype, v);
}

class OpenFileTest : public WriterTest {
protected:
    // Init with both streams described; the log starts afresh.
    void Described()
    {
        ASSERT_EQ(0, w.Init());
        ASSERT_EQ(0, w.AddVideo(640, 480, 30, 1, 1000, 0, 1));
        ASSERT_EQ(1, w.AddAudio(44100, 2, 128));
        rt.log.clear();
    }
};

TEST_F(OpenFileTest, CallsInOrderAndRecordsInputs)
{
    Described();
    w.videoTime = 5;
    w.audioTime = 6;
    EXPECT_EQ(0, w.OpenFile("out.wmv"));
    const Log expected = {
        "writer.SetProfile(profile)",
        "writer.GetInputCount()",
        "writer.GetInputProps(0)",
        "input0.GetConnectionName(cap=32)",
        "writer.GetInputFormatCount(0)",
        "writer.GetInputFormat(0,0)",
        "in0.fmt0.GetMediaType(size)",
        "in0.fmt0.GetMediaType(read)",
        "in0.fmt0.Release",
        "writer.GetInputFormat(0,1)",
        "in0.fmt1.GetMediaType(size)",
        "in0.fmt1.GetMediaType(read)",
        "writer.SetInputProps(0,in0.fmt1)",
        "in0.fmt1.Release",
        "input0.Release",
        "writer.GetInputProps(1)",
        "input1.GetConnectionName(cap=32)",
        "writer.GetInputFormatCount(1)",
        "writer.GetInputFormat(1,0)",
        "in1.fmt0.GetMediaType(size)",
        "in1.fmt0.GetMediaType(read)",
        "in1.fmt0.Release",
        "writer.GetInputFormat(1,1)",
        "in1.fmt1.GetMediaType(size)",
        "in1.fmt1.GetMediaType(read)",
        "writer.SetInputProps(1,in1.fmt1)",
        "in1.fmt1.Release",
        "input1.Release",
        "writer.SetOutputFilename(out.wmv)",
        "writer.BeginWriting()",
    };
    EXPECT_EQ(expected, rt.log);
    EXPECT_EQ(0, w.videoInput);
    EXPECT_EQ(1, w.audioInput);
    EXPECT_EQ(0, w.videoTime);
    EXPECT_EQ(0, w.audioTime);
    EXPECT_EQ(u"out.wmv", rt.outputName);
}

TEST_F(OpenFileTest, InputNegotiation)
{
    MediaTypeSpec pcm16Short = Pcm(48000, 2, 16);
    pcm16Short.format.resize(16);  // a PCM block without cbSize
    MediaTypeSpec noBlock = Pcm(48000, 2, 16);
    noBlock.nullFormat = true;
    struct Case {
        const char* what;
        std::vector<InputSpec> inputs;
        int audio, video;
        Installed installed;
    };
    const Case cases[] = {
        {"only 48 kHz stereo 16-bit PCM is taken",
         {{u"Audio",
           {rec::Wave(3, 2, 48000, 16, 192000), Pcm(48000, 2, 8), Pcm(48000, 1, 16), Pcm(44100, 2, 16),
            Pcm(48000, 2, 24), Pcm(32000, 2, 16), Pcm(48000, 2, 16)}}},
         0, -1, {{0, "in0.fmt6"}}},
        {"the first of two matches", {{u"Audio", {Pcm(48000, 2, 16), Pcm(48000, 2, 16)}}}, 0, -1, {{0, "in0.fmt0"}}},
        {"a PCM block without cbSize", {{u"Audio", {pcm16Short}}}, 0, -1, {{0, "in0.fmt0"}}},
        {"no block, no match", {{u"Audio", {noBlock}}}, 0, -1, {}},
        {"no wanted audio format: number kept, default format",
         {{u"Audio", {Pcm(44100, 2, 16), Pcm(48000, 1, 16)}}}, 0, -1, {}},
        {"I420 among other subtypes",
         {{u"Video", {Raw(WMMEDIASUBTYPE_YV12), Raw(WMMEDIASUBTYPE_IYUV), Raw(WMMEDIASUBTYPE_I420)}}}, -1, 0,
         {{0, "in0.fmt2"}}},
        {"no I420: number kept, default format", {{u"Video", {Raw(WMMEDIASUBTYPE_YV12), Raw(WMMEDIASUBTYPE_IYUV)}}},
         -1, 0, {}},
        {"names in other letter case are ignored",
         {{u"audio", {Pcm(48000, 2, 16)}}, {u"VIDEO", {Raw(WMMEDIASUBTYPE_I420)}}}, -1, -1, {}},
        {"other inputs are left alone",
         {{u"Script", {Pcm(48000, 2, 16)}}, {u"Audio", {Pcm(48000, 2, 16)}}, {u"Video", {Raw(WMMEDIASUBTYPE_I420)}}},
         1, 2, {{1, "in1.fmt0"}, {2, "in2.fmt0"}}},
        {"video only", {{u"Video", {Raw(WMMEDIASUBTYPE_I420)}}}, -1, 0, {{0, "in0.fmt0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRuntime();
        rt.inputs = c.inputs;
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        EXPECT_EQ(0, obj.OpenFile("x.wmv"));
        EXPECT_EQ(c.audio, obj.audioInput);
        EXPECT_EQ(c.video, obj.videoInput);
        EXPECT_EQ(c.installed, rt.installed);
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(OpenFileTest, StopsAtTheFirstMatchingFormat)
{
    rt.inputs = {{u"Audio", {Pcm(48000, 2, 16), Pcm(48000, 2, 16), Pcm(44100, 2, 16)}}};
    InitOk();
    EXPECT_EQ(0, w.OpenFile("x.wmv"));
    EXPECT_EQ(Log{"writer.GetInputFormat(0,0)"}, rt.Calls("GetInputFormat("));
}

TEST_F(OpenFileTest, InputNumbersAreNotResetBeforeTheSearch)
{
    InitOk();
    ASSERT_EQ(0, w.OpenFile("a.wmv"));
    EXPECT_EQ(0, w.videoInput);
    EXPECT_EQ(1, w.audioInput);
    rt.inputs = {{u"Video", {Raw(WMMEDIASUBTYPE_I420)}}};
    ASSERT_EQ(0, w.OpenFile("b.wmv"));
    EXPECT_EQ(0, w.videoInput);
    EXPECT_EQ(1, w.audioInput);
}

// A query that fails is passed over; the file is opened all the same.
TEST_F(OpenFileTest, FailingQueriesAreSkipped)
{
    struct Case {
        const char* failing;
        int audio, video;
        Installed installed;
    };
    const Case cases[] = {
        {"GetInputCount", -1, -1, {}},
        {"GetInputProps(0", 1, -1, {{1, "in1.fmt1"}}},
        {"input0.GetConnectionName", 1, -1, {{1, "in1.fmt1"}}},
        {"GetInputFormatCount(1", 1, 0, {{0, "in0.fmt1"}}},
        {"GetInputFormat(0,1", 1, 0, {{1, "in1.fmt1"}}},
        {"in1.fmt1.GetMediaType(size", 1, 0, {{0, "in0.fmt1"}}},
        {"in1.fmt1.GetMediaType(read", 1, 0, {{0, "in0.fmt1"}}},
        {"SetInputProps(0", 1, 0, {{1, "in1.fmt1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        ResetRuntime();
        rt.Fail(c.failing);
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        EXPECT_EQ(0, obj.OpenFile("x.wmv"));
        EXPECT_EQ(c.audio, obj.audioInput);
        EXPECT_EQ(c.video, obj.videoInput);
        EXPECT_EQ(c.installed, rt.installed);
        EXPECT_EQ(1u, rt.Calls("BeginWriting").size());
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(OpenFileTest, RefusalsLeaveTheClocks)
{
    struct Case {
        const char* failing;
        Log lastCalls;
    };
    const Case cases[] = {
        {"SetProfile", {"writer.SetProfile(profile)"}},
        {"SetOutputFilename", {"input1.Release", "writer.SetOutputFilename(x.wmv)"}},
        {"BeginWriting", {"writer.SetOutputFilename(x.wmv)", "writer.BeginWriting()"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        ResetRuntime();
        rt.Fail(c.failing);
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        rt.log.clear();
        obj.videoTime = 11;
        obj.audioTime = 12;
        EXPECT_EQ(-1, obj.OpenFile("x.wmv"));
        ASSERT_GE(rt.log.size(), c.lastCalls.size());
        EXPECT_EQ(c.lastCalls, Log(rt.log.end() - static_cast<long>(c.lastCalls.size()), rt.log.end()));
        EXPECT_EQ(11, obj.videoTime);
        EXPECT_EQ(12, obj.audioTime);
        if (std::string(c.failing) == "SetProfile") {
            EXPECT_EQ(-1, obj.videoInput);
            EXPECT_EQ(-1, obj.audioInput);
        }
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(OpenFileTest, OutputPathConversion)
{
    const std::string longest(259, 'a');
    const std::string tooLong(260, 'a');
    struct Case {
        const char* what;
        const char* path;
        bool opens;
        std::u16string name;
    };
    const Case cases[] = {
        {"plain", "out.wmv", true, u"out.wmv"},
        {"UTF-8", "vid\xC3\xA9o/\xF0\x9F\x98\x80.wmv", true, u"vid\u00E9o/\U0001F600.wmv"},
        {"259 characters", longest.c_str(), true, std::u16string(259, u'a')},
        {"empty", "", true, u""},
        {"260 characters do not fit", tooLong.c_str(), false, u""},
        {"malformed UTF-8", "bad\xC3(.wmv", false, u""},
        {"lone continuation byte", "bad\x80.wmv", false, u""},
        {"no path", nullptr, false, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRuntime();
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        rt.log.clear();
        EXPECT_EQ(c.opens ? 0 : -1, obj.OpenFile(c.path));
        if (c.opens) {
            EXPECT_EQ(c.name, rt.outputName);
        } else {
            EXPECT_EQ(Log{}, rt.log);  // nothing bound, nothing opened
            EXPECT_EQ(-1, obj.videoInput);
        }
        obj.Close();
        ExpectBalanced();
    }
}

}  // namespace
