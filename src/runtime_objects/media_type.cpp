#include "runtime_objects/media_type.h"

#include <algorithm>
#include <cstring>

namespace asfw::rt {

HRESULT MediaType::copyOut(WM_MEDIA_TYPE* type, DWORD* size) const
{
    if (size == nullptr) return E_INVALIDARG;
    if (!present_) return NS_E_INVALID_REQUEST;
    const DWORD needed = byteSize();
    if (type == nullptr) {
        *size = needed;
        return S_OK;
    }
    if (*size < needed) {
        *size = needed;
        return ASF_E_BUFFERTOOSMALL;
    }
    WM_MEDIA_TYPE out = record_;
    out.pUnk = nullptr;
    out.cbFormat = static_cast<ULONG>(format_.size());
    BYTE* base = reinterpret_cast<BYTE*>(type);
    out.pbFormat = format_.empty() ? nullptr : base + kFormatOffset;
    std::memcpy(base, &out, sizeof(out));
    std::memset(base + sizeof(out), 0, kFormatOffset - sizeof(out));
    if (!format_.empty()) std::memcpy(base + kFormatOffset, format_.data(), format_.size());
    *size = needed;
    return S_OK;
}

HRESULT MediaType::assign(const WM_MEDIA_TYPE* type)
{
    if (type == nullptr) return E_POINTER;
    if (type->cbFormat > kMaxFormatBytes) return E_INVALIDARG;
    if (type->cbFormat > 0 && type->pbFormat == nullptr) return E_INVALIDARG;
    std::vector<BYTE> block;
    if (type->cbFormat > 0) block.assign(type->pbFormat, type->pbFormat + type->cbFormat);
    record_ = *type;
    record_.pUnk = nullptr;
    record_.pbFormat = nullptr;
    record_.cbFormat = static_cast<ULONG>(block.size());
    format_ = std::move(block);
    present_ = true;
    return S_OK;
}

void MediaType::set(const GUID& major, const GUID& sub, const GUID& formatType, bool fixedSize, bool temporal,
                    ULONG sampleSize, std::vector<BYTE> format)
{
    record_ = WM_MEDIA_TYPE{};
    record_.majortype = major;
    record_.subtype = sub;
    record_.formattype = formatType;
    record_.bFixedSizeSamples = fixedSize ? TRUE : FALSE;
    record_.bTemporalCompression = temporal ? TRUE : FALSE;
    record_.lSampleSize = sampleSize;
    record_.cbFormat = static_cast<ULONG>(format.size());
    format_ = std::move(format);
    present_ = true;
}

std::optional<WMVIDEOINFOHEADER> MediaType::videoInfo() const
{
    if (!present_ || format_.size() < sizeof(WMVIDEOINFOHEADER)) return std::nullopt;
    WMVIDEOINFOHEADER header;
    std::memcpy(&header, format_.data(), sizeof(header));
    return header;
}

std::optional<WAVEFORMATEX> MediaType::waveFormat() const
{
    // A PCM format may come as the 16-byte WAVEFORMAT without cbSize.
    if (!present_ || format_.size() < sizeof(WAVEFORMATEX) - sizeof(WORD)) return std::nullopt;
    WAVEFORMATEX wave{};
    std::memcpy(&wave, format_.data(), std::min(format_.size(), sizeof(wave)));
    if (format_.size() < sizeof(WAVEFORMATEX)) wave.cbSize = 0;
    return wave;
}

std::vector<BYTE> MediaType::videoExtra() const
{
    if (format_.size() <= sizeof(WMVIDEOINFOHEADER)) return {};
    return std::vector<BYTE>(format_.begin() + sizeof(WMVIDEOINFOHEADER), format_.end());
}

std::vector<BYTE> MediaType::waveExtra() const
{
    const auto wave = waveFormat();
    if (!wave || format_.size() <= sizeof(WAVEFORMATEX)) return {};
    const std::size_t available = format_.size() - sizeof(WAVEFORMATEX);
    const std::size_t n = std::min<std::size_t>(available, wave->cbSize);
    return std::vector<BYTE>(format_.begin() + sizeof(WAVEFORMATEX),
                             format_.begin() + static_cast<std::ptrdiff_t>(sizeof(WAVEFORMATEX) + n));
}

std::vector<BYTE> videoInfoBlock(const WMVIDEOINFOHEADER& header, const std::vector<BYTE>& extra)
{
    std::vector<BYTE> block(sizeof(WMVIDEOINFOHEADER) + extra.size());
    std::memcpy(block.data(), &header, sizeof(header));
    if (!extra.empty()) std::memcpy(block.data() + sizeof(header), extra.data(), extra.size());
    return block;
}

std::vector<BYTE> waveFormatBlock(const WAVEFORMATEX& wave, const std::vector<BYTE>& extra)
{
    std::vector<BYTE> block(sizeof(WAVEFORMATEX) + extra.size());
    WAVEFORMATEX w = wave;
    w.cbSize = static_cast<WORD>(extra.size());
    std::memcpy(block.data(), &w, sizeof(w));
    if (!extra.empty()) std::memcpy(block.data() + sizeof(w), extra.data(), extra.size());
    return block;
}

MediaType planarVideoType(const GUID& subtype, DWORD fourCC, int width, int height, REFERENCE_TIME frameDuration)
{
    const DWORD frameBytes = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 3 / 2;
    WMVIDEOINFOHEADER header{};
    header.rcSource = RECT{0, 0, width, height};
    header.rcTarget = header.rcSource;
    header.AvgTimePerFrame = frameDuration;
    if (frameDuration > 0) {
        const double bits = static_cast<double>(frameBytes) * 8.0 * 1e7 / static_cast<double>(frameDuration);
        header.dwBitRate = bits > 4294967295.0 ? 0xFFFFFFFFu : static_cast<DWORD>(bits);
    }
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 12;
    header.bmiHeader.biCompression = fourCC;
    header.bmiHeader.biSizeImage = frameBytes;
    MediaType type;
    type.set(WMMEDIATYPE_Video, subtype, WMFORMAT_VideoInfo, true, false, frameBytes, videoInfoBlock(header, {}));
    return type;
}

MediaType pcmType(int sampleRate, int channels, int bitsPerSample)
{
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = static_cast<WORD>(channels);
    wave.nSamplesPerSec = static_cast<DWORD>(sampleRate);
    wave.nBlockAlign = static_cast<WORD>(channels * bitsPerSample / 8);
    wave.nAvgBytesPerSec = wave.nSamplesPerSec * wave.nBlockAlign;
    wave.wBitsPerSample = static_cast<WORD>(bitsPerSample);
    wave.cbSize = 0;
    MediaType type;
    type.set(WMMEDIATYPE_Audio, WMMEDIASUBTYPE_PCM, WMFORMAT_WaveFormatEx, true, false, wave.nBlockAlign,
             waveFormatBlock(wave, {}));
    return type;
}

}  // namespace asfw::rt
