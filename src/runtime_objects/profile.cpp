#include "runtime_objects/profile.h"

#include <new>

namespace asfw::rt {

HRESULT Profile::QueryInterface(REFIID riid, void** object)
try {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IWMProfile) return E_NOINTERFACE;
    *object = static_cast<IWMProfile*>(this);
    AddRef();
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Profile::GetVersion(WMT_VERSION* version)
try {
    if (version == nullptr) return E_POINTER;
    *version = version_;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Profile::GetStreamCount(DWORD* count)
try {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<DWORD>(streams_.size());
    return S_OK;
} catch (...) {
    return resultOfException();
}

static HRESULT handOut(const StreamData& data, IWMStreamConfig** config)
{
    auto* copy = new (std::nothrow) StreamConfig(data);
    if (copy == nullptr) return E_OUTOFMEMORY;
    *config = copy;
    return S_OK;
}

HRESULT Profile::GetStream(DWORD index, IWMStreamConfig** config)
try {
    if (config == nullptr) return E_POINTER;
    *config = nullptr;
    if (index >= streams_.size()) return E_INVALIDARG;
    return handOut(streams_[index], config);
} catch (...) {
    return resultOfException();
}

HRESULT Profile::GetStreamByNumber(WORD number, IWMStreamConfig** config)
try {
    if (config == nullptr) return E_POINTER;
    *config = nullptr;
    const int i = indexOf(number);
    if (i < 0) return NS_E_INVALID_STREAM;
    return handOut(streams_[static_cast<std::size_t>(i)], config);
} catch (...) {
    return resultOfException();
}

int Profile::indexOf(WORD number) const
{
    for (std::size_t i = 0; i < streams_.size(); ++i)
        if (streams_[i].streamNumber == number) return static_cast<int>(i);
    return -1;
}

HRESULT Profile::RemoveStream(IWMStreamConfig* config)
try {
    if (config == nullptr) return E_POINTER;
    WORD number = 0;
    const HRESULT hr = config->GetStreamNumber(&number);
    if (FAILED(hr)) return hr;
    return RemoveStreamByNumber(number);
} catch (...) {
    return resultOfException();
}

HRESULT Profile::RemoveStreamByNumber(WORD number)
try {
    const int i = indexOf(number);
    if (i < 0) return NS_E_INVALID_STREAM;
    streams_.erase(streams_.begin() + i);
    return S_OK;
} catch (...) {
    return resultOfException();
}

// Only configurations made by this runtime are accepted; they must carry a
// stream number in 1..127 and a media type of the stream's kind.
HRESULT Profile::checkStream(IWMStreamConfig* config, const StreamData** data) const
try {
    if (config == nullptr) return E_POINTER;
    const auto* ours = dynamic_cast<const StreamConfig*>(config);
    if (ours == nullptr) return E_INVALIDARG;
    const StreamData& d = ours->data();
    if (d.streamNumber < 1 || d.streamNumber > 127) return E_INVALIDARG;
    if (!d.mediaType.present() || d.mediaType.record().majortype != d.streamType) return E_INVALIDARG;
    *data = &d;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Profile::AddStream(IWMStreamConfig* config)
try {
    const StreamData* data = nullptr;
    const HRESULT hr = checkStream(config, &data);
    if (FAILED(hr)) return hr;
    if (indexOf(data->streamNumber) >= 0) return E_INVALIDARG;
    try {
        streams_.push_back(*data);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Profile::ReconfigStream(IWMStreamConfig* config)
try {
    const StreamData* data = nullptr;
    const HRESULT hr = checkStream(config, &data);
    if (FAILED(hr)) return hr;
    const int i = indexOf(data->streamNumber);
    if (i < 0) return NS_E_INVALID_STREAM;
    try {
        streams_[static_cast<std::size_t>(i)] = *data;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Profile::CreateNewStream(REFGUID streamType, IWMStreamConfig** config)
try {
    if (config == nullptr) return E_POINTER;
    *config = nullptr;
    if (streamType != WMMEDIATYPE_Video && streamType != WMMEDIATYPE_Audio) return E_INVALIDARG;
    StreamData data;
    data.streamType = streamType;
    data.complexityMax = complexityMax_;
    return handOut(data, config);
} catch (...) {
    return resultOfException();
}

}  // namespace asfw::rt
