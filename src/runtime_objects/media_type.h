// A media type held by value: the WM_MEDIA_TYPE record and its format block.
//
// Callers read it with the runtime's two-call convention (size first, then
// the record with the format block placed right after it in the same
// buffer) and replace it by copying theirs in.
#ifndef ASFWRITER_RUNTIME_OBJECTS_MEDIA_TYPE_H
#define ASFWRITER_RUNTIME_OBJECTS_MEDIA_TYPE_H

#include <cstdint>
#include <optional>
#include <vector>

#include "runtime/wmf_runtime.h"

namespace asfw::rt {

class MediaType {
public:
    // Offset of the format block after the record (kept 8-byte aligned so a
    // caller may read the block's 64-bit members in place).
    static constexpr std::size_t kFormatOffset = (sizeof(WM_MEDIA_TYPE) + 7) & ~std::size_t(7);
    // Largest format block accepted from a caller.
    static constexpr std::size_t kMaxFormatBytes = 1u << 16;

    bool present() const { return present_; }
    const WM_MEDIA_TYPE& record() const { return record_; }  // pbFormat/pUnk are not meaningful here
    const std::vector<BYTE>& format() const { return format_; }

    DWORD byteSize() const { return static_cast<DWORD>(kFormatOffset + format_.size()); }

    // GetMediaType semantics.
    HRESULT copyOut(WM_MEDIA_TYPE* type, DWORD* size) const;
    // SetMediaType semantics: validates and copies.
    HRESULT assign(const WM_MEDIA_TYPE* type);

    void set(const GUID& major, const GUID& sub, const GUID& formatType, bool fixedSize, bool temporal,
             ULONG sampleSize, std::vector<BYTE> format);

    // The format block read as a record, when it is large enough.
    std::optional<WMVIDEOINFOHEADER> videoInfo() const;
    std::optional<WAVEFORMATEX> waveFormat() const;
    // Bytes after the record inside the format block (codec data).
    std::vector<BYTE> videoExtra() const;
    std::vector<BYTE> waveExtra() const;

private:
    bool present_ = false;
    WM_MEDIA_TYPE record_{};
    std::vector<BYTE> format_;
};

// Builders for the types the runtime offers.
std::vector<BYTE> videoInfoBlock(const WMVIDEOINFOHEADER& header, const std::vector<BYTE>& extra);
std::vector<BYTE> waveFormatBlock(const WAVEFORMATEX& wave, const std::vector<BYTE>& extra);

// Uncompressed planar 4:2:0 input (I420, IYUV or YV12) of the given size.
MediaType planarVideoType(const GUID& subtype, DWORD fourCC, int width, int height, REFERENCE_TIME frameDuration);
// PCM input.
MediaType pcmType(int sampleRate, int channels, int bitsPerSample);

}  // namespace asfw::rt

#endif
