// The independent checker tools, run on a file and their answers parsed:
// ffprobe, ffmpeg (decode to null), gst-discoverer-1.0, gst-launch-1.0,
// mediainfo. Each result says whether the tool ran cleanly and keeps its raw
// output for failure messages. Guard tests with ASFW_REQUIRE_TOOL("ffprobe")
// etc. (test_support.h).
//
// Payloads of a test encoder are not decodable: use the demux-level checks
// (ffprobePackets, gstDiscover, gstDemux, mediaInfo) for those, and
// ffmpegDecode / gstDecode only for real encoder output.
#ifndef ASFWRITER_TESTS_SUPPORT_ASF_CHECKERS_H
#define ASFWRITER_TESTS_SUPPORT_ASF_CHECKERS_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace asfw::test {

// A parsed JSON value (enough for the tools' output).
struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> array;
    std::vector<std::pair<std::string, Json>> object;

    static bool parse(const std::string& text, Json& out, std::string* error = nullptr);
    const Json* get(const std::string& key) const;  // null when absent or not an object
    // A member as text (strings as they are, numbers formatted), or `fallback`.
    std::string text(const std::string& key, const std::string& fallback = {}) const;
    // A member as a number (numeric strings converted), or `fallback`.
    double num(const std::string& key, double fallback = -1) const;
};

// ffprobe -show_entries format=...:stream=... -of json
struct ProbeStream {
    int index = -1;
    std::string codecType;  // "video" / "audio"
    std::string codecName;  // "wmv3", "wmav2"
    std::string codecTag;   // "WMV3", "[97][1][0][0]"
    int width = 0, height = 0, sampleRate = 0, channels = 0;
    double bitRate = -1, duration = -1, startTime = -1;
    double avgFrameRate = 0;  // frames per second, 0 if unknown
};
struct ProbeResult {
    bool ok = false;      // exit 0 and output parsed
    std::string errors;   // standard error
    double duration = -1, startTime = -1, bitRate = -1;
    std::vector<ProbeStream> streams;
    std::string raw;
};
ProbeResult ffprobeStreams(const std::string& path);

// ffprobe -show_packets (pts, dts, duration, size, position, key flag).
struct ProbePacket {
    int streamIndex = -1;
    double ptsTime = -1, dtsTime = -1, durationTime = -1;
    std::int64_t size = -1, pos = -1;
    bool key = false;
};
struct ProbePackets {
    bool ok = false;
    std::string errors;
    std::vector<ProbePacket> packets;
};
// `extraArgs` goes before the input, e.g. "-read_intervals 95%" or "-select_streams v".
ProbePackets ffprobePackets(const std::string& path, const std::string& extraArgs = {});

struct ToolRun {
    bool ok = false;  // exit 0 and nothing on standard error
    int exitCode = -1;
    std::string output, errors;
};
// ffmpeg -v error -xerror -err_detect explode -i f -f null -
ToolRun ffmpegDecode(const std::string& path);
// gst-launch-1.0 decoding every stream (decodebin) into fakesinks.
ToolRun gstDecode(const std::string& path, int streams);
// gst-launch-1.0 demultiplexing only (asfdemux into fakesinks): for
// payloads that are not decodable.
ToolRun gstDemux(const std::string& path, int streams);

// gst-discoverer-1.0 -v
struct Discovery {
    bool ok = false;  // discovered without error
    double duration = -1;  // seconds
    bool seekable = false;
    std::string output;
};
Discovery gstDiscover(const std::string& path);

// mediainfo --Output=JSON: one map of fields per track ("General", "Video", "Audio").
struct MediaInfoTrack {
    std::string type;
    std::map<std::string, std::string> fields;
    std::string field(const std::string& key) const;
};
struct MediaInfo {
    bool ok = false;
    std::vector<MediaInfoTrack> tracks;
    std::string raw;
    const MediaInfoTrack* track(const std::string& type, int nth = 0) const;
};
MediaInfo mediaInfo(const std::string& path);
// mediainfo --Details=1: the byte-offset trace of every object and packet (raw text).
std::string mediaInfoDetails(const std::string& path);

// exiftool -G1 -s -j: "Group:Tag" -> value as text, e.g. "ASF:Preroll" -> "3000",
// "ASF:MinPacketSize", "ASF:Duration" (raw: preroll included). Empty on failure.
std::map<std::string, std::string> exifTool(const std::string& path);

}  // namespace asfw::test

#endif
