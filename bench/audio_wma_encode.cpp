// Encodes raw interleaved s16le PCM (at the stream's rate and channels)
// with the built-in WMA encoder into a WAV file (format tag 0x0161) that
// FFmpeg reads. Usage: audio_wma_encode RATE CHANNELS KBPS in.raw out.wav
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio_encoder/wma9_encoder.h"

namespace {
void le16(std::vector<unsigned char>& v, unsigned x)
{
    v.push_back(static_cast<unsigned char>(x & 255));
    v.push_back(static_cast<unsigned char>((x >> 8) & 255));
}
void le32(std::vector<unsigned char>& v, unsigned x)
{
    le16(v, x & 0xFFFF);
    le16(v, x >> 16);
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s RATE CHANNELS KBPS in.raw out.wav\n", argv[0]);
        return 2;
    }
    asfw::AudioSettings s;
    s.sampleRate = std::atoi(argv[1]);
    s.channels = std::atoi(argv[2]);
    s.avgBytesPerSec = static_cast<std::uint32_t>(std::atoi(argv[3])) * 1000u / 8u;
    const asfw::Wma9Format* fmt = nullptr;
    for (const auto& f : asfw::wma9CbrFormats())
        if (f.sampleRate == s.sampleRate && f.channels == s.channels && f.avgBytesPerSec == s.avgBytesPerSec) fmt = &f;
    if (!fmt) {
        std::fprintf(stderr, "no such format\n");
        return 2;
    }
    s.blockAlign = fmt->blockAlign;
    std::string err;
    auto enc = asfw::createWma9Encoder(s, &err);
    if (!enc) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    FILE* in = std::strcmp(argv[4], "-") == 0 ? stdin : std::fopen(argv[4], "rb");
    if (!in) return 2;
    std::vector<unsigned char> data;
    std::vector<unsigned char> chunk(static_cast<std::size_t>(s.channels) * 2 * 1024);
    asfw::MediaObjects objs;
    std::int64_t samples = 0;
    for (;;) {
        const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), in);
        const std::size_t whole = n - n % (static_cast<std::size_t>(s.channels) * 2);
        if (whole) {
            if (!enc->encode(chunk.data(), whole, samples * 10000000 / s.sampleRate, objs)) return 1;
            samples += static_cast<std::int64_t>(whole / (static_cast<std::size_t>(s.channels) * 2));
        }
        if (n < chunk.size()) break;
    }
    enc->flush(objs);
    for (const auto& o : objs) data.insert(data.end(), o.data.begin(), o.data.end());
    std::vector<unsigned char> out;
    const std::vector<std::uint8_t> extra = enc->codecData();
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    le32(out, static_cast<unsigned>(4 + 8 + 18 + extra.size() + 8 + 4 + 8 + data.size()));
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    le32(out, static_cast<unsigned>(18 + extra.size()));
    le16(out, 0x0161);
    le16(out, static_cast<unsigned>(s.channels));
    le32(out, static_cast<unsigned>(s.sampleRate));
    le32(out, s.avgBytesPerSec);
    le16(out, s.blockAlign);
    le16(out, 16);
    le16(out, static_cast<unsigned>(extra.size()));
    out.insert(out.end(), extra.begin(), extra.end());
    out.insert(out.end(), {'f', 'a', 'c', 't'});
    le32(out, 4);
    le32(out, static_cast<unsigned>(samples));
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    le32(out, static_cast<unsigned>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    FILE* f = std::fopen(argv[5], "wb");
    if (!f) return 2;
    std::fwrite(out.data(), 1, out.size(), f);
    std::fclose(f);
    std::fprintf(stderr, "packets %zu bytes %zu samples %lld\n", objs.size(), data.size(), static_cast<long long>(samples));
    return 0;
}
