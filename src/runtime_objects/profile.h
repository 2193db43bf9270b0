// Profile: the ordered set of stream configurations a file will carry.
// Streams are held as copies: AddStream copies the caller's configuration,
// GetStream hands out a copy that takes effect through ReconfigStream.
#ifndef ASFWRITER_RUNTIME_OBJECTS_PROFILE_H
#define ASFWRITER_RUNTIME_OBJECTS_PROFILE_H

#include <vector>

#include "runtime/wmf_runtime.h"
#include "runtime_objects/ref_counted.h"
#include "runtime_objects/stream_config.h"

namespace asfw::rt {

class Profile final : public IWMProfile, private RefCounted {
public:
    Profile(WMT_VERSION version, int complexityMax) : version_(version), complexityMax_(complexityMax) {}

    const std::vector<StreamData>& streams() const { return streams_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return addRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION* version) override;
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetStream(DWORD index, IWMStreamConfig** config) override;
    HRESULT STDMETHODCALLTYPE GetStreamByNumber(WORD number, IWMStreamConfig** config) override;
    HRESULT STDMETHODCALLTYPE RemoveStream(IWMStreamConfig* config) override;
    HRESULT STDMETHODCALLTYPE RemoveStreamByNumber(WORD number) override;
    HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* config) override;
    HRESULT STDMETHODCALLTYPE ReconfigStream(IWMStreamConfig* config) override;
    HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID streamType, IWMStreamConfig** config) override;

private:
    HRESULT checkStream(IWMStreamConfig* config, const StreamData** data) const;
    int indexOf(WORD number) const;

    WMT_VERSION version_;
    int complexityMax_;
    std::vector<StreamData> streams_;
};

}  // namespace asfw::rt

#endif
