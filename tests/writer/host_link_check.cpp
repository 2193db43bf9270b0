// A host program that knows only the public header and links only the
// shared library: it runs the whole calling sequence, two-pass video with
// audio, and checks every status and that the file was written.
#include <AsfWriter.h>

#include <cstdio>
#include <vector>

static int failures = 0;

static void Expect(const char* what, int got, int want)
{
    if (got != want) {
        std::fprintf(stderr, "%s returned %d, expected %d\n", what, got, want);
        ++failures;
    }
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wmv\n", argv[0]);
        return 2;
    }
    std::remove(argv[1]);
    const int width = 176, height = 144;
    std::vector<unsigned char> frame(width * height * 3 / 2);
    std::vector<unsigned char> pcm(1920);

    CAsfWriter w;
    Expect("Init", w.Init(), 0);
    Expect("AddVideo", w.AddVideo(width, height, 25, 1, 300, 0, 1), 0);
    Expect("AddAudio", w.AddAudio(44100, 2, 128), 1);
    Expect("OpenFile", w.OpenFile(argv[1]), 0);
    for (int i = 0; i < 25; ++i) {
        for (std::size_t k = 0; k < frame.size(); ++k)
            frame[k] = static_cast<unsigned char>(k * 3 + i * 5);
        Expect("WriteSample video", w.WriteSample(0, frame.data(), static_cast<int>(frame.size())), 0);
        for (int b = 0; b < 4; ++b)
            Expect("WriteSample audio", w.WriteSample(1, pcm.data(), static_cast<int>(pcm.size())), 0);
    }
    Expect("video clock", static_cast<int>(w.videoTime / 10000), 1000);
    Expect("audio clock", static_cast<int>(w.audioTime / 10000), 1000);
    Expect("WriteSample bad kind", w.WriteSample(2, pcm.data(), 4), -1);
    Expect("CloseFile", w.CloseFile(), 0);
    w.Close();

    std::FILE* f = std::fopen(argv[1], "rb");
    long size = 0;
    if (f != nullptr) {
        std::fseek(f, 0, SEEK_END);
        size = std::ftell(f);
        std::fclose(f);
    }
    if (size <= 0) {
        std::fprintf(stderr, "no file written at %s\n", argv[1]);
        ++failures;
    }
    std::remove(argv[1]);
    return failures == 0 ? 0 : 1;
}
