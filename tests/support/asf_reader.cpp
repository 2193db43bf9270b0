#include "support/asf_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace asfw::test::asfread {

Guid Guid::parse(const std::string& text)
{
    std::string hex;
    for (char c : text)
        if (c != '-') hex += c;
    Guid g;
    if (hex.size() != 32) return g;
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16)); };
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (std::size_t i = 0; i < 16; ++i) g.bytes[i] = byte(static_cast<std::size_t>(order[i]));
    return g;
}

std::string Guid::str() const
{
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::string out;
    char buf[3];
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        std::snprintf(buf, sizeof buf, "%02X", bytes[static_cast<std::size_t>(order[i])]);
        out += buf;
    }
    return out;
}

namespace guids {
const Guid header = Guid::parse("75B22630-668E-11CF-A6D9-00AA0062CE6C");
const Guid data = Guid::parse("75B22636-668E-11CF-A6D9-00AA0062CE6C");
const Guid simpleIndex = Guid::parse("33000890-E5B1-11CF-89F4-00A0C90349CB");
const Guid index = Guid::parse("D6E229D3-35DA-11D1-9034-00A0C90349BE");
const Guid fileProperties = Guid::parse("8CABDCA1-A947-11CF-8EE4-00C00C205365");
const Guid streamProperties = Guid::parse("B7DC0791-A9B7-11CF-8EE6-00C00C205365");
const Guid headerExtension = Guid::parse("5FBF03B5-A92E-11CF-8EE3-00C00C205365");
const Guid codecList = Guid::parse("86D15240-311D-11D0-A3A4-00A0C90348F6");
const Guid contentDescription = Guid::parse("75B22633-668E-11CF-A6D9-00AA0062CE6C");
const Guid extendedContentDescription = Guid::parse("D2D0A440-E307-11D2-97F0-00A0C95EA850");
const Guid streamBitrateProperties = Guid::parse("7BF875CE-468D-11D1-8D82-006097C9A2B2");
const Guid padding = Guid::parse("1806D474-CADF-4509-A4BA-9AABCB96AAE8");
const Guid extendedStreamProperties = Guid::parse("14E6A5CB-C672-4332-8399-A96952065B5A");
const Guid languageList = Guid::parse("7C4346A9-EFE0-4BFC-B229-393EDE415C85");
const Guid metadata = Guid::parse("C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA");
const Guid indexParameters = Guid::parse("D6E229DF-35DA-11D1-9034-00A0C90349BE");
const Guid audioMedia = Guid::parse("F8699E40-5B4D-11CF-A8FD-00805F5C442B");
const Guid videoMedia = Guid::parse("BC19EFC0-5B4D-11CF-A8FD-00805F5C442B");
const Guid audioSpread = Guid::parse("BFC3CD50-618F-11CF-8BB2-00AA00B4E220");
const Guid noErrorCorrection = Guid::parse("20FB5700-5B55-11CF-A8FD-00805F5C442B");
}  // namespace guids

std::string objectName(const Guid& g)
{
    static const std::pair<const Guid*, const char*> names[] = {
        {&guids::header, "Header"},
        {&guids::data, "Data"},
        {&guids::simpleIndex, "Simple Index"},
        {&guids::index, "Index"},
        {&guids::fileProperties, "File Properties"},
        {&guids::streamProperties, "Stream Properties"},
        {&guids::headerExtension, "Header Extension"},
        {&guids::codecList, "Codec List"},
        {&guids::contentDescription, "Content Description"},
        {&guids::extendedContentDescription, "Extended Content Description"},
        {&guids::streamBitrateProperties, "Stream Bitrate Properties"},
        {&guids::padding, "Padding"},
        {&guids::extendedStreamProperties, "Extended Stream Properties"},
        {&guids::languageList, "Language List"},
        {&guids::metadata, "Metadata"},
        {&guids::indexParameters, "Index Parameters"},
    };
    for (const auto& [guid, name] : names)
        if (*guid == g) return name;
    return g.str();
}

namespace {

// Bounded little-endian reading; any read past the end sets `bad` and
// yields zeros.
struct Cursor {
    const std::uint8_t* p;
    std::size_t size;
    std::size_t at = 0;
    bool bad = false;

