#include "runtime_objects/ref_counted.h"

#include <new>

namespace asfw::rt {

namespace {
std::atomic<std::size_t> g_liveObjects{0};
}

std::size_t liveObjectCount() { return g_liveObjects.load(); }

RefCounted::RefCounted() { ++g_liveObjects; }

RefCounted::~RefCounted() { --g_liveObjects; }

HRESULT resultOfException() noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace asfw::rt
