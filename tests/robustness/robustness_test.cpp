// Robustness of the whole library seen from a host: a host killed mid-file,
// files cut at arbitrary offsets, writes failing part-way (file size limit),
// a missing or read-only output folder, and requests too large to allocate.
#include "AsfWriter.h"
#include "support/asf_checkers.h"
#include "support/asf_reader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using asfw::test::TempDir;

// The host's exit status when WriteSample or CloseFile failed.
constexpr int kExitWrite = 12, kExitClose = 13;

long long fileSize(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Starts the host writing `seconds` of media to `output` (0: until killed).
// `fileLimit` > 0 caps the size of any file the child writes; the signal that
// limit raises is ignored, so the write itself fails.
pid_t startHost(const std::string& output, int seconds, rlim_t fileLimit = 0)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (fileLimit > 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{fileLimit, fileLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        const std::string secs = std::to_string(seconds);
        ::execl(ROBUSTNESS_HOST, ROBUSTNESS_HOST, output.c_str(), secs.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// Waits for the host; the exit status, or 1000 + signal when a signal ended it.
int waitHost(pid_t pid)
{
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
    return -1;
}

// Video frames FFmpeg decodes from the file (ffprobe -count_frames), -1 if it
// cannot open the file.
int decodedVideoFrames(const std::string& path)
{
    const auto run = asfw::test::runCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
        asfw::test::shellQuote(path));
    if (run.exitCode != 0) return -1;
    if (run.output.rfind("N/A", 0) == 0) return 0;  // no frame was read
    try {
        return std::stoi(run.output);
    } catch (...) {
        return -1;
    }
}

// Decodes every stream with FFmpeg, without -xerror: a cut file has a torn
// tail, which FFmpeg reports and steps over.
asfw::test::CommandResult ffmpegDecodeLenient(const std::string& path)
{
    return asfw::test::runCommand("ffmpeg -nostdin -v error -i " + asfw::test::shellQuote(path) + " -f null -");
}

// One finished file shared by the tests that cut or compare against it.
struct Reference {
    TempDir dir;
    std::string path;
    long long size = 0;
    long long dataStart = 0;   // position of the first data packet
    long long dataEnd = 0;     // end of the last data packet
    long long packetSize = 0;
    int frames = 0;            // video frames in the finished file
    std::vector<asfw::test::ProbePacket> video;  // the finished file's video packets
    long long largestFrame = 0;
};

const Reference& reference()
{
    static Reference* ref = [] {
        auto* r = new Reference;
        r->path = r->dir.file("full.wmv");
        const pid_t pid = startHost(r->path, 2);
        const int status = waitHost(pid);
        if (status != 0) return r;
        r->size = fileSize(r->path);
        const auto packets = asfw::test::ffprobePackets(r->path, "-select_streams v");
        for (const auto& p : packets.packets) {
            r->video.push_back(p);
            r->largestFrame = std::max(r->largestFrame, static_cast<long long>(p.size));
        }
        asfw::test::asfread::AsfReader reader;
        if (!reader.open(r->path)) return r;
        r->dataStart = static_cast<long long>(reader.firstPacketOffset());
        r->packetSize = reader.packetSize();
        r->dataEnd = r->dataStart + r->packetSize * static_cast<long long>(reader.packetsPresent());
        r->frames = static_cast<int>(r->video.size());
        return r;
    }();
    return *ref;
}

// Video frames of the finished file that lie wholly before `cut`, with a
// margin of one frame and two packets for frames split over packets.
int framesWhollyBefore(const Reference& ref, long long cut)
{
    int n = 0;
    for (const auto& p : ref.video)
        if (p.pos + ref.largestFrame + 2 * ref.packetSize <= cut) ++n;
    return n;
}

class Robustness : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASFW_REQUIRE_TOOL("ffmpeg");
        ASFW_REQUIRE_TOOL("ffprobe");
    }
};

TEST_F(Robustness, FinishedReferenceFileIsWhole)
{
    const Reference& ref = reference();
    ASSERT_GT(ref.size, 0) << "the host did not finish";
    EXPECT_EQ(ref.frames, 50);
    EXPECT_EQ(ffmpegDecodeLenient(ref.path).errors, "");
    EXPECT_EQ(decodedVideoFrames(ref.path), 50);
}

TEST_F(Robustness, HostKilledMidFileLeavesADecodableFile)
{
    const Reference& ref = reference();
    ASSERT_GT(ref.size, 0);
    ASSERT_GT(ref.packetSize, 0);
    const double bytesPerFrame = static_cast<double>(ref.dataEnd - ref.dataStart) / ref.frames;

    TempDir dir;
    const std::string path = dir.file("killed.wmv");
    const pid_t pid = startHost(path, 0);
    ASSERT_GT(pid, 0);
    // Wait until the file holds more than the reference's packets, then kill without warning.
    const long long threshold = ref.dataEnd;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (fileSize(path) < threshold && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::kill(pid, SIGKILL);
    ASSERT_EQ(waitHost(pid), 1000 + SIGKILL);
    const long long size = fileSize(path);
    ASSERT_GE(size, threshold) << "the host wrote too little in a minute";

    asfw::test::asfread::AsfReader reader;
    ASSERT_TRUE(reader.open(path)) << reader.error();
    EXPECT_GT(reader.packetsPresent(), 0u);
    const auto probe = asfw::test::ffprobeStreams(path);
    ASSERT_TRUE(probe.ok) << probe.errors;
    ASSERT_EQ(probe.streams.size(), 2u);
    EXPECT_EQ(probe.streams[0].codecType == "video" ? probe.streams[1].codecType : probe.streams[0].codecType,
              "audio");
    const auto decode = ffmpegDecodeLenient(path);
    EXPECT_EQ(decode.exitCode, 0) << decode.errors;
    const int frames = decodedVideoFrames(path);
    const double expected = static_cast<double>(size - ref.dataStart) / bytesPerFrame;
    EXPECT_GE(frames, framesWhollyBefore(ref, size));  // the host writes the same media every run
    EXPECT_GT(frames, 0);
    EXPECT_GE(frames, expected * 0.6) << "size " << size;
    EXPECT_LE(frames, expected * 1.4 + 5) << "size " << size;
}

TEST_F(Robustness, FileCutAtAnyOffsetReadsUpToItsLastCompletePacket)
{
    const Reference& ref = reference();
    ASSERT_GT(ref.packetSize, 0);
    const auto whole = asfw::test::readFileBytes(ref.path);
    ASSERT_EQ(static_cast<long long>(whole.size()), ref.size);
    const long long data = ref.dataEnd - ref.dataStart;
    TempDir dir;
    for (const long long cut : {ref.dataStart + 1, ref.dataStart + data / 5 + 17, ref.dataStart + data / 2 + 1001,
                                ref.dataStart + data * 9 / 10 + 3, ref.dataEnd, ref.size - 1}) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(ref.size));
        const std::string path = dir.file("cut.wmv");
        ASSERT_TRUE(asfw::test::writeFileBytes(
            path, std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut))));
        const auto probe = asfw::test::ffprobeStreams(path);
        ASSERT_TRUE(probe.ok) << probe.errors;
        EXPECT_EQ(probe.streams.size(), 2u);
        const int frames = decodedVideoFrames(path);
        EXPECT_GE(frames, framesWhollyBefore(ref, cut));
        EXPECT_LE(frames, ref.frames);
    }
}

