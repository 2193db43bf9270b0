// Fuzz target: random call sequences on CAsfWriter with the built-in runtime
// behind it (profile manager, writer, WMV9 and WMA9 encoders, ASF muxer,
// file output), as a host would drive the product: small and absurd
// picture sizes, frame rates, bit rates, modes, sample sizes and sample
// contents, pre-processing passes, reopening, closing at any point.
//
// Input layout: up to kMaxOps operations, one opcode byte each plus their
// argument bytes (see Op); index 0 of every value table is the typical
// value, and an exhausted input reads as zeros.
//
// Besides what the sanitizers catch (memory errors, undefined behaviour,
// leaks of every run), the class's promises are checked after every
// operation: status values, time stamps advancing by exactly one frame
// duration or by the audio block's length, EndPrePass and Close leaving
// the documented state, and a file that was opened and finished with
// success starting with an ASF header object whose size fits in the file.
// Files go to a private temporary folder, emptied after every run.
#include "AsfWriter.h"
#include "fuzz_support.h"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#define FUZZ_TARGET "product_calls_fuzz"

namespace {

namespace fs = std::filesystem;
using fuzz::Input;

constexpr int kMaxOps = 48;
constexpr long long kUnits = 10000000;
constexpr long long kAudioBytesPerSecond = 192000;

const int kWidths[] = {64, 16, 1, 2, 33, 176, 0, -1, 65536, INT_MAX};
const int kHeights[] = {48, 16, 1, 2, 17, 144, 0, -1, 65536, INT_MAX};
const int kRateNums[] = {25, 30000, 30, 1, 60000, 0, -1, INT_MAX};
const int kRateDens[] = {1, 1001, 1000, 0, -1, INT_MAX};
const int kVideoKbps[] = {300, 1000, 1, 20, 858993, 0, -1, INT_MAX};
const int kQualities[] = {0, 75, 100, 1, -1, INT_MAX};
const int kPasses[] = {1, 2, 0, 3, -1};
const int kSampleRates[] = {44100, 48000, 32000, 22050, 8000, 16000, 0, -1};
const int kChannels[] = {2, 1, 6, 0, -1};
const int kAudioKbps[] = {128, 64, 32, 192, 20, 0, -1, INT_MAX};
const int kAudioSizes[] = {1920, 4096, 0, 1, 3, 4, 192000, -1};

// One private folder per process for the files the runs write.
const fs::path& WorkDir()
{
    static const fs::path dir = [] {
        std::error_code ec;
        fs::path base = fs::temp_directory_path(ec);
        if (ec)
            base = "/tmp";
        std::string pattern = (base / "asfw-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            fuzz::Broken(FUZZ_TARGET, "cannot create a temporary folder");
        return fs::path(pattern);
    }();
    // Removed when the process ends normally (a crashing run leaves it for
    // inspection).
    static const struct Cleanup {
        ~Cleanup()
        {
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    } cleanup;
    return dir;
}

void EmptyWorkDir()
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(WorkDir(), ec))
        fs::remove_all(entry.path(), ec);
}

std::string PathFor(Input& in)
{
    const fs::path& dir = WorkDir();
    switch (in.u8() % 6) {
    case 0: return (dir / "out.wmv").string();
    case 1: return (dir / "second.wmv").string();
    case 2: return (dir / "missing" / "out.wmv").string();
    case 3: return dir.string();  // a folder, not a file
    case 4: return "";
    default: return (dir / std::string(in.u8() + 200, 'n')).string();  // too long a name
    }
}

// The file a finished writer left behind starts with an ASF header object
// whose size fits in the file.
void CheckFinishedFile(const std::string& path)
{
    static const std::uint8_t kHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    std::ifstream f(path, std::ios::binary);
    FUZZ_PROMISE(f.good(), "finished file missing: " + path);
    std::uint8_t head[24] = {};
    f.read(reinterpret_cast<char*>(head), sizeof head);
    FUZZ_PROMISE(f.gcount() == static_cast<std::streamsize>(sizeof head), "finished file too short");
    FUZZ_PROMISE(std::memcmp(head, kHeaderGuid, 16) == 0, "finished file does not start with an ASF header");
    std::uint64_t headerSize = 0;
    for (int i = 7; i >= 0; --i)
        headerSize = (headerSize << 8) | head[16 + i];
    std::error_code ec;
    const std::uintmax_t fileSize = fs::file_size(path, ec);
    FUZZ_PROMISE(!ec && headerSize >= 30 && headerSize <= fileSize,
                 std::to_string(headerSize) + " of " + std::to_string(fileSize));
}

enum Op {
    kInit,
    kAddVideo,
    kAddAudio,
    kOpenFile,
    kStartPrePass,
    kEndPrePass,
    kWriteVideo,
    kWriteAudio,
    kWriteOther,
    kCloseFile,
    kClose,
    kOpCount
};

struct Driver {
    CAsfWriter w;
    int frameBytes = 64 * 48 * 3 / 2;  // of the last accepted picture size, when small
    int opens = 0;                      // successful OpenFile calls since Init
    std::string openedPath;

