// The recording runtime: every interface the writer class calls, plus the two
// factories. See recording_runtime.h.
#include "recording_runtime.h"

#include <cstdio>
#include <cstring>

namespace rec {

namespace {

std::string Hex(std::uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(v));
    return buf;
}

std::string Num(long long v) { return std::to_string(v); }

std::string TypeName(WMT_ATTR_DATATYPE t)
{
    switch (t) {
    case WMT_TYPE_DWORD: return "DWORD";
    case WMT_TYPE_BOOL: return "BOOL";
    case WMT_TYPE_QWORD: return "QWORD";
    case WMT_TYPE_WORD: return "WORD";
    case WMT_TYPE_STRING: return "STRING";
    case WMT_TYPE_BINARY: return "BINARY";
    case WMT_TYPE_GUID: return "GUID";
    }
    return "type" + Num(static_cast<int>(t));
}

std::string IidName(const IID& iid)
{
    struct Known {
        const IID* iid;
        const char* name;
    };
    static const Known known[] = {
        {&IID_IUnknown, "IUnknown"},
        {&IID_IWMProfileManager, "IWMProfileManager"},
        {&IID_IWMProfile, "IWMProfile"},
        {&IID_IWMStreamConfig, "IWMStreamConfig"},
        {&IID_IWMMediaProps, "IWMMediaProps"},
        {&IID_IWMVideoMediaProps, "IWMVideoMediaProps"},
        {&IID_IWMInputMediaProps, "IWMInputMediaProps"},
        {&IID_IWMPropertyVault, "IWMPropertyVault"},
        {&IID_IWMCodecInfo, "IWMCodecInfo"},
        {&IID_IWMCodecInfo2, "IWMCodecInfo2"},
        {&IID_IWMCodecInfo3, "IWMCodecInfo3"},
        {&IID_IWMWriter, "IWMWriter"},
        {&IID_IWMWriterPreprocess, "IWMWriterPreprocess"},
        {&IID_INSSBuffer, "INSSBuffer"},
    };
    for (const Known& k : known)
        if (*k.iid == iid)
            return k.name;
    return "unknown-iid";
}

// The value behind a 4-byte (or shorter) property argument.
DWORD ValueOf(const BYTE* p, DWORD size)
{
    DWORD v = 0;
    if (p != nullptr && size <= 4)
        std::memcpy(&v, p, size);
    return v;
}

// Serves a media type in the runtime's two steps.
HRESULT ServeMediaType(const MediaTypeSpec& spec, WM_MEDIA_TYPE* p, DWORD* size)
{
    if (size == nullptr)
        return E_POINTER;
    const DWORD need = static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + spec.format.size());
    if (p == nullptr) {
        *size = need;
        return S_OK;
    }
    if (*size < need)
        return E_INVALIDARG;
    WM_MEDIA_TYPE mt{};
    mt.majortype = spec.major;
    mt.subtype = spec.sub;
    mt.bFixedSizeSamples = TRUE;
    mt.formattype = spec.formatType;
    mt.cbFormat = static_cast<ULONG>(spec.format.size());
    BYTE* block = reinterpret_cast<BYTE*>(p) + sizeof(WM_MEDIA_TYPE);
    mt.pbFormat = spec.nullFormat ? nullptr : block;
    std::memcpy(p, &mt, sizeof mt);
    if (!spec.format.empty())
        std::memcpy(block, spec.format.data(), spec.format.size());
    *size = need;
    return S_OK;
}

MediaTypeSpec TakeMediaType(const WM_MEDIA_TYPE* p)
{
    MediaTypeSpec s;
    s.major = p->majortype;
    s.sub = p->subtype;
    s.formatType = p->formattype;
    if (p->pbFormat != nullptr)
        s.format.assign(p->pbFormat, p->pbFormat + p->cbFormat);
    else
        s.nullFormat = true;
    return s;
}

HRESULT CopyName(const std::u16string& name, WCHAR* buf, DWORD* cch)
{
    if (cch == nullptr)
        return E_POINTER;
    const DWORD need = static_cast<DWORD>(name.size() + 1);
    if (buf == nullptr) {
        *cch = need;
        return S_OK;
    }
    if (*cch < need)
        return E_INVALIDARG;
    std::memcpy(buf, name.c_str(), need * sizeof(WCHAR));
    *cch = need;
    return S_OK;
}

#define REC_UNKNOWN()                                                                        \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override               \
    {                                                                                        \
        return DoQuery(iid, out);                                                            \
    }                                                                                        \
    ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }                         \
    ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }

#define REC_CALL(entry)                                     \
    do {                                                    \
        const HRESULT rec_hr = rt().Call(this, (entry));    \
        if (FAILED(rec_hr))                                 \
            return rec_hr;                                  \
    } while (0)

