// What the library layer costs per sample: CAsfWriter::WriteSample against
// a plain memcpy of the same bytes. The class's own work is one copy into
// the runtime's sample plus a few calls; to see only that, the writer the
// object holds is swapped, after a real OpenFile, for a stand-in that hands
// out one reusable sample and drops what it is given. The built-in
// runtime's own AllocateSample is timed beside it for context.
//
//   library_layer [seconds-per-case]      (default 1)
#include "AsfWriter.h"

#include "runtime/wmf_runtime.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// One sample buffer, handed out again and again.
class ReusedSample final : public INSSBuffer {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** p) override
    {
        *p = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetLength(DWORD* n) override
    {
        *n = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetLength(DWORD n) override
    {
        if (n > bytes.size()) return E_INVALIDARG;
        length = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* n) override
    {
        *n = static_cast<DWORD>(bytes.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** p) override
    {
        *p = bytes.data();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** p, DWORD* n) override
    {
        *p = bytes.data();
        *n = length;
        return S_OK;
    }
    std::vector<BYTE> bytes;
    DWORD length = 0;
    ULONG refs = 0;
};

// A writer that takes samples and drops them.
class DroppingWriter final : public IWMWriter {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** p) override
    {
        *p = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputProps(DWORD, IWMInputMediaProps**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetInputProps(DWORD, IWMInputMediaProps*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD, DWORD, IWMInputMediaProps**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginWriting() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndWriting() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, INSSBuffer** out) override
    {
        if (sample.bytes.size() < size) sample.bytes.resize(size);
        sample.length = 0;
        sample.AddRef();
        *out = &sample;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD, QWORD time, DWORD, INSSBuffer* s) override
    {
        DWORD n = 0;
        s->GetLength(&n);
        checksum += n + static_cast<std::uint64_t>(time);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Flush() override { return S_OK; }
    ReusedSample sample;
    std::uint64_t checksum = 0;
};

// Average time of `once` over rounds of about `seconds` / kRounds each; the
// best round counts (the machine's other work only ever adds time).
constexpr int kRounds = 7;

template <typename F>
double timeRound(double seconds, F&& once)
{
    long long n = 0;
    const auto start = Clock::now();
    auto now = start;
    do {
        for (int i = 0; i < 16; ++i) once();
        n += 16;
        now = Clock::now();
    } while (std::chrono::duration<double>(now - start).count() < seconds);
    return std::chrono::duration<double, std::nano>(now - start).count() / static_cast<double>(n);
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    char path[] = "/tmp/asfw-library-layer-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 1;
    close(fd);
    const std::string output = std::string(path) + ".wmv";

    struct Case {
        const char* name;
        int kind;  // 0 video, 1 audio
        int width, height;
        int bytes;
    };
    const Case cases[] = {
        {"audio 10 ms (1920 B)", 1, 0, 0, 1920},
        {"audio 4096 B", 1, 0, 0, 4096},
        {"video 176x144 I420", 0, 176, 144, 176 * 144 * 3 / 2},
        {"video 640x480 I420", 0, 640, 480, 640 * 480 * 3 / 2},
        {"video 1920x1080 I420", 0, 1920, 1080, 1920 * 1080 * 3 / 2},
    };
    std::printf("%-22s %12s %12s %10s %12s %18s\n", "sample", "memcpy ns", "WriteSample", "ratio", "extra ns",
                "runtime alloc ns");
    for (const Case& c : cases) {
        std::vector<unsigned char> source(static_cast<std::size_t>(c.bytes));
        for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 13);
        std::vector<unsigned char> target(source.size());

        auto copyOnce = [&] {
            std::memcpy(target.data(), source.data(), source.size());
            asm volatile("" : : "r"(target.data()) : "memory");
        };

        CAsfWriter w;
        if (w.Init() != 0) return 1;
        if (c.kind == 0) {
            if (w.AddVideo(c.width, c.height, 30, 1, 1000, 0, 1) != 0) return 1;
        } else if (w.AddAudio(44100, 2, 128) != 1) {
            return 1;
        }
        if (w.OpenFile(output.c_str()) != 0) return 1;

        // The built-in runtime's allocation of a sample of this size.
        IWMWriter* real = w.writer;
        auto allocOnce = [&] {
            INSSBuffer* s = nullptr;
            if (SUCCEEDED(real->AllocateSample(static_cast<DWORD>(c.bytes), &s)) && s != nullptr) s->Release();
        };
        DroppingWriter dropping;
        auto writeOnce = [&] {
            w.writer = &dropping;
            w.WriteSample(c.kind, source.data(), c.bytes);
            w.writer = real;
        };
        for (int i = 0; i < 20; ++i) {  // warm caches and the sample buffer
            copyOnce();
            writeOnce();
        }
        double copyNs = 1e30, writeNs = 1e30, allocNs = 1e30;
        const double round = seconds / kRounds;
        for (int r = 0; r < kRounds; ++r) {  // interleaved, so load changes hit all three alike
            copyNs = std::min(copyNs, timeRound(round, copyOnce));
            writeNs = std::min(writeNs, timeRound(round, writeOnce));
            allocNs = std::min(allocNs, timeRound(round, allocOnce));
        }
        if (std::memcmp(dropping.sample.bytes.data(), source.data(), source.size()) != 0) {
            std::fprintf(stderr, "the sample does not hold the bytes given\n");
            return 1;
        }
        w.writer = real;
        w.CloseFile();
        w.Close();
        std::printf("%-22s %12.1f %12.1f %10.2f %12.1f %18.1f\n", c.name, copyNs, writeNs, writeNs / copyNs,
                    writeNs - copyNs, allocNs);
    }
    std::remove(output.c_str());
    std::remove(path);
    return 0;
}
