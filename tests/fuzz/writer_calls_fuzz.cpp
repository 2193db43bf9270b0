// Fuzz target: random call sequences on CAsfWriter against the recording
// runtime, with random codec lists, codec formats, writer inputs and
// injected runtime failures.
//
// The input is read byte by byte (an exhausted input reads as zeros, and
// index 0 of every value table is the typical value, so short inputs
// already make sensible calls):
//   byte 0      set-up: bit 0 random audio codecs, bit 1 random video
//               codecs, bit 2 random writer inputs, bit 3 the writer has no
//               pre-processor, bits 4-5 number of failure rules
//   ...         the random codec lists and inputs that bits 0-2 ask for,
//               then the failure rules
//   then        up to kMaxOps operations, one opcode byte each plus their
//               argument bytes (see Op)
//
// After every operation the class's promises are checked: status values,
// field invariants, time stamps and clock advances of delivered samples,
// the state left by EndPrePass and Close; after Close (and at the end of
// every input) every reference handed out must have been given back exactly
// once and no released object may have been used. A broken promise aborts
// with a description, which libFuzzer reports as a crash.
#include "AsfWriter.h"
#include "fuzz_support.h"
#include "recording_runtime.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define FUZZ_TARGET "writer_calls_fuzz"

namespace {

using fuzz::Input;
using fuzz::Joined;

constexpr int kMaxOps = 64;
constexpr long long kUnits = 10000000;  // 100 ns per second
constexpr long long kAudioBytesPerSecond = 192000;

// ---- value tables (index 0: the typical value) ---------------------------------------------
const int kWidths[] = {640, 160, 1, 2, 176, 1920, 4096, 0, -1, INT_MAX};
const int kHeights[] = {480, 120, 1, 2, 144, 1080, 4096, 0, -1, INT_MAX};
const int kRateNums[] = {30000, 25, 30, 1, 60000, 0, -1, INT_MAX, INT_MIN};
const int kRateDens[] = {1001, 1, 1000, 0, -1, INT_MAX, INT_MIN};
const int kVideoKbps[] = {1000, 300, 1, 858993, 858994, 0, -1, INT_MAX, INT_MIN};
const int kQualities[] = {0, 75, 100, 1, -1, INT_MAX};
const int kPasses[] = {1, 2, 0, 3, -1, INT_MAX};
const int kSampleRates[] = {44100, 48000, 32000, 22050, 8000, 0, -1, INT_MAX};
const int kChannels[] = {2, 1, 6, 0, -1, 65536 + 2, INT_MAX};
const int kAudioKbps[] = {128, 50, 192, 48, 0, -1, 1, INT_MAX, INT_MIN};
const int kVideoSizes[] = {28800, 115200, 0, 1, 3, -1, INT_MIN};
const int kAudioSizes[] = {1920, 4096, 0, 1, 3, 192000, -1, INT_MIN};
const int kKinds[] = {2, -1, 3, INT_MIN, INT_MAX};

const char16_t* const kCodecNames[] = {
    u"Windows Media Audio 9",        u"Windows Media Video 9",     u"Windows Media Audio 9.2",
    u"WINDOWS MEDIA AUDIO 9 Voice",  u"Windows Media Audio 8",     u"Windows Media Audio",
    u"Windows Media Video 9 Screen", u"windows media video 9",     u"Windows Media Video 9 ",
    u"",
};

const char* const kFailPatterns[] = {
    "WMCreateProfileManager", "WMCreateWriter",        "CreateEmptyProfile",   "QueryInterface",
    "GetCodecInfoCount",      "GetCodecName",          "SetCodecEnumerationSetting",
    "GetCodecFormatCount",    "GetCodecFormatDesc",    "GetCodecFormat",       "GetMediaType(size",
    "GetMediaType(read",      "SetMediaType",          "GetCodecProp",         "SetProperty",
    "SetStreamName",          "SetConnectionName",     "SetStreamNumber",      "SetBitrate",
    "SetBufferWindow",        "SetMaxKeyFrameSpacing", "AddStream",            "SetProfile",
    "GetInputCount",          "GetInputProps",         "GetConnectionName",    "GetInputFormatCount",
    "GetInputFormat",         "SetInputProps",         "SetOutputFilename",    "BeginWriting",
    "EndWriting",             "AllocateSample",        "GetBuffer",            "SetLength",
    "writer.WriteSample",     "PreprocessSample",      "SetNumPreprocessingPasses",
    "BeginPreprocessingPass", "EndPreprocessingPass",
};
const HRESULT kFailResults[] = {E_FAIL, E_OUTOFMEMORY, E_INVALIDARG, E_NOINTERFACE, NS_E_INVALID_NUM_PASSES,
                                NS_E_INVALID_REQUEST};

// ---- random runtime set-up -----------------------------------------------------------------
std::u16string CodecName(Input& in)
{
    const std::uint8_t i = in.u8();
    constexpr std::size_t known = sizeof kCodecNames / sizeof kCodecNames[0];
    if (i < known)
        return kCodecNames[i];
    std::u16string name;
    if (i % 2 == 0) {
        // A long name starting like the one searched for.
        name = (i & 4) ? u"Windows Media Audio 9" : u"Windows Media Video 9";
        name.append(in.u8(), u'x');
    } else {
        const std::size_t length = in.u8() % 140;
        for (std::size_t k = 0; k < length; ++k)
            name.push_back(static_cast<char16_t>(in.u16()));
    }
    return name;
}

GUID SomeSubtype(Input& in)
{
    switch (in.u8() % 5) {
    case 0: return WMMEDIASUBTYPE_I420;
    case 1: return WMMEDIASUBTYPE_YV12;
    case 2: return WMMEDIASUBTYPE_IYUV;
    case 3: return WMMEDIASUBTYPE_PCM;
    default: {
        GUID g = WMMEDIASUBTYPE_I420;
        g.Data1 = in.u32();
        return g;
    }
    }
}

// A media type whose format block is arbitrary bytes (possibly shorter than
// the record the class expects) or missing.
rec::MediaTypeSpec RawType(Input& in, const GUID& major)
{
    rec::MediaTypeSpec s;
    s.major = major;
    s.sub = SomeSubtype(in);
    s.formatType = (in.u8() & 1) ? WMFORMAT_WaveFormatEx : WMFORMAT_VideoInfo;
    s.format = in.bytes(in.u8() % 100);
    s.nullFormat = (in.u8() % 8) == 0;
    return s;
}

WMVIDEOINFOHEADER SomeVideoHeader(Input& in)
{
    WMVIDEOINFOHEADER v{};
    const std::vector<BYTE> raw = in.bytes(sizeof v);
    std::memcpy(&v, raw.data(), sizeof v);
    return v;
}

rec::MediaTypeSpec AudioFormat(Input& in)
{
    switch (in.u8() % 4) {
    case 0:
        return rec::WmaFormat(static_cast<DWORD>(in.pick(kSampleRates)), static_cast<WORD>(in.pick(kChannels)),
                              static_cast<DWORD>(in.pick(kAudioKbps)), (in.u8() & 1) ? 16 : 8);
    case 1: {
        // Every field arbitrary, cbSize included (it need not match the
        // bytes that follow).
        rec::MediaTypeSpec s;
        s.major = WMMEDIATYPE_Audio;
        s.sub = SomeSubtype(in);
        s.formatType = WMFORMAT_WaveFormatEx;
        s.format = in.bytes(sizeof(WAVEFORMATEX));
        const std::vector<BYTE> extra = in.bytes(in.u8() % 12);
        s.format.insert(s.format.end(), extra.begin(), extra.end());
        return s;
    }
    case 2: return RawType(in, WMMEDIATYPE_Audio);
    default: {
        rec::MediaTypeSpec s = rec::WmaFormat(44100, 2, 128);
        s.nullFormat = true;
        return s;
    }
    }
}

rec::MediaTypeSpec VideoFormat(Input& in)
{
    switch (in.u8() % 4) {
    case 0: return rec::Wmv3Format();
    case 1: return rec::VideoType(SomeSubtype(in), SomeVideoHeader(in), in.bytes(in.u8() % 12));
    default: return RawType(in, WMMEDIATYPE_Video);
    }
}

std::vector<rec::CodecSpec> Codecs(Input& in, bool audio)
{
    std::vector<rec::CodecSpec> codecs(in.u8() % 4);
    for (rec::CodecSpec& c : codecs) {
        c.name = CodecName(in);
        const std::uint8_t flags = in.u8();
        c.nameFails = (flags & 1) != 0;
        c.hasComplexity = (flags & 2) == 0;
        c.complexityType = static_cast<WMT_ATTR_DATATYPE>(in.u8() % 8);
        c.complexity = in.bytes(in.u8() % 9);
        c.formats.resize(in.u8() % 6);
        for (rec::MediaTypeSpec& f : c.formats)
            f = audio ? AudioFormat(in) : VideoFormat(in);
    }
    return codecs;
}

std::vector<rec::InputSpec> Inputs(Input& in)
{
    static const char16_t* const names[] = {u"Video", u"Audio", u"audio", u"VIDEO", u"Other", u"",
                                            u"AudioAudioAudioAudioAudioAudioAudioAudio"};
    std::vector<rec::InputSpec> inputs(in.u8() % 4);
    for (rec::InputSpec& input : inputs) {
        input.name = names[in.u8() % (sizeof names / sizeof names[0])];
        input.formats.resize(in.u8() % 5);
        for (rec::MediaTypeSpec& f : input.formats) {
            switch (in.u8() % 4) {
            case 0:
                f = rec::Pcm(static_cast<DWORD>(in.pick(kSampleRates)), static_cast<WORD>(in.pick(kChannels)),
                             (in.u8() & 1) ? 16 : 8);
                break;
            case 1: f = rec::VideoType(SomeSubtype(in), SomeVideoHeader(in)); break;
            case 2: f = AudioFormat(in); break;
            default: f = RawType(in, (in.u8() & 1) ? WMMEDIATYPE_Audio : WMMEDIATYPE_Video); break;
            }
        }
    }
    return inputs;
}

void AddFailure(rec::Runtime& rt, Input& in)
{
    const char* pattern = kFailPatterns[in.u8() % (sizeof kFailPatterns / sizeof kFailPatterns[0])];
    const HRESULT hr = kFailResults[in.u8() % (sizeof kFailResults / sizeof kFailResults[0])];
    rt.Fail(pattern, hr, in.u8() % 4);
}

// ---- promises ------------------------------------------------------------------------------
void CheckFields(const CAsfWriter& w)
{
    FUZZ_PROMISE(w.audioInput >= -1, std::to_string(w.audioInput));
    FUZZ_PROMISE(w.videoInput >= -1, std::to_string(w.videoInput));
    FUZZ_PROMISE(w.videoTime >= 0, std::to_string(w.videoTime));
    FUZZ_PROMISE(w.audioTime >= 0, std::to_string(w.audioTime));
}

void CheckRuntime(const rec::Runtime& rt) { FUZZ_PROMISE(rt.errors.empty(), Joined(rt.errors)); }

void CheckClosed(const CAsfWriter& w, const rec::Runtime& rt)
{
    FUZZ_PROMISE(w.profileManager == nullptr && w.profile == nullptr && w.writer == nullptr &&
            w.codecInfo == nullptr && w.preprocessor == nullptr);
    FUZZ_PROMISE(w.audioInput == -1 && w.videoInput == -1);
    FUZZ_PROMISE(rt.Unbalanced().empty(), Joined(rt.Unbalanced()));
}

std::vector<unsigned char> Pattern(int size, std::uint8_t seed)
{
    std::vector<unsigned char> data(size > 0 ? static_cast<std::size_t>(size) : 0);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(seed + i * 7);
    return data;
}

void WriteOne(CAsfWriter& w, rec::Runtime& rt, Input& in, int kind)
{
    int size = 0;
    if (kind == 0)
        size = in.pick(kVideoSizes);
    else if (kind == 1)
        size = in.pick(kAudioSizes);
    else
        size = in.pick(kAudioSizes);
    // Keep the sample buffers modest: huge positive sizes become small.
    if (size > (1 << 20))
        size &= 0xFFFF;
    const std::uint8_t mode = in.u8();
    std::vector<unsigned char> data = Pattern(size, mode);
    unsigned char* ptr = data.empty() ? nullptr : data.data();
    if (mode % 16 == 15)
        ptr = nullptr;  // a null buffer, whatever the size says

    CAsfWriter before;
    before = w;
    const std::size_t samplesBefore = rt.samples.size();
    const int r = w.WriteSample(kind, ptr, size);
    FUZZ_PROMISE(r == 0 || r == -1, std::to_string(r));
    if (kind != 0 && kind != 1) {
        FUZZ_PROMISE(r == -1, "an unknown stream kind was accepted");
        FUZZ_PROMISE(rt.samples.size() == samplesBefore, "a sample was delivered for an unknown stream kind");
    }
    if (r != 0) {
        // The other stream's clock never moves; this stream's clock is left
        // to the class when the platform refuses the sample.
        FUZZ_PROMISE(w.videoTime == before.videoTime || kind == 0, "video clock moved by a refused non-video call");
        FUZZ_PROMISE(w.audioTime == before.audioTime || kind == 1, "audio clock moved by a refused non-audio call");
        return;
    }
    FUZZ_PROMISE(size >= 0 && (ptr != nullptr || size == 0), "a sample without valid bytes was accepted");
    // A delivered sample: stamped with the clock before its own advance.
    const bool video = kind == 0;
    FUZZ_PROMISE((video ? before.videoInput : before.audioInput) >= 0, "sample accepted without an input");
    FUZZ_PROMISE(rt.samples.size() == samplesBefore + 1, "one sample per accepted call");
    const rec::SampleRecord& s = rt.samples.back();
    const long long clock = video ? before.videoTime : before.audioTime;
    FUZZ_PROMISE(s.time == static_cast<QWORD>(clock), std::to_string(s.time) + " != " + std::to_string(clock));
    FUZZ_PROMISE(s.input == static_cast<DWORD>(video ? before.videoInput : before.audioInput));
    FUZZ_PROMISE(s.flags == 0);
    FUZZ_PROMISE(s.bytes.size() == static_cast<std::size_t>(size) &&
            (size == 0 || std::memcmp(s.bytes.data(), data.data(), data.size()) == 0),
            "sample bytes differ from the host's");
    const bool toPre = video && before.inPrePass;
    FUZZ_PROMISE(s.to == (toPre ? "preprocessor" : "writer"), s.to);
    if (video) {
        FUZZ_PROMISE(before.frameRateNum > 0, "a video sample timed with frame rate numerator " +
                                             std::to_string(before.frameRateNum));
        const long long step = static_cast<long long>(before.frameRateDen) * kUnits / before.frameRateNum;
        FUZZ_PROMISE(w.videoTime == before.videoTime + step, std::to_string(w.videoTime));
        FUZZ_PROMISE(w.audioTime == before.audioTime);
    } else {
        const long long step = static_cast<long long>(size) * kUnits / kAudioBytesPerSecond;
        FUZZ_PROMISE(w.audioTime == before.audioTime + step, std::to_string(w.audioTime));
        FUZZ_PROMISE(w.videoTime == before.videoTime);
    }
}

const char* PathFor(Input& in, std::string& storage)
{
    switch (in.u8() % 7) {
    case 0: return "out.wmv";
    case 1: return "";
    case 2: return nullptr;
    case 3: storage = "vid\xC3\xA9o \xE2\x82\xAC.wmv"; return storage.c_str();
    case 4: storage.assign(in.u8() + 200, 'p'); return storage.c_str();  // near and beyond the 260 limit
    case 5: storage = "bad\xFF\xFE\xC0\xAF.wmv"; return storage.c_str();
    default: {
        const std::vector<BYTE> raw = in.bytes(in.u8() % 64);
        storage.assign(raw.begin(), raw.end());
        return storage.c_str();
    }
    }
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
    kHandOver,   // copy into the second object, which carries on; the first starts afresh
    kSelfAssign,
    kAddFailure,
    kClearFailures,
    kOpCount
};

void Run(Input& in)
{
    rec::Runtime& rt = rec::Runtime::Get();
    rt.Reset();
    const std::uint8_t setup = in.u8();
    rt.audioCodecs = (setup & 1) ? Codecs(in, true) : rec::StandardAudioCodecs();
    rt.videoCodecs = (setup & 2) ? Codecs(in, false) : rec::StandardVideoCodecs();
    rt.inputs = (setup & 4) ? Inputs(in) : rec::StandardInputs();
    rt.writerHasPreprocess = (setup & 8) == 0;
    for (int i = 0; i < ((setup >> 4) & 3); ++i)
        AddFailure(rt, in);

    CAsfWriter objects[2];
    int active = 0;
    fuzz::currentOp = -1;
    CheckClosed(objects[0], rt);

    for (int op = 0; op < kMaxOps && !in.empty(); ++op) {
        fuzz::currentOp = op;
        CAsfWriter& w = objects[active];
        const int code = in.u8() % kOpCount;
        switch (code) {
        case kInit: {
            const int r = w.Init();
            FUZZ_PROMISE(r == 0 || r == -1);
            if (r == 0)
                FUZZ_PROMISE(w.profileManager && w.profile && w.writer && w.codecInfo);
            break;
        }
        case kAddVideo: {
            const int width = in.pick(kWidths), height = in.pick(kHeights);
            const int num = in.pick(kRateNums), den = in.pick(kRateDens);
            const int kbps = in.pick(kVideoKbps), quality = in.pick(kQualities), passes = in.pick(kPasses);
            CAsfWriter before;
            before = w;
            const int r = w.AddVideo(width, height, num, den, kbps, quality, passes);
            FUZZ_PROMISE(r == 0 || r == -1);
            if (r == 0) {
                FUZZ_PROMISE(w.frameRateNum == num && w.frameRateDen == den && w.inPrePass == 0);
            } else {
                FUZZ_PROMISE(w.frameRateNum == before.frameRateNum && w.frameRateDen == before.frameRateDen);
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
            std::string storage;
            const char* path = PathFor(in, storage);
            const int r = w.OpenFile(path);
            FUZZ_PROMISE(r == 0 || r == -1);
            if (r == 0)
                FUZZ_PROMISE(w.videoTime == 0 && w.audioTime == 0);
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
            else
                FUZZ_PROMISE(w.inPrePass == before.inPrePass);
            break;
        }
        case kEndPrePass: {
            const long long audio = w.audioTime;
            FUZZ_PROMISE(w.EndPrePass() == 0);
            FUZZ_PROMISE(w.preprocessor == nullptr && w.inPrePass == 0 && w.videoTime == 0 && w.audioTime == audio);
            break;
        }
        case kWriteVideo: WriteOne(w, rt, in, 0); break;
        case kWriteAudio: WriteOne(w, rt, in, 1); break;
        case kWriteOther: WriteOne(w, rt, in, in.pick(kKinds)); break;
        case kCloseFile: {
            const int r = w.CloseFile();
            FUZZ_PROMISE(r == 0 || r == -1);
            break;
        }
        case kClose:
            w.Close();
            CheckClosed(w, rt);
            break;
        case kHandOver: {
            CAsfWriter& other = objects[1 - active];
            other = w;
            FUZZ_PROMISE(other.writer == w.writer && other.profile == w.profile && other.videoTime == w.videoTime &&
                    other.audioInput == w.audioInput && other.inPrePass == w.inPrePass);
            w = CAsfWriter();
            active = 1 - active;
            break;
        }
        case kSelfAssign: {
            CAsfWriter before;
            before = w;
            const CAsfWriter& same = w;
            w = same;
            FUZZ_PROMISE(w.writer == before.writer && w.videoTime == before.videoTime &&
                    w.preprocessor == before.preprocessor);
            break;
        }
        case kAddFailure: AddFailure(rt, in); break;
        case kClearFailures: rt.ClearFailures(); break;
        }
        CheckFields(objects[active]);
        CheckRuntime(rt);
    }

    fuzz::currentOp = kMaxOps;
    objects[active].Close();
    CheckClosed(objects[0], rt);
    CheckClosed(objects[1], rt);
    CheckRuntime(rt);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    Run(in);
    return 0;
}
