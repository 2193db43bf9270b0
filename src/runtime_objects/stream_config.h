// Stream configuration: the settings of one output stream (number, names,
// bit rate, buffer window, media type, key-frame spacing) with its property
// vault. One object answers IWMStreamConfig, IWMMediaProps,
// IWMVideoMediaProps (video streams only) and IWMPropertyVault.
#ifndef ASFWRITER_RUNTIME_OBJECTS_STREAM_CONFIG_H
#define ASFWRITER_RUNTIME_OBJECTS_STREAM_CONFIG_H

#include <optional>
#include <string>
#include <vector>

#include "runtime/wmf_runtime.h"
#include "runtime_objects/media_type.h"
#include "runtime_objects/ref_counted.h"

namespace asfw::rt {

// Names of the properties the runtime understands.
extern const char16_t* const kPropComplexityEx;         // "_COMPLEXITYEX"
extern const char16_t* const kPropComplexityExOffline;  // "_COMPLEXITYEXOFFLINE"
extern const char16_t* const kPropComplexityExLive;     // "_COMPLEXITYEXLIVE"
extern const char16_t* const kPropComplexityExMax;      // "_COMPLEXITYEXMAX"
extern const char16_t* const kPropVbrEnabled;           // "_VBRENABLED"
extern const char16_t* const kPropPassesUsed;           // "_PASSESUSED"
extern const char16_t* const kPropVbrQuality;           // "_VBRQUALITY"
extern const char16_t* const kPropRMax;                 // "_RMAX"
extern const char16_t* const kPropBMax;                 // "_BMAX"

struct Property {
    std::u16string name;
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    std::vector<BYTE> value;
};

class PropertyStore {
public:
    const Property* find(const std::u16string& name) const;
    void set(Property property);
    const std::vector<Property>& all() const { return properties_; }
    void clear() { properties_.clear(); }
    // A DWORD or BOOL value, when present with 4 bytes.
    std::optional<DWORD> dword(const std::u16string& name) const;

private:
    std::vector<Property> properties_;
};

// Everything a stream configuration holds, by value.
struct StreamData {
    GUID streamType = GUID_NULL;
    WORD streamNumber = 0;  // 0 until set
    std::u16string streamName;
    std::u16string connectionName;
    DWORD bitrate = 0;
    DWORD bufferWindowMs = 3000;
    MediaType mediaType;
    LONGLONG maxKeyFrameSpacing = 0;
    DWORD quality = 0;
    PropertyStore properties;
    // Highest complexity the codec takes ("_COMPLEXITYEX" may not exceed it).
    int complexityMax = 5;
};

constexpr std::size_t kMaxNameChars = 256;

class StreamConfig final : public IWMStreamConfig, public IWMVideoMediaProps, public IWMPropertyVault, private RefCounted {
public:
    explicit StreamConfig(StreamData data) : data_(std::move(data)) {}

    const StreamData& data() const { return data_; }
    bool isVideo() const { return data_.streamType == WMMEDIATYPE_Video; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return addRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseImpl(); }

    // IWMStreamConfig
    HRESULT STDMETHODCALLTYPE GetStreamType(GUID* type) override;
    HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* number) override;
    HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD number) override;
    HRESULT STDMETHODCALLTYPE GetStreamName(WCHAR* name, WORD* chars) override;
    HRESULT STDMETHODCALLTYPE SetStreamName(WCHAR* name) override;
    HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* name, WORD* chars) override;
    HRESULT STDMETHODCALLTYPE SetConnectionName(WCHAR* name) override;
    HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* bitrate) override;
    HRESULT STDMETHODCALLTYPE SetBitrate(DWORD bitrate) override;
    HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* ms) override;
    HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD ms) override;

    // IWMMediaProps / IWMVideoMediaProps
    HRESULT STDMETHODCALLTYPE GetType(GUID* type) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG* time) override;
    HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG time) override;
    HRESULT STDMETHODCALLTYPE GetQuality(DWORD* quality) override;
    HRESULT STDMETHODCALLTYPE SetQuality(DWORD quality) override;

    // IWMPropertyVault
    HRESULT STDMETHODCALLTYPE GetPropertyCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetPropertyByName(LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value,
                                                DWORD* size) override;
    HRESULT STDMETHODCALLTYPE SetProperty(LPCWSTR name, WMT_ATTR_DATATYPE type, BYTE* value, DWORD size) override;
    HRESULT STDMETHODCALLTYPE GetPropertyByIndex(DWORD index, LPWSTR name, DWORD* nameChars,
                                                 WMT_ATTR_DATATYPE* type, BYTE* value, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE CopyPropertiesFrom(IWMPropertyVault* other) override;
    HRESULT STDMETHODCALLTYPE Clear() override;

private:
    StreamData data_;
};

// Copies a property value out with the "size, then fill" convention.
HRESULT copyPropertyOut(const Property& property, WMT_ATTR_DATATYPE* type, BYTE* value, DWORD* size);

}  // namespace asfw::rt

#endif
