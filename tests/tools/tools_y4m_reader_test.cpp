// The video readers of asfenc: YUV4MPEG2 headers and frames, raw I420,
// and how each failure of the input is reported.
#include "y4m_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace asfenc {
namespace {

std::vector<std::uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Frame `index` of a w x h picture: every byte differs from its neighbours
// and from the same byte of other frames.
std::vector<std::uint8_t> pattern(int w, int h, int index)
{
    std::vector<std::uint8_t> f(static_cast<std::size_t>(w * h * 3 / 2));
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<std::uint8_t>(i * 7 + index * 31 + 1);
    return f;
}

std::vector<std::uint8_t> y4m(const std::string& header, int w, int h, int frames,
                              const std::string& frameHeader = "FRAME\n")
{
    std::vector<std::uint8_t> out = bytes(header);
    for (int i = 0; i < frames; ++i) {
        out.insert(out.end(), frameHeader.begin(), frameHeader.end());
        const auto f = pattern(w, h, i);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

// An input that reads like a pipe: it cannot go back.
class PipeInput final : public ByteInput {
public:
    explicit PipeInput(std::vector<std::uint8_t> data) : data_(std::move(data)), memory_(data_) {}
    std::size_t read(void* d, std::size_t n) override { return memory_.read(d, n); }
    bool failed() const override { return false; }
    bool canRewind() const override { return false; }
    bool rewind() override { return false; }
    std::int64_t knownSize() const override { return -1; }

private:
    std::vector<std::uint8_t> data_;
    MemoryInput memory_;
};

struct HeaderCase {
    const char* header;
    ReadResult result;
    int width, height, fpsNum, fpsDen;
};

class Y4mHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Y4mHeader, ParsesOrRejects)
{
    const HeaderCase& c = GetParam();
    const auto data = bytes(c.header);
    MemoryInput in(data);
    std::unique_ptr<VideoSource> source;
    std::string error;
    const ReadResult r = openVideo(in, VideoFormat{}, source, error);
    EXPECT_EQ(r, c.result) << c.header << " -> " << error;
    if (c.result == ReadResult::Ok) {
        ASSERT_TRUE(source);
        EXPECT_EQ(source->format().width, c.width);
        EXPECT_EQ(source->format().height, c.height);
        EXPECT_EQ(source->format().fpsNum, c.fpsNum);
        EXPECT_EQ(source->format().fpsDen, c.fpsDen);
    } else {
        EXPECT_FALSE(error.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Y4mHeader,
    ::testing::Values(
        HeaderCase{"YUV4MPEG2 W640 H480 F30000:1001 Ip A1:1 C420jpeg XYSCSS=420JPEG\n", ReadResult::Ok, 640, 480, 30000, 1001},
        HeaderCase{"YUV4MPEG2 W4 H2 F25:1 C420paldv\n", ReadResult::Ok, 4, 2, 25, 1},
        HeaderCase{"YUV4MPEG2 W4 H2 F25:1 C420mpeg2\n", ReadResult::Ok, 4, 2, 25, 1},
        HeaderCase{"YUV4MPEG2 W4 H2 F25:1 C420\n", ReadResult::Ok, 4, 2, 25, 1},
        HeaderCase{"YUV4MPEG2 W16 H16 F24:1\n", ReadResult::Ok, 16, 16, 24, 1},
        HeaderCase{"YUV4MPEG2 H6  W2   F1:2 Zfuture\n", ReadResult::Ok, 2, 6, 1, 2},  // any order, extra spaces, unknown tag
        HeaderCase{"YUV4MPEG2 W16 H16\n", ReadResult::Ok, 16, 16, 0, 0},             // rate left to --fps
        HeaderCase{"YUV4MPEG2 W16 H16 F25:1 C422\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W16 H16 F25:1 C444\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W16 H16 F25:1 Cmono\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W16 H16 F25:1 C420p10\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W15 H16 F25:1\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W16 H9 F25:1\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W0 H16 F25:1\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W99998 H16 F25:1\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W-16 H16 F25:1\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W16x H16 F25:1\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W1234567890123 H16\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 H16 F25:1\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W16 H16 F0:1\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W16 H16 F25\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2W16 H16\n", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"YUV4MPEG2 W16 H16 F25:1", ReadResult::Truncated, 0, 0, 0, 0},  // no end of line
        HeaderCase{"YUV4MP", ReadResult::Truncated, 0, 0, 0, 0},
        HeaderCase{"RIFF\x24\0\0\0WAVEfmt ", ReadResult::Invalid, 0, 0, 0, 0},
        HeaderCase{"", ReadResult::Invalid, 0, 0, 0, 0}));

TEST(Y4mReader, RejectsAnEndlessHeaderLine)
{
    std::string header = "YUV4MPEG2 W16 H16 X" + std::string(100000, 'a') + "\n";
    const auto data = bytes(header);
    MemoryInput in(data);
    std::unique_ptr<VideoSource> source;
    std::string error;
    EXPECT_EQ(openVideo(in, VideoFormat{}, source, error), ReadResult::Invalid);
}

TEST(Y4mReader, ReadsFramesExactlyAndEndsCleanly)
{
    const auto data = y4m("YUV4MPEG2 W6 H4 F25:1\n", 6, 4, 3, "FRAME Ixyz\n");
    MemoryInput in(data);
    std::unique_ptr<VideoSource> source;
    std::string error;
    ASSERT_EQ(openVideo(in, VideoFormat{}, source, error), ReadResult::Ok) << error;
    std::vector<std::uint8_t> frame;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(source->next(frame, error), ReadResult::Ok) << error;
        EXPECT_EQ(frame, pattern(6, 4, i)) << "frame " << i;
    }
    EXPECT_EQ(source->next(frame, error), ReadResult::End);
}

TEST(Y4mReader, ReportsEachKindOfDamageAfterTheCompleteFrames)
{
    const auto good = y4m("YUV4MPEG2 W6 H4 F25:1\n", 6, 4, 2);
    struct Damage {
        const char* name;
        std::vector<std::uint8_t> tail;
        ReadResult result;
    };
    std::vector<std::uint8_t> half = bytes("FRAME\n");
    half.resize(half.size() + 10, 9);
    const Damage cases[] = {
        {"frame cut inside its samples", half, ReadResult::Truncated},
        {"frame header cut", bytes("FRA"), ReadResult::Truncated},
        {"frame header without end of line", bytes("FRAME Ixx"), ReadResult::Truncated},
        {"garbage instead of FRAME", bytes("FRAMX\n0123456789"), ReadResult::Invalid},
        {"short garbage", bytes("XY"), ReadResult::Invalid},
        {"FRAME glued to data", bytes("FRAMEabc\n"), ReadResult::Invalid},
    };
    for (const Damage& d : cases) {
        auto data = good;
        data.insert(data.end(), d.tail.begin(), d.tail.end());
        MemoryInput in(data);
        std::unique_ptr<VideoSource> source;
        std::string error;
        ASSERT_EQ(openVideo(in, VideoFormat{}, source, error), ReadResult::Ok);
        std::vector<std::uint8_t> frame;
        EXPECT_EQ(source->next(frame, error), ReadResult::Ok) << d.name;
        EXPECT_EQ(source->next(frame, error), ReadResult::Ok) << d.name;
        error.clear();
        EXPECT_EQ(source->next(frame, error), d.result) << d.name;
        EXPECT_FALSE(error.empty()) << d.name;
    }
}

TEST(Y4mReader, RestartReadsTheSameFramesAndKeepsAGivenFrameRate)
{
    const auto data = y4m("YUV4MPEG2 W4 H2 F25:1\n", 4, 2, 2);
    MemoryInput in(data);
    Y4mReader reader(in);
    std::string error;
    ASSERT_EQ(reader.readHeader(error), ReadResult::Ok);
    reader.setFrameRate(30000, 1001);
    std::vector<std::uint8_t> a, b;
    ASSERT_EQ(reader.next(a, error), ReadResult::Ok);
    ASSERT_EQ(reader.next(a, error), ReadResult::Ok);
    ASSERT_TRUE(reader.restart(error)) << error;
    EXPECT_EQ(reader.format().fpsNum, 30000);
    EXPECT_EQ(reader.format().fpsDen, 1001);
    ASSERT_EQ(reader.next(b, error), ReadResult::Ok);
    EXPECT_EQ(b, pattern(4, 2, 0));
}

TEST(Y4mReader, RestartFailsOnAPipe)
{
    PipeInput in(y4m("YUV4MPEG2 W4 H2 F25:1\n", 4, 2, 1));
    Y4mReader reader(in);
    std::string error;
    ASSERT_EQ(reader.readHeader(error), ReadResult::Ok);
    EXPECT_FALSE(reader.restart(error));
    EXPECT_NE(error.find("twice"), std::string::npos) << error;
}

TEST(RawI420Reader, ReadsFramesIncludingTheBytesUsedToLookForASignature)
{
    // 4x2 frames are 12 bytes: the 9 bytes looked at first belong to frame 1.
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 3; ++i) {
        const auto f = pattern(4, 2, i);
        data.insert(data.end(), f.begin(), f.end());
    }
    PipeInput in(data);
    VideoFormat raw;
    raw.width = 4;
    raw.height = 2;
    raw.fpsNum = 25;
    raw.fpsDen = 1;
    std::unique_ptr<VideoSource> source;
    std::string error;
    ASSERT_EQ(openVideo(in, raw, source, error), ReadResult::Ok) << error;
    std::vector<std::uint8_t> frame;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(source->next(frame, error), ReadResult::Ok);
        EXPECT_EQ(frame, pattern(4, 2, i));
    }
    EXPECT_EQ(source->next(frame, error), ReadResult::End);
}

TEST(RawI420Reader, ShortLastFrameIsTruncatedAndRestartRereads)
{
    auto data = pattern(4, 2, 0);
    data.resize(data.size() + 5, 1);
    MemoryInput in(data);
    VideoFormat raw{4, 2, 25, 1};
    std::unique_ptr<VideoSource> source;
    std::string error;
    ASSERT_EQ(openVideo(in, raw, source, error), ReadResult::Ok);
    std::vector<std::uint8_t> frame;
    EXPECT_EQ(source->next(frame, error), ReadResult::Ok);
    EXPECT_EQ(source->next(frame, error), ReadResult::Truncated);
    ASSERT_TRUE(source->restart(error));
    ASSERT_EQ(source->next(frame, error), ReadResult::Ok);
    EXPECT_EQ(frame, pattern(4, 2, 0));
}

TEST(RawI420Reader, NeedsAnEvenSizeAndAFrameRate)
{
    const auto data = pattern(4, 2, 0);
    const VideoFormat cases[] = {{5, 2, 25, 1}, {4, 3, 25, 1}, {4, 2, 0, 0}, {0, 2, 25, 1}, {40000, 2, 25, 1}};
    for (const VideoFormat& f : cases) {
        MemoryInput in(data);
        std::unique_ptr<VideoSource> source;
        std::string error;
        EXPECT_EQ(openVideo(in, f, source, error), ReadResult::Invalid) << f.width << "x" << f.height;
        EXPECT_FALSE(error.empty());
    }
}

TEST(RawI420Reader, AY4mSignatureWinsOverAGivenSize)
{
    const auto data = y4m("YUV4MPEG2 W4 H2 F25:1\n", 4, 2, 1);
    MemoryInput in(data);
    std::unique_ptr<VideoSource> source;
    std::string error;
    ASSERT_EQ(openVideo(in, VideoFormat{8, 8, 25, 1}, source, error), ReadResult::Ok);
    EXPECT_EQ(source->format().width, 4);
    std::vector<std::uint8_t> frame;
    ASSERT_EQ(source->next(frame, error), ReadResult::Ok);
    EXPECT_EQ(frame, pattern(4, 2, 0));
}

}  // namespace
}  // namespace asfenc
