#include "support/asf_checkers.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "support/test_support.h"

namespace asfw::test {
namespace {

struct JsonParser {
    const std::string& s;
    std::size_t i = 0;
    std::string error;

    void space()
    {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    }
    bool fail(const std::string& what)
    {
        if (error.empty()) error = what + " at " + std::to_string(i);
        return false;
    }
    bool literal(const char* word)
    {
        const std::string w(word);
        if (s.compare(i, w.size(), w) != 0) return fail("bad literal");
        i += w.size();
        return true;
    }
    bool string(std::string& out)
    {
        if (i >= s.size() || s[i] != '"') return fail("expected string");
        ++i;
        while (i < s.size() && s[i] != '"') {
            char c = s[i++];
            if (c == '\\' && i < s.size()) {
                const char e = s[i++];
                switch (e) {
                case 'n': c = '\n'; break;
                case 't': c = '\t'; break;
                case 'r': c = '\r'; break;
                case 'b': c = '\b'; break;
                case 'f': c = '\f'; break;
                case 'u': {
                    if (i + 4 > s.size()) return fail("bad escape");
                    const unsigned code = static_cast<unsigned>(std::strtoul(s.substr(i, 4).c_str(), nullptr, 16));
                    i += 4;
                    if (code < 0x80) {
                        c = static_cast<char>(code);
                    } else if (code < 0x800) {
                        out += static_cast<char>(0xC0 | (code >> 6));
                        c = static_cast<char>(0x80 | (code & 0x3F));
                    } else {
                        out += static_cast<char>(0xE0 | (code >> 12));
                        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                        c = static_cast<char>(0x80 | (code & 0x3F));
                    }
                    break;
                }
                default: c = e;
                }
            }
            out += c;
        }
        if (i >= s.size()) return fail("unterminated string");
        ++i;
        return true;
    }
    bool value(Json& v, int depth)
    {
        if (depth > 64) return fail("too deep");
        space();
        if (i >= s.size()) return fail("unexpected end");
        const char c = s[i];
        if (c == '{') {
            v.type = Json::Type::Object;
            ++i;
            space();
            if (i < s.size() && s[i] == '}') {
                ++i;
                return true;
            }
            for (;;) {
                space();
                std::string key;
                if (!string(key)) return false;
                space();
                if (i >= s.size() || s[i] != ':') return fail("expected ':'");
                ++i;
                Json member;
                if (!value(member, depth + 1)) return false;
                v.object.emplace_back(std::move(key), std::move(member));
                space();
                if (i < s.size() && s[i] == ',') {
                    ++i;
                    continue;
                }
                if (i < s.size() && s[i] == '}') {
                    ++i;
                    return true;
                }
                return fail("expected ',' or '}'");
            }
        }
        if (c == '[') {
            v.type = Json::Type::Array;
            ++i;
            space();
            if (i < s.size() && s[i] == ']') {
                ++i;
                return true;
            }
            for (;;) {
                Json item;
                if (!value(item, depth + 1)) return false;
                v.array.push_back(std::move(item));
                space();
                if (i < s.size() && s[i] == ',') {
                    ++i;
                    continue;
                }
                if (i < s.size() && s[i] == ']') {
                    ++i;
                    return true;
                }
                return fail("expected ',' or ']'");
            }
        }
        if (c == '"') {
            v.type = Json::Type::String;
            return string(v.string);
        }
        if (c == 't') {
            v.type = Json::Type::Bool;
            v.boolean = true;
            return literal("true");
        }
        if (c == 'f') {
            v.type = Json::Type::Bool;
            return literal("false");
        }
        if (c == 'n') return literal("null");
        const char* start = s.c_str() + i;
        char* end = nullptr;
        v.number = std::strtod(start, &end);
        if (end == start) return fail("bad value");
        v.type = Json::Type::Number;
        i += static_cast<std::size_t>(end - start);
        return true;
    }
};

double toNumber(const std::string& text, double fallback)
{
    if (text.empty()) return fallback;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    return end == text.c_str() ? fallback : v;
}

double rate(const std::string& fraction)
{
    const auto slash = fraction.find('/');
    if (slash == std::string::npos) return toNumber(fraction, 0);
    const double num = toNumber(fraction.substr(0, slash), 0), den = toNumber(fraction.substr(slash + 1), 0);
    return den > 0 ? num / den : 0;
}

ToolRun run(const std::string& command)
{
    const CommandResult r = runCommand(command);
    ToolRun t;
    t.exitCode = r.exitCode;
    t.output = r.output;
    t.errors = r.errors;
    t.ok = r.exitCode == 0 && r.errors.find_first_not_of(" \t\r\n") == std::string::npos;
    return t;
}

}  // namespace

bool Json::parse(const std::string& text, Json& out, std::string* error)
{
    JsonParser p{text, 0, {}};
    out = Json{};
    const bool ok = p.value(out, 0);
    if (!ok && error) *error = p.error;
    return ok;
}

const Json* Json::get(const std::string& key) const
{
    if (type != Type::Object) return nullptr;
    for (const auto& [k, v] : object)
        if (k == key) return &v;
    return nullptr;
}

std::string Json::text(const std::string& key, const std::string& fallback) const
{
    const Json* v = get(key);
    if (!v) return fallback;
    if (v->type == Type::String) return v->string;
    if (v->type == Type::Number) {
        std::ostringstream os;
        os.precision(17);
        os << v->number;
        return os.str();
    }
    if (v->type == Type::Bool) return v->boolean ? "true" : "false";
    return fallback;
}

double Json::num(const std::string& key, double fallback) const
{
    const Json* v = get(key);
    if (!v) return fallback;
    if (v->type == Type::Number) return v->number;
    if (v->type == Type::String) return toNumber(v->string, fallback);
    return fallback;
}

ProbeResult ffprobeStreams(const std::string& path)
{
    ProbeResult result;
    const CommandResult r = runCommand(
        "ffprobe -v error -show_entries "
        "format=duration,start_time,bit_rate:stream=index,codec_type,codec_name,codec_tag_string,width,height,"
        "sample_rate,channels,bit_rate,avg_frame_rate,duration,start_time -of json " +
        shellQuote(path));
    result.raw = r.output;
    result.errors = r.errors;
    Json json;
    if (r.exitCode != 0 || !Json::parse(r.output, json)) return result;
    if (const Json* format = json.get("format")) {
        result.duration = format->num("duration");
        result.startTime = format->num("start_time");
        result.bitRate = format->num("bit_rate");
    }
    if (const Json* streams = json.get("streams")) {
        for (const Json& s : streams->array) {
            ProbeStream p;
            p.index = static_cast<int>(s.num("index"));
            p.codecType = s.text("codec_type");
            p.codecName = s.text("codec_name");
            p.codecTag = s.text("codec_tag_string");
            p.width = static_cast<int>(s.num("width", 0));
            p.height = static_cast<int>(s.num("height", 0));
            p.sampleRate = static_cast<int>(s.num("sample_rate", 0));
            p.channels = static_cast<int>(s.num("channels", 0));
            p.bitRate = s.num("bit_rate");
            p.duration = s.num("duration");
            p.startTime = s.num("start_time");
            p.avgFrameRate = rate(s.text("avg_frame_rate"));
            result.streams.push_back(p);
        }
    }
    result.ok = true;
    return result;
}

ProbePackets ffprobePackets(const std::string& path, const std::string& extraArgs)
{
    ProbePackets result;
    const CommandResult r = runCommand("ffprobe -v error " + extraArgs +
                                       " -show_entries packet=stream_index,pts_time,dts_time,duration_time,size,pos,flags"
                                       " -of json " +
                                       shellQuote(path));
    result.errors = r.errors;
    Json json;
    if (r.exitCode != 0 || !Json::parse(r.output, json)) return result;
    if (const Json* packets = json.get("packets")) {
        for (const Json& p : packets->array) {
            ProbePacket pk;
            pk.streamIndex = static_cast<int>(p.num("stream_index"));
            pk.ptsTime = p.num("pts_time");
            pk.dtsTime = p.num("dts_time");
            pk.durationTime = p.num("duration_time");
            pk.size = static_cast<std::int64_t>(p.num("size"));
            pk.pos = static_cast<std::int64_t>(p.num("pos"));
            pk.key = p.text("flags").find('K') != std::string::npos;
            result.packets.push_back(pk);
        }
    }
    result.ok = true;
    return result;
}

ToolRun ffmpegDecode(const std::string& path)
{
    return run("ffmpeg -nostdin -hide_banner -v error -xerror -err_detect explode -i " + shellQuote(path) + " -f null -");
}

static std::string branches(int streams, bool decode)
{
    std::string text;
    for (int i = 0; i < streams; ++i)
        text += decode ? " d. ! queue ! fakesink sync=false" : " d. ! queue ! fakesink sync=false async=false";
    return text;
}

ToolRun gstDecode(const std::string& path, int streams)
{
    return run("timeout 120 gst-launch-1.0 -q filesrc location=" + shellQuote(path) + " ! decodebin name=d" +
               branches(streams, true));
}

ToolRun gstDemux(const std::string& path, int streams)
{
    return run("timeout 120 gst-launch-1.0 -q filesrc location=" + shellQuote(path) + " ! asfdemux name=d" +
               branches(streams, false));
}

Discovery gstDiscover(const std::string& path)
{
    Discovery d;
    const CommandResult r = runCommand("timeout 60 gst-discoverer-1.0 -v " + shellQuote(path));
    d.output = r.output + r.errors;
    const auto durationAt = r.output.find("Duration: ");
    if (durationAt != std::string::npos) {
        int h = 0, m = 0;
        double s = 0;
        if (std::sscanf(r.output.c_str() + durationAt + 10, "%d:%d:%lf", &h, &m, &s) == 3) d.duration = h * 3600.0 + m * 60.0 + s;
    }
    d.seekable = r.output.find("Seekable: yes") != std::string::npos;
    d.ok = r.exitCode == 0 && durationAt != std::string::npos &&
           d.output.find("An error was encountered") == std::string::npos;
    return d;
}

std::string MediaInfoTrack::field(const std::string& key) const
{
    const auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}

const MediaInfoTrack* MediaInfo::track(const std::string& type, int nth) const
{
    for (const auto& t : tracks)
        if (t.type == type && nth-- == 0) return &t;
    return nullptr;
}

MediaInfo mediaInfo(const std::string& path)
{
    MediaInfo info;
    const CommandResult r = runCommand("mediainfo --Output=JSON " + shellQuote(path));
    info.raw = r.output;
    Json json;
    if (r.exitCode != 0 || !Json::parse(r.output, json)) return info;
    const Json* media = json.get("media");
    const Json* tracks = media ? media->get("track") : nullptr;
    if (!tracks) return info;
    for (const Json& t : tracks->array) {
        MediaInfoTrack track;
        track.type = t.text("@type");
        for (const auto& [k, v] : t.object)
            if (v.type == Json::Type::String) track.fields[k] = v.string;
        info.tracks.push_back(std::move(track));
    }
    info.ok = true;
    return info;
}

std::string mediaInfoDetails(const std::string& path)
{
    return runCommand("mediainfo --Details=1 " + shellQuote(path)).output;
}

std::map<std::string, std::string> exifTool(const std::string& path)
{
    std::map<std::string, std::string> tags;
    const CommandResult r = runCommand("exiftool -G1 -s -j " + shellQuote(path));
    Json json;
    if (r.exitCode != 0 || !Json::parse(r.output, json) || json.array.empty()) return tags;
    const Json& first = json.array.front();
    for (const auto& [key, value] : first.object) tags[key] = first.text(key);
    return tags;
}

}  // namespace asfw::test
