// Robustness of the whole library seen from a host: a host killed mid-file,
// files cut at arbitrary offsets, writes failing part-way (file size limit),
// a missing or read-only output folder, and requests too large to allocate.
#include "AsfWriter.h"
#include "support/asf_checkers.h"
#include "support/asf_reader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

struct HostOptions {
    rlim_t fileLimit = 0;  // > 0: caps the size of any file the host writes
    std::string log;       // where the host's standard output goes (empty: inherited)
    bool pause = false;    // stop after the media without finishing, and wait
};

// Starts the host writing `seconds` of media to `output` (0: until killed).
// With a file limit, the signal that limit raises is ignored, so the write
// itself fails.
pid_t startHost(const std::string& output, int seconds, const HostOptions& options = {})
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (options.fileLimit > 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{options.fileLimit, options.fileLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (!options.log.empty()) {
            const int fd = ::open(options.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::dup2(fd, 1) < 0) ::_exit(126);
        }
        const std::string secs = std::to_string(seconds);
        ::execl(ROBUSTNESS_HOST, ROBUSTNESS_HOST, output.c_str(), secs.c_str(), options.pause ? "pause" : nullptr,
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// The host's log once it holds `text` (waits up to a minute), or empty.
std::string waitForLog(const std::string& log, const std::string& text)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto bytes = asfw::test::readFileBytes(log);
        const std::string content(bytes.begin(), bytes.end());
        if (content.find(text) != std::string::npos) return content;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
}

// The frame whose WriteSample failed, from the host's log; -1 if none did.
long failedFrame(const std::string& log)
{
    const auto bytes = asfw::test::readFileBytes(log);
    const std::string content(bytes.begin(), bytes.end());
    const std::string tag = "WriteSample failed at frame ";
    const auto at = content.find(tag);
    return at == std::string::npos ? -1 : std::strtol(content.c_str() + at + tag.size(), nullptr, 10);
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

// A file size limit makes the writes fail part-way. Every packet goes to
// the file as soon as it is full, so the WriteSample that delivers the media
// crossing the limit (or the next one) reports it, and the append cut short
// is taken back off: the file ends after its last whole packet and stays
// readable. A limit inside the index fails in CloseFile and leaves all the
// packets (the index and the header's final figures come last).
TEST_F(Robustness, WritesFailingPartWayAreReportedByTheClass)
{
    const Reference& ref = reference();
    ASSERT_GT(ref.size, 0);
    ASSERT_GT(ref.packetSize, 0);
    const double bytesPerFrame = static_cast<double>(ref.dataEnd - ref.dataStart) / ref.frames;
    struct Case {
        const char* name;
        int seconds;
        long long limit;
        int exit;
        long long size;  // of the file left behind
    };
    const long long inPacket = ref.dataStart + 3 * ref.packetSize + ref.packetSize / 2;
    const Case cases[] = {
        {"64 KB", 8, 64 * 1024, kExitWrite, -1},
        {"inside the fourth packet", 2, inPacket, kExitWrite, ref.dataStart + 3 * ref.packetSize},
        {"inside the index", 2, ref.size - 8, kExitClose, ref.dataEnd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("file size limit ") + c.name + " (" + std::to_string(c.limit) + ")");
        TempDir dir;
        const std::string path = dir.file("full-disk.wmv");
        HostOptions options;
        options.fileLimit = static_cast<rlim_t>(c.limit);
        options.log = dir.file("host.log");
        EXPECT_EQ(waitHost(startHost(path, c.seconds, options)), c.exit) << "(1000+n: killed by signal n)";
        const long long size = fileSize(path);
        EXPECT_LE(size, c.limit);
        EXPECT_EQ((size - ref.dataStart) % ref.packetSize, 0) << "size " << size << ": a torn packet at the end";
        if (c.size >= 0) {
            EXPECT_EQ(size, c.size);
        }
        if (c.exit == kExitWrite) {
            // Reported with the media that crossed the limit: at most a few
            // frames of what the writer holds back for interleaving later.
            const long frame = failedFrame(options.log);
            ASSERT_GE(frame, 0);
            EXPECT_LE(static_cast<double>(frame) * bytesPerFrame, static_cast<double>(c.limit) + 8 * bytesPerFrame)
                << "failure reported at frame " << frame;
        }
        const auto probe = asfw::test::ffprobeStreams(path);
        EXPECT_TRUE(probe.ok) << probe.errors;
        EXPECT_EQ(probe.streams.size(), 2u);
        EXPECT_EQ(ffmpegDecodeLenient(path).exitCode, 0);
    }
}

// Every finished packet is in the file at once: a host stopped after 4 s
// of media (about 750 KB) and killed loses only what the writer still
// holds: the packet being filled, and the video the interleaving keeps
// until the audio encoder's output (which lags its input by about a third
// of a second) catches up. Half a second at most.
TEST_F(Robustness, HostKilledLosesOnlyThePacketBeingFilled)
{
    const Reference& ref = reference();
    ASSERT_GT(ref.packetSize, 0);
    TempDir dir;
    const std::string path = dir.file("paused.wmv");
    HostOptions options;
    options.log = dir.file("host.log");
    options.pause = true;
    const pid_t pid = startHost(path, 4, options);
    ASSERT_GT(pid, 0);
    const bool paused = !waitForLog(options.log, "paused").empty();
    ::kill(pid, SIGKILL);
    ASSERT_EQ(waitHost(pid), 1000 + SIGKILL);
    ASSERT_TRUE(paused) << "the host did not get through 4 s of media in a minute";
    const long long size = fileSize(path);
    EXPECT_EQ((size - ref.dataStart) % ref.packetSize, 0) << "size " << size;
    const int frames = decodedVideoFrames(path);
    EXPECT_GE(frames, 100 - 12);
    EXPECT_LE(frames, 100);
}

// The output folder removed while the file is written (the file with it):
// WriteSample reports it within a few packets; nothing crashes.
TEST_F(Robustness, OutputFolderRemovedMidFileIsReported)
{
    TempDir dir;
    const std::string folder = dir.file("out");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string path = folder + "/removed.wmv";
    HostOptions options;
    options.log = dir.file("host.log");
    const pid_t pid = startHost(path, 0, options);
    ASSERT_GT(pid, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (fileSize(path) < 100 * 1024 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    ASSERT_FALSE(ec) << ec.message();
    // The host writes until a call fails; give it a minute.
    const bool failed = !waitForLog(options.log, "WriteSample failed").empty();
    if (!failed) ::kill(pid, SIGKILL);
    EXPECT_EQ(waitHost(pid), kExitWrite) << "(1000+n: killed by signal n)";
    EXPECT_TRUE(failed);
    EXPECT_FALSE(exists(folder));
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

// Folders no file can be created in: one without write permission (for
// root, which permissions do not bind, /sys, where the kernel refuses new
// files), and a file standing where a folder should be.
TEST(RobustnessInProcess, UnwritableOutputFolderIsRefused)
{
    TempDir dir;
    std::string locked = dir.file("locked");
    ASSERT_EQ(::mkdir(locked.c_str(), 0555), 0);
    if (::geteuid() == 0) locked = "/sys";
    const std::string notAFolder = dir.file("plain-file");
    ASSERT_TRUE(asfw::test::writeFileBytes(notAFolder, {1, 2, 3}));
    for (const std::string& folder : {locked, notAFolder}) {
        SCOPED_TRACE(folder);
        const std::string path = folder + "/out.wmv";
        const int probe = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (probe >= 0) {  // this system lets the file be made after all
            ::close(probe);
            ::unlink(path.c_str());
            continue;
        }
        CAsfWriter w;
        ASSERT_EQ(w.Init(), 0);
        ASSERT_EQ(w.AddVideo(320, 240, 25, 1, 500, 0, 1), 0);
        EXPECT_EQ(w.OpenFile(path.c_str()), -1);
        EXPECT_FALSE(exists(path));
        std::vector<unsigned char> frame(320 * 240 * 3 / 2, 128);
        EXPECT_EQ(w.WriteSample(0, frame.data(), static_cast<int>(frame.size())), -1);
        w.Close();
    }
    ::chmod(dir.file("locked").c_str(), 0755);
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
