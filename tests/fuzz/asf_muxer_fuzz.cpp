// Fuzz target: the ASF muxer fed random stream configurations, payload
// sizes, times and stream orders, with the file sink failing at a chosen
// call (a full disk) and a small memory window (objects spilled to disk).
//
// Input layout: option bytes (packet size, preroll, memory window, spill
// file, failing call), a stream count and per stream its kind, number,
// block size and figures, then operations (write an object to a stream,
// end a stream), one opcode byte each plus their arguments. finish() comes
// last. Object contents are made from the stream and object number.
//
// Promises checked besides the sanitizers: every refusal carries a message;
// a valid object (known, unfinished stream, whole audio blocks, time not
// before the stream's last one, within the format's range) is taken while
// the sink works, an invalid one is refused; the figures of stats() count
// what was taken (while the sink works); finish() succeeds while the sink
// works, and the file then passes the test reader's consistency checks and
// gives back every object of every stream, bytes, time and key-frame flag; when the sink failed
// while objects were being written, the file holds the header and whole
// packets only, and what it holds is consistent; the spill file is gone
// once the muxer is.
#include "asf_muxer/asf_muxer.h"
#include "fuzz_support.h"
#include "support/asf_reader.h"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#define FUZZ_TARGET "asf_muxer_fuzz"