// A file size limit makes the writes fail part-way. The sink writes behind a
// buffer of about a megabyte, so the failure shows when that buffer is first
// flushed: a host writing 8 s (about 1.5 MB) into a 64 KB limit learns it from
// WriteSample, while the file is still being written, and what reached the
// file stays readable; a limit a few bytes short of the finished file fails
// in CloseFile (the index and the header's final figures come last).
TEST_F(Robustness, WritesFailingPartWayAreReportedByTheClass)
{
    const Reference& ref = reference();
    ASSERT_GT(ref.size, 0);
    struct Case {
        int seconds;
        rlim_t limit;
        int exit;
    };
    const Case cases[] = {
        {8, 64 * 1024, kExitWrite},
        {2, static_cast<rlim_t>(ref.size - 8), kExitClose},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("file size limit " + std::to_string(c.limit));
        TempDir dir;
        const std::string path = dir.file("full-disk.wmv");
        EXPECT_EQ(waitHost(startHost(path, c.seconds, c.limit)), c.exit) << "(1000+n: killed by signal n)";
        EXPECT_EQ(fileSize(path), static_cast<long long>(c.limit));
        const auto probe = asfw::test::ffprobeStreams(path);
        EXPECT_TRUE(probe.ok) << probe.errors;
        EXPECT_EQ(probe.streams.size(), 2u);
    }
}

