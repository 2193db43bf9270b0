// Writes one synthetic test sound as raw interleaved s16le.
// Usage: audio_signal_gen NAME RATE CHANNELS SECONDS out.raw
// NAME: speech, clicks, drums, tonal, music, sweep, tone.
#include <cstdio>
#include <cstdlib>

#include "../tests/support/audio_signals.h"

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s NAME RATE CHANNELS SECONDS out.raw\n", argv[0]);
        return 2;
    }
    const int rate = std::atoi(argv[2]);
    const int channels = std::atoi(argv[3]);
    const double seconds = std::atof(argv[4]);
    const std::vector<std::int16_t> pcm = asfw::test::interleave(asfw::test::namedSignal(argv[1], rate, seconds), channels);
    FILE* f = std::fopen(argv[5], "wb");
    if (!f) return 2;
    std::fwrite(pcm.data(), sizeof(std::int16_t), pcm.size(), f);
    std::fclose(f);
    return 0;
}
