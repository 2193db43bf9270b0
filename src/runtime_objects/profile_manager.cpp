#include "runtime_objects/profile_manager.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "runtime_objects/profile.h"
#include "runtime_objects/wide_string.h"

namespace asfw::rt {

const char16_t* const kVideoCodecName = u"Windows Media Video 9";
const char16_t* const kAudioCodecName = u"Windows Media Audio 9.2";

namespace {

// The picture the video format describes until the caller rewrites it.
constexpr int kDefaultWidth = 320;
constexpr int kDefaultHeight = 240;
constexpr REFERENCE_TIME kDefaultFrameDuration = 333333;  // 30 frames per second
constexpr DWORD kDefaultVideoBitrate = 300000;
constexpr DWORD kDefaultBufferWindowMs = 3000;

std::vector<BYTE> dwordBytes(DWORD v)
{
    std::vector<BYTE> out(sizeof(v));
    std::memcpy(out.data(), &v, sizeof(v));
    return out;
}

std::u16string modeName(bool vbr, DWORD passes)
{
    if (!vbr) return passes == 1 ? u"1-pass CBR" : u"2-pass CBR";
    return passes == 1 ? u"quality-based VBR" : u"2-pass bit-rate VBR";
}

}  // namespace

HRESULT createProfileManager(ServicesPtr services, IWMProfileManager** manager)
try {
    if (manager == nullptr) return E_POINTER;
    *manager = nullptr;
    if (!services) return E_UNEXPECTED;
    auto* object = new (std::nothrow) ProfileManager(std::move(services));
    if (object == nullptr) return E_OUTOFMEMORY;
    *manager = object;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::QueryInterface(REFIID riid, void** object)
try {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWMProfileManager) {
        *object = static_cast<IWMProfileManager*>(this);
    } else if (riid == IID_IWMCodecInfo) {
        *object = static_cast<IWMCodecInfo*>(this);
    } else if (riid == IID_IWMCodecInfo2) {
        *object = static_cast<IWMCodecInfo2*>(this);
    } else if (riid == IID_IWMCodecInfo3) {
        *object = static_cast<IWMCodecInfo3*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
} catch (...) {
    return resultOfException();
}

// ---- IWMProfileManager ---------------------------------------------------------

HRESULT ProfileManager::CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile)
try {
    if (profile == nullptr) return E_POINTER;
    *profile = nullptr;
    if (version != WMT_VER_4_0 && version != WMT_VER_7_0 && version != WMT_VER_8_0 && version != WMT_VER_9_0)
        return E_INVALIDARG;
    auto* object = new (std::nothrow) Profile(version, services_->complexityMax);
    if (object == nullptr) return E_OUTOFMEMORY;
    *profile = object;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::LoadProfileByID(REFGUID, IWMProfile** profile)
try {
    if (profile == nullptr) return E_POINTER;
    *profile = nullptr;
    return E_NOTIMPL;
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::LoadProfileByData(const WCHAR*, IWMProfile** profile)
try {
    if (profile == nullptr) return E_POINTER;
    *profile = nullptr;
    return E_NOTIMPL;
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::SaveProfile(IWMProfile*, WCHAR*, DWORD*) { return E_NOTIMPL; }

HRESULT ProfileManager::GetSystemProfileCount(DWORD* count)
try {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::LoadSystemProfile(DWORD, IWMProfile** profile)
try {
    if (profile == nullptr) return E_POINTER;
    *profile = nullptr;
    return E_INVALIDARG;
} catch (...) {
    return resultOfException();
}

// ---- codec information -----------------------------------------------------------

ProfileManager::Mode* ProfileManager::mode(REFGUID type, DWORD codec)
{
    if (codec != 0) return nullptr;
    if (type == WMMEDIATYPE_Video) return &video_;
    if (type == WMMEDIATYPE_Audio) return &audio_;
    return nullptr;
}

DWORD ProfileManager::formatCount(bool video) const
{
    if (video) return 1;
    return static_cast<DWORD>(services_->audioFormats.size());
}

HRESULT ProfileManager::makeFormat(bool video, DWORD format, StreamData* data, std::u16string* description) const
try {
    if (format >= formatCount(video)) return E_INVALIDARG;
    const Mode& m = video ? video_ : audio_;
    StreamData d;
    d.complexityMax = services_->complexityMax;
    d.bufferWindowMs = kDefaultBufferWindowMs;
    d.properties.set(Property{kPropVbrEnabled, WMT_TYPE_BOOL, dwordBytes(m.vbr ? TRUE : FALSE)});
    d.properties.set(Property{kPropPassesUsed, WMT_TYPE_DWORD, dwordBytes(m.passes)});
    if (video) {
        VideoSettings settings;
        settings.width = kDefaultWidth;
        settings.height = kDefaultHeight;
        settings.frameDuration = kDefaultFrameDuration;
        settings.bitrate = kDefaultVideoBitrate;
        settings.bufferWindowMs = kDefaultBufferWindowMs;
        settings.complexity = services_->complexityOffline;
        settings.vbr = m.vbr;
        settings.passes = m.passes;
        std::vector<BYTE> codecData;
        try {
            if (services_->videoCodecData) codecData = services_->videoCodecData(settings);
        } catch (...) {
            return E_FAIL;
        }
        WMVIDEOINFOHEADER header{};
        header.rcSource = RECT{0, 0, kDefaultWidth, kDefaultHeight};
        header.rcTarget = header.rcSource;
        header.dwBitRate = kDefaultVideoBitrate;
        header.AvgTimePerFrame = kDefaultFrameDuration;
        header.bmiHeader.biSize = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + codecData.size());
        header.bmiHeader.biWidth = kDefaultWidth;
        header.bmiHeader.biHeight = kDefaultHeight;
        header.bmiHeader.biPlanes = 1;
        header.bmiHeader.biBitCount = 24;
        header.bmiHeader.biCompression = MakeFourCC('W', 'M', 'V', '3');
        d.streamType = WMMEDIATYPE_Video;
        d.bitrate = kDefaultVideoBitrate;
        d.mediaType.set(WMMEDIATYPE_Video, WMMEDIASUBTYPE_WMV3, WMFORMAT_VideoInfo, false, true, 0,
                        videoInfoBlock(header, codecData));
        *description = std::u16string(kVideoCodecName) + u" " + modeName(m.vbr, m.passes);
    } else {
        const Wma9Format& f = services_->audioFormats[format];
        WAVEFORMATEX wave{};
        wave.wFormatTag = kWma9FormatTag;
        wave.nChannels = static_cast<WORD>(f.channels);
        wave.nSamplesPerSec = static_cast<DWORD>(f.sampleRate);
        wave.nAvgBytesPerSec = f.avgBytesPerSec;
        wave.nBlockAlign = f.blockAlign;
        wave.wBitsPerSample = 16;
        d.streamType = WMMEDIATYPE_Audio;
        d.bitrate = f.avgBytesPerSec * 8;
        d.mediaType.set(WMMEDIATYPE_Audio, WMMEDIASUBTYPE_WMAudioV8, WMFORMAT_WaveFormatEx, true, false,
                        f.blockAlign, waveFormatBlock(wave, f.extra));
        char text[96];
        const double khz = f.sampleRate / 1000.0;
        std::snprintf(text, sizeof(text), "%u kbps, %g kHz, %s CBR", static_cast<unsigned>(f.avgBytesPerSec * 8 / 1000),
                      khz, f.channels == 1 ? "mono" : "stereo");
        *description = widen(text);
    }
    *data = std::move(d);
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::GetCodecInfoCount(REFGUID type, DWORD* count)
try {
    if (count == nullptr) return E_POINTER;
    if (type != WMMEDIATYPE_Video && type != WMMEDIATYPE_Audio) return E_INVALIDARG;
    *count = 1;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::GetCodecFormatCount(REFGUID type, DWORD codec, DWORD* count)
try {
    if (count == nullptr) return E_POINTER;
    if (mode(type, codec) == nullptr) return E_INVALIDARG;
    *count = formatCount(type == WMMEDIATYPE_Video);
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::GetCodecFormat(REFGUID type, DWORD codec, DWORD format, IWMStreamConfig** config)
try {
    return GetCodecFormatDesc(type, codec, format, config, nullptr, nullptr);
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::GetCodecName(REFGUID type, DWORD codec, WCHAR* name, DWORD* chars)
try {
    if (mode(type, codec) == nullptr) return E_INVALIDARG;
    return copyWideOut(std::u16string(type == WMMEDIATYPE_Video ? kVideoCodecName : kAudioCodecName), name, chars);
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::GetCodecFormatDesc(REFGUID type, DWORD codec, DWORD format, IWMStreamConfig** config,
                                           WCHAR* desc, DWORD* chars)
try {
    if (config != nullptr) *config = nullptr;
    if (config == nullptr && chars == nullptr) return E_POINTER;
    if (mode(type, codec) == nullptr) return E_INVALIDARG;
    StreamData data;
    std::u16string description;
    try {
        const HRESULT hr = makeFormat(type == WMMEDIATYPE_Video, format, &data, &description);
        if (FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (chars != nullptr) {
        const HRESULT hr = copyWideOut(description, desc, chars);
        if (FAILED(hr)) return hr;
    } else if (desc != nullptr) {
        return E_POINTER;
    }
    if (config != nullptr) {
        auto* object = new (std::nothrow) StreamConfig(std::move(data));
        if (object == nullptr) return E_OUTOFMEMORY;
        *config = object;
    }
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::GetCodecFormatProp(REFGUID type, DWORD codec, DWORD format, const WCHAR* name,
                                           WMT_ATTR_DATATYPE* valueType, BYTE*, DWORD* size)
try {
    if (name == nullptr || valueType == nullptr || size == nullptr) return E_POINTER;
    if (mode(type, codec) == nullptr || format >= formatCount(type == WMMEDIATYPE_Video)) return E_INVALIDARG;
    return NS_E_UNSUPPORTED_PROPERTY;
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::GetCodecProp(REFGUID type, DWORD codec, const WCHAR* name, WMT_ATTR_DATATYPE* valueType,
                                     BYTE* value, DWORD* size)
try {
    if (name == nullptr || valueType == nullptr || size == nullptr) return E_POINTER;
    if (mode(type, codec) == nullptr) return E_INVALIDARG;
    std::u16string key;
    if (!readWide(name, kMaxNameChars, &key)) return E_INVALIDARG;
    if (type != WMMEDIATYPE_Video) return NS_E_UNSUPPORTED_PROPERTY;
    int level;
    if (key == kPropComplexityExOffline) level = services_->complexityOffline;
    else if (key == kPropComplexityExLive) level = services_->complexityLive;
    else if (key == kPropComplexityExMax) level = services_->complexityMax;
    else return NS_E_UNSUPPORTED_PROPERTY;
    return copyPropertyOut(Property{key, WMT_TYPE_DWORD, dwordBytes(static_cast<DWORD>(level))}, valueType, value,
                           size);
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::SetCodecEnumerationSetting(REFGUID type, DWORD codec, const WCHAR* name,
                                                   WMT_ATTR_DATATYPE valueType, const BYTE* value, DWORD size)
try {
    if (name == nullptr || value == nullptr) return E_POINTER;
    Mode* m = mode(type, codec);
    if (m == nullptr) return E_INVALIDARG;
    std::u16string key;
    if (!readWide(name, kMaxNameChars, &key)) return E_INVALIDARG;
    if (key != kPropVbrEnabled && key != kPropPassesUsed) return NS_E_UNSUPPORTED_PROPERTY;
    if (size != sizeof(DWORD)) return E_INVALIDARG;
    DWORD v;
    std::memcpy(&v, value, sizeof(v));
    if (key == kPropVbrEnabled) {
        if (valueType != WMT_TYPE_BOOL) return E_INVALIDARG;
        // The built-in audio encoder produces one-pass constant bit rate only.
        if (v != FALSE && type == WMMEDIATYPE_Audio) return NS_E_UNSUPPORTED_PROPERTY;
        m->vbr = v != FALSE;
    } else {
        if (valueType != WMT_TYPE_DWORD) return E_INVALIDARG;
        if (v < 1 || v > 2) return NS_E_UNSUPPORTED_PROPERTY;
        // The audio input has no pre-processing pass, so one pass only.
        if (v != 1 && type == WMMEDIATYPE_Audio) return NS_E_UNSUPPORTED_PROPERTY;
        m->passes = v;
    }
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT ProfileManager::GetCodecEnumerationSetting(REFGUID type, DWORD codec, const WCHAR* name,
                                                   WMT_ATTR_DATATYPE* valueType, BYTE* value, DWORD* size)
try {
    if (name == nullptr || valueType == nullptr || size == nullptr) return E_POINTER;
    Mode* m = mode(type, codec);
    if (m == nullptr) return E_INVALIDARG;
    std::u16string key;
    if (!readWide(name, kMaxNameChars, &key)) return E_INVALIDARG;
    if (key == kPropVbrEnabled)
        return copyPropertyOut(Property{key, WMT_TYPE_BOOL, dwordBytes(m->vbr ? TRUE : FALSE)}, valueType, value, size);
    if (key == kPropPassesUsed)
        return copyPropertyOut(Property{key, WMT_TYPE_DWORD, dwordBytes(m->passes)}, valueType, value, size);
    return NS_E_UNSUPPORTED_PROPERTY;
} catch (...) {
    return resultOfException();
}

}  // namespace asfw::rt
