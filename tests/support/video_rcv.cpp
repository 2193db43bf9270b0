#include "support/video_rcv.h"

#include "support/test_support.h"

namespace asfw::test {

namespace {

void le32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> makeRcv(const std::vector<std::uint8_t>& sequenceHeader, int width, int height,
                                  const std::vector<RcvFrame>& frames, std::uint32_t framesPerSecond)
{
    std::vector<std::uint8_t> out;
    const std::uint32_t count = static_cast<std::uint32_t>(frames.size()) & 0xFFFFFF;
    out.push_back(static_cast<std::uint8_t>(count));
    out.push_back(static_cast<std::uint8_t>(count >> 8));
    out.push_back(static_cast<std::uint8_t>(count >> 16));
    out.push_back(0xC5);
    le32(out, 4);
    for (int i = 0; i < 4; ++i) out.push_back(i < static_cast<int>(sequenceHeader.size()) ? sequenceHeader[i] : 0);
    le32(out, static_cast<std::uint32_t>(height));
    le32(out, static_cast<std::uint32_t>(width));
    le32(out, 12);
    le32(out, 0x80000000u);  // LEVEL/CBR/reserved
    le32(out, 0);            // HRD buffer
    le32(out, framesPerSecond);
    for (const RcvFrame& f : frames) {
        const std::uint32_t size = static_cast<std::uint32_t>(f.data.size()) & 0xFFFFFF;
        le32(out, size | (f.keyFrame ? 0x80000000u : 0u));
        le32(out, f.timeMs);
        out.insert(out.end(), f.data.begin(), f.data.end());
    }
    return out;
}

DecodeResult ffmpegDecodeI420(const std::string& file, int width, int height)
{
    DecodeResult result;
    TempDir dir;
    const std::string raw = dir.file("out.yuv");
    // No -xerror: FFmpeg's vc1test demuxer ends every file with EIO instead
    // of EOF, and -xerror would turn that into a failed run before the last
    // pictures are written. That one line is removed; any other message
    // (decode errors are fatal to the frame with -err_detect explode) stays.
    const CommandResult r = runCommand("ffmpeg -nostdin -v error -err_detect explode -i " + shellQuote(file) +
                                       " -f rawvideo -pix_fmt yuv420p -fps_mode passthrough -y " + shellQuote(raw));
    result.errors = r.errors;
    const std::string endOfFile = file + ": Input/output error\n";
    const std::size_t at = result.errors.rfind(endOfFile);
    if (at != std::string::npos && at + endOfFile.size() == result.errors.size()) result.errors.erase(at);
    result.ran = r.exitCode == 0;
    const std::vector<std::uint8_t> bytes = readFileBytes(raw);
    const std::size_t frameSize = static_cast<std::size_t>(width) * height * 3 / 2;
    for (std::size_t off = 0; frameSize > 0 && off + frameSize <= bytes.size(); off += frameSize)
        result.frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(off),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(off + frameSize));
    return result;
}

std::string firstI420Difference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, int width,
                                int height)
{
    if (a.size() != b.size()) return "sizes differ: " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
    const std::size_t lumaSize = static_cast<std::size_t>(width) * height;
    const int cw = width / 2;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        std::string where;
        if (i < lumaSize) {
            where = "Y (" + std::to_string(i % width) + "," + std::to_string(i / width) + ")";
        } else {
            const std::size_t c = (i - lumaSize) % (lumaSize / 4);
            where = std::string(i - lumaSize < lumaSize / 4 ? "Cb" : "Cr") + " (" + std::to_string(c % cw) + "," +
                    std::to_string(c / cw) + ")";
        }
        return where + " " + std::to_string(a[i]) + " vs " + std::to_string(b[i]);
    }
    return {};
}

}  // namespace asfw::test
