// Helpers for driving the runtime objects the way the writer class does.
#ifndef ASFWRITER_TESTS_RUNTIME_OBJECTS_OBJECTS_HELPERS_H
#define ASFWRITER_TESTS_RUNTIME_OBJECTS_OBJECTS_HELPERS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/wmf_runtime.h"
#include "runtime_objects/ref_counted.h"

namespace asfw::rt::test {

// A media type read with the two-call convention, kept 8-byte aligned.
struct MediaTypeCopy {
    std::vector<std::uint64_t> storage;
    DWORD size = 0;
    WM_MEDIA_TYPE* get() { return reinterpret_cast<WM_MEDIA_TYPE*>(storage.data()); }
    template <class T>
    T format() const
    {
        T out{};
        const auto* mt = reinterpret_cast<const WM_MEDIA_TYPE*>(storage.data());
        std::memcpy(&out, mt->pbFormat, sizeof(T));
        return out;
    }
    std::vector<BYTE> formatBytes() const
    {
        const auto* mt = reinterpret_cast<const WM_MEDIA_TYPE*>(storage.data());
        return std::vector<BYTE>(mt->pbFormat, mt->pbFormat + mt->cbFormat);
    }
};

// Reads the media type of anything that answers IWMMediaProps.
inline HRESULT readMediaType(IUnknown* object, MediaTypeCopy* out)
{
    ComPtr<IWMMediaProps> props;
    HRESULT hr = object->QueryInterface(IID_IWMMediaProps, props.putVoid());
    if (FAILED(hr)) return hr;
    hr = props->GetMediaType(nullptr, &out->size);
    if (FAILED(hr)) return hr;
    out->storage.assign((out->size + 7) / 8, 0);
    return props->GetMediaType(out->get(), &out->size);
}

inline HRESULT setDword(IWMPropertyVault* vault, const char16_t* name, DWORD v, WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD)
{
    return vault->SetProperty(name, type, reinterpret_cast<BYTE*>(&v), sizeof(v));
}

inline HRESULT setEnumeration(IWMCodecInfo3* info, const GUID& type, bool vbr, DWORD passes)
{
    BOOL b = vbr ? TRUE : FALSE;
    HRESULT hr = info->SetCodecEnumerationSetting(type, 0, u"_VBRENABLED", WMT_TYPE_BOOL,
                                                  reinterpret_cast<const BYTE*>(&b), sizeof(b));
    if (FAILED(hr)) return hr;
    return info->SetCodecEnumerationSetting(type, 0, u"_PASSESUSED", WMT_TYPE_DWORD,
                                            reinterpret_cast<const BYTE*>(&passes), sizeof(passes));
}

struct VideoStreamSpec {
    int width = 64;
    int height = 48;
    REFERENCE_TIME frameDuration = 400000;
    DWORD bitrate = 500000;
    DWORD bufferWindow = 3000;
    LONGLONG keySpacing = 40000000;
    bool vbr = false;
    DWORD passes = 1;
    DWORD complexity = 3;
    DWORD quality = 0;
    DWORD rmax = 0;
    DWORD bmax = 0;
    bool setVbrProperties = false;
    WORD number = 1;
    const char16_t* name = u"Video";
};

// Configures video format 0 as the writer class does and adds it.
inline HRESULT addVideoStream(IWMCodecInfo3* info, IWMProfile* profile, const VideoStreamSpec& s)
{
    HRESULT hr = setEnumeration(info, WMMEDIATYPE_Video, s.vbr, s.passes);
    if (FAILED(hr)) return hr;
    ComPtr<IWMStreamConfig> config;
    hr = info->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, config.put());
    if (FAILED(hr)) return hr;
    MediaTypeCopy mt;
    hr = readMediaType(config.get(), &mt);
    if (FAILED(hr)) return hr;
    WMVIDEOINFOHEADER vih = mt.format<WMVIDEOINFOHEADER>();
    vih.rcSource = RECT{0, 0, s.width, s.height};
    vih.rcTarget = vih.rcSource;
    vih.AvgTimePerFrame = s.frameDuration;
    vih.dwBitRate = s.bitrate;
    vih.bmiHeader.biWidth = s.width;
    vih.bmiHeader.biHeight = s.height;
    std::memcpy(mt.get()->pbFormat, &vih, sizeof(vih));
    ComPtr<IWMMediaProps> props;
    config->QueryInterface(IID_IWMMediaProps, props.putVoid());
    hr = props->SetMediaType(mt.get());
    if (FAILED(hr)) return hr;
    config->SetBitrate(s.bitrate);
    config->SetBufferWindow(s.bufferWindow);
    config->SetConnectionName(const_cast<WCHAR*>(s.name));
    config->SetStreamName(const_cast<WCHAR*>(s.name));
    config->SetStreamNumber(s.number);
    ComPtr<IWMVideoMediaProps> video;
    config->QueryInterface(IID_IWMVideoMediaProps, video.putVoid());
    video->SetMaxKeyFrameSpacing(s.keySpacing);
    ComPtr<IWMPropertyVault> vault;
    config->QueryInterface(IID_IWMPropertyVault, vault.putVoid());
    setDword(vault.get(), u"_COMPLEXITYEX", s.complexity);
    if (s.setVbrProperties) {
        setDword(vault.get(), u"_VBRENABLED", TRUE, WMT_TYPE_BOOL);
        if (s.quality != 0) setDword(vault.get(), u"_VBRQUALITY", s.quality);
        setDword(vault.get(), u"_RMAX", s.rmax);
        setDword(vault.get(), u"_BMAX", s.bmax);
    }
    return profile->AddStream(config.get());
}

// Adds audio format `index` of the one-pass CBR list as stream `number`.
inline HRESULT addAudioStream(IWMCodecInfo3* info, IWMProfile* profile, DWORD index, WORD number = 2,
                              const char16_t* name = u"Audio")
{
    HRESULT hr = setEnumeration(info, WMMEDIATYPE_Audio, false, 1);
    if (FAILED(hr)) return hr;
    ComPtr<IWMStreamConfig> config;
    hr = info->GetCodecFormat(WMMEDIATYPE_Audio, 0, index, config.put());
    if (FAILED(hr)) return hr;
    config->SetStreamName(const_cast<WCHAR*>(name));
    config->SetConnectionName(const_cast<WCHAR*>(name));
    config->SetStreamNumber(number);
    return profile->AddStream(config.get());
}

inline std::u16string connectionName(IWMInputMediaProps* props)
{
    WCHAR name[64] = {};
    WORD chars = 64;
    if (FAILED(props->GetConnectionName(name, &chars))) return u"?";
    return name;
}

}  // namespace asfw::rt::test

#endif