TEST(RobustnessInProcess, MissingOutputFolderOpensNothing)
{
    TempDir dir;
    const std::string folder = dir.file("missing");
    CAsfWriter w;
    ASSERT_EQ(w.Init(), 0);
    ASSERT_EQ(w.AddVideo(320, 240, 25, 1, 500, 0, 1), 0);
    EXPECT_EQ(w.OpenFile((folder + "/out.wmv").c_str()), -1);
    EXPECT_FALSE(exists(folder));
    std::vector<unsigned char> frame(320 * 240 * 3 / 2, 128);
    EXPECT_EQ(w.WriteSample(0, frame.data(), static_cast<int>(frame.size())), -1);
    w.CloseFile();  // nothing is being written: finishing has nothing to do
    EXPECT_FALSE(exists(folder));
    w.Close();
}

TEST(RobustnessInProcess, ReadOnlyOutputFolderIsRefused)
{
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    TempDir dir;
    const std::string folder = dir.file("locked");
    ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
    CAsfWriter w;
    ASSERT_EQ(w.Init(), 0);
    ASSERT_EQ(w.AddVideo(320, 240, 25, 1, 500, 0, 1), 0);
    EXPECT_EQ(w.OpenFile((folder + "/out.wmv").c_str()), -1);
    EXPECT_FALSE(exists(folder + "/out.wmv"));
    w.Close();
    ::chmod(folder.c_str(), 0755);
}

// Requests the runtime cannot serve must fail cleanly, not crash or abort
// on an allocation: a picture of 60000x60000 (5.4 GB per I420 frame), and
// samples whose size does not match the stream's input.
TEST(RobustnessInProcess, HugePictureIsRefusedOrFailsCleanly)
{
    TempDir dir;
    CAsfWriter w;
    ASSERT_EQ(w.Init(), 0);
    if (w.AddVideo(60000, 60000, 25, 1, 500, 0, 1) == 0) {
        EXPECT_EQ(w.OpenFile(dir.file("huge.wmv").c_str()), -1);
        w.CloseFile();
    }
    w.Close();
}

TEST(RobustnessInProcess, SamplesOfTheWrongSizeAreRefused)
{
    TempDir dir;
    CAsfWriter w;
    ASSERT_EQ(w.Init(), 0);
    ASSERT_EQ(w.AddVideo(320, 240, 25, 1, 500, 0, 1), 0);
    ASSERT_EQ(w.AddAudio(48000, 2, 128), 1);
    const std::string path = dir.file("sizes.wmv");
    ASSERT_EQ(w.OpenFile(path.c_str()), 0);
    const int frameBytes = 320 * 240 * 3 / 2;
    // Exactly as large as the size claims: reading further would be caught.
    std::vector<unsigned char> shortFrame(frameBytes - 1, 100);
    EXPECT_EQ(w.WriteSample(0, shortFrame.data(), static_cast<int>(shortFrame.size())), -1);
    EXPECT_EQ(w.videoTime, 0);
    std::vector<unsigned char> frame(frameBytes, 100);
    EXPECT_EQ(w.WriteSample(0, frame.data(), frameBytes), 0);
    std::vector<unsigned char> oddAudio(3, 0);  // not a whole 16-bit stereo sample
    const long long audioTime = w.audioTime;
    if (w.WriteSample(1, oddAudio.data(), 3) != 0) {
        EXPECT_EQ(w.audioTime, audioTime);
    }
    EXPECT_EQ(w.CloseFile(), 0);
    w.Close();
}
}  // namespace
