// validate(): the consistency rules players rely on, checked on a file.
#include <algorithm>
#include <map>
#include <set>

#include "support/asf_reader.h"

namespace asfw::test::asfread {

std::vector<std::string> validate(AsfReader& file, const ValidateOptions& options)
{
    std::vector<std::string> problems;
    auto problem = [&](std::string text) {
        if (problems.size() < 50) problems.push_back(std::move(text));
    };
    const FileProperties& fp = file.fileProperties();

    // Header.
    std::size_t fileProps = 0;
    std::uint32_t headerChildren = 0;
    for (const auto& o : file.objects())
        if (o.guid == guids::header) {
            headerChildren = static_cast<std::uint32_t>(o.children.size());
            for (const auto& c : o.children) fileProps += c.guid == guids::fileProperties;
        }
    if (fileProps != 1) problem("expected one File Properties Object, found " + std::to_string(fileProps));
    if (headerChildren != file.headerObjectCount())
        problem("Header Object declares " + std::to_string(file.headerObjectCount()) + " objects, holds " +
                std::to_string(headerChildren));
    if (fp.minPacketSize != fp.maxPacketSize)
        problem("minimum packet size " + std::to_string(fp.minPacketSize) + " differs from maximum " +
                std::to_string(fp.maxPacketSize));
    if (fp.maxPacketSize == 0) problem("packet size is zero");
    if (file.streams().empty()) problem("no streams");

    std::set<std::uint16_t> numbers;
    for (const auto& s : file.streams()) {
        const std::string name = "stream " + std::to_string(s.number) + ": ";
        if (s.number < 1 || s.number > 127) problem(name + "number out of range");
        if (!numbers.insert(s.number).second) problem(name + "listed twice");
        if (!s.audio && !s.video) problem(name + "neither audio nor video");
        if (!file.extendedStream(s.number)) problem(name + "no Extended Stream Properties");
        if (s.audio) {
            if (s.typeSpecific.size() < 18 || s.typeSpecific.size() != 18u + s.wave.extraSize)
                problem(name + "WAVEFORMATEX size does not match its extra size");
            if (s.wave.blockAlign == 0) problem(name + "nBlockAlign is zero");
            if (s.errorCorrection == guids::audioSpread && !s.spread) problem(name + "audio spread data malformed");
        }
        if (s.video) {
            if (s.bitmap.size < 40 || s.formatDataSize < 40) problem(name + "BITMAPINFOHEADER too short");
            if (11u + s.formatDataSize != s.typeSpecific.size()) problem(name + "format data size does not match");
            if (s.encodedWidth != static_cast<std::uint32_t>(s.bitmap.width) ||
                s.encodedHeight != static_cast<std::uint32_t>(s.bitmap.height))
                problem(name + "encoded size differs from the BITMAPINFOHEADER");
        }
    }
    for (const auto& r : file.bitrates())
        if (!numbers.count(r.stream)) problem("bitrate record for unknown stream " + std::to_string(r.stream));

    // Data Object and sizes.
    if (!file.hasData()) {
        problem("no Data Object");
        return problems;
    }
    if (file.dataFileId() != fp.fileId) problem("File ID differs between File Properties and Data Object");
    const std::uint64_t present = file.packetsPresent();
    if (options.finished) {
        if (fp.broadcast()) problem("broadcast flag set in a finished file");
        if (fp.fileSize != file.fileSize())
            problem("file size field " + std::to_string(fp.fileSize) + " but the file has " + std::to_string(file.fileSize()));
        if (fp.packets != file.dataPacketCount())
            problem("packet count " + std::to_string(fp.packets) + " in File Properties, " +
                    std::to_string(file.dataPacketCount()) + " in the Data Object");
        if (file.dataObjectSize() != 50 + file.dataPacketCount() * fp.maxPacketSize)
            problem("Data Object size does not match its packets");
        if (present != file.dataPacketCount())
            problem(std::to_string(present) + " packets present, " + std::to_string(file.dataPacketCount()) + " declared");
        if (fp.playDuration < fp.prerollMs * 10000) problem("play duration shorter than the preroll");
    }

    // Packets.
    std::map<std::uint16_t, std::uint8_t> nextObject;
    std::map<std::uint16_t, std::set<std::uint64_t>> keyStarts;  // packets where a key object starts
    std::uint32_t lastSend = 0;
    std::uint64_t lastPresentation = 0;
    std::map<std::uint16_t, std::pair<std::uint32_t, std::uint32_t>> open;  // stream -> (object number, next offset)
    std::map<std::uint16_t, std::uint32_t> openSize;
    if (options.checkPackets && fp.minPacketSize == fp.maxPacketSize && fp.maxPacketSize != 0) {
        for (std::uint64_t i = 0; i < present; ++i) {
            Packet p;
            if (!file.readPacket(i, p)) {
                problem(file.error());
                break;
            }
            const std::string where = "packet " + std::to_string(i) + ": ";
            if (p.endOfPayloads + p.paddingLength != fp.maxPacketSize)
                problem(where + "padding does not end at the packet boundary");
            if (p.sendTimeMs < lastSend) problem(where + "send time goes back");
            lastSend = p.sendTimeMs;
            for (const auto& pl : p.payloads) {
                const StreamInfo* s = file.stream(pl.stream);
                if (!s) {
                    problem(where + "payload of unknown stream " + std::to_string(pl.stream));
                    continue;
                }
                if (pl.replicated.size() != 0 && pl.replicated.size() < 8)
                    problem(where + "replicated data of " + std::to_string(pl.replicated.size()) + " bytes");
                if (pl.length == 0) problem(where + "empty payload");
                if (pl.presentationTimeMs < fp.prerollMs)
                    problem(where + "presentation time " + std::to_string(pl.presentationTimeMs) + " before the preroll");
                lastPresentation = std::max<std::uint64_t>(lastPresentation, pl.presentationTimeMs);
                if (s->audio && s->wave.blockAlign && pl.length % s->wave.blockAlign != 0)
                    problem(where + "audio payload of " + std::to_string(pl.length) + " bytes is not whole blocks of " +
                            std::to_string(s->wave.blockAlign));
                // Fragments: in order, same object number and size.
                auto it = open.find(pl.stream);
                if (pl.offset == 0) {
                    if (it != open.end()) problem(where + "stream " + std::to_string(pl.stream) + " object left unfinished");
                    auto expected = nextObject.find(pl.stream);
                    if (expected != nextObject.end() && expected->second != static_cast<std::uint8_t>(pl.objectNumber))
                        problem(where + "object number skips");
                    nextObject[pl.stream] = static_cast<std::uint8_t>(pl.objectNumber + 1);
                    if (pl.keyFrame) keyStarts[pl.stream].insert(i);
                    if (pl.length < pl.objectSize) {
                        open[pl.stream] = {pl.objectNumber, pl.length};
                        openSize[pl.stream] = pl.objectSize;
                    } else if (it != open.end()) {
                        open.erase(it);
                    }
                    if (pl.length > pl.objectSize) problem(where + "payload longer than its object");
                } else {
                    if (it == open.end() || it->second.first != pl.objectNumber || it->second.second != pl.offset ||
                        openSize[pl.stream] != pl.objectSize) {
                        problem(where + "fragment out of order in stream " + std::to_string(pl.stream));
                        continue;
                    }
                    it->second.second += pl.length;
                    if (it->second.second >= pl.objectSize) open.erase(it);
                }
            }
        }
        if (options.finished && !open.empty()) problem("an object is unfinished at the end of the data");
        if (options.finished && lastPresentation * 10000 > fp.playDuration)
            problem("a presentation time lies beyond the play duration");
    }

    // Indexes.
    std::vector<std::uint16_t> videoStreams;
    for (const auto& s : file.streams())
        if (s.video) videoStreams.push_back(s.number);
    const auto& simple = file.simpleIndexes();
    if (options.requireIndex && options.finished && simple.size() < videoStreams.size())
        problem("no Simple Index for each video stream (" + std::to_string(simple.size()) + " for " +
                std::to_string(videoStreams.size()) + ")");
    if (fp.seekable()) {
        if (simple.size() < videoStreams.size())
            problem("seekable, but " + std::to_string(simple.size()) + " Simple Index objects for " +
                    std::to_string(videoStreams.size()) + " video streams");
        if (videoStreams.empty() && !file.indexObject()) problem("seekable, but no index");
    }
    for (std::size_t k = 0; k < simple.size(); ++k) {
        const SimpleIndexRead& si = simple[k];
        const std::string name = "Simple Index " + std::to_string(k) + ": ";
        if (si.fileId != fp.fileId) problem(name + "File ID differs");
        if (si.interval == 0) problem(name + "interval is zero");
        if (fp.seekable() && si.entries.empty()) problem(name + "no entries in a seekable file");
        std::uint32_t maxCount = 0;
        for (std::size_t e = 0; e < si.entries.size(); ++e) {
            const auto& entry = si.entries[e];
            maxCount = std::max<std::uint32_t>(maxCount, entry.count);
            if (entry.packet >= present) {
                problem(name + "entry " + std::to_string(e) + " points past the packets");
                continue;
            }
            if (k < videoStreams.size() && options.checkPackets && !keyStarts[videoStreams[k]].count(entry.packet))
                problem(name + "entry " + std::to_string(e) + " does not point at a key frame's first packet");
        }
        if (maxCount != si.maxPacketCount) problem(name + "maximum packet count does not match the entries");
    }
    if (const auto& io = file.indexObject()) {
        const auto& params = file.indexParameters();
        if (!params) problem("Index Object without Index Parameters in the header");
        else if (params->intervalMs != io->intervalMs || params->specifiers.size() != io->specifiers.size())
            problem("Index Object does not match the Index Parameters");
        for (std::size_t e = 0; e < io->entryCount(); ++e)
            for (std::size_t s = 0; s < io->specifiers.size(); ++s)
                if (auto pos = io->position(e, s)) {
                    if (fp.maxPacketSize == 0 || *pos % fp.maxPacketSize != 0 || *pos / fp.maxPacketSize >= std::max<std::uint64_t>(present, 1))
                        problem("Index Object entry " + std::to_string(e) + " is not a packet start");
                }
    }
    return problems;
}

}  // namespace asfw::test::asfread
