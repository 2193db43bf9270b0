#include "audio_wav.h"

#include <cstdio>

namespace asfw::test {

namespace {
void le16(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    v.push_back(static_cast<std::uint8_t>(x & 0xFF));
    v.push_back(static_cast<std::uint8_t>((x >> 8) & 0xFF));
}
void le32(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    le16(v, x & 0xFFFF);
    le16(v, x >> 16);
}
void tag(std::vector<std::uint8_t>& v, const char* t) { v.insert(v.end(), t, t + 4); }
}  // namespace

bool writeWmaWav(const std::string& path, const WmaWavFormat& f, const std::vector<std::uint8_t>& packets,
                 std::uint32_t sampleFrames)
{
    std::vector<std::uint8_t> out;
    const std::uint32_t fmtSize = 18 + static_cast<std::uint32_t>(f.extra.size());
    tag(out, "RIFF");
    le32(out, 4 + (8 + fmtSize) + (8 + 4) + (8 + static_cast<std::uint32_t>(packets.size())));
    tag(out, "WAVE");
    tag(out, "fmt ");
    le32(out, fmtSize);
    le16(out, 0x0161);
    le16(out, static_cast<std::uint32_t>(f.channels));
    le32(out, static_cast<std::uint32_t>(f.sampleRate));
    le32(out, f.avgBytesPerSec);
    le16(out, f.blockAlign);
    le16(out, 16);
    le16(out, static_cast<std::uint32_t>(f.extra.size()));
    out.insert(out.end(), f.extra.begin(), f.extra.end());
    tag(out, "fact");
    le32(out, 4);
    le32(out, sampleFrames);
    tag(out, "data");
    le32(out, static_cast<std::uint32_t>(packets.size()));
    out.insert(out.end(), packets.begin(), packets.end());
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

std::vector<std::int16_t> readS16(const std::string& path)
{
    std::vector<std::int16_t> out;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return out;
    std::int16_t buf[4096];
    for (;;) {
        const std::size_t n = std::fread(buf, sizeof(std::int16_t), 4096, file);
        out.insert(out.end(), buf, buf + n);
        if (n < 4096) break;
    }
    std::fclose(file);
    return out;
}

}  // namespace asfw::test
