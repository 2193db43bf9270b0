// The command line of asfenc.
#ifndef ASFENC_OPTIONS_H
#define ASFENC_OPTIONS_H

#include <string>
#include <vector>

namespace asfenc {

// Largest --video-kbps: the writer multiplies it by 2500 in 32 bits.
constexpr int kMaxVideoKbps = 858993;

struct Options {
    std::string video;   // empty: none; "-": standard input
    std::string audio;
    std::string output;  // defaults to demo.wmv for the demo
    bool demo = false;   // set by --demo or by giving no input at all
    int videoKbps = 1000;
    int quality = 0;
    int passes = 1;
    int audioKbps = 128;
    int audioRate = 44100;
    int audioChannels = 2;
    int width = 0, height = 0;  // --size, for raw I420 input
    int fpsNum = 0, fpsDen = 0; // --fps
};

enum class ParseStatus { Run, Help, Version, Error };

// Reads the arguments after the program name. On Error, `error` is a
// one-line message.
ParseStatus parseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

const char* usageText();

}  // namespace asfenc

#endif
