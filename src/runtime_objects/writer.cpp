#include "runtime_objects/writer.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "runtime_objects/input_props.h"
#include "runtime_objects/profile.h"
#include "runtime_objects/sample_buffer.h"
#include "runtime_objects/wide_string.h"

namespace asfw::rt {

const int kInputSampleRates[7] = {48000, 44100, 32000, 22050, 16000, 11025, 8000};

namespace {

constexpr int kMaxDimension = 16384;
constexpr DWORD kMaxSampleBytes = 1u << 29;
constexpr std::size_t kMaxPathChars = 32767;
constexpr DWORD kDefaultBufferWindowMs = 3000;
// Latest sample time accepted: the file's 32-bit millisecond times, less
// room for the preroll.
constexpr QWORD kMaxSampleTime = 0xFFFF0000ull * 10000;

// The result for a failed file operation, from the system's error number.
HRESULT fileError(int error)
try {
    switch (error) {
    case ENOSPC:
    case EDQUOT: return E_DISK_FULL;
    case ENOENT:
    case ENOTDIR: return E_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return E_ACCESSDENIED;
    case EIO: return E_WRITE_FAULT;
    default: return E_FAIL;
    }
} catch (...) {
    return resultOfException();
}

std::u16string numberName(WORD number)
{
    char text[8];
    std::snprintf(text, sizeof(text), "%u", static_cast<unsigned>(number));
    return widen(text);
}

// The four bytes of a DWORD or BOOL property, or a default.
DWORD propertyOr(const StreamData& s, const char16_t* name, DWORD fallback)
{
    const auto v = s.properties.dword(name);
    return v ? *v : fallback;
}

}  // namespace

HRESULT createWriter(ServicesPtr services, IWMWriter** writer)
try {
    if (writer == nullptr) return E_POINTER;
    *writer = nullptr;
    if (!services) return E_UNEXPECTED;
    auto* object = new (std::nothrow) Writer(std::move(services));
    if (object == nullptr) return E_OUTOFMEMORY;
    *writer = object;
    return S_OK;
} catch (...) {
    return resultOfException();
}

Writer::~Writer()
{
    // A writer let go while writing still finishes its file.
    if (state_ == State::Writing) finishWriting();
}

HRESULT Writer::QueryInterface(REFIID riid, void** object)
try {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWMWriter) {
        *object = static_cast<IWMWriter*>(this);
    } else if (riid == IID_IWMWriterPreprocess) {
        *object = static_cast<IWMWriterPreprocess*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::fail(HRESULT hr, std::string why)
try {
    lastError_ = std::move(why);
    return hr;
} catch (...) {
    return resultOfException();
}

Writer::Input* Writer::input(DWORD number)
{
    if (number >= inputs_.size()) return nullptr;
    return &inputs_[number];
}

// ---- profile and inputs --------------------------------------------------------

HRESULT Writer::SetProfileByID(REFGUID)
try {
    return fail(E_NOTIMPL, "system profiles are not available");
} catch (...) {
    return resultOfException();
}

HRESULT Writer::buildInput(const StreamData& stream, Input* out)
try {
    Input in;
    in.stream = stream;
    const MediaType& type = stream.mediaType;
    if (!type.present()) return fail(NS_E_INVALIDPROFILE, "a stream has no media type");
    if (stream.bitrate == 0) return fail(NS_E_INVALIDPROFILE, "a stream has no bit rate");
    if (stream.streamType == WMMEDIATYPE_Video) {
        const auto info = type.videoInfo();
        if (type.record().subtype != WMMEDIASUBTYPE_WMV3 || !info ||
            info->bmiHeader.biCompression != MakeFourCC('W', 'M', 'V', '3'))
            return fail(NS_E_INVALIDPROFILE, "the video stream is not Windows Media Video 9");
        const LONG w = info->bmiHeader.biWidth, h = info->bmiHeader.biHeight;
        if (w <= 0 || h <= 0 || w > kMaxDimension || h > kMaxDimension || (w % 2) != 0 || (h % 2) != 0)
            return fail(NS_E_INVALIDPROFILE, "the picture size must be positive and even");
        if (info->AvgTimePerFrame <= 0) return fail(NS_E_INVALIDPROFILE, "the frame duration must be positive");
        in.video = true;
        in.width = w;
        in.height = h;
        in.frameDuration = info->AvgTimePerFrame;
        in.formats.push_back(planarVideoType(WMMEDIASUBTYPE_I420, MakeFourCC('I', '4', '2', '0'), w, h,
                                             in.frameDuration));
        in.formats.push_back(planarVideoType(WMMEDIASUBTYPE_YV12, MakeFourCC('Y', 'V', '1', '2'), w, h,
                                             in.frameDuration));
        in.formats.push_back(planarVideoType(WMMEDIASUBTYPE_IYUV, MakeFourCC('I', 'Y', 'U', 'V'), w, h,
                                             in.frameDuration));
    } else if (stream.streamType == WMMEDIATYPE_Audio) {
        const auto wave = type.waveFormat();
        if (!wave || wave->wFormatTag != kWma9FormatTag)
            return fail(NS_E_INVALIDPROFILE, "the audio stream is not Windows Media Audio 9");
        bool known = false;
        for (const auto& f : services_->audioFormats) {
            if (static_cast<DWORD>(f.sampleRate) == wave->nSamplesPerSec && f.channels == wave->nChannels &&
                f.avgBytesPerSec == wave->nAvgBytesPerSec && f.blockAlign == wave->nBlockAlign) {
                known = true;
                break;
            }
        }
        if (!known) return fail(NS_E_INVALIDPROFILE, "the audio format is not one the encoder produces");
        in.outRate = static_cast<int>(wave->nSamplesPerSec);
        in.outChannels = wave->nChannels;
        for (int rate : kInputSampleRates)
            for (int channels = 2; channels >= 1; --channels)
                for (int bits = 16; bits >= 8; bits -= 8) in.formats.push_back(pcmType(rate, channels, bits));
    } else {
        return fail(NS_E_INVALIDPROFILE, "only audio and video streams are supported");
    }
    // The default input format: I420, or 16-bit PCM in the stream's own rate and layout.
    in.current = in.video ? in.formats.front() : pcmType(in.outRate, in.outChannels, 16);
    if (in.stream.connectionName.empty()) in.stream.connectionName = numberName(stream.streamNumber);
    *out = std::move(in);
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::SetProfile(IWMProfile* profile)
try {
    if (profile == nullptr) return fail(E_POINTER, "no profile");
    if (state_ == State::Writing) return fail(NS_E_INVALID_REQUEST, "the writer is writing");
    const auto* ours = dynamic_cast<const Profile*>(profile);
    if (ours == nullptr) return fail(NS_E_INVALIDPROFILE, "the profile was not made by this runtime");
    const auto& streams = ours->streams();
    if (streams.empty()) return fail(NS_E_INVALIDPROFILE, "the profile has no streams");
    try {
        std::vector<Input> inputs(streams.size());
        for (std::size_t i = 0; i < streams.size(); ++i) {
            const HRESULT hr = buildInput(streams[i], &inputs[i]);
            if (FAILED(hr)) return hr;
            for (std::size_t j = 0; j < i; ++j)
                if (inputs[j].stream.connectionName == inputs[i].stream.connectionName)
                    return fail(NS_E_INVALIDPROFILE, "two streams share a connection name");
        }
        inputs_ = std::move(inputs);
    } catch (const std::bad_alloc&) {
        return fail(E_OUTOFMEMORY, "out of memory");
    }
    state_ = State::Configured;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::GetInputCount(DWORD* count)
try {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<DWORD>(inputs_.size());
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::GetInputProps(DWORD number, IWMInputMediaProps** props)
try {
    if (props == nullptr) return E_POINTER;
    *props = nullptr;
    Input* in = input(number);
    if (in == nullptr) return E_INVALIDARG;
    auto* object = new (std::nothrow) InputProps(in->current, in->stream.connectionName);
    if (object == nullptr) return E_OUTOFMEMORY;
    *props = object;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::GetInputFormatCount(DWORD number, DWORD* count)
try {
    if (count == nullptr) return E_POINTER;
    Input* in = input(number);
    if (in == nullptr) return E_INVALIDARG;
    *count = static_cast<DWORD>(in->formats.size());
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::GetInputFormat(DWORD number, DWORD format, IWMInputMediaProps** props)
try {
    if (props == nullptr) return E_POINTER;
    *props = nullptr;
    Input* in = input(number);
    if (in == nullptr || format >= in->formats.size()) return E_INVALIDARG;
    auto* object = new (std::nothrow) InputProps(in->formats[format], in->stream.connectionName);
    if (object == nullptr) return E_OUTOFMEMORY;
    *props = object;
    return S_OK;
} catch (...) {
    return resultOfException();
}

bool Writer::offered(const Input& in, const MediaType& type) const
{
    const WM_MEDIA_TYPE& r = type.record();
    if (in.video) {
        if (r.majortype != WMMEDIATYPE_Video) return false;
        if (r.subtype != WMMEDIASUBTYPE_I420 && r.subtype != WMMEDIASUBTYPE_YV12 && r.subtype != WMMEDIASUBTYPE_IYUV)
            return false;
        const auto info = type.videoInfo();
        return info && info->bmiHeader.biWidth == in.width &&
               (info->bmiHeader.biHeight == in.height || info->bmiHeader.biHeight == -in.height);
    }
    if (r.majortype != WMMEDIATYPE_Audio || r.subtype != WMMEDIASUBTYPE_PCM) return false;
    const auto wave = type.waveFormat();
    if (!wave || wave->wFormatTag != WAVE_FORMAT_PCM) return false;
    if (wave->nChannels < 1 || wave->nChannels > 2) return false;
    if (wave->wBitsPerSample != 8 && wave->wBitsPerSample != 16) return false;
    if (wave->nBlockAlign != wave->nChannels * wave->wBitsPerSample / 8) return false;
    if (wave->nAvgBytesPerSec != wave->nSamplesPerSec * wave->nBlockAlign) return false;
    for (int rate : kInputSampleRates)
        if (wave->nSamplesPerSec == static_cast<DWORD>(rate)) return true;
    return false;
}

HRESULT Writer::SetInputProps(DWORD number, IWMInputMediaProps* props)
try {
    if (state_ == State::Writing) return fail(NS_E_INVALID_REQUEST, "the writer is writing");
    Input* in = input(number);
    if (in == nullptr) return fail(E_INVALIDARG, "no such input");
    if (props == nullptr) return fail(E_POINTER, "no input format");
    try {
        DWORD size = 0;
        HRESULT hr = props->GetMediaType(nullptr, &size);
        if (FAILED(hr)) return hr;
        if (size < sizeof(WM_MEDIA_TYPE) || size > MediaType::kFormatOffset + MediaType::kMaxFormatBytes)
            return fail(NS_E_INVALID_INPUT_FORMAT, "malformed input format");
        std::vector<std::uint64_t> buffer((size + 7) / 8);
        auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
        hr = props->GetMediaType(type, &size);
        if (FAILED(hr)) return hr;
        MediaType copy;
        hr = copy.assign(type);
        if (FAILED(hr)) return hr;
        if (!offered(*in, copy)) return fail(NS_E_INVALID_INPUT_FORMAT, "the input does not offer this format");
        in->current = std::move(copy);
    } catch (const std::bad_alloc&) {
        return fail(E_OUTOFMEMORY, "out of memory");
    }
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::SetOutputFilename(const WCHAR* name)
try {
    if (name == nullptr) return fail(E_POINTER, "no file name");
    if (state_ == State::Writing) return fail(NS_E_INVALID_REQUEST, "the writer is writing");
    std::u16string wide;
    std::string path;
    if (!readWide(name, kMaxPathChars, &wide) || wide.empty() || !utf16ToUtf8(wide, &path))
        return fail(E_INVALIDARG, "the file name is empty, too long or not valid UTF-16");
    outputPath_ = std::move(path);
    haveOutput_ = true;
    return S_OK;
} catch (...) {
    return resultOfException();
}

// ---- writing ---------------------------------------------------------------------

HRESULT Writer::startStream(Input& in, asf::StreamDescription* d)
try {
    const StreamData& s = in.stream;
    std::string error;
    d->number = s.streamNumber;
    d->name = s.streamName;
    d->bitrate = s.bitrate;
    d->bufferWindowMs = s.bufferWindowMs == 0xFFFFFFFFu ? kDefaultBufferWindowMs : s.bufferWindowMs;
    if (in.video) {
        VideoSettings v;
        v.width = in.width;
        v.height = in.height;
        v.frameDuration = in.frameDuration;
        v.bitrate = s.bitrate;
        v.bufferWindowMs = d->bufferWindowMs;
        v.maxKeyFrameSpacing = s.maxKeyFrameSpacing;
        v.complexity = static_cast<int>(propertyOr(s, kPropComplexityEx, static_cast<DWORD>(services_->complexityOffline)));
        v.vbr = propertyOr(s, kPropVbrEnabled, FALSE) != FALSE;
        v.passes = propertyOr(s, kPropPassesUsed, 1);
        v.vbrQuality = propertyOr(s, kPropVbrQuality, 0);
        v.peakBitrate = propertyOr(s, kPropRMax, 0);
        v.peakBufferMs = propertyOr(s, kPropBMax, 0);
        in.needsPrepass = v.passes >= 2;
        in.encoder = services_->createVideoEncoder ? services_->createVideoEncoder(v, &error) : nullptr;
        if (!in.encoder) return fail(NS_E_INVALID_OUTPUT_FORMAT, "video encoder: " + error);
        const std::vector<std::uint8_t> codecData = in.encoder->codecData();
        BITMAPINFOHEADER bih{};
        bih.biSize = static_cast<DWORD>(sizeof(bih) + codecData.size());
        bih.biWidth = in.width;
        bih.biHeight = in.height;
        bih.biPlanes = 1;
        bih.biBitCount = 24;
        bih.biCompression = MakeFourCC('W', 'M', 'V', '3');
        bih.biSizeImage = static_cast<DWORD>(in.width) * static_cast<DWORD>(in.height) * 3;
        d->audio = false;
        d->format.resize(sizeof(bih));
        std::memcpy(d->format.data(), &bih, sizeof(bih));
        d->format.insert(d->format.end(), codecData.begin(), codecData.end());
        d->width = static_cast<std::uint32_t>(in.width);
        d->height = static_cast<std::uint32_t>(in.height);
        d->peakBitrate = v.vbr ? v.peakBitrate : 0;
        d->peakBufferMs = v.vbr ? v.peakBufferMs : 0;
        d->measureBitrate = v.vbr && v.passes == 1;  // quality-driven: the rate is what it turns out to be
        d->averageTimePerFrame = in.frameDuration;
        d->codecName = kVideoCodecName;
        d->fourCC = bih.biCompression;
    } else {
        const auto wave = s.mediaType.waveFormat();
        AudioSettings a;
        a.sampleRate = in.outRate;
        a.channels = in.outChannels;
        a.avgBytesPerSec = wave->nAvgBytesPerSec;
        a.blockAlign = wave->nBlockAlign;
        in.encoder = services_->createAudioEncoder ? services_->createAudioEncoder(a, &error) : nullptr;
        if (!in.encoder) return fail(NS_E_INVALID_OUTPUT_FORMAT, "audio encoder: " + error);
        const auto inWave = in.current.waveFormat();
        PcmFormat from{static_cast<int>(inWave->nSamplesPerSec), inWave->nChannels, inWave->wBitsPerSample};
        PcmFormat to{in.outRate, in.outChannels, 16};
        in.converter = AudioConverter::create(from, to, &error);
        if (!in.converter) return fail(NS_E_INVALID_INPUT_FORMAT, error);
        const std::vector<std::uint8_t> extra = in.encoder->codecData();
        WAVEFORMATEX w = *wave;
        w.wBitsPerSample = 16;
        d->audio = true;
        d->format = waveFormatBlock(w, extra);
        d->blockAlign = wave->nBlockAlign;
        d->codecName = kAudioCodecName;
        d->codecId = kWma9FormatTag;
    }
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::beginWriting()
try {
    std::vector<asf::StreamDescription> descriptions(inputs_.size());
    for (std::size_t i = 0; i < inputs_.size(); ++i) {
        Input& in = inputs_[i];
        in.encoder.reset();
        in.converter.reset();
        in.passesDone = 0;
        in.inPass = false;
        in.sampleWritten = false;
        in.haveStart = false;
        in.startTime = 0;
        in.framesEncoded = 0;
        const HRESULT hr = startStream(in, &descriptions[i]);
        if (FAILED(hr)) return hr;
    }
    std::string error;
    errno = 0;
    std::unique_ptr<asf::ByteSink> sink = services_->createSink ? services_->createSink(outputPath_, &error) : nullptr;
    if (!sink) {
        const int e = errno;
        return fail(fileError(e), "cannot create " + outputPath_ + ": " + error);
    }
    asf::MuxerOptions options;  // the muxer spills beside the output file
    auto muxer = std::make_unique<asf::Muxer>(std::move(sink), options);
    for (const auto& d : descriptions)
        if (!muxer->addStream(d)) return fail(NS_E_INVALIDPROFILE, "muxer: " + muxer->error());
    errno = 0;
    if (!muxer->begin()) {
        const int e = errno;
        const std::string why = muxer->error();
        muxer.reset();
        std::remove(outputPath_.c_str());
        return fail(e != 0 ? fileError(e) : E_FAIL, "cannot write the header: " + why);
    }
    muxer_ = std::move(muxer);
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::BeginWriting()
try {
    if (state_ != State::Configured) return fail(NS_E_INVALID_REQUEST, "no profile, or already writing");
    if (!haveOutput_) return fail(NS_E_INVALID_REQUEST, "no output file name");
    HRESULT hr;
    try {
        hr = beginWriting();
    } catch (const std::bad_alloc&) {
        hr = fail(E_OUTOFMEMORY, "out of memory");
    } catch (...) {
        hr = fail(E_FAIL, "unexpected failure");
    }
    if (FAILED(hr)) {
        muxer_.reset();
        for (auto& in : inputs_) {
            in.encoder.reset();
            in.converter.reset();
        }
        return hr;
    }
    failure_ = S_OK;
    state_ = State::Writing;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::AllocateSample(DWORD size, INSSBuffer** sample)
try {
    if (sample == nullptr) return E_POINTER;
    *sample = nullptr;
    if (state_ != State::Writing) return fail(NS_E_INVALID_REQUEST, "the writer is not writing");
    if (size > kMaxSampleBytes) return fail(E_INVALIDARG, "sample too large");
    SampleBuffer* buffer = SampleBuffer::create(size);
    if (buffer == nullptr) return fail(E_OUTOFMEMORY, "out of memory");
    *sample = buffer;
    return S_OK;
} catch (...) {
    return resultOfException();
}

// The I420 frame a video sample holds (YV12 gets its chroma planes swapped).
HRESULT Writer::frameBytes(Input& in, INSSBuffer* sample, const std::uint8_t** data, std::size_t* size)
try {
    BYTE* bytes = nullptr;
    DWORD length = 0;
    const HRESULT hr = sample->GetBufferAndLength(&bytes, &length);
    if (FAILED(hr)) return hr;
    if (bytes == nullptr && length > 0) return fail(E_POINTER, "sample without a buffer");
    if (!in.video) {
        *data = bytes;
        *size = length;
        return S_OK;
    }
    const std::size_t luma = static_cast<std::size_t>(in.width) * static_cast<std::size_t>(in.height);
    const std::size_t chroma = luma / 4;
    const std::size_t expected = luma + 2 * chroma;
    if (length != expected) {
        char text[96];
        std::snprintf(text, sizeof(text), "video sample of %lu bytes, the frame needs %lu",
                      static_cast<unsigned long>(length), static_cast<unsigned long>(expected));
        return fail(NS_E_INVALID_DATA, text);
    }
    if (in.current.record().subtype == WMMEDIASUBTYPE_YV12) {
        in.scratch.resize(expected);
        std::memcpy(in.scratch.data(), bytes, luma);
        std::memcpy(in.scratch.data() + luma, bytes + luma + chroma, chroma);
        std::memcpy(in.scratch.data() + luma + chroma, bytes + luma, chroma);
        *data = in.scratch.data();
    } else {
        *data = bytes;
    }
    *size = expected;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::deliver(Input& in, MediaObjects& objects)
try {
    for (auto& object : objects) {
        errno = 0;
        if (!muxer_->write(in.stream.streamNumber, std::move(object))) {
            const int e = errno;
            failure_ = e != 0 ? fileError(e) : E_FAIL;
            if (failure_ == E_PATH_NOT_FOUND || failure_ == E_ACCESSDENIED) failure_ = E_WRITE_FAULT;
            objects.clear();
            return fail(failure_, "writing the file failed: " + muxer_->error());
        }
    }
    objects.clear();
    return S_OK;
} catch (...) {
    return resultOfException();
}

// Encodes the converted PCM held in in.pcm. The time of each block follows
// from the number of sample frames encoded before it.
HRESULT Writer::encodePcm(Input& in, MediaObjects* objects)
try {
    if (in.pcm.empty()) return S_OK;
    const std::size_t frames = in.pcm.size() / static_cast<std::size_t>(in.outChannels);
    const std::int64_t offset = static_cast<std::int64_t>(
        (static_cast<long double>(in.framesEncoded) * 10000000.0L) / in.outRate + 0.5L);
    const bool ok = in.encoder->encode(reinterpret_cast<const std::uint8_t*>(in.pcm.data()),
                                       in.pcm.size() * sizeof(std::int16_t), in.startTime + offset, *objects);
    in.pcm.clear();
    if (!ok) return fail(E_FAIL, "audio encoder: " + in.encoder->lastError());
    in.framesEncoded += frames;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::writeSample(Input& in, std::int64_t time, INSSBuffer* sample)
try {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    HRESULT hr = frameBytes(in, sample, &data, &size);
    if (FAILED(hr)) return hr;
    MediaObjects objects;
    if (in.video) {
        if (!in.encoder->encode(data, size, time, objects))
            return fail(E_FAIL, "video encoder: " + in.encoder->lastError());
        in.lastTime = time;
    } else {
        if (!in.haveStart) {
            in.haveStart = true;
            in.startTime = time;
        }
        if (!in.converter->push(data, size, &in.pcm)) return fail(E_FAIL, in.converter->error());
        hr = encodePcm(in, &objects);
        if (FAILED(hr)) return hr;
    }
    in.sampleWritten = true;
    return deliver(in, objects);
} catch (...) {
    return resultOfException();
}

HRESULT Writer::WriteSample(DWORD number, QWORD time, DWORD, INSSBuffer* sample)
try {
    if (state_ != State::Writing) return fail(NS_E_INVALID_REQUEST, "the writer is not writing");
    Input* in = input(number);
    if (in == nullptr) return fail(E_INVALIDARG, "no such input");
    if (sample == nullptr) return fail(E_POINTER, "no sample");
    if (time > kMaxSampleTime) return fail(E_INVALIDARG, "sample time out of range");
    if (FAILED(failure_)) return failure_;
    if (in->inPass) return fail(NS_E_INVALID_REQUEST, "a pre-processing pass is running on this input");
    if ((in->needsPrepass && in->passesDone == 0) || in->passesDone < in->passesRequested)
        return fail(NS_E_INVALID_NUM_PASSES, "this stream needs its pre-processing pass first");
    if (in->video && in->sampleWritten && static_cast<std::int64_t>(time) < in->lastTime)
        return fail(E_INVALIDARG, "video samples must come in time order");
    try {
        return writeSample(*in, static_cast<std::int64_t>(time), sample);
    } catch (const std::bad_alloc&) {
        return fail(E_OUTOFMEMORY, "out of memory");
    } catch (...) {
        return fail(E_FAIL, "unexpected failure");
    }
} catch (...) {
    return resultOfException();
}

HRESULT Writer::finishWriting()
try {
    HRESULT result = failure_;
    auto note = [&](HRESULT hr) {
        if (SUCCEEDED(result) && FAILED(hr)) result = hr;
    };
    try {
        for (auto& in : inputs_) {
            if (!in.encoder) continue;
            MediaObjects objects;
            if (in.converter && in.haveStart) {
                if (!in.converter->drain(&in.pcm)) note(fail(E_FAIL, in.converter->error()));
                note(encodePcm(in, &objects));
            }
            if (!in.encoder->flush(objects)) note(fail(E_FAIL, "encoder: " + in.encoder->lastError()));
            if (SUCCEEDED(failure_)) note(deliver(in, objects));
            muxer_->endStream(in.stream.streamNumber);
        }
        errno = 0;
        if (!muxer_->finish()) {
            const int e = errno;
            note(fail(e != 0 ? fileError(e) : E_FAIL, "finishing the file failed: " + muxer_->error()));
        }
    } catch (const std::bad_alloc&) {
        note(fail(E_OUTOFMEMORY, "out of memory"));
    } catch (...) {
        note(fail(E_FAIL, "unexpected failure"));
    }
    muxer_.reset();
    for (auto& in : inputs_) {
        in.encoder.reset();
        in.converter.reset();
        in.pcm.clear();
        in.inPass = false;
        in.passesRequested = 0;
        in.passesDone = 0;
    }
    failure_ = S_OK;
    state_ = State::Configured;
    return result;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::EndWriting()
try {
    if (state_ != State::Writing) return fail(NS_E_INVALID_REQUEST, "the writer is not writing");
    return finishWriting();
} catch (...) {
    return resultOfException();
}

HRESULT Writer::Flush()
try {
    if (state_ != State::Writing) return fail(NS_E_INVALID_REQUEST, "the writer is not writing");
    return S_OK;
} catch (...) {
    return resultOfException();
}

// ---- pre-processing -------------------------------------------------------------

HRESULT Writer::GetMaxPreprocessingPasses(DWORD number, DWORD, DWORD* passes)
try {
    if (passes == nullptr) return E_POINTER;
    if (state_ == State::NoProfile) return fail(NS_E_INVALID_REQUEST, "no profile");
    Input* in = input(number);
    if (in == nullptr) return fail(E_INVALIDARG, "no such input");
    *passes = in->video ? 1 : 0;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::SetNumPreprocessingPasses(DWORD number, DWORD, DWORD passes)
try {
    if (state_ == State::NoProfile) return fail(NS_E_INVALID_REQUEST, "no profile");
    Input* in = input(number);
    if (in == nullptr) return fail(E_INVALIDARG, "no such input");
    const DWORD max = in->video ? 1 : 0;
    if (passes == 0 || passes > max) return fail(E_INVALIDARG, "pass count out of range");
    if (in->inPass || in->passesDone > 0 || in->sampleWritten)
        return fail(NS_E_INVALID_REQUEST, "the input has already begun");
    in->passesRequested = passes;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::BeginPreprocessingPass(DWORD number, DWORD)
try {
    if (state_ != State::Writing) return fail(NS_E_INVALID_REQUEST, "the writer is not writing");
    Input* in = input(number);
    if (in == nullptr) return fail(E_INVALIDARG, "no such input");
    if (in->inPass || in->sampleWritten || in->passesDone >= in->passesRequested)
        return fail(NS_E_INVALID_REQUEST, "no pre-processing pass to begin");
    in->inPass = true;
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::PreprocessSample(DWORD number, QWORD time, DWORD, INSSBuffer* sample)
try {
    if (state_ != State::Writing) return fail(NS_E_INVALID_REQUEST, "the writer is not writing");
    Input* in = input(number);
    if (in == nullptr) return fail(E_INVALIDARG, "no such input");
    if (sample == nullptr) return fail(E_POINTER, "no sample");
    if (!in->inPass) return fail(NS_E_INVALID_REQUEST, "no pre-processing pass is running");
    if (time > kMaxSampleTime) return fail(E_INVALIDARG, "sample time out of range");
    try {
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
        const HRESULT hr = frameBytes(*in, sample, &data, &size);
        if (FAILED(hr)) return hr;
        if (!in->encoder->analyse(data, size, static_cast<std::int64_t>(time)))
            return fail(NS_E_INVALID_DATA, "video encoder: " + in->encoder->lastError());
    } catch (const std::bad_alloc&) {
        return fail(E_OUTOFMEMORY, "out of memory");
    } catch (...) {
        return fail(E_FAIL, "unexpected failure");
    }
    return S_OK;
} catch (...) {
    return resultOfException();
}

HRESULT Writer::EndPreprocessingPass(DWORD number, DWORD)
try {
    if (state_ != State::Writing) return fail(NS_E_INVALID_REQUEST, "the writer is not writing");
    Input* in = input(number);
    if (in == nullptr) return fail(E_INVALIDARG, "no such input");
    if (!in->inPass) return fail(NS_E_INVALID_REQUEST, "no pre-processing pass is running");
    try {
        in->encoder->endAnalysis();
    } catch (...) {
        in->inPass = false;
        return fail(E_FAIL, "the encoder could not finish its analysis");
    }
    in->inPass = false;
    ++in->passesDone;
    return S_OK;
} catch (...) {
    return resultOfException();
}

}  // namespace asfw::rt
