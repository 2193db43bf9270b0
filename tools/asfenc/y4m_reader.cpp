#include "y4m_reader.h"

#include <cstring>

namespace asfenc {

namespace {

constexpr char kMagic[] = "YUV4MPEG2";
constexpr std::size_t kMagicBytes = 9;
constexpr std::size_t kMaxHeaderLine = 65536;

// A decimal number of at most nine digits, nothing else.
bool parseCount(const std::string& text, int& value)
{
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    value = v;
    return true;
}

bool parseRatio(const std::string& text, int& num, int& den)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    return parseCount(text.substr(0, colon), num) && parseCount(text.substr(colon + 1), den);
}

ReadResult readFrameBytes(ByteInput& input, std::uint8_t* data, std::size_t size, std::uint64_t index,
                          std::string& error)
{
    const std::size_t got = input.readFully(data, size);
    if (got == size) return ReadResult::Ok;
    if (input.failed()) {
        error = "read error in frame " + std::to_string(index + 1);
        return ReadResult::IoError;
    }
    error = "frame " + std::to_string(index + 1) + " is cut short (" + std::to_string(got) + " of " +
            std::to_string(size) + " bytes)";
    return ReadResult::Truncated;
}

}  // namespace

bool validPictureSize(int width, int height, std::string& error)
{
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) {
        error = "picture size " + std::to_string(width) + "x" + std::to_string(height) +
                " is out of range (2 to " + std::to_string(kMaxDimension) + ")";
        return false;
    }
    if (width % 2 != 0 || height % 2 != 0) {
        error = "picture size " + std::to_string(width) + "x" + std::to_string(height) +
                " is odd; 4:2:0 video needs an even width and height";
        return false;
    }
    return true;
}

ReadResult Y4mReader::readLine(std::string& line, std::size_t limit, std::string& error, const char* what)
{
    line.clear();
    for (;;) {
        char c;
        if (input_.read(&c, 1) != 1) {
            if (input_.failed()) {
                error = std::string("read error in the ") + what;
                return ReadResult::IoError;
            }
            error = std::string("the ") + what + " is cut short";
            return ReadResult::Truncated;
        }
        if (c == '\n') return ReadResult::Ok;
        if (line.size() >= limit) {
            error = std::string("the ") + what + " is too long";
            return ReadResult::Invalid;
        }
        line.push_back(c);
    }
}

ReadResult Y4mReader::readHeader(std::string& error, bool magicRead)
{
    if (!magicRead) {
        char magic[kMagicBytes];
        const std::size_t got = input_.readFully(magic, kMagicBytes);
        if (got < kMagicBytes && input_.failed()) {
            error = "read error in the stream header";
            return ReadResult::IoError;
        }
        if (got < kMagicBytes || std::memcmp(magic, kMagic, kMagicBytes) != 0) {
            error = "not a YUV4MPEG2 stream";
            return got < kMagicBytes && std::memcmp(magic, kMagic, got) == 0 ? ReadResult::Truncated
                                                                              : ReadResult::Invalid;
        }
    }
    std::string line;
    const ReadResult r = readLine(line, kMaxHeaderLine, error, "YUV4MPEG2 stream header");
    if (r != ReadResult::Ok) return r;
    if (!line.empty() && line[0] != ' ') {
        error = "not a YUV4MPEG2 stream header";
        return ReadResult::Invalid;
    }

    VideoFormat f;
    bool haveWidth = false, haveHeight = false;
    chroma_ = "420jpeg";
    interlaced_ = false;
    std::size_t pos = 0;
    while (pos < line.size()) {
        if (line[pos] == ' ') {
            ++pos;
            continue;
        }
        std::size_t end = line.find(' ', pos);
        if (end == std::string::npos) end = line.size();
        const char tag = line[pos];
        const std::string value = line.substr(pos + 1, end - pos - 1);
        pos = end;
        switch (tag) {
        case 'W':
            if (!parseCount(value, f.width)) {
                error = "bad width '" + value + "' in the YUV4MPEG2 header";
                return ReadResult::Invalid;
            }
            haveWidth = true;
            break;
        case 'H':
            if (!parseCount(value, f.height)) {
                error = "bad height '" + value + "' in the YUV4MPEG2 header";
                return ReadResult::Invalid;
            }
            haveHeight = true;
            break;
        case 'F':
            if (!parseRatio(value, f.fpsNum, f.fpsDen) || f.fpsNum <= 0 || f.fpsDen <= 0) {
                error = "bad frame rate '" + value + "' in the YUV4MPEG2 header";
                return ReadResult::Invalid;
            }
            break;
        case 'C':
            chroma_ = value;
            break;
        case 'I':
            interlaced_ = !value.empty() && value != "p" && value != "?";
            break;
        default:  // aspect ratio, comments and tags this reader does not use
            break;
        }
    }
    if (!haveWidth || !haveHeight) {
        error = "the YUV4MPEG2 header gives no picture size";
        return ReadResult::Invalid;
    }
    if (chroma_ != "420jpeg" && chroma_ != "420paldv" && chroma_ != "420mpeg2" && chroma_ != "420") {
        error = "unsupported chroma format 'C" + chroma_ + "' (only 8-bit 4:2:0 is taken; convert with " +
                "ffmpeg ... -pix_fmt yuv420p -f yuv4mpegpipe)";
        return ReadResult::Invalid;
    }
    if (!validPictureSize(f.width, f.height, error)) return ReadResult::Invalid;
    format_ = f;
    frames_ = 0;
    return ReadResult::Ok;
}

