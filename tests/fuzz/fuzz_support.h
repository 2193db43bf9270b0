// Shared pieces of the fuzz targets: reading the fuzzer's bytes as values,
// and reporting a broken promise (an abort, which libFuzzer reports as a
// crash with the input that caused it).
#ifndef ASFWRITER_TESTS_FUZZ_FUZZ_SUPPORT_H
#define ASFWRITER_TESTS_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

// The fuzzer's bytes, read front to back; an exhausted input reads as zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
    bool empty() const { return n_ == 0; }
    std::uint8_t u8()
    {
        if (n_ == 0)
            return 0;
        --n_;
        return *p_++;
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | (u8() << 8)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16()) | (static_cast<std::uint32_t>(u16()) << 16); }
    std::vector<std::uint8_t> bytes(std::size_t count)
    {
        std::vector<std::uint8_t> out(count);
        for (auto& b : out)
            b = u8();
        return out;
    }
    // table[i] for an index byte i below the table's size; a raw 32-bit
    // value for the next index; the table wraps around otherwise.
    template <std::size_t N>
    int pick(const int (&table)[N])
    {
        const std::size_t i = u8() % (N + 1);
        return i < N ? table[i] : static_cast<int>(u32());
    }
    // The same with the raw value taken modulo `rawLimit` (positive).
    template <std::size_t N>
    int pick(const int (&table)[N], std::uint32_t rawLimit)
    {
        const std::size_t i = u8() % (N + 1);
        return i < N ? table[i] : static_cast<int>(u32() % rawLimit);
    }

private:
    const std::uint8_t* p_;
    std::size_t n_;
};

// The operation being checked, for the report.
inline int currentOp = -1;

[[noreturn]] inline void Broken(const char* target, const char* what, const std::string& detail = {})
{
    std::fprintf(stderr, "%s: broken promise at operation %d: %s %s\n", target, currentOp, what, detail.c_str());
    std::abort();
}

inline std::string Joined(const std::vector<std::string>& items)
{
    std::string out;
    for (const std::string& s : items)
        out += s + "; ";
    return out;
}

}  // namespace fuzz

#define FUZZ_PROMISE(cond, ...)                             \
    do {                                                    \
        if (!(cond))                                        \
            ::fuzz::Broken(FUZZ_TARGET, #cond, ##__VA_ARGS__); \
    } while (0)

#endif
