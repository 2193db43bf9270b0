// IWMInputMediaProps: one writer input's media type with its connection
// name (the stream's connection name) and group name.
#ifndef ASFWRITER_RUNTIME_OBJECTS_INPUT_PROPS_H
#define ASFWRITER_RUNTIME_OBJECTS_INPUT_PROPS_H

#include <string>

#include "runtime/wmf_runtime.h"
#include "runtime_objects/media_type.h"
#include "runtime_objects/ref_counted.h"

namespace asfw::rt {

class InputProps final : public IWMInputMediaProps, private RefCounted {
public:
    InputProps(MediaType type, std::u16string connectionName)
        : type_(std::move(type)), connectionName_(std::move(connectionName))
    {
    }

    const MediaType& mediaType() const { return type_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return addRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetType(GUID* type) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* name, WORD* chars) override;
    HRESULT STDMETHODCALLTYPE GetGroupName(WCHAR* name, WORD* chars) override;

private:
    MediaType type_;
    std::u16string connectionName_;
};

}  // namespace asfw::rt

#endif
