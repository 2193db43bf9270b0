// Optional symbol trace of the VC-1 syntax writers, to find the first place
// where the encoder and a decoder disagree.
//
// Syntax code calls traceSymbol(w, "NAME", value) before writing a symbol;
// with a BitWriter or BitCounter that is a no-op, with a TracingWriter it
// records (bit position, name, value, bit count). The encoder uses a
// TracingWriter when the environment variable ASFW_VC1_TRACE names a file
// (or "-" for standard error), or when asked through its options.
#ifndef ASFWRITER_VIDEO_ENCODER_VC1_TRACE_H
#define ASFWRITER_VIDEO_ENCODER_VC1_TRACE_H

#include <cstdint>
#include <string>
#include <vector>

#include "bitwriter/bit_writer.h"

namespace asfw::vc1 {

struct TraceRecord {
    std::uint64_t position = 0;  // bit offset in the picture
    std::uint32_t bits = 0;      // bits the symbol took
    const char* what = "";
    int value = 0;
    int mbX = -1, mbY = -1, block = -1;
};

class TracingWriter {
public:
    void put(std::uint32_t value, int bits) { writer_.put(value, bits); }
    void putBit(bool bit) { writer_.putBit(bit); }
    void put(const VlcCode& vlc) { writer_.put(vlc); }
    std::uint64_t bitCount() const { return writer_.bitCount(); }
    void alignToByte() { writer_.alignToByte(); }
    std::vector<std::uint8_t> take()
    {
        close();
        return writer_.take();
    }

    void symbol(const char* what, int value)
    {
        close();
        TraceRecord r;
        r.position = writer_.bitCount();
        r.what = what;
        r.value = value;
        r.mbX = mbX;
        r.mbY = mbY;
        r.block = block;
        records_.push_back(r);
    }
    const std::vector<TraceRecord>& records()
    {
        close();
        return records_;
    }
    // One line per symbol: "pos bits mb(x,y) blk what value".
    std::string format();

    int mbX = -1, mbY = -1, block = -1;

private:
    void close()
    {
        if (!records_.empty())
            records_.back().bits = static_cast<std::uint32_t>(writer_.bitCount() - records_.back().position);
    }
    BitWriter writer_;
    std::vector<TraceRecord> records_;
};

template <class W>
inline void traceSymbol(W&, const char*, int)
{
}
inline void traceSymbol(TracingWriter& w, const char* what, int value) { w.symbol(what, value); }

template <class W>
inline void tracePosition(W&, int, int, int)
{
}
inline void tracePosition(TracingWriter& w, int mbX, int mbY, int block)
{
    w.mbX = mbX;
    w.mbY = mbY;
    w.block = block;
}

// Where ASFW_VC1_TRACE asks the trace to go ("" = no trace).
std::string traceTarget();
// Appends `text` to the trace target ("-" = standard error).
void emitTrace(const std::string& target, const std::string& text);

}  // namespace asfw::vc1

#endif
