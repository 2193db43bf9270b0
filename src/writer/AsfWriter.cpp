// CAsfWriter: the policy around the media format runtime. It picks the codec
// and codec format of each stream, configures the encoders, negotiates the
// uncompressed input formats, time-stamps the samples and sequences the
// video pre-processing pass. The runtime does the encoding and the file.
#include "AsfWriter.h"

#include "writer/platform.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Stream identities shared with the runtime.
constexpr std::uint16_t kVideoStreamNumber = 1;
constexpr std::uint16_t kAudioStreamNumber = 2;

// Fixed encoder settings of the video stream.
constexpr DWORD kVideoBufferWindowMs = 3000;
constexpr LONGLONG kMaxKeyFrameSpacing = 40000000;  // 4 s in 100 ns units
constexpr DWORD kPeakBufferMs = 6000;

// The host delivers audio as 48 kHz stereo 16-bit PCM.
constexpr DWORD kPcmRate = 48000;
constexpr WORD kPcmChannels = 2;
constexpr WORD kPcmBits = 16;
constexpr LONGLONG kPcmBytesPerSecond = 192000;

constexpr LONGLONG kUnitsPerSecond = 10000000;  // 100 ns units

// kbps is multiplied by 2500 (peak rate in bit/s) in 32-bit arithmetic.
constexpr int kMaxVideoKbps = 0x7FFFFFFF / 2500;

// Smallest format blocks the class reads: a PCM format block may stop
// before WAVEFORMATEX's cbSize.
constexpr DWORD kMinWaveFormatBytes = 16;

// One reference on a runtime object, given back when the holder goes away
// or is reset. The class releases in a fixed order by calling reset()
// itself; the destructor covers the early returns.
template <class T>
class Ref {
public:
    Ref() = default;
    ~Ref() { reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void attach(T* p)
    {
        reset();
        p_ = p;
    }
    void reset()
    {
        if (p_ != nullptr) {
            T* p = p_;
            p_ = nullptr;
            p->Release();
        }
    }

private:
    T* p_ = nullptr;
};

// Asks `from` for another of its interfaces; true when one was obtained.
template <class From, class To>
bool Query(From* from, const IID& iid, Ref<To>& to)
{
    void* p = nullptr;
    if (FAILED(from->QueryInterface(iid, &p)) || p == nullptr)
        return false;
    to.attach(static_cast<To*>(p));
    return true;
}

// A media type read from the runtime in its two steps: the size, then the
// media type with its format block, into a buffer of that many bytes.
class MediaType {
public:
    bool Read(IWMMediaProps* props)
    {
        DWORD size = 0;
        if (FAILED(props->GetMediaType(nullptr, &size)) || size < sizeof(WM_MEDIA_TYPE))
            return false;
        bytes_.reset(new (std::nothrow) BYTE[size]);
        if (!bytes_) return false;
        if (FAILED(props->GetMediaType(get(), &size))) {
            bytes_.reset();
            return false;
        }
        return true;
    }
    WM_MEDIA_TYPE* get() { return reinterpret_cast<WM_MEDIA_TYPE*>(bytes_.get()); }
    void Free() { bytes_.reset(); }

