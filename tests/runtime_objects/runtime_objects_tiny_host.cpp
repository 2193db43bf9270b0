// A minimal host: includes only the public header and links only the shared
// library. Writes one second of 160x120 video at 25 frames per second with
// a 48 kHz stereo tone to the path it is given; with "twopass" after the
// path, as peak-constrained VBR after a pre-processing pass.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "AsfWriter.h"

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) return 2;
    const bool twoPass = argc == 3 && std::string(argv[2]) == "twopass";
    CAsfWriter w;
    if (w.Init() != 0) return 10;
    if (w.AddVideo(160, 120, 25, 1, 300, twoPass ? 75 : 0, twoPass ? 2 : 1) != 0) return 11;
    if (w.AddAudio(44100, 2, 64) != 1) return 12;
    if (w.OpenFile(argv[1]) != 0) return 13;
    std::vector<unsigned char> frame(160 * 120 * 3 / 2);
    if (twoPass) {
        if (w.StartPrePass() != 0) return 17;
        for (int n = 0; n < 25; ++n) {
            for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>((i * 7 + n * 5) & 0xFF);
            if (w.WriteSample(0, frame.data(), static_cast<int>(frame.size())) != 0) return 18;
        }
        w.EndPrePass();
    }
    std::vector<unsigned char> audio(1920 * 4);  // 40 ms
    for (int n = 0; n < 25; ++n) {
        for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>((i * 7 + n * 5) & 0xFF);
        if (w.WriteSample(0, frame.data(), static_cast<int>(frame.size())) != 0) return 14;
        for (int k = 0; k < 1920; ++k) {
            const auto v = static_cast<short>(8000 * std::sin((n * 1920 + k) * 2 * 3.14159265 * 440 / 48000));
            audio[k * 4] = audio[k * 4 + 2] = static_cast<unsigned char>(v & 0xFF);
            audio[k * 4 + 1] = audio[k * 4 + 3] = static_cast<unsigned char>((v >> 8) & 0xFF);
        }
        if (w.WriteSample(1, audio.data(), static_cast<int>(audio.size())) != 0) return 15;
    }
    const int closed = w.CloseFile();
    w.Close();
    if (closed != 0) return 16;
    std::puts("ok");
    return 0;
}
