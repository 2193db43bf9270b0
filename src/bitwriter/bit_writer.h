// Most-significant-bit-first bit writer, and its counting twin.
//
// Syntax code is written once as a template over the writer type:
//   template <class W> void writeHeader(W& w, ...) { w.put(value, bits); ... }
// and called with a BitCounter to price a choice, or with a BitWriter to
// emit it. Both have the same interface and count bits identically.
#ifndef ASFWRITER_BITWRITER_BIT_WRITER_H
#define ASFWRITER_BITWRITER_BIT_WRITER_H

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace asfw {

// A variable-length code: `length` bits of `code`, right-aligned.
struct VlcCode {
    std::uint32_t code;
    std::uint8_t length;
};

class BitWriter {
public:
    BitWriter() { bytes_.reserve(4096); }

    // Appends the low `bits` bits of `value` (0 <= bits <= 32).
    void put(std::uint32_t value, int bits)
    {
        assert(bits >= 0 && bits <= 32);
        if (bits == 0) return;
        value &= bits == 32 ? 0xFFFFFFFFu : ((1u << bits) - 1u);
        acc_ = (acc_ << bits) | value;
        accBits_ += bits;
        while (accBits_ >= 8) {
            accBits_ -= 8;
            bytes_.push_back(static_cast<std::uint8_t>(acc_ >> accBits_));
        }
        acc_ &= accBits_ == 0 ? 0 : ((std::uint64_t{1} << accBits_) - 1);
    }
    void putBit(bool bit) { put(bit ? 1u : 0u, 1); }
    void put(const VlcCode& vlc) { put(vlc.code, vlc.length); }

    std::uint64_t bitCount() const { return static_cast<std::uint64_t>(bytes_.size()) * 8 + accBits_; }

    // Pads with zero bits up to the next byte boundary.
    void alignToByte()
    {
        if (accBits_ != 0) put(0, 8 - accBits_);
    }
    // Pads to a byte boundary and returns everything written.
    const std::vector<std::uint8_t>& finish()
    {
        alignToByte();
        return bytes_;
    }
    std::vector<std::uint8_t> take()
    {
        alignToByte();
        std::vector<std::uint8_t> out;
        out.swap(bytes_);
        acc_ = 0;
        accBits_ = 0;
        return out;
    }
    void clear()
    {
        bytes_.clear();
        acc_ = 0;
        accBits_ = 0;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t acc_ = 0;
    int accBits_ = 0;
};

// Counts the bits a BitWriter would write, writing nothing.
class BitCounter {
public:
    void put(std::uint32_t /*value*/, int bits)
    {
        assert(bits >= 0 && bits <= 32);
        bits_ += static_cast<std::uint64_t>(bits);
    }
    void putBit(bool /*bit*/) { ++bits_; }
    void put(const VlcCode& vlc) { bits_ += vlc.length; }
    std::uint64_t bitCount() const { return bits_; }
    void alignToByte() { bits_ = (bits_ + 7) & ~std::uint64_t{7}; }
    void clear() { bits_ = 0; }

private:
    std::uint64_t bits_ = 0;
};

}  // namespace asfw

#endif