    // Copies the first bytes of the format block into *out (zero-filled
    // beyond what the block holds); false when the block has fewer than
    // `least` bytes.
    template <class Record>
    bool CopyFormat(Record* out, DWORD least)
    {
        const WM_MEDIA_TYPE* mt = get();
        if (mt->pbFormat == nullptr || mt->cbFormat < least)
            return false;
        std::memset(out, 0, sizeof(Record));
        const DWORD n = mt->cbFormat < sizeof(Record) ? mt->cbFormat : static_cast<DWORD>(sizeof(Record));
        std::memcpy(out, mt->pbFormat, n);
        return true;
    }

private:
    std::unique_ptr<BYTE[]> bytes_;
};

bool Initialised(const CAsfWriter& w)
{
    return w.profileManager != nullptr && w.profile != nullptr && w.writer != nullptr &&
           w.codecInfo != nullptr;
}

HRESULT SetEnumeration(IWMCodecInfo3* info, const GUID& type, DWORD codec, const WCHAR* name,
                       WMT_ATTR_DATATYPE kind, DWORD value)
{
    return info->SetCodecEnumerationSetting(type, codec, name, kind, reinterpret_cast<const BYTE*>(&value),
                                            static_cast<DWORD>(sizeof value));
}

HRESULT SetVaultValue(IWMPropertyVault* vault, const WCHAR* name, WMT_ATTR_DATATYPE kind, DWORD value,
                      DWORD size)
{
    return vault->SetProperty(name, kind, reinterpret_cast<BYTE*>(&value), size);
}

bool IsPcmInput(MediaType& mt)
{
    WAVEFORMATEX wfx;
    if (!mt.CopyFormat(&wfx, kMinWaveFormatBytes))
        return false;
    return wfx.wFormatTag == WAVE_FORMAT_PCM && wfx.wBitsPerSample == kPcmBits &&
           wfx.nChannels == kPcmChannels && wfx.nSamplesPerSec == kPcmRate;
}

bool IsI420Input(MediaType& mt)
{
    return std::memcmp(&mt.get()->subtype, &WMMEDIASUBTYPE_I420, sizeof(GUID)) == 0;
}

// Walks the formats writer input `input` offers and installs the first one
// that `wanted` accepts; with none, the input keeps its default format.
void ChooseInputFormat(IWMWriter* writer, DWORD input, bool (*wanted)(MediaType&))
{
    DWORD count = 0;
    if (FAILED(writer->GetInputFormatCount(input, &count)))
        return;
    for (DWORD f = 0; f < count; ++f) {
        Ref<IWMInputMediaProps> format;
        IWMInputMediaProps* raw = nullptr;
        if (FAILED(writer->GetInputFormat(input, f, &raw)) || raw == nullptr)
            continue;
        format.attach(raw);
        MediaType mt;
        bool match = false;
        if (mt.Read(format.get()))
            match = wanted(mt);
        if (match)
            writer->SetInputProps(input, format.get());
        mt.Free();
        format.reset();
        if (match)
            return;
    }
}

bool NameStartsWithAudio9(const WCHAR* name)
{
    return StrCmpNIW(name, ASFW_WSTR("Windows Media Audio 9"), 21) == 0;
}

bool NameIsVideo9(const WCHAR* name)
{
    return lstrcmpW(name, ASFW_WSTR("Windows Media Video 9")) == 0;
}

// Index of the first codec of `type` whose name `wanted` accepts; false when
// none does. A codec whose name cannot be read is skipped.
bool FindCodec(IWMCodecInfo3* info, const GUID& type, DWORD codecs, bool (*wanted)(const WCHAR*), DWORD& codec)
{
    for (DWORD i = 0; i < codecs; ++i) {
        WCHAR name[128] = {};
        DWORD cch = 128;
        if (FAILED(info->GetCodecName(type, i, name, &cch)))
            continue;
        name[127] = 0;
        if (wanted(name)) {
            codec = i;
            return true;
        }
    }
    return false;
}

}  // namespace

CAsfWriter::CAsfWriter()
    : profileManager(nullptr),
      profile(nullptr),
      writer(nullptr),
      codecInfo(nullptr),
      preprocessor(nullptr),
      audioInput(-1),
      videoInput(-1),
      videoTime(0),
      audioTime(0),
      frameRateNum(0),
      frameRateDen(0),
      inPrePass(0)
{
}

// Copies every field: both objects then refer to the same runtime objects
// and only one of them may be closed.
CAsfWriter& CAsfWriter::operator=(const CAsfWriter& other)
{
    profileManager = other.profileManager;
    profile = other.profile;
    writer = other.writer;
    codecInfo = other.codecInfo;
    preprocessor = other.preprocessor;
    audioInput = other.audioInput;
    videoInput = other.videoInput;
    videoTime = other.videoTime;
    audioTime = other.audioTime;
    frameRateNum = other.frameRateNum;
    frameRateDen = other.frameRateDen;
    inPrePass = other.inPrePass;
    return *this;
}

