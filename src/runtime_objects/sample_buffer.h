// INSSBuffer: a sample buffer of fixed capacity with a current length.
#ifndef ASFWRITER_RUNTIME_OBJECTS_SAMPLE_BUFFER_H
#define ASFWRITER_RUNTIME_OBJECTS_SAMPLE_BUFFER_H

#include <memory>

#include "runtime/wmf_runtime.h"
#include "runtime_objects/ref_counted.h"

namespace asfw::rt {

class SampleBuffer final : public INSSBuffer, private RefCounted {
public:
    // Null when the memory cannot be had.
    static SampleBuffer* create(DWORD capacity);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return addRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetLength(DWORD* length) override;
    HRESULT STDMETHODCALLTYPE SetLength(DWORD length) override;
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* length) override;
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** buffer) override;
    HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** buffer, DWORD* length) override;

private:
    SampleBuffer(std::unique_ptr<BYTE[]> bytes, DWORD capacity)
        : bytes_(std::move(bytes)), capacity_(capacity), length_(capacity)
    {
    }

    std::unique_ptr<BYTE[]> bytes_;
    DWORD capacity_;
    DWORD length_;
};

}  // namespace asfw::rt

#endif
