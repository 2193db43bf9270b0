// asfenc: writes an ASF file (Windows Media Video 9 / Windows Media Audio 9)
// from a YUV4MPEG2 or raw I420 video file and/or a WAV file, or from a
// built-in test pattern, through the asfwriter library.
#include "AsfWriter.h"

#include "audio_convert.h"
#include "byte_input.h"
#include "demo_source.h"
#include "options.h"
#include "wav_reader.h"
#include "y4m_reader.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace asfenc;

constexpr int kExitOk = 0;
constexpr int kExitLibrary = 1;
constexpr int kExitInput = 2;
constexpr int kExitInterrupted = 130;

volatile std::sig_atomic_t g_interrupted = 0;

// The first Ctrl-C (or SIGTERM) asks for the file to be finished with what
// it has; a second one ends the program at once. The handler is installed
// without SA_RESTART so that a read blocked on a silent pipe gives up.
void onInterrupt(int signal)
{
    if (g_interrupted) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_interrupted = 1;
}

void catchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void complain(const std::string& message) { std::fprintf(stderr, "asfenc: %s\n", message.c_str()); }

std::string fpsText(int num, int den)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", static_cast<double>(num) / den);
    return buffer;
}

std::int64_t fileSize(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

// Everything the run reads from: the inputs and what they turned into.
struct Inputs {
    FileInput videoFile, audioFile;
    // When both streams come from pipes, each is drained on its own thread
    // (declared after the files: they stop before the files close).
    std::unique_ptr<PipeDrain> videoDrain, audioDrain;
    std::unique_ptr<VideoSource> video;
    std::unique_ptr<WavReader> wav;
    std::unique_ptr<AudioSource> audio;
    std::string videoNote, audioNote;  // for the summary
};

int openInputs(const Options& o, Inputs& in)
{
    std::string error;
    if (o.demo) {
        auto video = std::make_unique<DemoVideo>(300);
        in.audio = std::make_unique<DemoAudio>(demoAudioFrames(300));
        in.video = std::move(video);
        return kExitOk;
    }
    // Both files are opened before either is read: two named pipes fed by
    // one program (ffmpeg writing video and audio) open in any order.
    if (!o.video.empty() && !in.videoFile.open(o.video, error)) {
        complain(error);
        return kExitInput;
    }
    if (!o.audio.empty() && !in.audioFile.open(o.audio, error)) {
        complain(error);
        return kExitInput;
    }
    ByteInput* videoInput = &in.videoFile;
    ByteInput* audioInput = &in.audioFile;
    // Only two pipes can block each other (one program writing both, in its
    // own order); a pipe beside a file is read as it comes, so it is never
    // held in memory.
    if (!o.video.empty() && !o.audio.empty() && !in.videoFile.canRewind() && !in.audioFile.canRewind()) {
        videoInput = (in.videoDrain = std::make_unique<PipeDrain>(in.videoFile)).get();
        audioInput = (in.audioDrain = std::make_unique<PipeDrain>(in.audioFile)).get();
    }
    if (!o.video.empty()) {
        VideoFormat raw;
        raw.width = o.width;
        raw.height = o.height;
        raw.fpsNum = o.fpsNum;
        raw.fpsDen = o.fpsDen;
        const ReadResult r = openVideo(*videoInput, raw, in.video, error);
        if (r != ReadResult::Ok) {
            complain((o.video == "-" ? std::string("video") : "'" + o.video + "'") + ": " + error);
            return kExitInput;
        }
        auto* y4m = dynamic_cast<Y4mReader*>(in.video.get());
        if (y4m != nullptr) {
            if (o.fpsNum != 0) y4m->setFrameRate(o.fpsNum, o.fpsDen);
            const VideoFormat& f = y4m->format();
            if (o.width != 0 && (o.width != f.width || o.height != f.height)) {
                complain("--size " + std::to_string(o.width) + "x" + std::to_string(o.height) +
                         " does not match the YUV4MPEG2 stream's " + std::to_string(f.width) + "x" +
                         std::to_string(f.height));
                return kExitInput;
            }
            if (f.fpsNum <= 0) {
                complain("the YUV4MPEG2 stream gives no frame rate; give one with --fps N[/D]");
                return kExitInput;
            }
            if (y4m->interlaced()) complain("note: the video is marked interlaced; it is coded as progressive");
        }
        if (o.passes == 2 && !in.videoFile.canRewind()) {
            complain("--passes 2 reads the video twice; '" + o.video + "' is not a regular file");
            return kExitInput;
        }
    }
    if (!o.audio.empty()) {
        in.wav = std::make_unique<WavReader>(*audioInput);
        const ReadResult r = in.wav->readHeader(error);
        if (r != ReadResult::Ok) {
            complain((o.audio == "-" ? std::string("audio") : "'" + o.audio + "'") + ": " + error);
            return kExitInput;
        }
        auto source = std::make_unique<WavAudioSource>(*in.wav);
        if (!source->ready(error)) {
            complain(error);
            return kExitInput;
        }
        in.audio = std::move(source);
    }
    return kExitOk;
}

class Progress {
public:
    Progress(const std::string& output, bool enabled) : output_(output), enabled_(enabled), start_(Clock::now()) {}

    void update(long long frames, double seconds)
    {
        if (!enabled_) return;
        const auto now = Clock::now();
        if (shown_ && now - last_ < std::chrono::milliseconds(250)) return;
        last_ = now;
        shown_ = true;
        const double wall = std::chrono::duration<double>(now - start_).count();
        const std::int64_t size = fileSize(output_);
        char rate[48] = "";
        if (seconds > 0 && size > 0) std::snprintf(rate, sizeof rate, "  %.0f kbit/s", size * 8.0 / seconds / 1000.0);
        char line[160];
        std::snprintf(line, sizeof line, "\rframes %lld  %.2f s  speed %.2fx%s   ", frames, seconds,
                      wall > 0 ? seconds / wall : 0.0, rate);
        std::fputs(line, stderr);
        std::fflush(stderr);
    }
    void finish()
    {
        if (enabled_ && shown_) std::fputs("\r\033[K", stderr);
    }
    double elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

private:
    using Clock = std::chrono::steady_clock;
    std::string output_;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_, last_;
};

int run(const Options& o)
{
    catchInterrupts();
    Inputs in;
    if (const int status = openInputs(o, in); status != kExitOk) return g_interrupted ? kExitInterrupted : status;
    const bool haveVideo = in.video != nullptr;
    const bool haveAudio = in.audio != nullptr;
    VideoFormat vf;
    if (haveVideo) vf = in.video->format();

    CAsfWriter writer;
    auto libraryFailure = [&](const std::string& what) {
        complain(what);
        writer.Close();
        return kExitLibrary;
    };
    if (writer.Init() != 0) return libraryFailure("the library could not start (Init failed)");
    if (haveVideo && writer.AddVideo(vf.width, vf.height, vf.fpsNum, vf.fpsDen, o.videoKbps, o.quality, o.passes) != 0)
        return libraryFailure("the library refused the video stream (" + std::to_string(vf.width) + "x" +
                              std::to_string(vf.height) + " at " + std::to_string(vf.fpsNum) + "/" +
                              std::to_string(vf.fpsDen) + " fps, " + std::to_string(o.videoKbps) + " kbit/s)");
    if (haveAudio && writer.AddAudio(o.audioRate, o.audioChannels, o.audioKbps) != 1)
        return libraryFailure("the library has no audio format for " + std::to_string(o.audioRate) + " Hz, " +
                              std::to_string(o.audioChannels) + " channel(s), at most " +
                              std::to_string(o.audioKbps) + " kbit/s");
    if (writer.OpenFile(o.output.c_str()) != 0) return libraryFailure("cannot write '" + o.output + "'");

    Progress progress(o.output, isatty(fileno(stderr)) != 0);

    int status = kExitOk;
    std::string error;
    std::vector<std::uint8_t> frame, block;

    // The pre-processing pass: every video frame once, then back to the start.
    if (haveVideo && o.passes == 2) {
        if (writer.StartPrePass() != 0) {
            writer.CloseFile();
            return libraryFailure("the library could not start the pre-processing pass");
        }
        long long count = 0;
        for (;;) {
            if (g_interrupted) break;
            const ReadResult r = in.video->next(frame, error);
            if (r != ReadResult::Ok) break;  // a bad input is reported by the main pass
            if (writer.WriteSample(0, frame.data(), static_cast<int>(frame.size())) != 0) {
                writer.EndPrePass();
                writer.CloseFile();
                return libraryFailure("the library refused frame " + std::to_string(count + 1) +
                                      " in the pre-processing pass");
            }
            ++count;
            progress.update(count, static_cast<double>(count) * vf.fpsDen / vf.fpsNum);
        }
        writer.EndPrePass();
        if (!g_interrupted && !in.video->restart(error)) {
            complain(error);
            writer.CloseFile();
            writer.Close();
            return kExitInput;
        }
    }

    // The real pass: video frames and 10 ms audio blocks in time order.
    long long frames = 0, blocks = 0;
    bool videoDone = !haveVideo, audioDone = !haveAudio;
    while ((!videoDone || !audioDone) && !g_interrupted) {
        // Frame `frames` starts at frames*den/num s, block `blocks` at blocks/100 s.
        const bool takeVideo =
            !videoDone && (audioDone || static_cast<long double>(frames) * vf.fpsDen * 100 <=
                                            static_cast<long double>(blocks) * vf.fpsNum);
        if (takeVideo) {
            const ReadResult r = in.video->next(frame, error);
            if (r == ReadResult::End) {
                videoDone = true;
                continue;
            }
            if (r != ReadResult::Ok && g_interrupted) break;
            if (r != ReadResult::Ok) {
                complain((o.video == "-" ? std::string("video") : "'" + o.video + "'") + ": " + error +
                         "; the file holds the " + std::to_string(frames) + " complete frames before it");
                status = kExitInput;
                break;
            }
            if (writer.WriteSample(0, frame.data(), static_cast<int>(frame.size())) != 0) {
                complain("the library refused video frame " + std::to_string(frames + 1));
                status = kExitLibrary;
                break;
            }
            ++frames;
        } else {
            const ReadResult r = in.audio->next(block, error);
            if (r == ReadResult::End) {
                audioDone = true;
                continue;
            }
            if (r != ReadResult::Ok && g_interrupted) break;
            if (r != ReadResult::Ok) {
                complain((o.audio == "-" ? std::string("audio") : "'" + o.audio + "'") + ": " + error +
                         "; the file holds the audio before it");
                status = kExitInput;
                break;
            }
            if (writer.WriteSample(1, block.data(), static_cast<int>(block.size())) != 0) {
                complain("the library refused audio block " + std::to_string(blocks + 1));
                status = kExitLibrary;
                break;
            }
            ++blocks;
        }
        const double videoSeconds = haveVideo ? static_cast<double>(frames) * vf.fpsDen / vf.fpsNum : 0.0;
        const double audioSeconds = haveAudio ? static_cast<double>(in.audio->framesDelivered()) / 48000.0 : 0.0;
        progress.update(frames, std::max(videoSeconds, audioSeconds));
    }
    progress.finish();
    if (g_interrupted && status == kExitOk) {
        complain("interrupted; finishing the file with what was written so far");
        status = kExitInterrupted;
    }

    const int closed = writer.CloseFile();
    writer.Close();
    if (closed != 0) {
        complain("the library could not finish '" + o.output + "'");
        return kExitLibrary;
    }

    // One line: streams, duration, size, average bit rate.
    const double videoSeconds = haveVideo ? static_cast<double>(frames) * vf.fpsDen / vf.fpsNum : 0.0;
    const double audioSeconds = haveAudio ? static_cast<double>(in.audio->framesDelivered()) / 48000.0 : 0.0;
    const double seconds = std::max(videoSeconds, audioSeconds);
    const std::int64_t size = fileSize(o.output);
    std::string streams;
    if (haveVideo) {
        streams += "video " + std::to_string(vf.width) + "x" + std::to_string(vf.height) + " " +
                   fpsText(vf.fpsNum, vf.fpsDen) + " fps " + std::to_string(frames) + " frames (" +
                   (o.quality == 0 ? "CBR " + std::to_string(o.videoKbps) + " kbit/s"
                                   : "VBR quality " + std::to_string(o.quality)) +
                   (o.passes == 2 ? ", 2 passes" : "") + ")";
    }
    if (haveAudio) {
        if (!streams.empty()) streams += " + ";
        streams += "audio " + std::to_string(o.audioRate) + " Hz " + (o.audioChannels == 1 ? "mono" : "stereo") +
                   " (at most " + std::to_string(o.audioKbps) + " kbit/s)";
    }
    char summary[512];
    std::snprintf(summary, sizeof summary, "%s: %s; %.2f s, %lld bytes, %.0f kbit/s average, %.1fx real time\n",
                  o.output.c_str(), streams.c_str(), seconds, static_cast<long long>(size),
                  seconds > 0 && size > 0 ? size * 8.0 / seconds / 1000.0 : 0.0,
                  progress.elapsed() > 0 ? seconds / progress.elapsed() : 0.0);
    std::fputs(summary, stdout);
    std::fflush(stdout);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    std::string error;
    switch (parseOptions(args, options, error)) {
    case ParseStatus::Help:
        std::fputs(usageText(), stdout);
        return kExitOk;
    case ParseStatus::Version:
        std::puts("asfenc 0.1.0");
        return kExitOk;
    case ParseStatus::Error:
        complain(error);
        std::fputs("Try 'asfenc --help'.\n", stderr);
        return kExitInput;
    case ParseStatus::Run:
        break;
    }
    try {
        return run(options);
    } catch (const std::bad_alloc&) {
        complain("out of memory");
        return kExitLibrary;
    }
}
