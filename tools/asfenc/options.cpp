#include "options.h"

#include <climits>

namespace asfenc {

namespace {

bool parseInt(const std::string& text, long long low, long long high, int& value)
{
    if (text.empty() || text.size() > 12) return false;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return false;
    value = static_cast<int>(v);
    return true;
}

bool parseSize(const std::string& text, int& w, int& h)
{
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    return parseInt(text.substr(0, x), 1, INT_MAX, w) && parseInt(text.substr(x + 1), 1, INT_MAX, h);
}

bool parseRate(const std::string& text, int& num, int& den)
{
    const std::size_t slash = text.find_first_of("/:");
    if (slash == std::string::npos) {
        den = 1;
        return parseInt(text, 1, INT_MAX, num);
    }
    return parseInt(text.substr(0, slash), 1, INT_MAX, num) && parseInt(text.substr(slash + 1), 1, INT_MAX, den);
}

}  // namespace

const char* usageText()
{
    return "usage: asfenc [options] -o OUTPUT.wmv\n"
           "Writes an ASF file with Windows Media Video 9 and/or Windows Media Audio 9.\n"
           "  -i, --video FILE        YUV4MPEG2 4:2:0 (.y4m) or raw I420 (with --size WxH --fps N[/D]); '-' reads stdin\n"
           "  -a, --audio FILE        WAV (PCM 8/16/24/32-bit or float, any rate, mono to 8 channels); '-' reads stdin\n"
           "  -b, --video-kbps N      target bit rate (default 1000)\n"
           "  -q, --quality N         0 = constant bit rate (default); 1-100 = variable bit rate at that quality\n"
           "      --passes N          1 (default) or 2: runs the pre-processing pass first (the input must be a file)\n"
           "      --audio-kbps N      ceiling for the audio format (default 128)\n"
           "      --audio-rate HZ     encoded sample rate (default 44100); --audio-channels N (default 2)\n"
           "      --demo              write a 10 s built-in test pattern with a tone (also what no input at all does)\n"
           "      --size WxH          picture size of raw I420 input\n"
           "      --fps N[/D]         frame rate of raw I420 input (overrides a YUV4MPEG2 stream's own)\n"
           "  -o, --output FILE       the file to write (default demo.wmv for the demo)\n"
           "  -h, --help              this text; --version the version\n"
           "Exit status: 0 success, 2 usage error or bad input (a truncated input still gives a\n"
           "playable file of its complete frames), 1 the library failed, 130 interrupted.\n";
}

ParseStatus parseOptions(const std::vector<std::string>& args, Options& o, std::string& error)
{
    o = Options{};
    bool sizeGiven = false, fpsGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool inlineValue = false;
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                inlineValue = true;
            }
        }
        auto is = [&](const char* shortName, const char* longName) {
            return (shortName != nullptr && arg == shortName) || arg == longName;
        };
        auto takeValue = [&]() -> bool {
            if (inlineValue) return true;
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto number = [&](long long low, long long high, int& out) -> bool {
            if (!takeValue()) return false;
            if (!parseInt(value, low, high, out)) {
                error = "option " + arg + " takes a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ", not '" + value + "'";
                return false;
            }
            return true;
        };
        auto noValue = [&]() -> bool {
            if (inlineValue) {
                error = "option " + arg + " takes no value";
                return false;
            }
            return true;
        };

        if (is("-h", "--help")) {
            if (!noValue()) return ParseStatus::Error;
            return ParseStatus::Help;
        } else if (is(nullptr, "--version")) {
            if (!noValue()) return ParseStatus::Error;
            return ParseStatus::Version;
        } else if (is("-i", "--video")) {
            if (!takeValue()) return ParseStatus::Error;
            if (value.empty()) {
                error = "option " + arg + " needs a file name";
                return ParseStatus::Error;
            }
            o.video = value;
        } else if (is("-a", "--audio")) {
            if (!takeValue()) return ParseStatus::Error;
            if (value.empty()) {
                error = "option " + arg + " needs a file name";
                return ParseStatus::Error;
            }
            o.audio = value;
        } else if (is("-o", "--output")) {
            if (!takeValue()) return ParseStatus::Error;
            if (value.empty() || value == "-") {
                error = "the output must be a file name (the file is written in place, not to a pipe)";
                return ParseStatus::Error;
            }
            o.output = value;
        } else if (is("-b", "--video-kbps")) {
            if (!number(1, kMaxVideoKbps, o.videoKbps)) return ParseStatus::Error;
        } else if (is("-q", "--quality")) {
            if (!number(0, 100, o.quality)) return ParseStatus::Error;
        } else if (is(nullptr, "--passes")) {
            if (!number(1, 2, o.passes)) return ParseStatus::Error;
        } else if (is(nullptr, "--audio-kbps")) {
            if (!number(1, 100000, o.audioKbps)) return ParseStatus::Error;
        } else if (is(nullptr, "--audio-rate")) {
            if (!number(1, 1000000, o.audioRate)) return ParseStatus::Error;
        } else if (is(nullptr, "--audio-channels")) {
            if (!number(1, 2, o.audioChannels)) return ParseStatus::Error;
        } else if (is(nullptr, "--demo")) {
            if (!noValue()) return ParseStatus::Error;
            o.demo = true;
        } else if (is(nullptr, "--size")) {
            if (!takeValue()) return ParseStatus::Error;
            if (!parseSize(value, o.width, o.height)) {
                error = "option --size takes WIDTHxHEIGHT, not '" + value + "'";
                return ParseStatus::Error;
            }
            sizeGiven = true;
        } else if (is(nullptr, "--fps")) {
            if (!takeValue()) return ParseStatus::Error;
            if (!parseRate(value, o.fpsNum, o.fpsDen)) {
                error = "option --fps takes N or N/D (e.g. 25 or 30000/1001), not '" + value + "'";
                return ParseStatus::Error;
            }
            fpsGiven = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            error = "unknown option " + arg;
            return ParseStatus::Error;
        } else {
            error = "unexpected argument '" + arg + "' (inputs are given with -i and -a)";
            return ParseStatus::Error;
        }
    }

    const bool haveInput = !o.video.empty() || !o.audio.empty();
    if (o.demo && haveInput) {
        error = "--demo makes its own video and audio; it takes no -i or -a";
        return ParseStatus::Error;
    }
    if (!haveInput) o.demo = true;
    if (o.demo) {
        if (sizeGiven || fpsGiven) {
            error = "--size and --fps describe an input file; the demo has none";
            return ParseStatus::Error;
        }
        if (o.output.empty()) o.output = "demo.wmv";
    }
    if (o.output.empty()) {
        error = "no output file (give -o OUTPUT.wmv)";
        return ParseStatus::Error;
    }
    if (o.video == "-" && o.audio == "-") {
        error = "only one of the video and the audio can come from standard input";
        return ParseStatus::Error;
    }
    if ((sizeGiven || fpsGiven) && o.video.empty()) {
        error = "--size and --fps describe the video input; there is none (-i)";
        return ParseStatus::Error;
    }
    if (o.passes == 2 && !o.demo) {
        if (o.video.empty()) {
            error = "--passes 2 is for video; there is no video input (-i)";
            return ParseStatus::Error;
        }
        if (o.video == "-") {
            error = "--passes 2 reads the video twice; it needs a file, not standard input";
            return ParseStatus::Error;
        }
    }
    if (!o.video.empty() && (o.output == o.video || o.output == o.audio)) {
        error = "the output file is also an input";
        return ParseStatus::Error;
    }
    if (!o.audio.empty() && o.output == o.audio) {
        error = "the output file is also an input";
        return ParseStatus::Error;
    }
    return ParseStatus::Run;
}

}  // namespace asfenc