    void Write(Input& in, int kind)
    {
        int size = 0;
        if (kind == 0) {
            const std::uint8_t how = in.u8();
            switch (how % 6) {
            case 0: size = frameBytes; break;
            case 1: size = frameBytes - 1; break;
            case 2: size = frameBytes + 1; break;
            case 3: size = 0; break;
            case 4: size = in.u16(); break;
            default: size = frameBytes / 2; break;
            }
        } else {
            size = in.pick(kAudioSizes);
            if (size > (1 << 20))
                size &= 0xFFFF;
        }
        // Picture and sound contents: the input's next bytes, repeated.
        std::vector<unsigned char> data(size > 0 ? static_cast<std::size_t>(size) : 0);
        const std::vector<std::uint8_t> seed = in.bytes(1 + in.u8() % 32);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<unsigned char>(seed[i % seed.size()] + (i / seed.size()));

        CAsfWriter before;
        before = w;
        const int r = w.WriteSample(kind, data.empty() ? nullptr : data.data(), size);
        FUZZ_PROMISE(r == 0 || r == -1, std::to_string(r));
        if (kind != 0 && kind != 1)
            FUZZ_PROMISE(r == -1, "an unknown stream kind was accepted");
        if (r != 0)
            return;
        if (kind == 0) {
            FUZZ_PROMISE(before.videoInput >= 0 && before.frameRateNum > 0);
            const long long step = static_cast<long long>(before.frameRateDen) * kUnits / before.frameRateNum;
            FUZZ_PROMISE(w.videoTime == before.videoTime + step && w.audioTime == before.audioTime);
        } else {
            FUZZ_PROMISE(before.audioInput >= 0);
            const long long step = static_cast<long long>(size) * kUnits / kAudioBytesPerSecond;
            FUZZ_PROMISE(w.audioTime == before.audioTime + step && w.videoTime == before.videoTime);
        }
    }

    void Step(Input& in)
    {
        switch (in.u8() % kOpCount) {
        case kInit: {
            const int r = w.Init();
            FUZZ_PROMISE(r == 0 || r == -1);
            if (r == 0)
                opens = 0;
            break;
        }
        case kAddVideo: {
            const int width = in.pick(kWidths), height = in.pick(kHeights);
            // Arbitrary denominators stay below an hour per frame: the
            // file's index grows with the time the stream spans (two frames
            // eleven days apart already make a 20 MB file), which makes
            // slow runs rather than findings. The table keeps the extremes.
            const int num = in.pick(kRateNums), den = in.pick(kRateDens, 3600);
            const int kbps = in.pick(kVideoKbps), quality = in.pick(kQualities), passes = in.pick(kPasses);
            const int r = w.AddVideo(width, height, num, den, kbps, quality, passes);
            FUZZ_PROMISE(r == 0 || r == -1);
            if (r == 0) {
                FUZZ_PROMISE(w.frameRateNum == num && w.frameRateDen == den && !w.inPrePass);
                if (width > 0 && height > 0 && width <= 1024 && height <= 1024)
                    frameBytes = width * height * 3 / 2;
            }
            break;
        }
        case kAddAudio: {
            const int rate = in.pick(kSampleRates), channels = in.pick(kChannels), kbps = in.pick(kAudioKbps);
            const int r = w.AddAudio(rate, channels, kbps);
            FUZZ_PROMISE(r == 1 || r == -1, std::to_string(r));
            break;
        }
        case kOpenFile: {
            const std::string path = PathFor(in);
            const int r = w.OpenFile(path.c_str());
            FUZZ_PROMISE(r == 0 || r == -1);
            if (r == 0) {
                FUZZ_PROMISE(w.videoTime == 0 && w.audioTime == 0);
                ++opens;
                openedPath = path;
            }
            break;
        }
        case kStartPrePass: {
            CAsfWriter before;
            before = w;
            const int r = w.StartPrePass();
            FUZZ_PROMISE(r == 0 || r == -1);
            FUZZ_PROMISE(w.videoTime == before.videoTime && w.audioTime == before.audioTime);
            if (r == 0)
                FUZZ_PROMISE(w.inPrePass && w.preprocessor != nullptr);
            break;
        }
        case kEndPrePass: {
            const long long audio = w.audioTime;
            FUZZ_PROMISE(w.EndPrePass() == 0);
            FUZZ_PROMISE(w.preprocessor == nullptr && !w.inPrePass && w.videoTime == 0 && w.audioTime == audio);
            break;
        }
        case kWriteVideo: Write(in, 0); break;
        case kWriteAudio: Write(in, 1); break;
        case kWriteOther: Write(in, (in.u8() & 1) ? 2 : -1); break;
        case kCloseFile: {
            const int r = w.CloseFile();
            FUZZ_PROMISE(r == 0 || r == -1);
            if (r == 0 && opens == 1)
                CheckFinishedFile(openedPath);
            opens = 0;
            break;
        }
        case kClose:
            w.Close();
            FUZZ_PROMISE(w.profileManager == nullptr && w.profile == nullptr && w.writer == nullptr &&
                         w.codecInfo == nullptr && w.preprocessor == nullptr);
            FUZZ_PROMISE(w.audioInput == -1 && w.videoInput == -1);
            opens = 0;
            break;
        }
        FUZZ_PROMISE(w.audioInput >= -1 && w.videoInput >= -1 && w.videoTime >= 0 && w.audioTime >= 0);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    Driver d;
    for (int op = 0; op < kMaxOps && !in.empty(); ++op) {
        fuzz::currentOp = op;
        d.Step(in);
    }
    fuzz::currentOp = kMaxOps;
    d.w.Close();
    EmptyWorkDir();
    return 0;
}