Runtime& rt() { return Runtime::Get(); }

// Grants `iid` when `ok` and counts the new reference.
template <class Self>
HRESULT Grant(Self* self, const IID& iid, void** out, void* as)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    const HRESULT hr = rt().Call(self, self->tag + ".QueryInterface(" + IidName(iid) + ")");
    if (FAILED(hr))
        return hr;
    if (as == nullptr)
        return E_NOINTERFACE;
    self->refs++;
    *out = as;
    return S_OK;
}

// ---- sample buffer ------------------------------------------------------------
class Sample final : public Object, public INSSBuffer {
public:
    explicit Sample(DWORD size) : Object("sample"), data(size) {}
    REC_UNKNOWN()
    HRESULT DoQuery(REFIID iid, void** out)
    {
        void* as = nullptr;
        if (iid == IID_IUnknown || iid == IID_INSSBuffer)
            as = static_cast<INSSBuffer*>(this);
        return Grant(this, iid, out, as);
    }
    HRESULT STDMETHODCALLTYPE GetLength(DWORD* p) override
    {
        REC_CALL(tag + ".GetLength()");
        *p = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetLength(DWORD n) override
    {
        REC_CALL(tag + ".SetLength(" + Num(n) + ")");
        if (n > data.size())
            return E_INVALIDARG;
        length = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* p) override
    {
        REC_CALL(tag + ".GetMaxLength()");
        *p = static_cast<DWORD>(data.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** p) override
    {
        REC_CALL(tag + ".GetBuffer()");
        *p = data.empty() ? nullptr : data.data();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** p, DWORD* n) override
    {
        REC_CALL(tag + ".GetBufferAndLength()");
        *p = data.empty() ? nullptr : data.data();
        *n = length;
        return S_OK;
    }
    std::vector<BYTE> data;
    DWORD length = 0;
};

// ---- input properties (an input, or one format an input offers) ----------------
class InputProps final : public Object, public IWMInputMediaProps {
public:
    InputProps(std::string tag, std::u16string name, MediaTypeSpec type)
        : Object(std::move(tag)), name(std::move(name)), type(std::move(type))
    {
    }
    REC_UNKNOWN()
    HRESULT DoQuery(REFIID iid, void** out)
    {
        void* as = nullptr;
        if (iid == IID_IUnknown || iid == IID_IWMMediaProps || iid == IID_IWMInputMediaProps)
            as = static_cast<IWMInputMediaProps*>(this);
        return Grant(this, iid, out, as);
    }
    HRESULT STDMETHODCALLTYPE GetType(GUID* p) override
    {
        REC_CALL(tag + ".GetType()");
        *p = type.major;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* p, DWORD* size) override
    {
        REC_CALL(tag + ".GetMediaType(" + (p == nullptr ? "size" : "read") + ")");
        return ServeMediaType(type, p, size);
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* p) override
    {
        REC_CALL(tag + ".SetMediaType()");
        type = TakeMediaType(p);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* buf, WORD* cch) override
    {
        REC_CALL(tag + ".GetConnectionName(cap=" + Num(cch ? *cch : -1) + ")");
        DWORD n = cch ? *cch : 0;
        const HRESULT hr = CopyName(name, buf, &n);
        if (SUCCEEDED(hr))
            *cch = static_cast<WORD>(n);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetGroupName(WCHAR*, WORD*) override
    {
        REC_CALL(tag + ".GetGroupName()");
        return E_NOTIMPL;
    }
    std::u16string name;
    MediaTypeSpec type;
};

// ---- stream configuration ----------------------------------------------------------
class Config final : public Object,
                     public IWMStreamConfig,
                     public IWMVideoMediaProps,
                     public IWMPropertyVault {
public:
    Config(std::string tag, MediaTypeSpec type) : Object(std::move(tag)) { record.type = std::move(type); }
    REC_UNKNOWN()
    HRESULT DoQuery(REFIID iid, void** out)
    {
        void* as = nullptr;
        if (iid == IID_IUnknown || iid == IID_IWMStreamConfig)
            as = static_cast<IWMStreamConfig*>(this);
        else if (iid == IID_IWMMediaProps)
            as = static_cast<IWMMediaProps*>(this);
        else if (iid == IID_IWMVideoMediaProps)
            as = static_cast<IWMVideoMediaProps*>(this);
        else if (iid == IID_IWMPropertyVault)
            as = static_cast<IWMPropertyVault*>(this);
        return Grant(this, iid, out, as);
    }
    // IWMStreamConfig
    HRESULT STDMETHODCALLTYPE GetStreamType(GUID* p) override
    {
        REC_CALL(tag + ".GetStreamType()");
        *p = record.type.major;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* p) override
    {
        REC_CALL(tag + ".GetStreamNumber()");
        *p = record.number;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD n) override
    {
        REC_CALL(tag + ".SetStreamNumber(" + Num(n) + ")");
        record.number = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamName(WCHAR* buf, WORD* cch) override
    {
        REC_CALL(tag + ".GetStreamName()");
        DWORD n = *cch;
        const HRESULT hr = CopyName(record.name, buf, &n);
        *cch = static_cast<WORD>(n);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetStreamName(WCHAR* name) override
    {
        REC_CALL(tag + ".SetStreamName(" + Narrow(name) + ")");
        record.name = name;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* buf, WORD* cch) override
    {
        REC_CALL(tag + ".GetConnectionName()");
        DWORD n = *cch;
        const HRESULT hr = CopyName(record.connection, buf, &n);
        *cch = static_cast<WORD>(n);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetConnectionName(WCHAR* name) override
    {
        REC_CALL(tag + ".SetConnectionName(" + Narrow(name) + ")");
        record.connection = name;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* p) override
    {
        REC_CALL(tag + ".GetBitrate()");
        *p = record.bitrate;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetBitrate(DWORD v) override
    {
        REC_CALL(tag + ".SetBitrate(" + Num(v) + ")");
        record.bitrate = v;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* p) override
    {
        REC_CALL(tag + ".GetBufferWindow()");
        *p = record.bufferWindow;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD v) override
    {
        REC_CALL(tag + ".SetBufferWindow(" + Num(v) + ")");
        record.bufferWindow = v;
        return S_OK;
    }
    // IWMMediaProps / IWMVideoMediaProps
    HRESULT STDMETHODCALLTYPE GetType(GUID* p) override
    {
        REC_CALL(tag + ".GetType()");
        *p = record.type.major;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* p, DWORD* size) override
    {
        REC_CALL(tag + ".GetMediaType(" + (p == nullptr ? "size" : "read") + ")");
        return ServeMediaType(record.type, p, size);
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* p) override
    {
        REC_CALL(tag + ".SetMediaType()");
        record.type = TakeMediaType(p);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG* p) override
    {
        REC_CALL(tag + ".GetMaxKeyFrameSpacing()");
        *p = record.keyFrameSpacing;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG v) override
    {
        REC_CALL(tag + ".SetMaxKeyFrameSpacing(" + Num(v) + ")");
        record.keyFrameSpacing = v;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetQuality(DWORD*) override
    {
        REC_CALL(tag + ".GetQuality()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetQuality(DWORD v) override
    {
        REC_CALL(tag + ".SetQuality(" + Num(v) + ")");
        return E_NOTIMPL;
    }
    // IWMPropertyVault
    HRESULT STDMETHODCALLTYPE GetPropertyCount(DWORD* p) override
    {
        REC_CALL(tag + ".GetPropertyCount()");
        *p = static_cast<DWORD>(record.properties.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyByName(LPCWSTR name, WMT_ATTR_DATATYPE*, BYTE*, DWORD*) override
    {
        REC_CALL(tag + ".GetPropertyByName(" + Narrow(name) + ")");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetProperty(LPCWSTR name, WMT_ATTR_DATATYPE type, BYTE* value, DWORD size) override
    {
        const DWORD v = ValueOf(value, size);
        REC_CALL(tag + ".SetProperty(" + Narrow(name) + "," + TypeName(type) + "," + Num(v) + "," + Num(size) +
                 ")");
        record.properties.push_back(Property{Narrow(name), type, v, size});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyByIndex(DWORD, LPWSTR, DWORD*, WMT_ATTR_DATATYPE*, BYTE*,
                                                 DWORD*) override
    {
        REC_CALL(tag + ".GetPropertyByIndex()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyPropertiesFrom(IWMPropertyVault*) override
    {
        REC_CALL(tag + ".CopyPropertiesFrom()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Clear() override
    {
        REC_CALL(tag + ".Clear()");
        record.properties.clear();
        return S_OK;
    }
    StreamRecord record;
};

// ---- profile ------------------------------------------------------------------------
class Profile final : public Object, public IWMProfile {
public:
    Profile() : Object("profile") {}
    REC_UNKNOWN()
    HRESULT DoQuery(REFIID iid, void** out)
    {
        void* as = nullptr;
        if (iid == IID_IUnknown || iid == IID_IWMProfile)
            as = static_cast<IWMProfile*>(this);
        return Grant(this, iid, out, as);
    }
    HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION* p) override
    {
        REC_CALL(tag + ".GetVersion()");
        *p = WMT_VER_9_0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* p) override
    {
        REC_CALL(tag + ".GetStreamCount()");
        *p = static_cast<DWORD>(rt().streams.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStream(DWORD, IWMStreamConfig**) override
    {
        REC_CALL(tag + ".GetStream()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetStreamByNumber(WORD, IWMStreamConfig**) override
    {
        REC_CALL(tag + ".GetStreamByNumber()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemoveStream(IWMStreamConfig*) override
    {
        REC_CALL(tag + ".RemoveStream()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemoveStreamByNumber(WORD) override
    {
        REC_CALL(tag + ".RemoveStreamByNumber()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* config) override
    {
        Config* c = dynamic_cast<Config*>(config);
        REC_CALL(tag + ".AddStream(" + (c ? c->tag : std::string("?")) + ")");
        if (c == nullptr)
            return E_INVALIDARG;
        if (c->refs <= 0)
            rt().errors.push_back("AddStream of released " + c->tag);
        StreamRecord r = c->record;
        r.config = c->tag;
        rt().streams.push_back(r);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReconfigStream(IWMStreamConfig*) override
    {
        REC_CALL(tag + ".ReconfigStream()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID, IWMStreamConfig**) override
    {
        REC_CALL(tag + ".CreateNewStream()");
        return E_NOTIMPL;
    }
};

// ---- profile manager with its codec information ---------------------------------
class Manager final : public Object, public IWMProfileManager, public IWMCodecInfo3 {
public:
    Manager() : Object("manager") {}
    REC_UNKNOWN()
    HRESULT DoQuery(REFIID iid, void** out)
    {
        void* as = nullptr;
        if (iid == IID_IUnknown || iid == IID_IWMProfileManager)
            as = static_cast<IWMProfileManager*>(this);
        else if (iid == IID_IWMCodecInfo || iid == IID_IWMCodecInfo2 || iid == IID_IWMCodecInfo3)
            as = static_cast<IWMCodecInfo3*>(this);
        return Grant(this, iid, out, as);
    }
    // IWMProfileManager
    HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION v, IWMProfile** pp) override
    {
        *pp = nullptr;
        REC_CALL(tag + ".CreateEmptyProfile(" + Hex(static_cast<std::uint32_t>(v)) + ")");
        *pp = rt().Make<Profile>();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LoadProfileByID(REFGUID, IWMProfile**) override
    {
        REC_CALL(tag + ".LoadProfileByID()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE LoadProfileByData(const WCHAR*, IWMProfile**) override
    {
        REC_CALL(tag + ".LoadProfileByData()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SaveProfile(IWMProfile*, WCHAR*, DWORD*) override
    {
        REC_CALL(tag + ".SaveProfile()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetSystemProfileCount(DWORD*) override
    {
        REC_CALL(tag + ".GetSystemProfileCount()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE LoadSystemProfile(DWORD, IWMProfile**) override
    {
        REC_CALL(tag + ".LoadSystemProfile()");
        return E_NOTIMPL;
    }
    // IWMCodecInfo
    HRESULT STDMETHODCALLTYPE GetCodecInfoCount(REFGUID type, DWORD* p) override
    {
        REC_CALL(tag + ".GetCodecInfoCount(" + GuidName(type) + ")");
        const auto* list = Codecs(type);
        if (list == nullptr)
            return E_INVALIDARG;
        *p = static_cast<DWORD>(list->size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCodecFormatCount(REFGUID type, DWORD codec, DWORD* p) override
    {
        REC_CALL(tag + ".GetCodecFormatCount(" + GuidName(type) + "," + Num(codec) + ")");
        const CodecSpec* c = Codec(type, codec);
        if (c == nullptr)
            return E_INVALIDARG;
        *p = static_cast<DWORD>(c->formats.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCodecFormat(REFGUID type, DWORD codec, DWORD format,
                                             IWMStreamConfig** pp) override
    {
        *pp = nullptr;
        REC_CALL(tag + ".GetCodecFormat(" + GuidName(type) + "," + Num(codec) + "," + Num(format) + ")");
        return MakeConfig(type, codec, format, pp);
    }
    // IWMCodecInfo2
    HRESULT STDMETHODCALLTYPE GetCodecName(REFGUID type, DWORD codec, WCHAR* name, DWORD* cch) override
    {
        REC_CALL(tag + ".GetCodecName(" + GuidName(type) + "," + Num(codec) + ",cap=" + Num(cch ? *cch : -1) + ")");
        const CodecSpec* c = Codec(type, codec);
        if (c == nullptr)
            return E_INVALIDARG;
        if (c->nameFails)
            return E_FAIL;
        return CopyName(c->name, name, cch);
    }
    HRESULT STDMETHODCALLTYPE GetCodecFormatDesc(REFGUID type, DWORD codec, DWORD format, IWMStreamConfig** pp,
                                                 WCHAR* desc, DWORD* cch) override
    {
        if (pp != nullptr)
            *pp = nullptr;
        REC_CALL(tag + ".GetCodecFormatDesc(" + GuidName(type) + "," + Num(codec) + "," + Num(format) +
                 ",cap=" + Num(cch ? *cch : -1) + ")");
        const std::u16string text = u"Format " + std::u16string(1, static_cast<char16_t>(u'0' + format % 10));
        if (cch != nullptr) {
            const HRESULT hr = CopyName(text, desc, cch);
            if (FAILED(hr))
                return hr;
        }
        if (pp == nullptr)
            return S_OK;
        return MakeConfig(type, codec, format, pp);
    }
    // IWMCodecInfo3
    HRESULT STDMETHODCALLTYPE GetCodecFormatProp(REFGUID, DWORD, DWORD, const WCHAR* name, WMT_ATTR_DATATYPE*,
                                                 BYTE*, DWORD*) override
    {
        REC_CALL(tag + ".GetCodecFormatProp(" + Narrow(name) + ")");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetCodecProp(REFGUID type, DWORD codec, const WCHAR* name, WMT_ATTR_DATATYPE* kind,
                                           BYTE* value, DWORD* size) override
    {
        REC_CALL(tag + ".GetCodecProp(" + GuidName(type) + "," + Num(codec) + "," + Narrow(name) +
                 ",size=" + Num(size ? *size : -1) + ")");
        const CodecSpec* c = Codec(type, codec);
        if (c == nullptr || size == nullptr || kind == nullptr)
            return E_INVALIDARG;
        if (Narrow(name) != "_COMPLEXITYEXOFFLINE" || !c->hasComplexity)
            return NS_E_UNSUPPORTED_PROPERTY;
        const DWORD need = static_cast<DWORD>(c->complexity.size());
        if (value == nullptr || *size < need) {
            *size = need;
            return E_INVALIDARG;
        }
        std::memcpy(value, c->complexity.data(), need);
        *size = need;
        *kind = c->complexityType;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCodecEnumerationSetting(REFGUID type, DWORD codec, const WCHAR* name,
                                                         WMT_ATTR_DATATYPE kind, const BYTE* value,
                                                         DWORD size) override
    {
        REC_CALL(tag + ".SetCodecEnumerationSetting(" + GuidName(type) + "," + Num(codec) + "," + Narrow(name) +
                 "," + TypeName(kind) + "," + Num(ValueOf(value, size)) + "," + Num(size) + ")");
        return Codec(type, codec) ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GetCodecEnumerationSetting(REFGUID, DWORD, const WCHAR* name, WMT_ATTR_DATATYPE*,
                                                         BYTE*, DWORD*) override
    {
        REC_CALL(tag + ".GetCodecEnumerationSetting(" + Narrow(name) + ")");
        return E_NOTIMPL;
    }

private:
    static const std::vector<CodecSpec>* Codecs(const GUID& type)
    {
        if (type == WMMEDIATYPE_Audio)
            return &rt().audioCodecs;
        if (type == WMMEDIATYPE_Video)
            return &rt().videoCodecs;
        return nullptr;
    }
    static const CodecSpec* Codec(const GUID& type, DWORD codec)
    {
        const auto* list = Codecs(type);
        if (list == nullptr || codec >= list->size())
            return nullptr;
        return &(*list)[codec];
    }
    static HRESULT MakeConfig(const GUID& type, DWORD codec, DWORD format, IWMStreamConfig** pp)
    {
        const CodecSpec* c = Codec(type, codec);
        if (c == nullptr || format >= c->formats.size())
            return E_INVALIDARG;
        const std::string tag = std::string(type == WMMEDIATYPE_Audio ? "afmt" : "vfmt") + Num(format);
        *pp = static_cast<IWMStreamConfig*>(rt().Make<Config>(tag, c->formats[format]));
        return S_OK;
    }
};

// ---- writer and its pre-processor ------------------------------------------------------
class Writer final : public Object, public IWMWriter, public IWMWriterPreprocess {
public:
    Writer() : Object("writer") {}
    REC_UNKNOWN()
    HRESULT DoQuery(REFIID iid, void** out)
    {
        void* as = nullptr;
        if (iid == IID_IUnknown || iid == IID_IWMWriter)
            as = static_cast<IWMWriter*>(this);
        else if (iid == IID_IWMWriterPreprocess && rt().writerHasPreprocess)
            as = static_cast<IWMWriterPreprocess*>(this);
        return Grant(this, iid, out, as);
    }
    // IWMWriter
    HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID) override
    {
        REC_CALL(tag + ".SetProfileByID()");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile* p) override
    {
        Profile* prof = dynamic_cast<Profile*>(p);
        REC_CALL(tag + ".SetProfile(" + (prof ? prof->tag : std::string("?")) + ")");
        return prof ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* name) override
    {
        REC_CALL(tag + ".SetOutputFilename(" + Narrow(name) + ")");
        rt().outputName = name;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* p) override
    {
        REC_CALL(tag + ".GetInputCount()");
        *p = static_cast<DWORD>(rt().inputs.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInputProps(DWORD i, IWMInputMediaProps** pp) override
    {
        *pp = nullptr;
        REC_CALL(tag + ".GetInputProps(" + Num(i) + ")");
        if (i >= rt().inputs.size())
            return E_INVALIDARG;
        const InputSpec& in = rt().inputs[i];
        MediaTypeSpec current = in.formats.empty() ? MediaTypeSpec{} : in.formats.front();
        *pp = rt().Make<InputProps>("input" + Num(i), in.name, current);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetInputProps(DWORD i, IWMInputMediaProps* p) override
    {
        InputProps* props = dynamic_cast<InputProps*>(p);
        REC_CALL(tag + ".SetInputProps(" + Num(i) + "," + (props ? props->tag : std::string("?")) + ")");
        if (props == nullptr || i >= rt().inputs.size())
            return E_INVALIDARG;
        if (props->refs <= 0)
            rt().errors.push_back("SetInputProps with released " + props->tag);
        rt().installed[i] = props->tag;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD i, DWORD* p) override
    {
        REC_CALL(tag + ".GetInputFormatCount(" + Num(i) + ")");
        if (i >= rt().inputs.size())
            return E_INVALIDARG;
        *p = static_cast<DWORD>(rt().inputs[i].formats.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD i, DWORD f, IWMInputMediaProps** pp) override
    {
        *pp = nullptr;
        REC_CALL(tag + ".GetInputFormat(" + Num(i) + "," + Num(f) + ")");
        if (i >= rt().inputs.size() || f >= rt().inputs[i].formats.size())
            return E_INVALIDARG;
        const InputSpec& in = rt().inputs[i];
        *pp = rt().Make<InputProps>("in" + Num(i) + ".fmt" + Num(f), in.name, in.formats[f]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BeginWriting() override
    {
        REC_CALL(tag + ".BeginWriting()");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EndWriting() override
    {
        REC_CALL(tag + ".EndWriting()");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, INSSBuffer** pp) override
    {
        *pp = nullptr;
        REC_CALL(tag + ".AllocateSample(" + Num(size) + ")");
        *pp = rt().Make<Sample>(size);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD i, QWORD time, DWORD flags, INSSBuffer* s) override
    {
        REC_CALL(tag + ".WriteSample(" + Num(i) + "," + Num(static_cast<long long>(time)) + "," + Num(flags) + ")");
        return Take("writer", i, time, flags, s);
    }
    HRESULT STDMETHODCALLTYPE Flush() override
    {
        REC_CALL(tag + ".Flush()");
        return S_OK;
    }
    // IWMWriterPreprocess
    HRESULT STDMETHODCALLTYPE GetMaxPreprocessingPasses(DWORD i, DWORD flags, DWORD* p) override
    {
        REC_CALL(tag + ".GetMaxPreprocessingPasses(" + Num(i) + "," + Num(flags) + ")");
        *p = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNumPreprocessingPasses(DWORD i, DWORD flags, DWORD n) override
    {
        REC_CALL(tag + ".SetNumPreprocessingPasses(" + Num(i) + "," + Num(flags) + "," + Num(n) + ")");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BeginPreprocessingPass(DWORD i, DWORD flags) override
    {
        REC_CALL(tag + ".BeginPreprocessingPass(" + Num(i) + "," + Num(flags) + ")");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PreprocessSample(DWORD i, QWORD time, DWORD flags, INSSBuffer* s) override
    {
        REC_CALL(tag + ".PreprocessSample(" + Num(i) + "," + Num(static_cast<long long>(time)) + "," + Num(flags) +
                 ")");
        return Take("preprocessor", i, time, flags, s);
    }
    HRESULT STDMETHODCALLTYPE EndPreprocessingPass(DWORD i, DWORD flags) override
    {
        REC_CALL(tag + ".EndPreprocessingPass(" + Num(i) + "," + Num(flags) + ")");
        return S_OK;
    }

private:
    static HRESULT Take(const char* to, DWORD i, QWORD time, DWORD flags, INSSBuffer* s)
    {
        Sample* sample = dynamic_cast<Sample*>(s);
        if (sample == nullptr)
            return E_INVALIDARG;
        if (sample->refs <= 0)
            rt().errors.push_back("released sample handed over");
        SampleRecord r{to, i, time, flags,
                       std::vector<BYTE>(sample->data.begin(), sample->data.begin() + sample->length)};
        rt().samples.push_back(std::move(r));
        return S_OK;
    }
};

}  // namespace

// ---- Object ---------------------------------------------------------------------
ULONG Object::DoAddRef()
{
    Runtime& r = Runtime::Get();
    r.log.push_back(tag + ".AddRef");
    if (refs <= 0)
        r.errors.push_back("AddRef on released " + tag);
    return static_cast<ULONG>(++refs);
}

ULONG Object::DoRelease()
{
    Runtime& r = Runtime::Get();
    r.log.push_back(tag + ".Release");
    if (refs <= 0) {
        r.errors.push_back("over-release of " + tag);
        return 0;
    }
    return static_cast<ULONG>(--refs);
}

// ---- Runtime ------------------------------------------------------------------------
Runtime& Runtime::Get()
{
    static Runtime instance;
    return instance;
}

void Runtime::Reset()
{
    audioCodecs.clear();
    videoCodecs.clear();
    inputs.clear();
    writerHasPreprocess = true;
    rules_.clear();
    log.clear();
    streams.clear();
    samples.clear();
    installed.clear();
    outputName.clear();
    errors.clear();
    objects_.clear();
}

void Runtime::Fail(const std::string& pattern, HRESULT hr, int nth) { rules_.push_back(Rule{pattern, hr, nth, 0}); }

HRESULT Runtime::Check(const std::string& entry)
{
    // The entry without its object ("in0.fmt1.GetMediaType(read)" ->
    // "GetMediaType(read)").
    const std::size_t paren = entry.find('(');
    const std::size_t dot = paren == std::string::npos ? entry.rfind('.') : entry.rfind('.', paren);
    const std::string bare = dot != std::string::npos ? entry.substr(dot + 1) : entry;
    HRESULT result = S_OK;
    for (Rule& rule : rules_) {
        bool match = false;
        for (const std::string* e : {&entry, &bare}) {
            if (e->compare(0, rule.pattern.size(), rule.pattern) != 0)
                continue;
            if (rule.pattern.find('(') != std::string::npos || e->size() == rule.pattern.size() ||
                (*e)[rule.pattern.size()] == '(')
                match = true;
        }
        if (!match)
            continue;
        ++rule.seen;
        if (rule.nth == 0 || rule.nth == rule.seen)
            result = rule.hr;
    }
    return result;
}

HRESULT Runtime::Call(Object* self, const std::string& entry)
{
    log.push_back(entry);
    if (self->refs <= 0)
        errors.push_back("call on released object: " + entry);
    return Check(entry);
}

HRESULT Runtime::Factory(const std::string& entry)
{
    log.push_back(entry);
    return Check(entry);
}

std::vector<std::string> Runtime::Calls(const std::string& part) const
{
    std::vector<std::string> out;
    for (const std::string& e : log)
        if (e.find(part) != std::string::npos)
            out.push_back(e);
    return out;
}

long Runtime::RefCount(const std::string& t) const
{
    long n = 0;
    for (const auto& o : objects_)
        if (o->tag == t)
            n += o->refs;
    return n;
}

std::vector<std::string> Runtime::Unbalanced() const
{
    std::vector<std::string> out;
    for (const auto& o : objects_)
        if (o->refs != 0)
            out.push_back(o->tag + "=" + std::to_string(o->refs));
    return out;
}

const Property* StreamRecord::Find(const std::string& n) const
{
    for (const Property& p : properties)
        if (p.name == n)
            return &p;
    return nullptr;
}

// ---- printable forms -------------------------------------------------------------------
std::string Narrow(const WCHAR* s)
{
    if (s == nullptr)
        return "(null)";
    std::string out;
    for (; *s != 0; ++s) {
        const std::uint32_t c = *s;
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[12];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

std::string Narrow(const std::u16string& s) { return Narrow(s.c_str()); }

std::string GuidName(const GUID& g)
{
    if (g == WMMEDIATYPE_Audio)
        return "Audio";
    if (g == WMMEDIATYPE_Video)
        return "Video";
    return Hex(g.Data1);
}

// ---- media types and typical set-ups -----------------------------------------------------
MediaTypeSpec Wave(WORD tag, WORD channels, DWORD rate, WORD bits, DWORD avgBytesPerSec,
                   const std::vector<BYTE>& extra)
{
    WAVEFORMATEX w{};
    w.wFormatTag = tag;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.nAvgBytesPerSec = avgBytesPerSec;
    w.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    w.wBitsPerSample = bits;
    w.cbSize = static_cast<WORD>(extra.size());
    MediaTypeSpec s;
    s.major = WMMEDIATYPE_Audio;
    s.sub = tag == WAVE_FORMAT_PCM ? WMMEDIASUBTYPE_PCM : WMMEDIASUBTYPE_WMAudioV8;
    s.formatType = WMFORMAT_WaveFormatEx;
    const BYTE* p = reinterpret_cast<const BYTE*>(&w);
    s.format.assign(p, p + sizeof w);
    s.format.insert(s.format.end(), extra.begin(), extra.end());
    return s;
}

MediaTypeSpec Pcm(DWORD rate, WORD channels, WORD bits)
{
    return Wave(WAVE_FORMAT_PCM, channels, rate, bits, rate * channels * bits / 8);
}

MediaTypeSpec WmaFormat(DWORD rate, WORD channels, DWORD kbps, WORD bits)
{
    return Wave(0x0161, channels, rate, bits, kbps * 125, std::vector<BYTE>(10, 0x11));
}

MediaTypeSpec VideoType(const GUID& subtype, const WMVIDEOINFOHEADER& vih, const std::vector<BYTE>& extra)
{
    MediaTypeSpec s;
    s.major = WMMEDIATYPE_Video;
    s.sub = subtype;
    s.formatType = WMFORMAT_VideoInfo;
    const BYTE* p = reinterpret_cast<const BYTE*>(&vih);
    s.format.assign(p, p + sizeof vih);
    s.format.insert(s.format.end(), extra.begin(), extra.end());
    return s;
}

MediaTypeSpec Wmv3Format()
{
    WMVIDEOINFOHEADER v{};
    v.rcSource = RECT{0, 0, 320, 240};
    v.rcTarget = v.rcSource;
    v.dwBitRate = 300000;
    v.dwBitErrorRate = 7;
    v.AvgTimePerFrame = 666666;
    v.bmiHeader.biSize = sizeof(BITMAPINFOHEADER) + 4;
    v.bmiHeader.biWidth = 320;
    v.bmiHeader.biHeight = 240;
    v.bmiHeader.biPlanes = 1;
    v.bmiHeader.biBitCount = 24;
    v.bmiHeader.biCompression = MakeFourCC('W', 'M', 'V', '3');
    v.bmiHeader.biSizeImage = 12345;
    v.bmiHeader.biXPelsPerMeter = 11;
    v.bmiHeader.biYPelsPerMeter = 13;
    return VideoType(WMMEDIASUBTYPE_WMV3, v, {0x4E, 0xF9, 0x2A, 0x01});
}

std::vector<CodecSpec> StandardAudioCodecs()
{
    CodecSpec older;
    older.name = u"Windows Media Audio 8";
    older.formats = {WmaFormat(44100, 2, 128)};
    CodecSpec wma;
    wma.name = u"Windows Media Audio 9.2";
    wma.formats = {WmaFormat(44100, 2, 128), WmaFormat(44100, 2, 160), WmaFormat(48000, 2, 192),
                   WmaFormat(44100, 2, 96), WmaFormat(44100, 1, 48)};
    return {older, wma};
}

std::vector<CodecSpec> StandardVideoCodecs()
{
    CodecSpec screen;
    screen.name = u"Windows Media Video 9 Screen";
    screen.formats = {Wmv3Format()};
    CodecSpec wmv;
    wmv.name = u"Windows Media Video 9";
    wmv.formats = {Wmv3Format()};
    return {screen, wmv};
}

std::vector<InputSpec> StandardInputs()
{
    WMVIDEOINFOHEADER raw{};
    raw.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    raw.bmiHeader.biWidth = 640;
    raw.bmiHeader.biHeight = 480;
    InputSpec video{u"Video",
                    {VideoType(WMMEDIASUBTYPE_YV12, raw), VideoType(WMMEDIASUBTYPE_I420, raw),
                     VideoType(WMMEDIASUBTYPE_IYUV, raw)}};
    InputSpec audio{u"Audio", {Pcm(44100, 2, 16), Pcm(48000, 2, 16), Pcm(48000, 1, 16)}};
    return {video, audio};
}

}  // namespace rec

// ---- the factories --------------------------------------------------------------------
HRESULT WMCreateProfileManager(IWMProfileManager** pp)
{
    *pp = nullptr;
    rec::Runtime& r = rec::Runtime::Get();
    const HRESULT hr = r.Factory("WMCreateProfileManager()");
    if (FAILED(hr))
        return hr;
    *pp = r.Make<rec::Manager>();
    return S_OK;
}

HRESULT WMCreateWriter(IUnknown* cert, IWMWriter** pp)
{
    *pp = nullptr;
    rec::Runtime& r = rec::Runtime::Get();
    const HRESULT hr = r.Factory(std::string("WMCreateWriter(") + (cert ? "cert" : "null") + ")");
    if (FAILED(hr))
        return hr;
    *pp = r.Make<rec::Writer>();
    return S_OK;
}
