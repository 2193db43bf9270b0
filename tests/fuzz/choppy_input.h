// A ByteInput for the reader fuzz targets: memory delivered in pieces of
// at most a given size (as a pipe delivers), failing with a read error once
// a given number of bytes has been read, when asked to.
#ifndef ASFWRITER_TESTS_FUZZ_CHOPPY_INPUT_H
#define ASFWRITER_TESTS_FUZZ_CHOPPY_INPUT_H

#include "byte_input.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace fuzz {

class ChoppyInput final : public asfenc::ByteInput {
public:
    ChoppyInput(const std::uint8_t* data, std::size_t size, std::size_t piece, bool fails, std::size_t failAt)
        : data_(data), size_(size), piece_(piece == 0 ? 1 : piece), fails_(fails), failAt_(failAt)
    {
    }
    std::size_t read(void* out, std::size_t size) override
    {
        if (failed_) return 0;
        std::size_t n = std::min({size, piece_, size_ - position_});
        if (fails_ && position_ + n >= failAt_) {
            n = failAt_ > position_ ? failAt_ - position_ : 0;
            failed_ = true;
        }
        if (n > 0) std::memcpy(out, data_ + position_, n);
        position_ += n;
        return n;
    }
    bool failed() const override { return failed_; }
    bool canRewind() const override { return true; }
    bool rewind() override
    {
        if (failed_) return false;
        position_ = 0;
        return true;
    }
    std::int64_t knownSize() const override { return static_cast<std::int64_t>(size_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t piece_;
    bool fails_;
    std::size_t failAt_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

}  // namespace fuzz

#endif
