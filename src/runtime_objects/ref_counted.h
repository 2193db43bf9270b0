// Reference counting shared by the built-in runtime objects.
//
// Every object starts with one reference (the creator's) and deletes itself
// when the last one is released. A process-wide count of live objects lets
// callers check that nothing was leaked.
#ifndef ASFWRITER_RUNTIME_OBJECTS_REF_COUNTED_H
#define ASFWRITER_RUNTIME_OBJECTS_REF_COUNTED_H

#include <atomic>
#include <cstddef>

#include "runtime/wmf_runtime.h"

namespace asfw::rt {

// Number of runtime objects alive in the process.
std::size_t liveObjectCount();

// The result code for the exception being handled. Every method of a
// runtime object answers with a result code and never lets an exception
// out: a failed allocation is E_OUTOFMEMORY, anything else E_FAIL.
HRESULT resultOfException() noexcept;

class RefCounted {
public:
    RefCounted();
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;
    virtual ~RefCounted();

protected:
    ULONG addRefImpl() { return ++refs_; }
    ULONG releaseImpl()
    {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};
};

// Releases an interface pointer when it goes out of scope.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* adopted) : p_(adopted) {}
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    ~ComPtr() { reset(); }
    void reset()
    {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put()
    {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    T* detach()
    {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

}  // namespace asfw::rt

#endif
