// AddVideo: codec search, the three modes, the rewritten format, the stream's
// settings and properties, and the refused cases.
#include "writer_fixture.h"

#include <climits>
#include <cstring>
#include <functional>

namespace {

using Log = std::vector<std::string>;
using rec::CodecSpec;

WMVIDEOINFOHEADER HeaderOf(const rec::MediaTypeSpec& t)
{
    WMVIDEOINFOHEADER v{};
    EXPECT_GE(t.format.size(), sizeof v);
    if (t.format.size() >= sizeof v)
        std::memcpy(&v, t.format.data(), sizeof v);
    return v;
}

std::vector<std::string> Properties(const rec::StreamRecord& s)
{
    std::vector<std::string> out;
    for (const rec::Property& p : s.properties) {
        const char* type = p.type == WMT_TYPE_BOOL ? "BOOL" : p.type == WMT_TYPE_DWORD ? "DWORD" : p.type == WMT_TYPE_WORD ? "WORD" : "?";
        out.push_back(p.name + "," + type + "," + std::to_string(p.value) + "," + std::to_string(p.size));
    }
    return out;
}

TEST_F(WriterTest, AddVideoConstantBitRateCallsAndFormat)
{
    InitOk();
    w.inPrePass = 1;
    EXPECT_EQ(0, w.AddVideo(640, 480, 30000, 1001, 1000, 0, 1));
    const Log expected = {
        "manager.GetCodecInfoCount(Video)",
        "manager.GetCodecName(Video,0,cap=128)",
        "manager.GetCodecName(Video,1,cap=128)",
        "manager.SetCodecEnumerationSetting(Video,1,_VBRENABLED,BOOL,0,4)",
        "manager.SetCodecEnumerationSetting(Video,1,_PASSESUSED,DWORD,1,4)",
        "manager.GetCodecFormat(Video,1,0)",
        "vfmt0.QueryInterface(IWMMediaProps)",
        "vfmt0.GetMediaType(size)",
        "vfmt0.GetMediaType(read)",
        "vfmt0.SetMediaType()",
        "vfmt0.SetBitrate(1000000)",
        "vfmt0.SetBufferWindow(3000)",
        "vfmt0.SetConnectionName(Video)",
        "vfmt0.SetStreamName(Video)",
        "vfmt0.SetStreamNumber(1)",
        "vfmt0.QueryInterface(IWMVideoMediaProps)",
        "vfmt0.SetMaxKeyFrameSpacing(40000000)",
        "vfmt0.Release",
        "manager.GetCodecProp(Video,1,_COMPLEXITYEXOFFLINE,size=4)",
        "vfmt0.QueryInterface(IWMPropertyVault)",
        "vfmt0.SetProperty(_COMPLEXITYEX,DWORD,2,4)",
        "vfmt0.Release",
        "profile.AddStream(vfmt0)",
        "vfmt0.Release",
        "vfmt0.Release",
    };
    EXPECT_EQ(expected, rt.log);

    ASSERT_EQ(1u, rt.streams.size());
    const rec::StreamRecord& s = rt.streams[0];
    EXPECT_EQ(1, s.number);
    EXPECT_EQ(u"Video", s.name);
    EXPECT_EQ(u"Video", s.connection);
    EXPECT_EQ(1000000u, s.bitrate);
    EXPECT_EQ(3000u, s.bufferWindow);
    EXPECT_EQ(40000000, s.keyFrameSpacing);

    // Size, frame duration and bit rate rewritten; the rest as the codec gave it.
    const rec::MediaTypeSpec original = rec::Wmv3Format();
    WMVIDEOINFOHEADER want = HeaderOf(original);
    want.rcSource = RECT{0, 0, 640, 480};
    want.rcTarget = RECT{0, 0, 640, 480};
    want.AvgTimePerFrame = 333666;
    want.dwBitRate = 1000000;
    want.bmiHeader.biWidth = 640;
    want.bmiHeader.biHeight = 480;
    std::vector<BYTE> block(original.format);
    std::memcpy(block.data(), &want, sizeof want);
    EXPECT_EQ(block, s.type.format);
    EXPECT_TRUE(s.type.sub == WMMEDIASUBTYPE_WMV3);
    EXPECT_TRUE(s.type.formatType == WMFORMAT_VideoInfo);

    EXPECT_EQ(30000, w.frameRateNum);
    EXPECT_EQ(1001, w.frameRateDen);
    EXPECT_EQ(0, w.inPrePass);
}

TEST_F(WriterTest, AddVideoModes)
{
    struct Case {
        int quality, passes, kbps;
        Log settings;  // the codec's enumeration settings
        Log properties;
    };
    const Case cases[] = {
        {0, 1, 1000,
         {"_VBRENABLED,BOOL,0,4", "_PASSESUSED,DWORD,1,4"},
         {"_COMPLEXITYEX,DWORD,2,4"}},
        {0, 2, 1000,
         {"_VBRENABLED,BOOL,0,4", "_PASSESUSED,DWORD,2,4"},
         {"_COMPLEXITYEX,DWORD,2,4"}},
        {75, 1, 1000,
         {"_VBRENABLED,BOOL,1,4", "_PASSESUSED,DWORD,1,4"},
         {"_COMPLEXITYEX,DWORD,2,4", "_VBRENABLED,BOOL,1,4", "_VBRQUALITY,DWORD,75,4", "_RMAX,DWORD,0,4",
          "_BMAX,DWORD,0,4"}},
        {75, 2, 800,
         {"_VBRENABLED,BOOL,1,4", "_PASSESUSED,DWORD,2,4"},
         {"_COMPLEXITYEX,DWORD,2,4", "_VBRENABLED,BOOL,1,4", "_RMAX,DWORD,2000000,4", "_BMAX,DWORD,6000,4"}},
        {-5, 3, 100,
         {"_VBRENABLED,BOOL,1,4", "_PASSESUSED,DWORD,3,4"},
         {"_COMPLEXITYEX,DWORD,2,4", "_VBRENABLED,BOOL,1,4", "_RMAX,DWORD,250000,4", "_BMAX,DWORD,6000,4"}},
        {100, 0, 858993,
         {"_VBRENABLED,BOOL,1,4", "_PASSESUSED,DWORD,0,4"},
         {"_COMPLEXITYEX,DWORD,2,4", "_VBRENABLED,BOOL,1,4", "_RMAX,DWORD,2147482500,4", "_BMAX,DWORD,6000,4"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("quality " + std::to_string(c.quality) + " passes " + std::to_string(c.passes));
        ResetRuntime();
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        EXPECT_EQ(0, obj.AddVideo(320, 240, 25, 1, c.kbps, c.quality, c.passes));
        Log settings;
        for (const std::string& e : rt.Calls("SetCodecEnumerationSetting")) {
            const std::size_t from = e.find("_");
            settings.push_back(e.substr(from, e.size() - from - 1));
        }
        EXPECT_EQ(c.settings, settings);
        ASSERT_EQ(1u, rt.streams.size());
        EXPECT_EQ(c.properties, Properties(rt.streams[0]));
        EXPECT_EQ(static_cast<DWORD>(c.kbps) * 1000u, rt.streams[0].bitrate);
        EXPECT_EQ(static_cast<DWORD>(c.kbps) * 1000u, HeaderOf(rt.streams[0].type).dwBitRate);
        EXPECT_EQ(3000u, rt.streams[0].bufferWindow);
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(WriterTest, AddVideoFrameDuration)
{
    struct Case {
        int num, den;
        LONGLONG duration;
    };
    const Case cases[] = {
        {30000, 1001, 333666}, {25, 1, 400000},       {30, 1, 333333},
        {24000, 1001, 417083}, {60000, 1001, 166833}, {1, 2, 20000000},
        {INT_MAX, 1, 0},       {1, INT_MAX, 21474836470000000LL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.num) + "/" + std::to_string(c.den));
        ResetRuntime();
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        EXPECT_EQ(0, obj.AddVideo(176, 144, c.num, c.den, 300, 0, 1));
        ASSERT_EQ(1u, rt.streams.size());
        EXPECT_EQ(c.duration, HeaderOf(rt.streams[0].type).AvgTimePerFrame);
        EXPECT_EQ(c.num, obj.frameRateNum);
        EXPECT_EQ(c.den, obj.frameRateDen);
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(WriterTest, AddVideoCodecNameMustMatchExactly)
{
    struct Case {
        std::vector<std::u16string> names;
        int unreadable;
        int chosen;
    };
    const Case cases[] = {
        {{u"Windows Media Video 9"}, -1, 0},
        {{u"windows media video 9"}, -1, -1},
        {{u"Windows Media Video 9 Screen"}, -1, -1},
        {{u"Windows Media Video 9 "}, -1, -1},
        {{u"Windows Media Video"}, -1, -1},
        {{u"Windows Media Video 8", u"Windows Media Video 9"}, -1, 1},
        {{u"Windows Media Video 9", u"Windows Media Video 9"}, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(rec::Narrow(c.names.back()));
        ResetRuntime();
        rt.videoCodecs.clear();
        for (std::size_t i = 0; i < c.names.size(); ++i) {
            CodecSpec codec;
            codec.name = c.names[i];
            codec.nameFails = static_cast<int>(i) == c.unreadable;
            codec.formats = {rec::Wmv3Format()};
            rt.videoCodecs.push_back(codec);
        }
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        EXPECT_EQ(c.chosen < 0 ? -1 : 0, obj.AddVideo(320, 240, 30, 1, 500, 0, 1));
        const Log wanted = c.chosen < 0 ? Log{} : Log{"manager.GetCodecFormat(Video," + std::to_string(c.chosen) + ",0)"};
        EXPECT_EQ(wanted, rt.Calls("GetCodecFormat"));
        obj.Close();
        ExpectBalanced();
    }
}

// The stream's complexity comes from the codec's offline default; every
// property value is passed with the size the codec reported.
TEST_F(WriterTest, AddVideoComplexity)
{
    struct Case {
        const char* what;
        bool has;
        WMT_ATTR_DATATYPE type;
        std::vector<BYTE> value;
        Log properties;
    };
    const Case cases[] = {
        {"codec default 4", true, WMT_TYPE_DWORD, {4, 0, 0, 0},
         {"_COMPLEXITYEX,DWORD,4,4", "_VBRENABLED,BOOL,1,4", "_VBRQUALITY,DWORD,90,4", "_RMAX,DWORD,0,4",
          "_BMAX,DWORD,0,4"}},
        {"a 2-byte value", true, WMT_TYPE_WORD, {3, 0},
         {"_COMPLEXITYEX,WORD,3,2", "_VBRENABLED,BOOL,1,2", "_VBRQUALITY,DWORD,90,2", "_RMAX,DWORD,0,2",
          "_BMAX,DWORD,0,2"}},
        {"not offered", false, WMT_TYPE_DWORD, {},
         {"_VBRENABLED,BOOL,1,4", "_VBRQUALITY,DWORD,90,4", "_RMAX,DWORD,0,4", "_BMAX,DWORD,0,4"}},
        {"wider than 4 bytes", true, WMT_TYPE_QWORD, {1, 0, 0, 0, 0, 0, 0, 0},
         {"_VBRENABLED,BOOL,1,4", "_VBRQUALITY,DWORD,90,4", "_RMAX,DWORD,0,4", "_BMAX,DWORD,0,4"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRuntime();
        rt.videoCodecs[1].hasComplexity = c.has;
        rt.videoCodecs[1].complexityType = c.type;
        rt.videoCodecs[1].complexity = c.value;
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        EXPECT_EQ(0, obj.AddVideo(320, 240, 30, 1, 500, 90, 1));
        ASSERT_EQ(1u, rt.streams.size());
        EXPECT_EQ(c.properties, Properties(rt.streams[0]));
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(WriterTest, AddVideoFailuresLeaveTheObjectAsItWas)
{
    struct Case {
        const char* what;
        std::function<void(rec::Runtime&)> arrange;
    };
    const Case cases[] = {
        {"codec count fails", [](rec::Runtime& r) { r.Fail("GetCodecInfoCount"); }},
        {"no codecs", [](rec::Runtime& r) { r.videoCodecs.clear(); }},
        {"no codec of that name", [](rec::Runtime& r) { r.videoCodecs.resize(1); }},
        {"_VBRENABLED refused", [](rec::Runtime& r) { r.Fail("SetCodecEnumerationSetting(Video,1,_VBRENABLED"); }},
        {"_PASSESUSED refused", [](rec::Runtime& r) { r.Fail("SetCodecEnumerationSetting(Video,1,_PASSESUSED"); }},
        {"format 0 unavailable", [](rec::Runtime& r) { r.Fail("GetCodecFormat"); }},
        {"no media properties", [](rec::Runtime& r) { r.Fail("QueryInterface(IWMMediaProps)"); }},
        {"media type size fails", [](rec::Runtime& r) { r.Fail("GetMediaType(size"); }},
        {"media type read fails", [](rec::Runtime& r) { r.Fail("GetMediaType(read"); }},
        {"format block too short", [](rec::Runtime& r) { r.videoCodecs[1].formats[0].format.resize(80); }},
        {"no format block", [](rec::Runtime& r) { r.videoCodecs[1].formats[0].nullFormat = true; }},
        {"media type refused", [](rec::Runtime& r) { r.Fail("SetMediaType"); }},
        {"no video properties", [](rec::Runtime& r) { r.Fail("QueryInterface(IWMVideoMediaProps)"); }},
        {"no property vault", [](rec::Runtime& r) { r.Fail("QueryInterface(IWMPropertyVault)"); }},
        {"profile refuses the stream", [](rec::Runtime& r) { r.Fail("AddStream"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRuntime();
        c.arrange(rt);
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        obj.frameRateNum = 7;
        obj.frameRateDen = 8;
        obj.inPrePass = 1;
        EXPECT_EQ(-1, obj.AddVideo(640, 480, 30, 1, 1000, 75, 2));
        EXPECT_TRUE(rt.streams.empty());
        EXPECT_EQ(7, obj.frameRateNum);
        EXPECT_EQ(8, obj.frameRateDen);
        EXPECT_EQ(1, obj.inPrePass);
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(WriterTest, AddVideoRefusesArgumentsOutsideItsRange)
{
    struct Case {
        int width, height, num, den, kbps;
    };
    const Case cases[] = {
        {0, 480, 30, 1, 1000},   {-640, 480, 30, 1, 1000}, {640, 0, 30, 1, 1000},  {640, -2, 30, 1, 1000},
        {640, 480, 0, 1, 1000},  {640, 480, -30, 1, 1000}, {640, 480, 30, 0, 1000}, {640, 480, 30, -1, 1000},
        {640, 480, 30, 1, 0},    {640, 480, 30, 1, -1},    {640, 480, 30, 1, 858994}, {640, 480, 30, 1, INT_MAX},
    };
    InitOk();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " + std::to_string(c.num) + "/" +
                     std::to_string(c.den) + " " + std::to_string(c.kbps));
        rt.log.clear();
        EXPECT_EQ(-1, w.AddVideo(c.width, c.height, c.num, c.den, c.kbps, 75, 2));
        EXPECT_EQ(Log{}, rt.log);
    }
    EXPECT_TRUE(rt.streams.empty());
}

}  // namespace