namespace {

namespace fs = std::filesystem;
using asfw::MediaObject;
using fuzz::Input;
namespace asf = asfw::asf;
namespace asfread = asfw::test::asfread;

constexpr int kMaxOps = 64;
constexpr std::int64_t kHnsPerMs = 10000;

const fs::path& WorkDir()
{
    static const fs::path dir = [] {
        std::error_code ec;
        fs::path base = fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                                                              : fs::temp_directory_path(ec);
        if (base.empty()) base = "/tmp";
        std::string pattern = (base / "asfw-muxfuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) fuzz::Broken(FUZZ_TARGET, "cannot create a temporary folder");
        return fs::path(pattern);
    }();
    static const struct Cleanup {
        ~Cleanup()
        {
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    } cleanup;
    return dir;
}

// Forwards to the file sink until call number `failAt` (write, writeAt and
// flush counted together, from 1); that call and every later one fail.
class FailingSink final : public asf::ByteSink {
public:
    FailingSink(std::unique_ptr<asf::ByteSink> inner, int failAt) : inner_(std::move(inner)), failAt_(failAt) {}
    bool write(const void* data, std::size_t size) override { return call(true) && inner_->write(data, size); }
    bool writeAt(std::uint64_t offset, const void* data, std::size_t size) override
    {
        return call(false) && inner_->writeAt(offset, data, size);
    }
    std::uint64_t size() const override { return inner_->size(); }
    bool flush() override { return call(false) && inner_->flush(); }
    std::string error() const override { return failed_ ? "injected write failure" : inner_->error(); }
    bool failed() const { return failed_; }
    // The first failing call appended (the file then ends before it).
    bool failedAppending() const { return failedAppending_; }

private:
    bool call(bool append)
    {
        ++calls_;
        if (failAt_ > 0 && calls_ >= failAt_ && !failed_) {
            failed_ = true;
            failedAppending_ = append;
        }
        return !failed_;
    }
    std::unique_ptr<asf::ByteSink> inner_;
    int failAt_;
    int calls_ = 0;
    bool failed_ = false;
    bool failedAppending_ = false;
};

void Put16(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

std::vector<std::uint8_t> VideoFormat(std::uint32_t w, std::uint32_t h, std::size_t codecBytes)
{
    std::vector<std::uint8_t> f;
    Put32(f, static_cast<std::uint32_t>(40 + codecBytes));
    Put32(f, w);
    Put32(f, h);
    Put16(f, 1);
    Put16(f, 24);
    Put32(f, 0x33564D57);
    Put32(f, w * h * 3);
    for (int i = 0; i < 4; ++i) Put32(f, 0);
    for (std::size_t i = 0; i < codecBytes; ++i) f.push_back(static_cast<std::uint8_t>(i * 37 + 1));
    return f;
}

std::vector<std::uint8_t> AudioFormat(std::uint16_t blockAlign, std::size_t extra)
{
    std::vector<std::uint8_t> f;
    Put16(f, 0x0161);
    Put16(f, 2);
    Put32(f, 44100);
    Put32(f, 8000);
    Put16(f, blockAlign);
    Put16(f, 16);
    Put16(f, static_cast<std::uint32_t>(extra));
    for (std::size_t i = 0; i < extra; ++i) f.push_back(static_cast<std::uint8_t>(i));
    return f;
}

std::vector<std::uint8_t> Contents(std::uint16_t stream, std::uint32_t index, std::size_t size)
{
    std::vector<std::uint8_t> d(size);
    std::uint32_t s = stream * 7919u + index * 104729u + 1;
    for (auto& b : d) {
        s = s * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(s >> 24);
    }
    return d;
}

std::int64_t ToMs(std::int64_t hns)
{
    return (hns + kHnsPerMs / 2) / kHnsPerMs;
}

struct Sent {
    std::uint32_t index = 0;
    std::size_t size = 0;
    std::int64_t time = 0;
    bool key = false;
};

struct StreamModel {
    std::uint16_t number = 0;
    bool audio = false;
    bool added = false;
    std::uint16_t blockAlign = 1;
    bool ended = false;
    bool delivered = false;
    std::int64_t lastTime = 0;
    std::vector<Sent> sent;
    std::uint32_t nextIndex = 0;
};

const int kPacketSizes[] = {0, 3200, 256, 1000, 65535, 255, 65536, 1500};
const int kPrerolls[] = {-1, 0, 3000, 1, 100000};
const int kWindows[] = {16 << 20, 0, 5000, 100000};
const int kNumbers[] = {1, 2, 3, 4, 127, 0, 128, 1};
const int kBlockAligns[] = {742, 4, 1, 2000, 0, 1, 3, 65535};
const int kBitrates[] = {64000, 500000, 0, 1, 20000000, INT_MAX};
const int kWindowsMs[] = {3000, 0, 1000, 60000};
const int kSizes[] = {1, 100, 3000, 3200, 20000, 0, 70000, 7};
const int kSteps[] = {400000, 0, 464399, 10000, 5000, 1, -1, 100000000};
const int kDurations[] = {400000, 0, 464399, 1, -1};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const fs::path& dir = WorkDir();
    const std::string path = (dir / "mux.asf").string();
    const std::string spillPath = (dir / "mux.spill").string();

    asf::MuxerOptions options;
    options.packetSize = static_cast<std::uint32_t>(in.pick(kPacketSizes, 70000));
    options.prerollMs = in.pick(kPrerolls);
    options.memoryWindowBytes = static_cast<std::size_t>(in.pick(kWindows, 1u << 20));
    const bool namedSpill = in.u8() & 1;
    if (namedSpill) options.spillPath = spillPath;
    options.creationTime = 1;
    const std::uint8_t failByte = in.u8();
    const int failAt = failByte < 192 ? 0 : failByte - 191;  // mostly never

    std::string error;
    auto file = asf::createFileSink(path, &error);
    FUZZ_PROMISE(file != nullptr, error);
    auto owned = std::make_unique<FailingSink>(std::move(file), failAt);
    FailingSink* sink = owned.get();

    std::vector<StreamModel> streams;
    bool finishedOk = false;
    bool failedAppending = false;
    {
        asf::Muxer muxer(std::move(owned), options);
        const int count = 1 + in.u8() % 4;
        for (int i = 0; i < count; ++i) {
            fuzz::currentOp = -2;
            StreamModel m;
            const std::uint8_t kind = in.u8();
            m.audio = kind & 1;
            m.number = static_cast<std::uint16_t>(in.pick(kNumbers, 200));
            asf::StreamDescription d;
            d.number = m.number;
            d.audio = m.audio;
            const bool malformed = (kind & 0x30) == 0x30;
            if (m.audio) {
                // The description's block size is the format's, or left to
                // the muxer to take from it (a different one is a caller's
                // way to write files that break the rules on purpose).
                const auto blockAlign = static_cast<std::uint16_t>(in.pick(kBlockAligns, 65536));
                d.blockAlign = (kind & 0x40) ? 0 : blockAlign;
                d.format = AudioFormat(blockAlign, (kind >> 1) & 7 ? 10 : 0);
                if (malformed) d.format.pop_back();
            } else {
                d.width = 16u << (kind >> 6);
                d.height = 16;
                d.format = VideoFormat(d.width, d.height, ((kind >> 1) & 7) * 3);
                d.averageTimePerFrame = 400000;
                if (malformed) d.format.resize(39);
            }
            d.bitrate = static_cast<std::uint32_t>(in.pick(kBitrates));
            d.bufferWindowMs = static_cast<std::uint32_t>(in.pick(kWindowsMs, 100000));
            d.measureBitrate = kind & 0x08;
            d.peakBitrate = (kind & 0x04) ? d.bitrate * 2u : 0;
            if (kind & 0x02) d.name = u"stream";
            d.codecName = u"codec";
            const bool duplicate = [&] {
                for (const auto& s : streams)
                    if (s.added && s.number == m.number) return true;
                return false;
            }();
            const bool added = muxer.addStream(d);
            if (!added) FUZZ_PROMISE(!muxer.error().empty(), "a refused stream without a message");
            if (duplicate || m.number < 1 || m.number > 127 || malformed) FUZZ_PROMISE(!added, "a bad stream taken");
            m.added = added;
            if (added) {
                const std::uint16_t fromFormat = static_cast<std::uint16_t>(d.format[12] | (d.format[13] << 8));
                m.blockAlign = m.audio ? (d.blockAlign ? d.blockAlign : fromFormat) : 1;
            }
            streams.push_back(m);
        }

        fuzz::currentOp = -1;
        if (!muxer.begin()) {
            FUZZ_PROMISE(!muxer.error().empty(), "begin() refused without a message");
            return 0;
        }

        for (int op = 0; op < kMaxOps && !in.empty(); ++op) {
            fuzz::currentOp = op;
            const std::uint8_t code = in.u8();
            StreamModel* picked = &streams[in.u8() % streams.size()];
            for (auto& other : streams)  // a refused duplicate names the stream that was taken
                if (!picked->added && other.added && other.number == picked->number) picked = &other;
            StreamModel& s = *picked;
            if (code % 8 == 7) {
                const bool ok = muxer.endStream(s.number);
                if (ok) s.ended = s.added ? true : s.ended;
                FUZZ_PROMISE(ok || !muxer.error().empty() || sink->failed(), "endStream refused without a message");
                FUZZ_PROMISE(ok || !s.added || sink->failed(), "endStream of a known stream refused");
                continue;
            }
            std::size_t bytes = static_cast<std::size_t>(in.pick(kSizes, 100000));
            if (code & 0x08) bytes = static_cast<std::size_t>(s.blockAlign) * (1 + in.u8() % 8);
            const std::int64_t step = in.pick(kSteps);
            const std::int64_t duration = in.pick(kDurations);
            const bool key = code & 0x10;
            const std::int64_t time = s.lastTime + step;

            MediaObject o;
            o.data = Contents(s.number, s.nextIndex, bytes);
            o.presentationTime = time;
            o.duration = duration;
            o.keyFrame = key;
            const std::int64_t prerollMs = options.prerollMs;  // only to judge the range below
            const std::int64_t limit = 0xFFFFFFFFll - std::max<std::int64_t>(prerollMs, 100000);
            const bool valid = s.added && !s.ended && bytes > 0 && time >= 0 && duration >= 0 &&
                               ToMs(time + duration) <= limit && (!s.delivered || time >= s.lastTime) &&
                               bytes % s.blockAlign == 0;
            const bool invalid = !s.added || s.ended || bytes == 0 || time < 0 || duration < 0 ||
                                 (s.delivered && time < s.lastTime) || bytes % s.blockAlign != 0 ||
                                 ToMs(time + duration) > 0xFFFFFFFFll;
            const bool failedBefore = sink->failed();
            const bool ok = muxer.write(s.number, std::move(o));
            if (!ok) FUZZ_PROMISE(!muxer.error().empty() || failedBefore, "write refused without a message");
            if (valid && !sink->failed()) FUZZ_PROMISE(ok, "a valid object refused: " + muxer.error());
            if (invalid) FUZZ_PROMISE(!ok, "an invalid object taken");
            if (ok) {
                s.sent.push_back({s.nextIndex, bytes, time, key});
                s.delivered = true;
                s.lastTime = time;
                ++s.nextIndex;
                const auto stats = muxer.stats(s.number);
                FUZZ_PROMISE(stats.objects == s.sent.size(), "stats: object count");
            }
        }

        fuzz::currentOp = 1000;
        const bool failedBefore = sink->failed();
        finishedOk = muxer.finish();
        if (!finishedOk) FUZZ_PROMISE(!muxer.error().empty() || failedBefore, "finish() failed without a message");
        if (!sink->failed()) FUZZ_PROMISE(finishedOk, "finish() failed on a working sink: " + muxer.error());
        FUZZ_PROMISE(!finishedOk || !sink->failed(), "finish() succeeded on a failed sink");
        failedAppending = sink->failedAppending();
        // (A write the failing sink cut short may or may not be counted.)
        for (const auto& s : streams) {
            if (!s.added || sink->failed()) continue;
            std::uint64_t bytes = 0;
            for (const auto& x : s.sent) bytes += x.size;
            const auto stats = muxer.stats(s.number);
            FUZZ_PROMISE(stats.objects == s.sent.size() && stats.payloadBytes == bytes, "stats at the end");
        }
    }
    std::error_code ec;
    if (namedSpill) FUZZ_PROMISE(!fs::exists(spillPath, ec), "the spill file outlived the muxer");

    fuzz::currentOp = 2000;
    if (finishedOk) {
        asfread::AsfReader reader;
        FUZZ_PROMISE(reader.open(path), "the finished file does not open: " + reader.error());
        const auto problems = asfread::validate(reader);
        FUZZ_PROMISE(problems.empty(), fuzz::Joined(problems));
        std::vector<asfread::MediaObjectRead> objects;
        FUZZ_PROMISE(reader.readMediaObjects(objects), reader.error());
        const std::int64_t preroll = static_cast<std::int64_t>(reader.fileProperties().prerollMs);
        std::map<std::uint16_t, std::size_t> next;
        for (const auto& o : objects) {
            const StreamModel* s = nullptr;
            for (const auto& m : streams)
                if (m.added && m.number == o.stream) s = &m;
            FUZZ_PROMISE(s != nullptr, "an object of an unknown stream");
            std::size_t& k = next[o.stream];
            FUZZ_PROMISE(k < s->sent.size(), "more objects than were written");
            const Sent& x = s->sent[k++];
            FUZZ_PROMISE(o.complete, "an incomplete object");
            FUZZ_PROMISE(o.data == Contents(s->number, x.index, x.size), "object bytes differ");
            FUZZ_PROMISE(o.presentationTimeMs == static_cast<std::uint32_t>(ToMs(x.time) + preroll),
                         std::to_string(o.presentationTimeMs) + " for " + std::to_string(x.time));
            FUZZ_PROMISE(o.keyFrame == x.key, "key-frame flag differs");
        }
        for (const auto& m : streams)
            if (m.added) FUZZ_PROMISE(next[m.number] == m.sent.size(), "objects missing from the file");
    } else if (failedAppending) {
        // The file ends where the first failing write would have gone: the
        // header and whole packets (or all packets, when the index failed).
        asfread::AsfReader reader;
        FUZZ_PROMISE(reader.open(path), "the unfinished file does not open: " + reader.error());
        const std::uint64_t data = reader.fileSize() - reader.firstPacketOffset();
        FUZZ_PROMISE(reader.packetSize() > 0 && data % reader.packetSize() == 0,
                     "a torn packet: " + std::to_string(data) + " bytes of packets");
        asfread::ValidateOptions unfinished;
        unfinished.finished = false;
        const auto problems = asfread::validate(reader, unfinished);
        FUZZ_PROMISE(problems.empty(), fuzz::Joined(problems));
    }
    fs::remove(path, ec);
    return 0;
}