int CAsfWriter::Init()
{
    // Held references would be overwritten: Close first.
    if (profileManager != nullptr || profile != nullptr || writer != nullptr || codecInfo != nullptr ||
        preprocessor != nullptr)
        return -1;

    IWMProfileManager* manager = nullptr;
    if (FAILED(WMCreateProfileManager(&manager)) || manager == nullptr)
        return -1;
    profileManager = manager;

    IWMProfile* emptyProfile = nullptr;
    if (FAILED(profileManager->CreateEmptyProfile(WMT_VER_9_0, &emptyProfile)) || emptyProfile == nullptr)
        return -1;
    profile = emptyProfile;

    void* info = nullptr;
    if (FAILED(profileManager->QueryInterface(IID_IWMCodecInfo3, &info)) || info == nullptr)
        return -1;
    codecInfo = static_cast<IWMCodecInfo3*>(info);

    IWMWriter* newWriter = nullptr;
    if (FAILED(WMCreateWriter(nullptr, &newWriter)) || newWriter == nullptr)
        return -1;
    writer = newWriter;
    return 0;
}

int CAsfWriter::AddAudio(int sampleRate, int channels, int maxKbps)
{
    if (!Initialised(*this))
        return -1;
    const GUID& audio = WMMEDIATYPE_Audio;

    DWORD codecs = 0;
    if (FAILED(codecInfo->GetCodecInfoCount(audio, &codecs)) || codecs == 0)
        return -1;

    // The first codec whose name starts with "Windows Media Audio 9" in any
    // letter case.
    DWORD codec = 0;
    if (!FindCodec(codecInfo, audio, codecs, NameStartsWithAudio9, codec))
        return -1;

    // One-pass constant bit rate formats only.
    if (FAILED(SetEnumeration(codecInfo, audio, codec, ASFW_WSTR("_VBRENABLED"), WMT_TYPE_BOOL, FALSE)))
        return -1;
    if (FAILED(SetEnumeration(codecInfo, audio, codec, ASFW_WSTR("_PASSESUSED"), WMT_TYPE_DWORD, 1)))
        return -1;

    DWORD formats = 0;
    if (FAILED(codecInfo->GetCodecFormatCount(audio, codec, &formats)) || formats == 0)
        return -1;

    // The 16-bit format of the wanted rate and channel count with the highest
    // bit rate not above the ceiling; the first one met wins a tie.
    const std::uint32_t ceiling = static_cast<std::uint32_t>(maxKbps);
    std::uint32_t bestKbps = 0;
    Ref<IWMStreamConfig> best;
    for (DWORD j = 0; j < formats; ++j) {
        Ref<IWMStreamConfig> config;
        IWMStreamConfig* raw = nullptr;
        WCHAR desc[256] = {};
        DWORD cchDesc = 256;
        if (FAILED(codecInfo->GetCodecFormatDesc(audio, codec, j, &raw, desc, &cchDesc)) || raw == nullptr)
            continue;
        config.attach(raw);

        Ref<IWMMediaProps> props;
        if (!Query(config.get(), IID_IWMMediaProps, props))
            continue;
        MediaType mt;
        WAVEFORMATEX wfx;
        if (!mt.Read(props.get()) || !mt.CopyFormat(&wfx, kMinWaveFormatBytes))
            continue;

        const std::uint32_t kbps = static_cast<std::uint32_t>(wfx.nAvgBytesPerSec) * 8u / 1000u;
        const bool qualifies = kbps > bestKbps && kbps <= ceiling &&
                               static_cast<long long>(wfx.nSamplesPerSec) == sampleRate &&
                               static_cast<int>(wfx.nChannels) == channels && wfx.wBitsPerSample == 16;
        if (qualifies) {
            bestKbps = kbps;
            best.reset();
            config->AddRef();
            best.attach(config.get());
        }
        mt.Free();
        props.reset();
        config.reset();
    }
    if (!best)
        return -1;

    WCHAR streamName[] = ASFW_WSTR("Audio");
    WCHAR connectionName[] = ASFW_WSTR("Audio");
    best->SetStreamName(streamName);
    best->SetConnectionName(connectionName);
    best->SetStreamNumber(kAudioStreamNumber);
    const HRESULT added = profile->AddStream(best.get());
    best.reset();
    return FAILED(added) ? -1 : 1;
}

