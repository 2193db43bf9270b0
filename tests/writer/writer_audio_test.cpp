// AddAudio: codec search, one-pass CBR enumeration, format choice, stream set-up.
#include "writer_fixture.h"

#include <functional>

namespace {

using Log = std::vector<std::string>;
using rec::CodecSpec;
using rec::MediaTypeSpec;
using rec::WmaFormat;

CodecSpec Wma9(std::vector<MediaTypeSpec> formats)
{
    CodecSpec c;
    c.name = u"Windows Media Audio 9";
    c.formats = std::move(formats);
    return c;
}

// A format of the audio codec by its average byte rate.
MediaTypeSpec ByBytes(DWORD avgBytesPerSec, DWORD rate = 44100, WORD channels = 2, WORD bits = 16)
{
    return rec::Wave(0x0161, channels, rate, bits, avgBytesPerSec, std::vector<BYTE>(10, 0));
}

TEST_F(WriterTest, AddAudioCallsInOrderAndAddsTheBestFormatAsStream2)
{
    InitOk();
    // Codec 0 ("Windows Media Audio 8") is passed over; codec 1 offers
    // 128, 160, 192 (48 kHz), 96 and 48 (mono) kbit/s.
    EXPECT_EQ(1, w.AddAudio(44100, 2, 160));
    const Log expected = {
        "manager.GetCodecInfoCount(Audio)",
        "manager.GetCodecName(Audio,0,cap=128)",
        "manager.GetCodecName(Audio,1,cap=128)",
        "manager.SetCodecEnumerationSetting(Audio,1,_VBRENABLED,BOOL,0,4)",
        "manager.SetCodecEnumerationSetting(Audio,1,_PASSESUSED,DWORD,1,4)",
        "manager.GetCodecFormatCount(Audio,1)",
        "manager.GetCodecFormatDesc(Audio,1,0,cap=256)",
        "afmt0.QueryInterface(IWMMediaProps)",
        "afmt0.GetMediaType(size)",
        "afmt0.GetMediaType(read)",
        "afmt0.AddRef",
        "afmt0.Release",
        "afmt0.Release",
        "manager.GetCodecFormatDesc(Audio,1,1,cap=256)",
        "afmt1.QueryInterface(IWMMediaProps)",
        "afmt1.GetMediaType(size)",
        "afmt1.GetMediaType(read)",
        "afmt0.Release",
        "afmt1.AddRef",
        "afmt1.Release",
        "afmt1.Release",
        "manager.GetCodecFormatDesc(Audio,1,2,cap=256)",
        "afmt2.QueryInterface(IWMMediaProps)",
        "afmt2.GetMediaType(size)",
        "afmt2.GetMediaType(read)",
        "afmt2.Release",
        "afmt2.Release",
        "manager.GetCodecFormatDesc(Audio,1,3,cap=256)",
        "afmt3.QueryInterface(IWMMediaProps)",
        "afmt3.GetMediaType(size)",
        "afmt3.GetMediaType(read)",
        "afmt3.Release",
        "afmt3.Release",
        "manager.GetCodecFormatDesc(Audio,1,4,cap=256)",
        "afmt4.QueryInterface(IWMMediaProps)",
        "afmt4.GetMediaType(size)",
        "afmt4.GetMediaType(read)",
        "afmt4.Release",
        "afmt4.Release",
        "afmt1.SetStreamName(Audio)",
        "afmt1.SetConnectionName(Audio)",
        "afmt1.SetStreamNumber(2)",
        "profile.AddStream(afmt1)",
        "afmt1.Release",
    };
    EXPECT_EQ(expected, rt.log);
    ASSERT_EQ(1u, rt.streams.size());
    const rec::StreamRecord& s = rt.streams[0];
    EXPECT_EQ(2, s.number);
    EXPECT_EQ(u"Audio", s.name);
    EXPECT_EQ(u"Audio", s.connection);
    EXPECT_EQ(WmaFormat(44100, 2, 160).format, s.type.format);
    // AddAudio writes no field of the object.
    EXPECT_EQ(-1, w.audioInput);
    EXPECT_EQ(-1, w.videoInput);
}

TEST_F(WriterTest, AddAudioFormatChoice)
{
    struct Case {
        const char* what;
        std::vector<MediaTypeSpec> formats;
        int sampleRate, channels, maxKbps;
        int chosen;  // format index, -1: none
    };
    const Case cases[] = {
        {"highest under the ceiling, first of equals",
         {WmaFormat(44100, 2, 32), WmaFormat(44100, 2, 48), WmaFormat(44100, 2, 64), WmaFormat(44100, 2, 48)},
         44100, 2, 50, 1},
        {"ceiling below every format", {WmaFormat(44100, 2, 64), WmaFormat(44100, 2, 96)}, 44100, 2, 50, -1},
        {"ceiling equal to a bit rate", {WmaFormat(44100, 2, 64), WmaFormat(44100, 2, 128)}, 44100, 2, 128, 1},
        {"sample width other than 16", {WmaFormat(44100, 2, 64, 24), WmaFormat(44100, 2, 48, 8),
                                        WmaFormat(44100, 2, 32)}, 44100, 2, 100, 2},
        {"other rate or channel count", {WmaFormat(48000, 2, 64), WmaFormat(44100, 1, 64), WmaFormat(44100, 2, 32)},
         44100, 2, 100, 2},
        {"negative ceiling is no ceiling", {WmaFormat(44100, 2, 64), WmaFormat(44100, 2, 320), WmaFormat(44100, 2, 128)},
         44100, 2, -1, 1},
        {"bit rate truncated: 5999 bytes/s is 47 kbit/s", {ByBytes(5999), ByBytes(7000)}, 44100, 2, 47, 0},
        {"bit rate of 0 never qualifies", {ByBytes(124)}, 44100, 2, -1, -1},
        // 536870912 * 8 wraps to 0 and 536871037 * 8 to 1000 in 32 bits.
        {"wrapped to 0 never qualifies", {ByBytes(536870912u)}, 44100, 2, -1, -1},
        {"wrapped product is compared", {ByBytes(536871037u), WmaFormat(44100, 2, 64)}, 44100, 2, 1, 0},
        {"format tag is not tested", {rec::Pcm(44100, 2, 16)}, 44100, 2, -1, 0},
        {"negative channel count", {WmaFormat(44100, 2, 64)}, 44100, -1, -1, -1},
        {"channel count above 65535", {WmaFormat(44100, 2, 64)}, 44100, 65538, -1, -1},
        {"negative sample rate", {WmaFormat(44100, 2, 64)}, -1, 2, -1, -1},
        {"mono", {WmaFormat(22050, 1, 20), WmaFormat(22050, 2, 32), WmaFormat(22050, 1, 22)}, 22050, 1, 32, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRuntime();
        rt.audioCodecs = {Wma9(c.formats)};
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        EXPECT_EQ(c.chosen < 0 ? -1 : 1, obj.AddAudio(c.sampleRate, c.channels, c.maxKbps));
        if (c.chosen < 0) {
            EXPECT_TRUE(rt.streams.empty());
            EXPECT_TRUE(rt.Calls("SetStreamName").empty());
        } else {
            ASSERT_EQ(1u, rt.streams.size());
            EXPECT_EQ("afmt" + std::to_string(c.chosen), rt.streams[0].config);
        }
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(WriterTest, AddAudioCodecChoice)
{
    struct Case {
        std::vector<std::u16string> names;
        int unreadable;  // index of a codec whose name cannot be read, -1 none
        int chosen;
    };
    const Case cases[] = {
        {{u"Windows Media Audio 9"}, -1, 0},
        {{u"WINDOWS media AUDIO 9"}, -1, 0},
        {{u"Windows Media Audio 9.2 Lossless"}, -1, 0},
        {{u"Windows Media Audio 8", u"Windows Media Audio 9.1"}, -1, 1},
        {{u"Windows Media Audio 9", u"Windows Media Audio 9.2"}, 0, 1},
        {{u"Windows Media Audio"}, -1, -1},
        {{u"Windows Media Audio 8"}, -1, -1},
        {{u"Windows Media Audio 10"}, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(rec::Narrow(c.names.back()));
        ResetRuntime();
        rt.audioCodecs.clear();
        for (std::size_t i = 0; i < c.names.size(); ++i) {
            CodecSpec codec = Wma9({WmaFormat(44100, 2, 64)});
            codec.name = c.names[i];
            codec.nameFails = static_cast<int>(i) == c.unreadable;
            rt.audioCodecs.push_back(codec);
        }
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        EXPECT_EQ(c.chosen < 0 ? -1 : 1, obj.AddAudio(44100, 2, 128));
        const Log settings = rt.Calls("SetCodecEnumerationSetting");
        if (c.chosen < 0) {
            EXPECT_EQ(Log{}, settings);
        } else {
            ASSERT_EQ(2u, settings.size());
            EXPECT_NE(std::string::npos, settings[0].find("(Audio," + std::to_string(c.chosen) + ",_VBRENABLED"));
        }
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(WriterTest, AddAudioStopsAtTheFirstMatchingCodec)
{
    rt.audioCodecs = {Wma9({WmaFormat(48000, 2, 128)}), Wma9({WmaFormat(44100, 2, 128)})};
    rt.audioCodecs[1].name = u"Windows Media Audio 9.2";
    InitOk();
    EXPECT_EQ(-1, w.AddAudio(44100, 2, 128));
    EXPECT_EQ(Log{}, rt.Calls("(Audio,1"));
}

TEST_F(WriterTest, AddAudioFailures)
{
    struct Case {
        const char* what;
        std::function<void(rec::Runtime&)> arrange;
    };
    const Case cases[] = {
        {"codec count fails", [](rec::Runtime& r) { r.Fail("GetCodecInfoCount"); }},
        {"no codecs", [](rec::Runtime& r) { r.audioCodecs.clear(); }},
        {"_VBRENABLED refused", [](rec::Runtime& r) { r.Fail("SetCodecEnumerationSetting(Audio,1,_VBRENABLED"); }},
        {"_PASSESUSED refused", [](rec::Runtime& r) { r.Fail("SetCodecEnumerationSetting(Audio,1,_PASSESUSED"); }},
        {"format count fails", [](rec::Runtime& r) { r.Fail("GetCodecFormatCount"); }},
        {"no formats", [](rec::Runtime& r) { r.audioCodecs[1].formats.clear(); }},
        {"profile refuses the stream", [](rec::Runtime& r) { r.Fail("AddStream"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRuntime();
        c.arrange(rt);
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        EXPECT_EQ(-1, obj.AddAudio(44100, 2, 160));
        EXPECT_TRUE(rt.streams.empty());
        obj.Close();
        ExpectBalanced();
    }
}

// A format whose configuration or media type cannot be had is passed over.
TEST_F(WriterTest, AddAudioSkipsFormatsThatCannotBeRead)
{
    struct Case {
        const char* what;
        std::function<void(rec::Runtime&)> arrange;
    };
    const Case cases[] = {
        {"description fails", [](rec::Runtime& r) { r.Fail("GetCodecFormatDesc(Audio,1,1"); }},
        {"no media properties", [](rec::Runtime& r) { r.Fail("afmt1.QueryInterface(IWMMediaProps)"); }},
        {"size query fails", [](rec::Runtime& r) { r.Fail("afmt1.GetMediaType(size"); }},
        {"read fails", [](rec::Runtime& r) { r.Fail("afmt1.GetMediaType(read"); }},
        {"no format block", [](rec::Runtime& r) { r.audioCodecs[1].formats[1].nullFormat = true; }},
        {"format block too short", [](rec::Runtime& r) { r.audioCodecs[1].formats[1].format.resize(10); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRuntime();
        c.arrange(rt);
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        EXPECT_EQ(1, obj.AddAudio(44100, 2, 160));
        ASSERT_EQ(1u, rt.streams.size());
        EXPECT_EQ("afmt0", rt.streams[0].config);
        obj.Close();
        ExpectBalanced();
    }
}

}  // namespace
