#include "video_encoder/vc1_trace.h"

#include <cstdio>
#include <cstdlib>

namespace asfw::vc1 {

std::string TracingWriter::format()
{
    close();
    std::string out;
    char line[160];
    for (const TraceRecord& r : records_) {
        std::snprintf(line, sizeof(line), "%8llu %2u mb(%d,%d) blk %d %-12s %d\n",
                      static_cast<unsigned long long>(r.position), r.bits, r.mbX, r.mbY, r.block, r.what, r.value);
        out += line;
    }
    return out;
}

std::string traceTarget()
{
    const char* env = std::getenv("ASFW_VC1_TRACE");
    return env != nullptr ? std::string(env) : std::string();
}

void emitTrace(const std::string& target, const std::string& text)
{
    if (target.empty()) return;
    if (target == "-") {
        std::fputs(text.c_str(), stderr);
        return;
    }
    if (std::FILE* f = std::fopen(target.c_str(), "a")) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
}

}  // namespace asfw::vc1