int CAsfWriter::AddVideo(int width, int height, int rateNum, int rateDen, int kbps, int quality, int passes)
{
    if (!Initialised(*this))
        return -1;
    if (width <= 0 || height <= 0 || rateNum <= 0 || rateDen <= 0 || kbps <= 0 || kbps > kMaxVideoKbps)
        return -1;
    const GUID& video = WMMEDIATYPE_Video;

    DWORD codecs = 0;
    if (FAILED(codecInfo->GetCodecInfoCount(video, &codecs)) || codecs == 0)
        return -1;

    // The codec named exactly "Windows Media Video 9".
    DWORD codec = 0;
    if (!FindCodec(codecInfo, video, codecs, NameIsVideo9, codec))
        return -1;

    const bool vbr = quality != 0;
    if (FAILED(SetEnumeration(codecInfo, video, codec, ASFW_WSTR("_VBRENABLED"), WMT_TYPE_BOOL,
                              vbr ? TRUE : FALSE)))
        return -1;
    if (FAILED(SetEnumeration(codecInfo, video, codec, ASFW_WSTR("_PASSESUSED"), WMT_TYPE_DWORD,
                              static_cast<DWORD>(passes))))
        return -1;

    Ref<IWMStreamConfig> config;
    {
        IWMStreamConfig* raw = nullptr;
        if (FAILED(codecInfo->GetCodecFormat(video, codec, 0, &raw)) || raw == nullptr)
            return -1;
        config.attach(raw);
    }

    // Picture size, frame duration and bit rate of format 0; everything else
    // stays as the codec gave it.
    Ref<IWMMediaProps> props;
    if (!Query(config.get(), IID_IWMMediaProps, props))
        return -1;
    MediaType mt;
    WMVIDEOINFOHEADER vih;
    if (!mt.Read(props.get()) || !mt.CopyFormat(&vih, sizeof(WMVIDEOINFOHEADER)))
        return -1;
    vih.rcSource.left = 0;
    vih.rcSource.top = 0;
    vih.rcSource.right = width;
    vih.rcSource.bottom = height;
    vih.rcTarget = vih.rcSource;
    vih.AvgTimePerFrame = static_cast<LONGLONG>(rateDen) * kUnitsPerSecond / rateNum;
    vih.dwBitRate = static_cast<DWORD>(kbps * 1000);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    std::memcpy(mt.get()->pbFormat, &vih, sizeof vih);
    if (FAILED(props->SetMediaType(mt.get())))
        return -1;

    WCHAR connectionName[] = ASFW_WSTR("Video");
    WCHAR streamName[] = ASFW_WSTR("Video");
    config->SetBitrate(static_cast<DWORD>(kbps * 1000));
    config->SetBufferWindow(kVideoBufferWindowMs);
    config->SetConnectionName(connectionName);
    config->SetStreamName(streamName);
    config->SetStreamNumber(kVideoStreamNumber);

    {
        Ref<IWMVideoMediaProps> videoProps;
        if (!Query(config.get(), IID_IWMVideoMediaProps, videoProps))
            return -1;
        videoProps->SetMaxKeyFrameSpacing(kMaxKeyFrameSpacing);
    }

    // The codec's default complexity for offline encoding, handed on to the
    // stream; values that do not fit 4 bytes are left out.
    WMT_ATTR_DATATYPE complexityType = WMT_TYPE_DWORD;
    BYTE complexity[4] = {};
    DWORD valueSize = sizeof complexity;
    const bool haveComplexity =
        SUCCEEDED(codecInfo->GetCodecProp(video, codec, ASFW_WSTR("_COMPLEXITYEXOFFLINE"), &complexityType,
                                          complexity, &valueSize)) &&
        valueSize >= 1 && valueSize <= sizeof complexity;
    if (!haveComplexity)
        valueSize = sizeof complexity;

    {
        Ref<IWMPropertyVault> vault;
        if (!Query(config.get(), IID_IWMPropertyVault, vault))
            return -1;
        if (haveComplexity)
            vault->SetProperty(ASFW_WSTR("_COMPLEXITYEX"), complexityType, complexity, valueSize);
        if (vbr) {
            SetVaultValue(vault.get(), ASFW_WSTR("_VBRENABLED"), WMT_TYPE_BOOL, TRUE, valueSize);
            if (passes == 1) {
                SetVaultValue(vault.get(), ASFW_WSTR("_VBRQUALITY"), WMT_TYPE_DWORD,
                              static_cast<DWORD>(quality), valueSize);
                SetVaultValue(vault.get(), ASFW_WSTR("_RMAX"), WMT_TYPE_DWORD, 0, valueSize);
                SetVaultValue(vault.get(), ASFW_WSTR("_BMAX"), WMT_TYPE_DWORD, 0, valueSize);
            } else {
                SetVaultValue(vault.get(), ASFW_WSTR("_RMAX"), WMT_TYPE_DWORD, static_cast<DWORD>(kbps * 2500),
                              valueSize);
                SetVaultValue(vault.get(), ASFW_WSTR("_BMAX"), WMT_TYPE_DWORD, kPeakBufferMs, valueSize);
            }
        }
    }

    const HRESULT added = profile->AddStream(config.get());
    mt.Free();
    config.reset();
    props.reset();
    if (FAILED(added))
        return -1;

    frameRateNum = rateNum;
    frameRateDen = rateDen;
    inPrePass = 0;
    return 0;
}

