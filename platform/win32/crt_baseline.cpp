// Stand-in for the toolchain's own share of asfwriter.dll: start-up code,
// the C++ allocation (which may throw std::bad_alloc) and a memory copy.
// scripts/test-win32.sh reads its imports as the runtime's imports.
#include <cstring>
#include <new>

extern "C" __declspec(dllexport) int asfw_crt_baseline(const unsigned char* data, unsigned size)
{
    unsigned char* copy = new unsigned char[size + 1];
    std::memcpy(copy, data, size);
    int first = copy[0];
    delete[] copy;
    return first;
}
