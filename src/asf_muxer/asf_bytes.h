// Little-endian byte building for ASF structures, and the GUIDs the file
// format uses.
#ifndef ASFWRITER_ASF_MUXER_ASF_BYTES_H
#define ASFWRITER_ASF_MUXER_ASF_BYTES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace asfw::asf {

// A GUID as stored in the file: the first three fields little-endian, the
// last eight bytes as written.
struct Guid {
    std::array<std::uint8_t, 16> bytes{};

    // From the usual textual form's parts, e.g. 75B22630-668E-11CF-A6D9-00AA0062CE6C.
    static constexpr Guid make(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3, std::uint16_t d4,
                               std::uint64_t d5)
    {
        Guid g;
        for (int i = 0; i < 4; ++i) g.bytes[i] = static_cast<std::uint8_t>(d1 >> (8 * i));
        for (int i = 0; i < 2; ++i) g.bytes[4 + i] = static_cast<std::uint8_t>(d2 >> (8 * i));
        for (int i = 0; i < 2; ++i) g.bytes[6 + i] = static_cast<std::uint8_t>(d3 >> (8 * i));
        g.bytes[8] = static_cast<std::uint8_t>(d4 >> 8);
        g.bytes[9] = static_cast<std::uint8_t>(d4);
        for (int i = 0; i < 6; ++i) g.bytes[10 + i] = static_cast<std::uint8_t>(d5 >> (8 * (5 - i)));
        return g;
    }
    bool operator==(const Guid& other) const { return bytes == other.bytes; }
    bool operator!=(const Guid& other) const { return bytes != other.bytes; }
};

// A fresh random GUID (version 4) for the File ID.
Guid randomGuid();

namespace guid {
// Top-level objects.
inline constexpr Guid header = Guid::make(0x75B22630, 0x668E, 0x11CF, 0xA6D9, 0x00AA0062CE6C);
inline constexpr Guid data = Guid::make(0x75B22636, 0x668E, 0x11CF, 0xA6D9, 0x00AA0062CE6C);
inline constexpr Guid simpleIndex = Guid::make(0x33000890, 0xE5B1, 0x11CF, 0x89F4, 0x00A0C90349CB);
inline constexpr Guid index = Guid::make(0xD6E229D3, 0x35DA, 0x11D1, 0x9034, 0x00A0C90349BE);
// Header objects.
inline constexpr Guid fileProperties = Guid::make(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE4, 0x00C00C205365);
inline constexpr Guid streamProperties = Guid::make(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE6, 0x00C00C205365);
inline constexpr Guid headerExtension = Guid::make(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE3, 0x00C00C205365);
inline constexpr Guid headerExtensionReserved = Guid::make(0xABD3D211, 0xA9BA, 0x11CF, 0x8EE6, 0x00C00C205365);
inline constexpr Guid codecList = Guid::make(0x86D15240, 0x311D, 0x11D0, 0xA3A4, 0x00A0C90348F6);
inline constexpr Guid codecListReserved = Guid::make(0x86D15241, 0x311D, 0x11D0, 0xA3A4, 0x00A0C90348F6);
inline constexpr Guid streamBitrateProperties = Guid::make(0x7BF875CE, 0x468D, 0x11D1, 0x8D82, 0x006097C9A2B2);
// Header-extension objects.
inline constexpr Guid extendedStreamProperties = Guid::make(0x14E6A5CB, 0xC672, 0x4332, 0x8399, 0xA96952065B5A);
inline constexpr Guid indexParameters = Guid::make(0xD6E229DF, 0x35DA, 0x11D1, 0x9034, 0x00A0C90349BE);
// Stream and error-correction types.
inline constexpr Guid audioMedia = Guid::make(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD, 0x00805F5C442B);
inline constexpr Guid videoMedia = Guid::make(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8FD, 0x00805F5C442B);
inline constexpr Guid audioSpread = Guid::make(0xBFC3CD50, 0x618F, 0x11CF, 0x8BB2, 0x00AA00B4E220);
inline constexpr Guid noErrorCorrection = Guid::make(0x20FB5700, 0x5B55, 0x11CF, 0xA8FD, 0x00805F5C442B);
}  // namespace guid

// Appends little-endian values to a byte vector; patches them in place.
class ByteBuffer {
public:
    void u8(std::uint8_t v) { bytes_.push_back(v); }
    void u16(std::uint16_t v) { put(v, 2); }
    void u32(std::uint32_t v) { put(v, 4); }
    void u64(std::uint64_t v) { put(v, 8); }
    void guid(const Guid& g) { bytes_.insert(bytes_.end(), g.bytes.begin(), g.bytes.end()); }
    void raw(const void* data, std::size_t size)
    {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    void raw(const std::vector<std::uint8_t>& data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
    void utf16(const std::u16string& text)
    {
        for (char16_t c : text) u16(static_cast<std::uint16_t>(c));
    }
    void zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    void patchU16(std::size_t at, std::uint16_t v) { patch(at, v, 2); }
    void patchU32(std::size_t at, std::uint32_t v) { patch(at, v, 4); }
    void patchU64(std::size_t at, std::uint64_t v) { patch(at, v, 8); }

    std::size_t size() const { return bytes_.size(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    void clear() { bytes_.clear(); }

private:
    void put(std::uint64_t v, int n)
    {
        for (int i = 0; i < n; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void patch(std::size_t at, std::uint64_t v, int n)
    {
        for (int i = 0; i < n; ++i) bytes_[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::vector<std::uint8_t> bytes_;
};

}  // namespace asfw::asf

#endif