int CAsfWriter::OpenFile(const char* path)
{
    if (!Initialised(*this) || path == nullptr)
        return -1;

    // The whole name, terminator included, must fit; nothing is opened
    // under a shortened or mangled name.
    WCHAR fileName[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, fileName, MAX_PATH) == 0)
        return -1;

    if (FAILED(writer->SetProfile(profile)))
        return -1;

    DWORD inputs = 0;
    if (FAILED(writer->GetInputCount(&inputs)))
        inputs = 0;
    for (DWORD i = 0; i < inputs && i <= 0x7FFFFFFFu; ++i) {
        Ref<IWMInputMediaProps> input;
        {
            IWMInputMediaProps* raw = nullptr;
            if (FAILED(writer->GetInputProps(i, &raw)) || raw == nullptr)
                continue;
            input.attach(raw);
        }
        WCHAR name[32] = {};
        WORD cch = 32;
        if (FAILED(input->GetConnectionName(name, &cch)))
            continue;
        name[31] = 0;
        if (lstrcmpW(name, ASFW_WSTR("Audio")) == 0) {
            audioInput = static_cast<int>(i);
            ChooseInputFormat(writer, i, IsPcmInput);
        } else if (lstrcmpW(name, ASFW_WSTR("Video")) == 0) {
            videoInput = static_cast<int>(i);
            ChooseInputFormat(writer, i, IsI420Input);
        }
        input.reset();
    }

    if (FAILED(writer->SetOutputFilename(fileName)))
        return -1;
    if (FAILED(writer->BeginWriting()))
        return -1;
    videoTime = 0;
    audioTime = 0;
    return 0;
}

