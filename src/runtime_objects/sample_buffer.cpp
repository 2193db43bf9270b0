#include "runtime_objects/sample_buffer.h"

#include <new>

namespace asfw::rt {

SampleBuffer* SampleBuffer::create(DWORD capacity)
{
    // One byte at least, so that GetBuffer always hands out a valid address.
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[capacity > 0 ? capacity : 1]);
    if (!bytes) return nullptr;
    return new (std::nothrow) SampleBuffer(std::move(bytes), capacity);
}

HRESULT SampleBuffer::QueryInterface(REFIID riid, void** object)
try {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_INSSBuffer) return E_NOINTERFACE;
    *object = static_cast<INSSBuffer*>(this);
    AddRef();
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT SampleBuffer::GetLength(DWORD* length)
try {
    if (length == nullptr) return E_POINTER;
    *length = length_;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT SampleBuffer::SetLength(DWORD length)
try {
    if (length > capacity_) return E_INVALIDARG;
    length_ = length;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT SampleBuffer::GetMaxLength(DWORD* length)
try {
    if (length == nullptr) return E_POINTER;
    *length = capacity_;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT SampleBuffer::GetBuffer(BYTE** buffer)
try {
    if (buffer == nullptr) return E_POINTER;
    *buffer = bytes_.get();
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT SampleBuffer::GetBufferAndLength(BYTE** buffer, DWORD* length)
try {
    if (buffer == nullptr || length == nullptr) return E_POINTER;
    *buffer = bytes_.get();
    *length = length_;
    return S_OK;
} catch (...) {
    return resultOfException();
}

}  // namespace asfw::rt