    Cursor(const std::uint8_t* data, std::size_t n) : p(data), size(n) {}
    explicit Cursor(const std::vector<std::uint8_t>& v) : p(v.data()), size(v.size()) {}

    bool has(std::size_t n) const { return !bad && n <= size - at; }
    std::uint64_t le(int n)
    {
        if (!has(static_cast<std::size_t>(n))) {
            bad = true;
            return 0;
        }
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= std::uint64_t{p[at + static_cast<std::size_t>(i)]} << (8 * i);
        at += static_cast<std::size_t>(n);
        return v;
    }
    std::uint8_t u8() { return static_cast<std::uint8_t>(le(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(le(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(le(4)); }
    std::uint64_t u64() { return le(8); }
    // Variable-size field by its 2-bit length type (0 none, 1 byte, 2 word, 3 dword).
    std::uint32_t sized(int type) { return type == 0 ? 0 : static_cast<std::uint32_t>(le(type == 3 ? 4 : type)); }
    Guid guid()
    {
        Guid g;
        if (!has(16)) {
            bad = true;
            return g;
        }
        std::memcpy(g.bytes.data(), p + at, 16);
        at += 16;
        return g;
    }
    std::vector<std::uint8_t> bytes(std::size_t n)
    {
        if (!has(n)) {
            bad = true;
            return {};
        }
        std::vector<std::uint8_t> v(p + at, p + at + n);
        at += n;
        return v;
    }
    std::u16string utf16(std::size_t chars)
    {
        std::u16string s;
        for (std::size_t i = 0; i < chars && !bad; ++i) s += static_cast<char16_t>(u16());
        while (!s.empty() && s.back() == 0) s.pop_back();
        return s;
    }
    void skip(std::size_t n)
    {
        if (!has(n)) bad = true;
        else at += n;
    }
};

constexpr std::uint64_t kMaxObjectRead = 64u << 20;  // header / index objects read whole

WaveFormat parseWave(const std::vector<std::uint8_t>& b)
{
    Cursor c(b);
    WaveFormat w;
    w.formatTag = c.u16();
    w.channels = c.u16();
    w.sampleRate = c.u32();
    w.avgBytesPerSec = c.u32();
    w.blockAlign = c.u16();
    w.bitsPerSample = c.u16();
    if (c.has(2)) {
        w.extraSize = c.u16();
        w.extra = c.bytes(std::min<std::size_t>(w.extraSize, c.size - c.at));
    }
    return w;
}

BitmapInfo parseBitmap(const std::vector<std::uint8_t>& b)
{
    Cursor c(b);
    BitmapInfo bi;
    bi.size = c.u32();
    bi.width = static_cast<std::int32_t>(c.u32());
    bi.height = static_cast<std::int32_t>(c.u32());
    bi.planes = c.u16();
    bi.bitCount = c.u16();
    bi.compression = c.u32();
    bi.imageSize = c.u32();
    c.skip(16);
    if (!c.bad) bi.codecData.assign(b.begin() + 40, b.end());
    return bi;
}

}  // namespace

std::size_t IndexObjectRead::entryCount() const
{
    std::size_t n = 0;
    for (const auto& b : blocks) n += b.offsets.size();
    return n;
}

std::optional<std::uint64_t> IndexObjectRead::position(std::size_t entry, std::size_t specifier) const
{
    for (const auto& b : blocks) {
        if (entry >= b.offsets.size()) {
            entry -= b.offsets.size();
            continue;
        }
        if (specifier >= b.offsets[entry].size() || specifier >= b.positions.size()) return std::nullopt;
        const std::uint32_t off = b.offsets[entry][specifier];
        if (off == 0xFFFFFFFFu) return std::nullopt;
        return b.positions[specifier] + off;
    }
    return std::nullopt;
}

AsfReader::~AsfReader()
{
    if (fd_ >= 0) ::close(fd_);
}

bool AsfReader::fail(const std::string& message)
{
    if (error_.empty()) error_ = message;
    return false;
}

bool AsfReader::readAt(std::uint64_t offset, void* data, std::size_t size)
{
    auto* out = static_cast<std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("short read at offset " + std::to_string(offset + done));
        done += static_cast<std::size_t>(n);
    }
    return true;
}

const StreamInfo* AsfReader::stream(std::uint16_t number) const
{
    for (const auto& s : streams_)
        if (s.number == number) return &s;
    return nullptr;
}

const ExtendedStreamInfo* AsfReader::extendedStream(std::uint16_t number) const
{
    for (const auto& s : extendedStreams_)
        if (s.number == number) return &s;
    return nullptr;
}

bool AsfReader::open(const std::string& path)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return fail("cannot open " + path + ": " + std::strerror(errno));
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return fail("cannot stat " + path);
    fileSize_ = static_cast<std::uint64_t>(info.st_size);

    std::uint64_t offset = 0;
    while (offset + 24 <= fileSize_) {
        std::uint8_t head[24];
        if (!readAt(offset, head, sizeof head)) return false;
        Cursor c(head, sizeof head);
        ObjectInfo obj;
        obj.guid = c.guid();
        obj.size = c.u64();
        obj.offset = offset;
        obj.name = objectName(obj.guid);
        const bool isData = obj.guid == guids::data;
        // An unfinished file may have a Data Object of size 0: it runs to the end.
        if (isData && obj.size == 0) obj.size = fileSize_ - offset;
        if (obj.size < 24) return fail(obj.name + " object at " + std::to_string(offset) + " has size " + std::to_string(obj.size));
        if (objects_.empty() && obj.guid != guids::header) return fail("the file does not start with a Header Object");

        if (obj.guid == guids::header) {
            if (!parseHeader(offset, obj.size, obj)) return false;
        } else if (isData) {
            std::uint8_t d[26];
            if (!readAt(offset + 24, d, sizeof d)) return false;
            Cursor dc(d, sizeof d);
            dataOffset_ = offset;
            dataSize_ = obj.size;
            dataFileId_ = dc.guid();
            dataPackets_ = dc.u64();
        } else if (obj.guid == guids::simpleIndex || obj.guid == guids::index) {
            if (obj.size > kMaxObjectRead || offset + obj.size > fileSize_) return fail(obj.name + " object runs past the end");
            std::vector<std::uint8_t> body(obj.size - 24);
            if (!readAt(offset + 24, body.data(), body.size())) return false;
            Cursor b(body);
            if (obj.guid == guids::simpleIndex) {
                SimpleIndexRead si;
                si.offset = offset;
                si.fileId = b.guid();
                si.interval = b.u64();
                si.maxPacketCount = b.u32();
                const std::uint32_t count = b.u32();
                for (std::uint32_t i = 0; i < count && !b.bad; ++i) {
                    SimpleIndexRead::Entry e;
                    e.packet = b.u32();
                    e.count = b.u16();
                    if (!b.bad) si.entries.push_back(e);
                }
                if (b.bad) return fail("Simple Index entries run past the object");
                simpleIndexes_.push_back(std::move(si));
            } else {
                IndexObjectRead io;
                io.offset = offset;
                io.intervalMs = b.u32();
                const std::uint16_t specifiers = b.u16();
                const std::uint32_t blocks = b.u32();
                for (std::uint16_t i = 0; i < specifiers && !b.bad; ++i) {
                    IndexSpecifier s;
                    s.stream = b.u16();
                    s.type = b.u16();
                    io.specifiers.push_back(s);
                }
                for (std::uint32_t k = 0; k < blocks && !b.bad; ++k) {
                    IndexObjectRead::Block block;
                    const std::uint32_t entries = b.u32();
                    for (std::uint16_t i = 0; i < specifiers; ++i) block.positions.push_back(b.u64());
                    if (!b.has(std::uint64_t{entries} * specifiers * 4)) {
                        b.bad = true;
                        break;
                    }
                    for (std::uint32_t e = 0; e < entries; ++e) {
                        std::vector<std::uint32_t> offs;
                        for (std::uint16_t i = 0; i < specifiers; ++i) offs.push_back(b.u32());
                        block.offsets.push_back(std::move(offs));
                    }
                    io.blocks.push_back(std::move(block));
                }
                if (b.bad) return fail("Index Object blocks run past the object");
                indexObject_ = std::move(io);
            }
        }
        objects_.push_back(std::move(obj));
        if (offset + objects_.back().size < offset) return fail("object size overflows");
        offset += objects_.back().size;
    }
    if (!haveFileProperties_) return fail("no File Properties Object");
    return true;
}

bool AsfReader::parseHeader(std::uint64_t offset, std::uint64_t size, ObjectInfo& info)
{
    if (size > kMaxObjectRead || offset + size > fileSize_) return fail("the Header Object runs past the end");
    std::vector<std::uint8_t> body(size - 24);
    if (!readAt(offset + 24, body.data(), body.size())) return false;
    Cursor c(body);
    headerObjectCount_ = c.u32();
    if (c.u8() != 1 || c.u8() != 2) return fail("the Header Object's reserved bytes are not 1, 2");
    while (c.has(24)) {
        const std::size_t start = c.at;
        ObjectInfo child;
        child.guid = c.guid();
        child.size = c.u64();
        child.offset = offset + 24 + start;
        child.name = objectName(child.guid);
        if (child.size < 24 || child.size > body.size() - start) return fail(child.name + " object overruns the header");
        Cursor o(body.data() + start + 24, static_cast<std::size_t>(child.size - 24));
        if (child.guid == guids::fileProperties) {
            FileProperties& f = fileProperties_;
            f.offset = child.offset;
            f.fileId = o.guid();
            f.fileSize = o.u64();
            f.creationTime = o.u64();
            f.packets = o.u64();
            f.playDuration = o.u64();
            f.sendDuration = o.u64();
            f.prerollMs = o.u64();
            f.flags = o.u32();
            f.minPacketSize = o.u32();
            f.maxPacketSize = o.u32();
            f.maxBitrate = o.u32();
            if (o.bad) return fail("File Properties too short");
            haveFileProperties_ = true;
        } else if (child.guid == guids::streamProperties) {
            StreamInfo s;
            s.type = o.guid();
            s.errorCorrection = o.guid();
            s.timeOffset = o.u64();
            const std::uint32_t typeLen = o.u32();
            const std::uint32_t ecLen = o.u32();
            const std::uint16_t flags = o.u16();
            s.number = flags & 0x7F;
            s.encrypted = (flags & 0x8000) != 0;
            o.u32();
            s.typeSpecific = o.bytes(typeLen);
            s.errorCorrectionData = o.bytes(ecLen);
            if (o.bad) return fail("Stream Properties too short");
            s.audio = s.type == guids::audioMedia;
            s.video = s.type == guids::videoMedia;
            if (s.audio) {
                s.wave = parseWave(s.typeSpecific);
                if (s.errorCorrection == guids::audioSpread) {
                    Cursor e(s.errorCorrectionData);
                    AudioSpread a;
                    a.span = e.u8();
                    a.virtualPacketLength = e.u16();
                    a.virtualChunkLength = e.u16();
                    a.silenceLength = e.u16();
                    a.silence = e.bytes(a.silenceLength);
                    if (!e.bad) s.spread = a;
                }
            } else if (s.video) {
                Cursor v(s.typeSpecific);
                s.encodedWidth = v.u32();
                s.encodedHeight = v.u32();
                s.reservedFlags = v.u8();
                s.formatDataSize = v.u16();
                s.bitmap = parseBitmap(v.bytes(std::min<std::size_t>(s.formatDataSize, v.has(0) ? v.size - v.at : 0)));
            }
            streams_.push_back(std::move(s));
        } else if (child.guid == guids::headerExtension) {
            std::vector<std::uint8_t> ext(body.begin() + static_cast<std::ptrdiff_t>(start + 24),
                                          body.begin() + static_cast<std::ptrdiff_t>(start + child.size));
            if (!parseHeaderExtension(ext, child.offset + 24, child)) return false;
        } else if (child.guid == guids::codecList) {
            o.guid();
            const std::uint32_t count = o.u32();
            for (std::uint32_t i = 0; i < count && !o.bad; ++i) {
                CodecEntry e;
                e.type = o.u16();
                e.name = o.utf16(o.u16());
                e.description = o.utf16(o.u16());
                e.info = o.bytes(o.u16());
                if (!o.bad) codecs_.push_back(std::move(e));
            }
            if (o.bad) return fail("Codec List entries run past the object");
        } else if (child.guid == guids::streamBitrateProperties) {
            const std::uint16_t count = o.u16();
            for (std::uint16_t i = 0; i < count && !o.bad; ++i) {
                BitrateRecord r;
                r.stream = o.u16() & 0x7F;
                r.bitrate = o.u32();
                if (!o.bad) bitrates_.push_back(r);
            }
            if (o.bad) return fail("Stream Bitrate records run past the object");
        }
        c.skip(static_cast<std::size_t>(child.size - 24));
        info.children.push_back(std::move(child));
    }
    return true;
}

bool AsfReader::parseHeaderExtension(const std::vector<std::uint8_t>& body, std::uint64_t base, ObjectInfo& info)
{
    Cursor c(body);
    c.guid();
    c.u16();
    headerExtensionDataSize_ = c.u32();
    if (c.bad || headerExtensionDataSize_ != body.size() - 22) return fail("Header Extension data size does not match");
    while (c.has(24)) {
        const std::size_t start = c.at;
        ObjectInfo child;
        child.guid = c.guid();
        child.size = c.u64();
        child.offset = base + start;
        child.name = objectName(child.guid);
        if (child.size < 24 || child.size > body.size() - start) return fail(child.name + " object overruns the Header Extension");
        Cursor o(body.data() + start + 24, static_cast<std::size_t>(child.size - 24));
        if (child.guid == guids::extendedStreamProperties) {
            ExtendedStreamInfo e;
            e.startTimeMs = o.u64();
            e.endTimeMs = o.u64();
            e.bitrate = o.u32();
            e.bufferMs = o.u32();
            e.initialFullness = o.u32();
            e.alternateBitrate = o.u32();
            e.alternateBufferMs = o.u32();
            e.alternateInitialFullness = o.u32();
            e.maxObjectSize = o.u32();
            e.flags = o.u32();
            e.number = o.u16();
            e.languageIndex = o.u16();
            e.averageTimePerFrame = o.u64();
            const std::uint16_t names = o.u16();
            e.payloadExtensionCount = o.u16();
            for (std::uint16_t i = 0; i < names && !o.bad; ++i) {
                o.u16();
                e.names.push_back(o.utf16(o.u16() / 2));
            }
            if (o.bad) return fail("Extended Stream Properties too short");
            extendedStreams_.push_back(std::move(e));
        } else if (child.guid == guids::indexParameters) {
            IndexParameters p;
            p.intervalMs = o.u32();
            const std::uint16_t count = o.u16();
            for (std::uint16_t i = 0; i < count && !o.bad; ++i) {
                IndexSpecifier s;
                s.stream = o.u16();
                s.type = o.u16();
                p.specifiers.push_back(s);
            }
            if (o.bad) return fail("Index Parameters too short");
            indexParameters_ = p;
        }
        c.skip(static_cast<std::size_t>(child.size - 24));
        info.children.push_back(std::move(child));
    }
    return true;
}

std::uint64_t AsfReader::packetsPresent() const
{
    if (!hasData() || packetSize() == 0) return 0;
    std::uint64_t end = std::min(fileSize_, dataOffset_ + dataSize_);
    if (end < firstPacketOffset()) return 0;
    return (end - firstPacketOffset()) / packetSize();
}

bool AsfReader::readPacket(std::uint64_t number, Packet& packet, bool withData)
{
    const std::uint32_t size = packetSize();
    if (size == 0 || size > (64u << 20)) return fail("unusable packet size " + std::to_string(size));
    packet = Packet{};
    packet.number = number;
    packet.fileOffset = firstPacketOffset() + number * size;
    std::vector<std::uint8_t> buf(size);
    if (!readAt(packet.fileOffset, buf.data(), size)) return false;
    const std::string where = "packet " + std::to_string(number) + ": ";
    Cursor c(buf);
    std::uint8_t first = c.u8();
    if (first & 0x80) {
        packet.errorCorrectionFlags = first;
        if (first & 0x10) return fail(where + "opaque error correction data");
        c.skip(first & 0x0F);
        first = c.u8();
    }
    packet.lengthTypeFlags = first;
    packet.propertyFlags = c.u8();
    packet.multiplePayloads = first & 0x01;
    packet.packetLength = c.sized((first >> 5) & 3);
    packet.sequence = c.sized((first >> 1) & 3);
    packet.paddingLength = c.sized((first >> 3) & 3);
    packet.sendTimeMs = c.u32();
    packet.durationMs = c.u16();
    if (c.bad) return fail(where + "truncated header");
    const std::uint32_t length = packet.packetLength ? packet.packetLength : size;
    if (length > size) return fail(where + "explicit length beyond the packet size");
    const std::uint8_t pf = packet.propertyFlags;
    const int repType = pf & 3, offType = (pf >> 2) & 3, objType = (pf >> 4) & 3, streamType = (pf >> 6) & 3;
    if (streamType != 1) return fail(where + "stream number field is not a byte");
    std::uint32_t count = 1;
    int payloadLengthType = 0;
    if (packet.multiplePayloads) {
        const std::uint8_t flags = c.u8();
        count = flags & 0x3F;
        payloadLengthType = flags >> 6;
        if (count == 0) return fail(where + "no payloads");
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        Payload p;
        const std::uint8_t streamByte = c.u8();
        p.stream = streamByte & 0x7F;
        p.keyFrame = (streamByte & 0x80) != 0;
        p.objectNumber = c.sized(objType);
        p.offset = c.sized(offType);
        const std::uint32_t repLen = c.sized(repType);
        if (repLen == 1) return fail(where + "compressed payloads are not read here");
        p.replicated = c.bytes(repLen);
        if (repLen >= 8) {
            Cursor r(p.replicated);
            p.objectSize = r.u32();
            p.presentationTimeMs = r.u32();
        }
        if (packet.multiplePayloads) {
            p.length = c.sized(payloadLengthType);
        } else {
            if (c.bad || length < c.at + packet.paddingLength) return fail(where + "padding overlaps the payload");
            p.length = static_cast<std::uint32_t>(length - packet.paddingLength - c.at);
        }
        if (c.bad || !c.has(p.length)) return fail(where + "payload " + std::to_string(i) + " runs past the packet");
        p.dataOffset = packet.fileOffset + c.at;
        if (withData) p.data = c.bytes(p.length);
        else c.skip(p.length);
        packet.payloads.push_back(std::move(p));
    }
    packet.endOfPayloads = static_cast<std::uint32_t>(c.at);
    return true;
}

bool AsfReader::readPackets(std::vector<Packet>& packets, bool withData)
{
    packets.clear();
    const std::uint64_t n = packetsPresent();
    packets.reserve(static_cast<std::size_t>(n));
    for (std::uint64_t i = 0; i < n; ++i) {
        Packet p;
        if (!readPacket(i, p, withData)) return false;
        packets.push_back(std::move(p));
    }
    return true;
}

bool AsfReader::readMediaObjects(std::vector<MediaObjectRead>& objects)
{
    objects.clear();
    std::map<std::uint16_t, std::size_t> open;  // stream -> index of the object being assembled
    const std::uint64_t n = packetsPresent();
    for (std::uint64_t i = 0; i < n; ++i) {
        Packet packet;
        if (!readPacket(i, packet, true)) return false;
        for (auto& p : packet.payloads) {
            auto it = open.find(p.stream);
            MediaObjectRead* o = nullptr;
            if (it != open.end()) {
                o = &objects[it->second];
                if (o->objectNumber != p.objectNumber || o->data.size() != p.offset || o->size != p.objectSize) {
                    open.erase(it);
                    o = nullptr;
                }
            }
            if (!o) {
                MediaObjectRead fresh;
                fresh.stream = p.stream;
                fresh.objectNumber = p.objectNumber;
                fresh.presentationTimeMs = p.presentationTimeMs;
                fresh.keyFrame = p.keyFrame;
                fresh.size = p.replicated.size() >= 8 ? p.objectSize : p.length;
                fresh.firstPacket = i;
                objects.push_back(std::move(fresh));
                open[p.stream] = objects.size() - 1;
                o = &objects.back();
                if (p.offset != 0) o->size = 0;  // a fragment without its start: never complete
            }
            o->data.insert(o->data.end(), p.data.begin(), p.data.end());
            o->lastPacket = i;
            o->fragments += 1;
            o->complete = o->size != 0 && o->data.size() == o->size;
            if (o->complete || o->data.size() > o->size) open.erase(p.stream);
        }
    }
    return true;
}

void patchU16(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint16_t v)
{
    for (int i = 0; i < 2; ++i) b.at(at + static_cast<std::uint64_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}
void patchU32(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.at(at + static_cast<std::uint64_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}
void patchU64(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i) b.at(at + static_cast<std::uint64_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace asfw::test::asfread
