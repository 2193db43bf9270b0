// A minimal host of asfwriter.dll. Building it proves that the import
// library resolves every member of the public class; run on Windows it
// writes one second of grey 160x120 video with silent audio:
//   asfw_win32_host_check out.wmv
#include "AsfWriter.h"

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : "asfw_host_check.wmv";
    const int width = 160, height = 120;
    std::vector<unsigned char> frame(width * height * 3 / 2, 128);
    std::vector<unsigned char> pcm(1920 * 5, 0);  // 50 ms of 48 kHz stereo

    CAsfWriter w;
    CAsfWriter copy;
    copy = w;  // copy assignment is part of the exported surface
    int status = w.Init();
    if (status == 0) status = w.AddVideo(width, height, 25, 1, 300, 0, 2);  // two-pass constant bit rate
    if (status == 0 && w.AddAudio(48000, 2, 128) != 1) status = -1;
    if (status == 0) status = w.OpenFile(path);
    if (status == 0) {
        if (w.StartPrePass() == 0)
            for (int i = 0; i < 25; ++i) w.WriteSample(0, frame.data(), static_cast<int>(frame.size()));
        w.EndPrePass();
    }
    for (int i = 0; status == 0 && i < 25; ++i) {
        status = w.WriteSample(0, frame.data(), static_cast<int>(frame.size()));
        if (status == 0 && (i % 2) == 0) status = w.WriteSample(1, pcm.data(), static_cast<int>(pcm.size()));
    }
    w.CloseFile();
    w.Close();
    std::printf("%s: %s\n", path, status == 0 ? "written" : "failed");
    return status == 0 ? 0 : 1;
}
