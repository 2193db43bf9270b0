#include "runtime_objects/ref_counted.h"

namespace asfw::rt {

namespace {
std::atomic<std::size_t> g_liveObjects{0};
}

std::size_t liveObjectCount() { return g_liveObjects.load(); }

RefCounted::RefCounted() { ++g_liveObjects; }

RefCounted::~RefCounted() { --g_liveObjects; }

}  // namespace asfw::rt
