#include "runtime_objects/stream_config.h"

#include <cstring>

#include "runtime_objects/wide_string.h"

namespace asfw::rt {

const char16_t* const kPropComplexityEx = u"_COMPLEXITYEX";
const char16_t* const kPropComplexityExOffline = u"_COMPLEXITYEXOFFLINE";
const char16_t* const kPropComplexityExLive = u"_COMPLEXITYEXLIVE";
const char16_t* const kPropComplexityExMax = u"_COMPLEXITYEXMAX";
const char16_t* const kPropVbrEnabled = u"_VBRENABLED";
const char16_t* const kPropPassesUsed = u"_PASSESUSED";
const char16_t* const kPropVbrQuality = u"_VBRQUALITY";
const char16_t* const kPropRMax = u"_RMAX";
const char16_t* const kPropBMax = u"_BMAX";

// ---- property store ----------------------------------------------------------

const Property* PropertyStore::find(const std::u16string& name) const
{
    for (const auto& p : properties_)
        if (p.name == name) return &p;
    return nullptr;
}

void PropertyStore::set(Property property)
{
    for (auto& p : properties_) {
        if (p.name == property.name) {
            p = std::move(property);
            return;
        }
    }
    properties_.push_back(std::move(property));
}

std::optional<DWORD> PropertyStore::dword(const std::u16string& name) const
{
    const Property* p = find(name);
    if (p == nullptr || p->value.size() != sizeof(DWORD)) return std::nullopt;
    DWORD v;
    std::memcpy(&v, p->value.data(), sizeof(v));
    return v;
}

HRESULT copyPropertyOut(const Property& property, WMT_ATTR_DATATYPE* type, BYTE* value, DWORD* size)
try {
    if (type == nullptr || size == nullptr) return E_INVALIDARG;
    const DWORD needed = static_cast<DWORD>(property.value.size());
    *type = property.type;
    if (value == nullptr) {
        *size = needed;
        return S_OK;
    }
    if (*size < needed) {
        *size = needed;
        return ASF_E_BUFFERTOOSMALL;
    }
    if (needed > 0) std::memcpy(value, property.value.data(), needed);
    *size = needed;
    return S_OK;
} catch (...) {
    return resultOfException();
}

// ---- IUnknown ------------------------------------------------------------------

HRESULT StreamConfig::QueryInterface(REFIID riid, void** object)
try {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWMStreamConfig) {
        *object = static_cast<IWMStreamConfig*>(this);
    } else if (riid == IID_IWMMediaProps) {
        *object = static_cast<IWMMediaProps*>(static_cast<IWMVideoMediaProps*>(this));
    } else if (riid == IID_IWMVideoMediaProps && isVideo()) {
        *object = static_cast<IWMVideoMediaProps*>(this);
    } else if (riid == IID_IWMPropertyVault) {
        *object = static_cast<IWMPropertyVault*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
} catch (...) {
    return resultOfException();
}

// ---- IWMStreamConfig -------------------------------------------------------------

HRESULT StreamConfig::GetStreamType(GUID* type)
try {
    if (type == nullptr) return E_POINTER;
    *type = data_.streamType;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::GetStreamNumber(WORD* number)
try {
    if (number == nullptr) return E_POINTER;
    *number = data_.streamNumber;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::SetStreamNumber(WORD number)
try {
    if (number < 1 || number > 127) return E_INVALIDARG;
    data_.streamNumber = number;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::GetStreamName(WCHAR* name, WORD* chars)
try {
    return copyWideOut(data_.streamName, name, chars);
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::SetStreamName(WCHAR* name)
try {
    std::u16string text;
    if (name == nullptr || !readWide(name, kMaxNameChars, &text)) return E_INVALIDARG;
    data_.streamName = std::move(text);
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::GetConnectionName(WCHAR* name, WORD* chars)
try {
    return copyWideOut(data_.connectionName, name, chars);
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::SetConnectionName(WCHAR* name)
try {
    std::u16string text;
    if (name == nullptr || !readWide(name, kMaxNameChars, &text)) return E_INVALIDARG;
    data_.connectionName = std::move(text);
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::GetBitrate(DWORD* bitrate)
try {
    if (bitrate == nullptr) return E_POINTER;
    *bitrate = data_.bitrate;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::SetBitrate(DWORD bitrate)
try {
    data_.bitrate = bitrate;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::GetBufferWindow(DWORD* ms)
try {
    if (ms == nullptr) return E_POINTER;
    *ms = data_.bufferWindowMs;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::SetBufferWindow(DWORD ms)
try {
    data_.bufferWindowMs = ms;
    return S_OK;
} catch (...) {
    return resultOfException();
}

// ---- IWMMediaProps / IWMVideoMediaProps ------------------------------------------

HRESULT StreamConfig::GetType(GUID* type)
try {
    if (type == nullptr) return E_POINTER;
    *type = data_.streamType;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::GetMediaType(WM_MEDIA_TYPE* type, DWORD* size)
try {
    return data_.mediaType.copyOut(type, size);
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::SetMediaType(WM_MEDIA_TYPE* type)
try {
    if (type == nullptr) return E_POINTER;
    if (data_.streamType != GUID_NULL && type->majortype != data_.streamType) return E_INVALIDARG;
    return data_.mediaType.assign(type);
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::GetMaxKeyFrameSpacing(LONGLONG* time)
try {
    if (time == nullptr) return E_POINTER;
    *time = data_.maxKeyFrameSpacing;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::SetMaxKeyFrameSpacing(LONGLONG time)
try {
    if (time < 0) return E_INVALIDARG;
    data_.maxKeyFrameSpacing = time;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::GetQuality(DWORD* quality)
try {
    if (quality == nullptr) return E_POINTER;
    *quality = data_.quality;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::SetQuality(DWORD quality)
try {
    if (quality > 100) return E_INVALIDARG;
    data_.quality = quality;
    return S_OK;
} catch (...) {
    return resultOfException();
}

// ---- IWMPropertyVault ---------------------------------------------------------------

HRESULT StreamConfig::GetPropertyCount(DWORD* count)
try {
    if (count == nullptr) return E_INVALIDARG;
    *count = static_cast<DWORD>(data_.properties.all().size());
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::GetPropertyByName(LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value, DWORD* size)
try {
    std::u16string key;
    if (name == nullptr || !readWide(name, kMaxNameChars, &key)) return E_INVALIDARG;
    const Property* p = data_.properties.find(key);
    if (p == nullptr) return E_INVALIDARG;
    return copyPropertyOut(*p, type, value, size);
} catch (...) {
    return resultOfException();
}

namespace {

// Checks a value for the properties the runtime interprets.
HRESULT checkKnownProperty(const std::u16string& name, WMT_ATTR_DATATYPE type, const BYTE* value, DWORD size,
                           int complexityMax)
try {
    const bool isBool = name == kPropVbrEnabled;
    const bool isDword = name == kPropComplexityEx || name == kPropVbrQuality || name == kPropRMax ||
                         name == kPropBMax || name == kPropPassesUsed;
    if (!isBool && !isDword) return S_OK;
    if (size != sizeof(DWORD)) return E_INVALIDARG;
    if (isBool && type != WMT_TYPE_BOOL) return E_INVALIDARG;
    if (isDword && type != WMT_TYPE_DWORD) return E_INVALIDARG;
    DWORD v;
    std::memcpy(&v, value, sizeof(v));
    if (name == kPropComplexityEx && v > static_cast<DWORD>(complexityMax)) return E_INVALIDARG;
    if (name == kPropVbrQuality && v > 100) return E_INVALIDARG;
    if (name == kPropPassesUsed && (v < 1 || v > 2)) return E_INVALIDARG;
    return S_OK;
} catch (...) {
    return resultOfException();
}

}  // namespace

HRESULT StreamConfig::SetProperty(LPCWSTR name, WMT_ATTR_DATATYPE type, BYTE* value, DWORD size)
try {
    std::u16string key;
    if (name == nullptr || !readWide(name, kMaxNameChars, &key) || key.empty()) return E_INVALIDARG;
    if (value == nullptr && size > 0) return E_INVALIDARG;
    if (size > MediaType::kMaxFormatBytes) return E_INVALIDARG;
    const HRESULT check = checkKnownProperty(key, type, value, size, data_.complexityMax);
    if (FAILED(check)) return check;
    Property p;
    p.name = std::move(key);
    p.type = type;
    if (size > 0) p.value.assign(value, value + size);
    data_.properties.set(std::move(p));
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::GetPropertyByIndex(DWORD index, LPWSTR name, DWORD* nameChars, WMT_ATTR_DATATYPE* type,
                                         BYTE* value, DWORD* size)
try {
    const auto& all = data_.properties.all();
    if (index >= all.size()) return E_INVALIDARG;
    const Property& p = all[index];
    if (nameChars == nullptr || type == nullptr || size == nullptr) return E_INVALIDARG;
    // Report both needed sizes before failing on either buffer.
    const DWORD nameNeeded = static_cast<DWORD>(p.name.size() + 1);
    const DWORD valueNeeded = static_cast<DWORD>(p.value.size());
    const bool nameFits = name == nullptr || *nameChars >= nameNeeded;
    const bool valueFits = value == nullptr || *size >= valueNeeded;
    if (!nameFits || !valueFits) {
        *nameChars = nameNeeded;
        *size = valueNeeded;
        return ASF_E_BUFFERTOOSMALL;
    }
    HRESULT hr = copyWideOut(p.name, name, nameChars);
    if (FAILED(hr)) return hr;
    return copyPropertyOut(p, type, value, size);
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::CopyPropertiesFrom(IWMPropertyVault* other)
try {
    if (other == nullptr) return E_POINTER;
    if (other == static_cast<IWMPropertyVault*>(this)) return S_OK;
    DWORD count = 0;
    HRESULT hr = other->GetPropertyCount(&count);
    if (FAILED(hr)) return hr;
    PropertyStore copy = data_.properties;
    for (DWORD i = 0; i < count; ++i) {
        DWORD nameChars = 0, size = 0;
        WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
        hr = other->GetPropertyByIndex(i, nullptr, &nameChars, &type, nullptr, &size);
        if (FAILED(hr)) return hr;
        if (nameChars == 0 || nameChars > kMaxNameChars + 1 || size > MediaType::kMaxFormatBytes) return E_INVALIDARG;
        std::u16string name(nameChars, u'\0');
        std::vector<BYTE> value(size);
        hr = other->GetPropertyByIndex(i, name.data(), &nameChars, &type, value.empty() ? nullptr : value.data(),
                                       &size);
        if (FAILED(hr)) return hr;
        name.resize(nameChars > 0 ? nameChars - 1 : 0);
        value.resize(size);
        copy.set(Property{std::move(name), type, std::move(value)});
    }
    data_.properties = std::move(copy);
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT StreamConfig::Clear()
try {
    data_.properties.clear();
    return S_OK;
} catch (...) {
    return resultOfException();
}

}  // namespace asfw::rt
