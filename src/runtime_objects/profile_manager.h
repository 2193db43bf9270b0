// Profile manager with the codec information of the built-in encoders.
//
// Codec information lists one video codec ("Windows Media Video 9") and
// one audio codec ("Windows Media Audio 9.2", format tag 0x0161). The
// enumeration settings "_VBRENABLED" and "_PASSESUSED" select the mode whose
// formats are listed: one-pass CBR, two-pass CBR, quality VBR (one pass),
// bit-rate VBR (two passes). The audio codec is one-pass CBR only.
#ifndef ASFWRITER_RUNTIME_OBJECTS_PROFILE_MANAGER_H
#define ASFWRITER_RUNTIME_OBJECTS_PROFILE_MANAGER_H

#include "runtime/wmf_runtime.h"
#include "runtime_objects/ref_counted.h"
#include "runtime_objects/runtime_services.h"
#include "runtime_objects/stream_config.h"

namespace asfw::rt {

class ProfileManager final : public IWMProfileManager, public IWMCodecInfo3, private RefCounted {
public:
    explicit ProfileManager(ServicesPtr services) : services_(std::move(services)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return addRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseImpl(); }

    // IWMProfileManager
    HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) override;
    HRESULT STDMETHODCALLTYPE LoadProfileByID(REFGUID id, IWMProfile** profile) override;
    HRESULT STDMETHODCALLTYPE LoadProfileByData(const WCHAR* data, IWMProfile** profile) override;
    HRESULT STDMETHODCALLTYPE SaveProfile(IWMProfile* profile, WCHAR* data, DWORD* length) override;
    HRESULT STDMETHODCALLTYPE GetSystemProfileCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE LoadSystemProfile(DWORD index, IWMProfile** profile) override;

    // IWMCodecInfo
    HRESULT STDMETHODCALLTYPE GetCodecInfoCount(REFGUID type, DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetCodecFormatCount(REFGUID type, DWORD codec, DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetCodecFormat(REFGUID type, DWORD codec, DWORD format,
                                             IWMStreamConfig** config) override;
    // IWMCodecInfo2
    HRESULT STDMETHODCALLTYPE GetCodecName(REFGUID type, DWORD codec, WCHAR* name, DWORD* chars) override;
    HRESULT STDMETHODCALLTYPE GetCodecFormatDesc(REFGUID type, DWORD codec, DWORD format, IWMStreamConfig** config,
                                                 WCHAR* desc, DWORD* chars) override;
    // IWMCodecInfo3
    HRESULT STDMETHODCALLTYPE GetCodecFormatProp(REFGUID type, DWORD codec, DWORD format, const WCHAR* name,
                                                 WMT_ATTR_DATATYPE* valueType, BYTE* value, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE GetCodecProp(REFGUID type, DWORD codec, const WCHAR* name,
                                           WMT_ATTR_DATATYPE* valueType, BYTE* value, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE SetCodecEnumerationSetting(REFGUID type, DWORD codec, const WCHAR* name,
                                                         WMT_ATTR_DATATYPE valueType, const BYTE* value,
                                                         DWORD size) override;
    HRESULT STDMETHODCALLTYPE GetCodecEnumerationSetting(REFGUID type, DWORD codec, const WCHAR* name,
                                                         WMT_ATTR_DATATYPE* valueType, BYTE* value,
                                                         DWORD* size) override;

private:
    struct Mode {
        bool vbr = false;
        DWORD passes = 1;
    };
    // The codec's mode slot, or null for an unknown type or index.
    Mode* mode(REFGUID type, DWORD codec);
    // Number of formats in the current mode.
    DWORD formatCount(bool video) const;
    HRESULT makeFormat(bool video, DWORD format, StreamData* data, std::u16string* description) const;

    ServicesPtr services_;
    Mode video_;
    Mode audio_;
};

}  // namespace asfw::rt

#endif