ReadResult Y4mReader::next(std::vector<std::uint8_t>& frame, std::string& error)
{
    char tag[5];
    const std::size_t got = input_.readFully(tag, sizeof tag);
    if (got == 0) {
        if (input_.failed()) {
            error = "read error before frame " + std::to_string(frames_ + 1);
            return ReadResult::IoError;
        }
        return ReadResult::End;
    }
    if (got < sizeof tag) {
        if (std::memcmp(tag, "FRAME", got) == 0) {
            error = "the header of frame " + std::to_string(frames_ + 1) + " is cut short";
            return ReadResult::Truncated;
        }
        error = "expected FRAME at frame " + std::to_string(frames_ + 1);
        return ReadResult::Invalid;
    }
    if (std::memcmp(tag, "FRAME", sizeof tag) != 0) {
        error = "expected FRAME at frame " + std::to_string(frames_ + 1);
        return ReadResult::Invalid;
    }
    std::string params;
    const ReadResult r = readLine(params, kMaxHeaderLine, error, "frame header");
    if (r != ReadResult::Ok) {
        error += " (frame " + std::to_string(frames_ + 1) + ")";
        return r;
    }
    if (!params.empty() && params[0] != ' ') {
        error = "expected FRAME at frame " + std::to_string(frames_ + 1);
        return ReadResult::Invalid;
    }
    frame.resize(format_.frameBytes());
    const ReadResult fr = readFrameBytes(input_, frame.data(), frame.size(), frames_, error);
    if (fr == ReadResult::Ok) ++frames_;
    return fr;
}

bool Y4mReader::restart(std::string& error)
{
    if (!input_.canRewind() || !input_.rewind()) {
        error = "the video input cannot be read twice (it is not a regular file)";
        return false;
    }
    const VideoFormat before = format_;
    if (readHeader(error) != ReadResult::Ok) return false;
    if (before.width != format_.width || before.height != format_.height) {
        error = "the video input changed while it was read";
        return false;
    }
    format_ = before;  // keeps a frame rate the caller set
    return true;
}

ReadResult RawI420Reader::next(std::vector<std::uint8_t>& frame, std::string& error)
{
    frame.resize(format_.frameBytes());
    std::size_t have = 0;
    if (!prefix_.empty()) {
        have = std::min(prefix_.size(), frame.size());
        std::memcpy(frame.data(), prefix_.data(), have);
        prefix_.erase(prefix_.begin(), prefix_.begin() + static_cast<std::ptrdiff_t>(have));
    }
    const std::size_t got = input_.readFully(frame.data() + have, frame.size() - have);
    if (have + got == 0) {
        if (input_.failed()) {
            error = "read error before frame " + std::to_string(frames_ + 1);
            return ReadResult::IoError;
        }
        return ReadResult::End;
    }
    if (have + got < frame.size()) {
        if (input_.failed()) {
            error = "read error in frame " + std::to_string(frames_ + 1);
            return ReadResult::IoError;
        }
        error = "frame " + std::to_string(frames_ + 1) + " is cut short (" + std::to_string(have + got) + " of " +
                std::to_string(frame.size()) + " bytes)";
        return ReadResult::Truncated;
    }
    ++frames_;
    return ReadResult::Ok;
}

bool RawI420Reader::restart(std::string& error)
{
    if (!input_.canRewind() || !input_.rewind()) {
        error = "the video input cannot be read twice (it is not a regular file)";
        return false;
    }
    prefix_.clear();
    frames_ = 0;
    return true;
}

ReadResult openVideo(ByteInput& input, const VideoFormat& rawFormat, std::unique_ptr<VideoSource>& source,
                     std::string& error)
{
    std::vector<std::uint8_t> head(kMagicBytes);
    const std::size_t got = input.readFully(head.data(), head.size());
    head.resize(got);
    if (input.failed()) {
        error = "read error at the start of the video input";
        return ReadResult::IoError;
    }
    if (got == kMagicBytes && std::memcmp(head.data(), kMagic, kMagicBytes) == 0) {
        auto reader = std::make_unique<Y4mReader>(input);
        const ReadResult r = reader->readHeader(error, true);
        if (r != ReadResult::Ok) return r;
        source = std::move(reader);
        return ReadResult::Ok;
    }
    if (rawFormat.width == 0 && rawFormat.height == 0) {
        if (got == 0) {
            error = "the video input is empty";
            return ReadResult::Invalid;
        }
        if (std::memcmp(head.data(), kMagic, got) == 0) {
            error = "the YUV4MPEG2 stream header is cut short";
            return ReadResult::Truncated;
        }
        error = "not a YUV4MPEG2 stream (for raw I420 give --size WxH and --fps N[/D])";
        return ReadResult::Invalid;
    }
    if (!validPictureSize(rawFormat.width, rawFormat.height, error)) return ReadResult::Invalid;
    if (rawFormat.fpsNum <= 0 || rawFormat.fpsDen <= 0) {
        error = "raw I420 input needs a frame rate (--fps N[/D])";
        return ReadResult::Invalid;
    }
    source = std::make_unique<RawI420Reader>(input, rawFormat, std::move(head));
    return ReadResult::Ok;
}

}  // namespace asfenc