int CAsfWriter::StartPrePass()
{
    if (!Initialised(*this) || videoInput < 0)
        return -1;
    if (preprocessor != nullptr) {
        IWMWriterPreprocess* held = preprocessor;
        preprocessor = nullptr;
        held->Release();
    }
    void* p = nullptr;
    if (FAILED(writer->QueryInterface(IID_IWMWriterPreprocess, &p)) || p == nullptr)
        return -1;
    preprocessor = static_cast<IWMWriterPreprocess*>(p);

    const DWORD input = static_cast<DWORD>(videoInput);
    if (FAILED(preprocessor->SetNumPreprocessingPasses(input, 0, 1)))
        return -1;
    preprocessor->BeginPreprocessingPass(input, 0);
    inPrePass = 1;
    return 0;
}

int CAsfWriter::EndPrePass()
{
    if (preprocessor != nullptr) {
        preprocessor->EndPreprocessingPass(static_cast<DWORD>(videoInput), 0);
        IWMWriterPreprocess* held = preprocessor;
        preprocessor = nullptr;
        held->Release();
    }
    inPrePass = 0;
    videoTime = 0;
    return 0;
}

int CAsfWriter::WriteSample(int streamKind, unsigned char* data, int size)
{
    if (streamKind != 0 && streamKind != 1)
        return -1;
    if (size < 0 || (data == nullptr && size > 0))
        return -1;
    const bool video = streamKind == 0;
    const int input = video ? videoInput : audioInput;
    if (input < 0 || !Initialised(*this))
        return -1;

    // The advance of this stream's clock once the sample is taken.
    LONGLONG step;
    IWMWriterPreprocess* pre = nullptr;
    if (video) {
        if (frameRateNum <= 0 || frameRateDen <= 0)
            return -1;
        step = static_cast<LONGLONG>(frameRateDen) * kUnitsPerSecond / frameRateNum;
        if (inPrePass) {
            if (preprocessor == nullptr)
                return -1;
            pre = preprocessor;
        }
    } else {
        step = static_cast<LONGLONG>(size) * kUnitsPerSecond / kPcmBytesPerSecond;
    }
    long long& clock = video ? videoTime : audioTime;
    if (clock < 0 || clock > INT64_MAX - step)
        return -1;

    Ref<INSSBuffer> sample;
    {
        INSSBuffer* raw = nullptr;
        if (FAILED(writer->AllocateSample(static_cast<DWORD>(size), &raw)) || raw == nullptr)
            return -1;
        sample.attach(raw);
    }
    BYTE* buffer = nullptr;
    if (FAILED(sample->GetBuffer(&buffer)) || (buffer == nullptr && size > 0))
        return -1;
    if (size > 0)
        std::memcpy(buffer, data, static_cast<std::size_t>(size));
    if (FAILED(sample->SetLength(static_cast<DWORD>(size))))
        return -1;

    const QWORD time = static_cast<QWORD>(clock);
    const DWORD in = static_cast<DWORD>(input);
    const HRESULT hr =
        pre != nullptr ? pre->PreprocessSample(in, time, 0, sample.get()) : writer->WriteSample(in, time, 0, sample.get());
    sample.reset();
    if (FAILED(hr))
        return -1;
    clock += step;
    return 0;
}

int CAsfWriter::CloseFile()
{
    if (writer == nullptr)
        return 0;
    return FAILED(writer->EndWriting()) ? -1 : 0;
}

void CAsfWriter::Close()
{
    if (writer != nullptr) {
        writer->Release();
        writer = nullptr;
    }
    if (profile != nullptr) {
        profile->Release();
        profile = nullptr;
    }
    if (profileManager != nullptr) {
        profileManager->Release();
        profileManager = nullptr;
    }
    if (codecInfo != nullptr) {
        codecInfo->Release();
        codecInfo = nullptr;
    }
    if (preprocessor != nullptr) {
        preprocessor->Release();
        preprocessor = nullptr;
    }
    videoInput = -1;
    audioInput = -1;
}
