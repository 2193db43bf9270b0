// The audio encoder's own most-significant-bit-first writer: the interface
// of the shared BitWriter (so the block syntax templates take it), with a
// 64-bit accumulator emptied 32 bits at a time, and a copy of any bit range
// of another buffer in 32-bit pieces (frames laid into packets).
#ifndef ASFWRITER_AUDIO_ENCODER_WMA_BIT_WRITER_H
#define ASFWRITER_AUDIO_ENCODER_WMA_BIT_WRITER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bitwriter/bit_writer.h"

namespace asfw {

class WmaBitWriter {
public:
    // Appends the low `bits` bits of `value` (0 <= bits <= 32).
    void put(std::uint32_t value, int bits)
    {
        if (bits <= 0) return;
        const std::uint64_t v = bits == 32 ? value : (value & ((1u << bits) - 1u));
        acc_ = (acc_ << bits) | v;
        accBits_ += bits;
        if (accBits_ >= 32) {
            accBits_ -= 32;
            const std::uint32_t w = static_cast<std::uint32_t>(acc_ >> accBits_);
            if (size_ + 4 > bytes_.size()) bytes_.resize(bytes_.size() * 2 + 64);
            std::uint8_t* d = bytes_.data() + size_;
            d[0] = static_cast<std::uint8_t>(w >> 24);
            d[1] = static_cast<std::uint8_t>(w >> 16);
            d[2] = static_cast<std::uint8_t>(w >> 8);
            d[3] = static_cast<std::uint8_t>(w);
            size_ += 4;
        }
    }
    void putBit(bool bit) { put(bit ? 1u : 0u, 1); }
    void put(const VlcCode& vlc) { put(vlc.code, vlc.length); }

    // Appends n bits of src starting at bit `start` (bits past the end of
    // src read as zero).
    void putRange(const std::vector<std::uint8_t>& src, std::uint64_t start, std::uint64_t n)
    {
        while (n > 0) {
            const int c = n >= 32 ? 32 : static_cast<int>(n);
            const std::size_t byte = static_cast<std::size_t>(start >> 3);
            std::uint64_t v = 0;
            for (std::size_t i = 0; i < 5; ++i) v = (v << 8) | (byte + i < src.size() ? src[byte + i] : 0u);
            // v holds 40 bits from `byte`; take c of them after the bit offset.
            const int shift = 40 - static_cast<int>(start & 7) - c;
            put(static_cast<std::uint32_t>(v >> shift), c);
            start += static_cast<std::uint64_t>(c);
            n -= static_cast<std::uint64_t>(c);
        }
    }

    std::uint64_t bitCount() const { return static_cast<std::uint64_t>(size_) * 8 + static_cast<std::uint64_t>(accBits_); }

    // Pads with zero bits to a byte boundary and returns everything written.
    std::vector<std::uint8_t> take()
    {
        if (accBits_ & 7) put(0, 8 - (accBits_ & 7));
        bytes_.resize(size_);
        while (accBits_ >= 8) {
            accBits_ -= 8;
            bytes_.push_back(static_cast<std::uint8_t>(acc_ >> accBits_));
        }
        std::vector<std::uint8_t> out;
        out.swap(bytes_);
        acc_ = 0;
        accBits_ = 0;
        size_ = 0;
        return out;
    }

private:
    std::vector<std::uint8_t> bytes_;  // size_ bytes written; the rest is room
    std::size_t size_ = 0;
    std::uint64_t acc_ = 0;
    int accBits_ = 0;
};

}  // namespace asfw

#endif
