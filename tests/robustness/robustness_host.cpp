// A small host program for the robustness tests. It includes only the
// public header and links only the shared library, as any host would.
//
//   robustness_host OUTPUT SECONDS [pause]
//
// Writes SECONDS of 320x240 video at 25 fps (a moving pattern) and 48 kHz
// stereo audio (a tone), interleaved frame by frame. SECONDS = 0 writes
// until the process is killed. With "pause", the host stops after SECONDS
// without finishing the file, says "paused" on standard output and waits to
// be killed. Exit status tells the tests which call failed: 0 success,
// 10 setting up, 11 OpenFile, 12 WriteSample, 13 CloseFile, 2 usage; a
// failing WriteSample is reported on standard output as
// "WriteSample failed at frame N".
#include "AsfWriter.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFps = 25;
constexpr int kAudioRate = 48000;
constexpr int kAudioBytesPerFrame = kAudioRate * 4 / kFps;  // 16-bit stereo

void drawFrame(std::vector<unsigned char>& frame, int n)
{
    unsigned char* y = frame.data();
    unsigned char* u = y + kWidth * kHeight;
    unsigned char* v = u + (kWidth / 2) * (kHeight / 2);
    for (int row = 0; row < kHeight; ++row)
        for (int col = 0; col < kWidth; ++col) {
            const int bar = ((col + 3 * n) / 16 + (row + n) / 16) & 1;
            y[row * kWidth + col] = static_cast<unsigned char>(bar ? 200 - (row & 31) : 40 + ((col + n) & 63));
        }
    for (int row = 0; row < kHeight / 2; ++row)
        for (int col = 0; col < kWidth / 2; ++col) {
            u[row * (kWidth / 2) + col] = static_cast<unsigned char>(128 + ((col + n) & 31) - 16);
            v[row * (kWidth / 2) + col] = static_cast<unsigned char>(128 + ((row - n) & 31) - 16);
        }
}

void makeTone(std::vector<unsigned char>& block, int n)
{
    const double step = 2.0 * 3.14159265358979 * 440.0 / kAudioRate;
    const int samples = kAudioBytesPerFrame / 4;
    for (int i = 0; i < samples; ++i) {
        const double t = static_cast<double>(n) * samples + i;
        const auto s = static_cast<short>(std::lround(8000.0 * std::sin(step * t)));
        for (int ch = 0; ch < 2; ++ch) {
            block[4 * i + 2 * ch] = static_cast<unsigned char>(s & 0xff);
            block[4 * i + 2 * ch + 1] = static_cast<unsigned char>((s >> 8) & 0xff);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && !(argc == 4 && std::strcmp(argv[3], "pause") == 0)) {
        std::fprintf(stderr, "usage: %s OUTPUT SECONDS [pause]\n", argv[0]);
        return 2;
    }
    const long seconds = std::strtol(argv[2], nullptr, 10);
    const bool pauseAtEnd = argc == 4;
    CAsfWriter writer;
    if (writer.Init() != 0 || writer.AddVideo(kWidth, kHeight, kFps, 1, 800, 0, 1) != 0 ||
        writer.AddAudio(kAudioRate, 2, 128) != 1) {
        std::fprintf(stderr, "setup failed\n");
        writer.Close();
        return 10;
    }
    if (writer.OpenFile(argv[1]) != 0) {
        std::fprintf(stderr, "OpenFile failed\n");
        writer.Close();
        return 11;
    }
    std::vector<unsigned char> frame(kWidth * kHeight * 3 / 2);
    std::vector<unsigned char> audio(kAudioBytesPerFrame);
    for (long n = 0; seconds == 0 || n < seconds * kFps; ++n) {
        drawFrame(frame, static_cast<int>(n));
        makeTone(audio, static_cast<int>(n));
        if (writer.WriteSample(0, frame.data(), static_cast<int>(frame.size())) != 0 ||
            writer.WriteSample(1, audio.data(), static_cast<int>(audio.size())) != 0) {
            std::printf("WriteSample failed at frame %ld\n", n);
            std::fflush(stdout);
            writer.CloseFile();
            writer.Close();
            return 12;
        }
    }
    if (pauseAtEnd) {
        std::printf("paused\n");
        std::fflush(stdout);
        for (;;) ::pause();
    }
    const int closed = writer.CloseFile();
    writer.Close();
    if (closed != 0) {
        std::fprintf(stderr, "CloseFile failed\n");
        return 13;
    }
    return 0;
}
