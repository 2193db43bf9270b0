// The asfenc program as a user runs it: exit codes and messages for usage
// errors and bad input, and the files it writes, checked with FFmpeg.
#include "tools_asfenc_support.h"

namespace asfenc_test {
namespace {

TEST(Asfenc, HelpGoesToStandardOutput)
{
    TempDir dir;
    const CommandResult r = asfenc(dir, "--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.output.find("usage: asfenc"), std::string::npos);
    EXPECT_TRUE(r.errors.empty());
}

TEST(Asfenc, ShowsProgressOnlyOnATerminal)
{
    ASFW_REQUIRE_TOOL("script");  // util-linux: runs a command on a pseudo-terminal
    TempDir dir;
    write(dir.file("in.y4m"), y4m(64, 48, 30));
    const CommandResult quiet = asfenc(dir, "-i in.y4m -o quiet.wmv");
    ASSERT_EQ(quiet.exitCode, 0) << quiet.errors;
    EXPECT_TRUE(quiet.errors.empty()) << quiet.errors;
    const CommandResult tty = runCommand("cd " + shellQuote(dir.path()) + " && script -qec " +
                                         shellQuote(shellQuote(kAsfenc) + " -i in.y4m -o tty.wmv") + " /dev/null");
    ASSERT_EQ(tty.exitCode, 0) << tty.output;
    EXPECT_NE(tty.output.find("\rframes "), std::string::npos) << tty.output;
    EXPECT_NE(tty.output.find("tty.wmv: video 64x48 25 fps 30 frames"), std::string::npos) << tty.output;
}

TEST(Asfenc, UsageErrorsAndBadInputExitWith2AndWriteNothing)
{
    TempDir dir;
    write(dir.file("ok.y4m"), y4m(64, 48, 2));
    write(dir.file("ok.wav"), wav(44100, 2, 0.1));
    write(dir.file("c422.y4m"), y4m(64, 48, 2, "F25:1 C422"));
    write(dir.file("odd.y4m"), y4m(63, 48, 2));
    write(dir.file("norate.y4m"), y4m(64, 48, 2, ""));
    Bytes cut = y4m(64, 48, 1);
    cut.resize(12);
    write(dir.file("cuthead.y4m"), cut);
    write(dir.file("text.txt"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    write(dir.file("adpcm.wav"), wav(44100, 2, 0.1, 2));
    Bytes nodata = wav(44100, 2, 0.1);
    nodata.resize(36);
    write(dir.file("nodata.wav"), nodata);
    const struct {
        const char* args;
        const char* says;
    } cases[] = {
        {"--frobnicate", "unknown option"},
        {"-i ok.y4m", "no output"},
        {"-i ok.y4m -b 0 -o out.wmv", "-b"},
        {"-i ok.y4m -q 101 -o out.wmv", "-q"},
        {"-i ok.y4m --passes 3 -o out.wmv", "--passes"},
        {"-i - --passes 2 -o out.wmv", "twice"},
        {"-i missing.y4m -o out.wmv", "missing.y4m"},
        {"-i c422.y4m -o out.wmv", "chroma"},
        {"-i odd.y4m -o out.wmv", "odd"},
        {"-i norate.y4m -o out.wmv", "--fps"},
        {"-i cuthead.y4m -o out.wmv", "cut short"},
        {"-i text.txt -o out.wmv", "not a YUV4MPEG2"},
        {"-i text.txt --size 4x4 -o out.wmv", "--fps"},
        {"-i ok.y4m --size 32x32 -o out.wmv", "does not match"},
        {"-i ok.y4m -a text.txt -o out.wmv", "not a WAV"},
        {"-i ok.y4m -a adpcm.wav -o out.wmv", "format tag 0x0002"},
        {"-a nodata.wav -o out.wmv", "no sample data"},
        {"-a ok.wav -o out.wmv -i .", "folder"},
    };
    for (const auto& c : cases) {
        const CommandResult r = asfenc(dir, c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args;
        EXPECT_NE(r.errors.find(c.says), std::string::npos) << c.args << " -> " << r.errors;
        EXPECT_EQ(r.errors.rfind("asfenc: ", 0), 0u) << c.args << " -> " << r.errors;
        EXPECT_TRUE(r.output.empty()) << c.args;
        EXPECT_FALSE(exists(dir.file("out.wmv"))) << c.args;
    }
}

TEST(Asfenc, LibraryRefusalsExitWith1)
{
    TempDir dir;
    write(dir.file("ok.y4m"), y4m(64, 48, 2));
    write(dir.file("ok.wav"), wav(44100, 2, 0.1));
    const struct {
        const char* args;
        const char* says;
    } cases[] = {
        {"-a ok.wav --audio-rate 12345 -o out.wmv", "no audio format"},
        {"-a ok.wav --audio-kbps 1 -o out.wmv", "no audio format"},
        {"-i ok.y4m -o no/such/folder/out.wmv", "cannot write"},
    };
    for (const auto& c : cases) {
        const CommandResult r = asfenc(dir, c.args);
        EXPECT_EQ(r.exitCode, 1) << c.args << " -> " << r.errors;
        EXPECT_NE(r.errors.find(c.says), std::string::npos) << c.args << " -> " << r.errors;
    }
}

TEST(Asfenc, Y4mThroughAPipeFromFfmpegWithAWav)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    write(dir.file("tone.wav"), wav(44100, 1, 2.0));
    const CommandResult r = runCommand(
        "cd " + shellQuote(dir.path()) +
        " && ffmpeg -v error -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 50 -f yuv4mpegpipe - | " +
        shellQuote(kAsfenc) + " -i - -a tone.wav -b 300 -o out.wmv");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_NE(r.output.find("50 frames"), std::string::npos) << r.output;
    const std::string streams = probeStreams(dir.file("out.wmv"));
    EXPECT_NE(streams.find("wmv3,video,176,144"), std::string::npos) << streams;
    EXPECT_NE(streams.find("wmav2,audio"), std::string::npos) << streams;
    EXPECT_EQ(decodedFrames(dir.file("out.wmv")), 50);
}

TEST(Asfenc, AudioFromAPipeAndBothStreamsFromNamedPipesOfOneFfmpeg)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    write(dir.file("in.y4m"), y4m(96, 64, 25));
    const std::string cd = "cd " + shellQuote(dir.path()) + " && ";
    const CommandResult a = runCommand(cd + "ffmpeg -nostdin -v error -f lavfi -i sine=frequency=440:sample_rate=22050 -t 1 "
                                            "-c:a pcm_s24le -ac 3 -f wav - | " +
                                       shellQuote(kAsfenc) + " -i in.y4m -a - -o piped.wmv");
    ASSERT_EQ(a.exitCode, 0) << a.errors;
    EXPECT_NE(probeStreams(dir.file("piped.wmv")).find("wmav2,audio"), std::string::npos);

    // FFmpeg opens its outputs in order and writes none before all are open;
    // asfenc opens both inputs before it reads either, and drains both pipes
    // so that FFmpeg's own interleaving never blocks it.
    const CommandResult b = runCommand(
        cd + "mkfifo v.y4m a.wav && (timeout 60 ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=96x64:rate=25 " +
        "-f lavfi -i sine=sample_rate=44100 -map 0:v -t 2 -f yuv4mpegpipe v.y4m -map 1:a -t 2 -f wav a.wav &) && " +
        "timeout 60 " + shellQuote(kAsfenc) + " -i v.y4m -a a.wav -o fifo.wmv");
    ASSERT_EQ(b.exitCode, 0) << b.errors;
    EXPECT_EQ(decodedFrames(dir.file("fifo.wmv")), 50);
    EXPECT_NE(probeStreams(dir.file("fifo.wmv")).find("wmav2,audio"), std::string::npos);
}

TEST(Asfenc, RawI420FromStandardInputAndTwoPassFromAFile)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    Bytes y = y4m(96, 64, 12);
    // The same frames without the stream and frame headers.
    Bytes raw;
    const std::size_t headerEnd = std::string(y.begin(), y.end()).find('\n') + 1;
    const std::size_t frameBytes = 96 * 64 * 3 / 2;
    for (int f = 0; f < 12; ++f) {
        const std::size_t at = headerEnd + static_cast<std::size_t>(f) * (6 + frameBytes) + 6;
        raw.insert(raw.end(), y.begin() + static_cast<std::ptrdiff_t>(at),
                   y.begin() + static_cast<std::ptrdiff_t>(at + frameBytes));
    }
    write(dir.file("in.yuv"), raw);
    write(dir.file("in.y4m"), y);
    const CommandResult a = asfenc(dir, "-i - --size 96x64 --fps 30000/1001 -o raw.wmv < in.yuv");
    ASSERT_EQ(a.exitCode, 0) << a.errors;
    EXPECT_EQ(decodedFrames(dir.file("raw.wmv")), 12);
    EXPECT_NE(probeStreams(dir.file("raw.wmv"), "r_frame_rate").find("30000/1001"), std::string::npos);

    const CommandResult b = asfenc(dir, "-i in.y4m --passes 2 -o twopass.wmv");
    ASSERT_EQ(b.exitCode, 0) << b.errors;
    EXPECT_EQ(decodedFrames(dir.file("twopass.wmv")), 12);
}

TEST(Asfenc, ATruncatedInputStillGivesAPlayableFileAndExits2)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    Bytes y = y4m(96, 64, 10);
    y.resize(y.size() - 1000);  // the tenth frame loses its end
    write(dir.file("cut.y4m"), y);
    write(dir.file("tone.wav"), wav(48000, 2, 1.0));
    const CommandResult r = asfenc(dir, "-i cut.y4m -a tone.wav -o out.wmv");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.errors.find("frame 10 is cut short"), std::string::npos) << r.errors;
    EXPECT_NE(r.errors.find("9 complete frames"), std::string::npos) << r.errors;
    EXPECT_EQ(decodedFrames(dir.file("out.wmv")), 9);

    Bytes w = wav(44100, 2, 1.0);
    w.resize(w.size() / 2 + 1);  // cut, and inside a sample frame
    write(dir.file("cut.wav"), w);
    const CommandResult a = asfenc(dir, "-a cut.wav -o audio.wmv");
    EXPECT_EQ(a.exitCode, 2);
    EXPECT_NE(a.errors.find("cut short"), std::string::npos) << a.errors;
    EXPECT_EQ(runCommand("ffmpeg -v error -xerror -i " + shellQuote(dir.file("audio.wmv")) + " -f null -").exitCode, 0);
}

}  // namespace
}  // namespace asfenc_test
