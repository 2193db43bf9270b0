// The writer: profile validation, inputs and their formats, the writing and
// pre-processing states, samples, conversion and failure reporting.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <functional>

#include "fake_services.h"
#include "objects_helpers.h"
#include "runtime_objects/runtime_services.h"
#include "runtime_objects/writer.h"
#include "support/asf_reader.h"
#include "support/test_support.h"

namespace asfw::rt::test {
namespace {

class WriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        baseline_ = liveObjectCount();
        fakes_ = makeFakes();
        ASSERT_EQ(createProfileManager(fakes_.services, manager_.put()), S_OK);
        ASSERT_EQ(manager_->QueryInterface(IID_IWMCodecInfo3, info_.putVoid()), S_OK);
        ASSERT_EQ(manager_->CreateEmptyProfile(WMT_VER_9_0, profile_.put()), S_OK);
        ASSERT_EQ(createWriter(fakes_.services, writer_.put()), S_OK);
        ASSERT_EQ(writer_->QueryInterface(IID_IWMWriterPreprocess, pre_.putVoid()), S_OK);
    }
    void TearDown() override
    {
        pre_.reset();
        writer_.reset();
        profile_.reset();
        info_.reset();
        manager_.reset();
        EXPECT_EQ(liveObjectCount(), baseline_) << "runtime objects leaked";
    }

    // Video (stream 1) and/or audio (stream 2, fake format `audioFormat`),
    // bound to the writer with the output name set.
    void configure(bool video, bool audio, const VideoStreamSpec& spec = {}, DWORD audioFormat = 1)
    {
        if (video) {
            ASSERT_EQ(addVideoStream(info_.get(), profile_.get(), spec), S_OK);
        }
        if (audio) {
            ASSERT_EQ(addAudioStream(info_.get(), profile_.get(), audioFormat), S_OK);
        }
        ASSERT_EQ(writer_->SetProfile(profile_.get()), S_OK);
        ASSERT_EQ(writer_->SetOutputFilename(u"/tmp/unused.wmv"), S_OK);
        spec_ = spec;
    }

    DWORD inputNamed(const std::u16string& name)
    {
        DWORD count = 0;
        writer_->GetInputCount(&count);
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IWMInputMediaProps> props;
            writer_->GetInputProps(i, props.put());
            if (connectionName(props.get()) == name) return i;
        }
        ADD_FAILURE() << "no input";
        return 99;
    }

    // Installs the first offered format that `match` accepts.
    template <class Match>
    HRESULT installFormat(DWORD input, Match match)
    {
        DWORD formats = 0;
        writer_->GetInputFormatCount(input, &formats);
        for (DWORD j = 0; j < formats; ++j) {
            ComPtr<IWMInputMediaProps> props;
            writer_->GetInputFormat(input, j, props.put());
            MediaTypeCopy mt;
            readMediaType(props.get(), &mt);
            if (match(mt)) return writer_->SetInputProps(input, props.get());
        }
        return E_FAIL;
    }

    HRESULT installPcm(DWORD input, DWORD rate, WORD channels, WORD bits)
    {
        return installFormat(input, [&](MediaTypeCopy& mt) {
            const auto w = mt.format<WAVEFORMATEX>();
            return w.nSamplesPerSec == rate && w.nChannels == channels && w.wBitsPerSample == bits;
        });
    }

    HRESULT sendBytes(DWORD input, QWORD time, const std::vector<std::uint8_t>& bytes, bool preprocess = false)
    {
        ComPtr<INSSBuffer> sample;
        HRESULT hr = writer_->AllocateSample(static_cast<DWORD>(bytes.size()), sample.put());
        if (FAILED(hr)) return hr;
        BYTE* p = nullptr;
        sample->GetBuffer(&p);
        if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
        sample->SetLength(static_cast<DWORD>(bytes.size()));
        return preprocess ? pre_->PreprocessSample(input, time, 0, sample.get())
                          : writer_->WriteSample(input, time, 0, sample.get());
    }

    std::vector<std::uint8_t> frame(std::uint8_t y = 16, std::uint8_t u = 128, std::uint8_t v = 128) const
    {
        const std::size_t luma = static_cast<std::size_t>(spec_.width) * spec_.height;
        std::vector<std::uint8_t> f(luma * 3 / 2, y);
        std::fill(f.begin() + luma, f.begin() + luma + luma / 4, u);
        std::fill(f.begin() + luma + luma / 4, f.end(), v);
        return f;
    }

    std::size_t baseline_ = 0;
    Fakes fakes_;
    VideoStreamSpec spec_;
    ComPtr<IWMProfileManager> manager_;
    ComPtr<IWMCodecInfo3> info_;
    ComPtr<IWMProfile> profile_;
    ComPtr<IWMWriter> writer_;
    ComPtr<IWMWriterPreprocess> pre_;
};

TEST_F(WriterTest, SetProfileValidatesTheStreams)
{
    struct Case {
        const char* what;
        VideoStreamSpec spec;
        HRESULT expected;
    };
    auto with = [](auto change) {
        VideoStreamSpec s;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"valid", VideoStreamSpec{}, S_OK},
        {"odd width", with([](VideoStreamSpec& s) { s.width = 63; }), NS_E_INVALIDPROFILE},
        {"odd height", with([](VideoStreamSpec& s) { s.height = 47; }), NS_E_INVALIDPROFILE},
        {"zero width", with([](VideoStreamSpec& s) { s.width = 0; }), NS_E_INVALIDPROFILE},
        {"negative height", with([](VideoStreamSpec& s) { s.height = -48; }), NS_E_INVALIDPROFILE},
        {"zero frame duration", with([](VideoStreamSpec& s) { s.frameDuration = 0; }), NS_E_INVALIDPROFILE},
        {"negative frame duration", with([](VideoStreamSpec& s) { s.frameDuration = -5; }), NS_E_INVALIDPROFILE},
        {"zero bit rate", with([](VideoStreamSpec& s) { s.bitrate = 0; }), NS_E_INVALIDPROFILE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IWMProfile> profile;
        ASSERT_EQ(manager_->CreateEmptyProfile(WMT_VER_9_0, profile.put()), S_OK);
        ASSERT_EQ(addVideoStream(info_.get(), profile.get(), c.spec), S_OK);
        EXPECT_EQ(writer_->SetProfile(profile.get()), c.expected);
    }
    ComPtr<IWMProfile> empty;
    ASSERT_EQ(manager_->CreateEmptyProfile(WMT_VER_9_0, empty.put()), S_OK);
    EXPECT_EQ(writer_->SetProfile(empty.get()), NS_E_INVALIDPROFILE);
    EXPECT_EQ(writer_->SetProfile(nullptr), E_POINTER);
}

TEST_F(WriterTest, OneInputPerStreamNamedByItsConnectionName)
{
    configure(true, true);
    DWORD count = 0;
    ASSERT_EQ(writer_->GetInputCount(&count), S_OK);
    ASSERT_EQ(count, 2u);
    std::vector<std::u16string> names;
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IWMInputMediaProps> props;
        ASSERT_EQ(writer_->GetInputProps(i, props.put()), S_OK);
        names.push_back(connectionName(props.get()));
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Video", u"Audio"}));
    ComPtr<IWMInputMediaProps> none;
    EXPECT_EQ(writer_->GetInputProps(2, none.put()), E_INVALIDARG);
    EXPECT_EQ(writer_->GetInputProps(0, nullptr), E_POINTER);
}

TEST_F(WriterTest, VideoInputOffersI420FirstThenYv12AtTheStreamSize)
{
    configure(true, false);
    DWORD formats = 0;
    ASSERT_EQ(writer_->GetInputFormatCount(0, &formats), S_OK);
    ASSERT_GE(formats, 2u);
    const GUID* expected[] = {&WMMEDIASUBTYPE_I420, &WMMEDIASUBTYPE_YV12};
    for (DWORD j = 0; j < 2; ++j) {
        ComPtr<IWMInputMediaProps> props;
        ASSERT_EQ(writer_->GetInputFormat(0, j, props.put()), S_OK);
        MediaTypeCopy mt;
        ASSERT_EQ(readMediaType(props.get(), &mt), S_OK);
        EXPECT_EQ(mt.get()->subtype, *expected[j]);
        const auto vih = mt.format<WMVIDEOINFOHEADER>();
        EXPECT_EQ(vih.bmiHeader.biWidth, 64);
        EXPECT_EQ(vih.bmiHeader.biHeight, 48);
        EXPECT_EQ(vih.bmiHeader.biSizeImage, 64u * 48 * 3 / 2);
        EXPECT_EQ(vih.AvgTimePerFrame, 400000);
        EXPECT_EQ(connectionName(props.get()), u"Video");
    }
    ComPtr<IWMInputMediaProps> none;
    EXPECT_EQ(writer_->GetInputFormat(0, formats, none.put()), E_INVALIDARG);
}

TEST_F(WriterTest, AudioInputOffersPcmAtCommonRatesChannelsAndDepths)
{
    configure(false, true);
    DWORD formats = 0;
    ASSERT_EQ(writer_->GetInputFormatCount(0, &formats), S_OK);
    EXPECT_EQ(formats, 7u * 2 * 2);
    bool has48kStereo16 = false;
    for (DWORD j = 0; j < formats; ++j) {
        ComPtr<IWMInputMediaProps> props;
        ASSERT_EQ(writer_->GetInputFormat(0, j, props.put()), S_OK);
        MediaTypeCopy mt;
        ASSERT_EQ(readMediaType(props.get(), &mt), S_OK);
        EXPECT_EQ(mt.get()->majortype, WMMEDIATYPE_Audio);
        EXPECT_EQ(mt.get()->subtype, WMMEDIASUBTYPE_PCM);
        const auto w = mt.format<WAVEFORMATEX>();
        EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(w.nBlockAlign, w.nChannels * w.wBitsPerSample / 8);
        EXPECT_EQ(w.nAvgBytesPerSec, w.nSamplesPerSec * w.nBlockAlign);
        if (w.nSamplesPerSec == 48000 && w.nChannels == 2 && w.wBitsPerSample == 16) has48kStereo16 = true;
        // Every offered format is accepted as it is.
        EXPECT_EQ(writer_->SetInputProps(0, props.get()), S_OK);
    }
    EXPECT_TRUE(has48kStereo16);
}

TEST_F(WriterTest, SetInputPropsAcceptsOnlyOfferedFormats)
{
    configure(true, true);
    const DWORD video = inputNamed(u"Video"), audio = inputNamed(u"Audio");
    struct Case {
        const char* what;
        DWORD input;
        std::function<void(MediaTypeCopy&)> change;
    };
    auto wave = [](MediaTypeCopy& mt, auto edit) {
        auto w = mt.format<WAVEFORMATEX>();
        edit(w);
        std::memcpy(mt.get()->pbFormat, &w, sizeof(w));
    };
    const Case cases[] = {
        {"96 kHz", audio, [&](MediaTypeCopy& mt) { wave(mt, [](WAVEFORMATEX& w) { w.nSamplesPerSec = 96000; w.nAvgBytesPerSec = 96000 * w.nBlockAlign; }); }},
        {"24-bit", audio, [&](MediaTypeCopy& mt) { wave(mt, [](WAVEFORMATEX& w) { w.wBitsPerSample = 24; w.nBlockAlign = 6; w.nAvgBytesPerSec = 6 * w.nSamplesPerSec; }); }},
        {"six channels", audio, [&](MediaTypeCopy& mt) { wave(mt, [](WAVEFORMATEX& w) { w.nChannels = 6; }); }},
        {"float tag", audio, [&](MediaTypeCopy& mt) { wave(mt, [](WAVEFORMATEX& w) { w.wFormatTag = 3; }); }},
        {"video on audio", audio, [&](MediaTypeCopy& mt) { mt.get()->majortype = WMMEDIATYPE_Video; }},
        {"other size", video, [&](MediaTypeCopy& mt) {
             auto v = mt.format<WMVIDEOINFOHEADER>();
             v.bmiHeader.biWidth = 32;
             std::memcpy(mt.get()->pbFormat, &v, sizeof(v));
         }},
        {"RGB", video, [&](MediaTypeCopy& mt) { mt.get()->subtype = WMMEDIASUBTYPE_WMV3; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IWMInputMediaProps> props;
        ASSERT_EQ(writer_->GetInputFormat(c.input, 0, props.put()), S_OK);
        MediaTypeCopy mt;
        ASSERT_EQ(readMediaType(props.get(), &mt), S_OK);
        c.change(mt);
        ASSERT_EQ(props->SetMediaType(mt.get()), S_OK);
        EXPECT_EQ(writer_->SetInputProps(c.input, props.get()), NS_E_INVALID_INPUT_FORMAT);
    }
    ComPtr<IWMInputMediaProps> props;
    ASSERT_EQ(writer_->GetInputFormat(audio, 0, props.put()), S_OK);
    EXPECT_EQ(writer_->SetInputProps(7, props.get()), E_INVALIDARG);
    EXPECT_EQ(writer_->SetInputProps(audio, nullptr), E_POINTER);
    // The installed format is what the input reports.
    ASSERT_EQ(installPcm(audio, 22050, 1, 8), S_OK);
    ComPtr<IWMInputMediaProps> current;
    ASSERT_EQ(writer_->GetInputProps(audio, current.put()), S_OK);
    MediaTypeCopy mt;
    ASSERT_EQ(readMediaType(current.get(), &mt), S_OK);
    EXPECT_EQ(mt.format<WAVEFORMATEX>().nSamplesPerSec, 22050u);
    EXPECT_EQ(mt.format<WAVEFORMATEX>().wBitsPerSample, 8);
}

TEST_F(WriterTest, CallsOutOfOrderAreRefused)
{
    ComPtr<INSSBuffer> sample;
    EXPECT_EQ(writer_->BeginWriting(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(writer_->EndWriting(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(writer_->AllocateSample(16, sample.put()), NS_E_INVALID_REQUEST);
    EXPECT_EQ(writer_->WriteSample(0, 0, 0, nullptr), NS_E_INVALID_REQUEST);
    DWORD count = 5;
    EXPECT_EQ(writer_->GetInputCount(&count), S_OK);
    EXPECT_EQ(count, 0u);

    ASSERT_EQ(addVideoStream(info_.get(), profile_.get(), VideoStreamSpec{}), S_OK);
    ASSERT_EQ(writer_->SetProfile(profile_.get()), S_OK);
    EXPECT_EQ(writer_->BeginWriting(), NS_E_INVALID_REQUEST) << "no output file name";
    EXPECT_EQ(writer_->SetOutputFilename(nullptr), E_POINTER);
    EXPECT_EQ(writer_->SetOutputFilename(u""), E_INVALIDARG);
    const char16_t lonely[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(writer_->SetOutputFilename(lonely), E_INVALIDARG);
    ASSERT_EQ(writer_->SetOutputFilename(u"/tmp/x.wmv"), S_OK);
    ASSERT_EQ(writer_->BeginWriting(), S_OK);
    EXPECT_EQ(writer_->BeginWriting(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(writer_->SetProfile(profile_.get()), NS_E_INVALID_REQUEST);
    EXPECT_EQ(writer_->SetOutputFilename(u"/tmp/y.wmv"), NS_E_INVALID_REQUEST);
    ComPtr<IWMInputMediaProps> props;
    ASSERT_EQ(writer_->GetInputFormat(0, 0, props.put()), S_OK);
    EXPECT_EQ(writer_->SetInputProps(0, props.get()), NS_E_INVALID_REQUEST);
    EXPECT_EQ(writer_->AllocateSample(16, nullptr), E_POINTER);
    EXPECT_EQ(writer_->EndWriting(), S_OK);
    EXPECT_EQ(writer_->EndWriting(), NS_E_INVALID_REQUEST);
    // The same writer writes again after EndWriting.
    EXPECT_EQ(writer_->BeginWriting(), S_OK);
    EXPECT_EQ(writer_->EndWriting(), S_OK);
}

TEST_F(WriterTest, OutputThatCannotBeCreatedFailsClearlyAndWritesNothing)
{
    struct Case {
        int error;
        HRESULT expected;
    } cases[] = {{ENOENT, E_PATH_NOT_FOUND}, {EACCES, E_ACCESSDENIED}, {ENOSPC, E_DISK_FULL}, {0, E_FAIL}};
    configure(true, false);
    for (const auto& c : cases) {
        fakes_.sink->failCreate = true;
        fakes_.sink->createErrno = c.error;
        EXPECT_EQ(writer_->BeginWriting(), c.expected) << c.error;
        EXPECT_FALSE(fakes_.sink->created);
        ComPtr<INSSBuffer> sample;
        EXPECT_EQ(writer_->AllocateSample(16, sample.put()), NS_E_INVALID_REQUEST);
    }
    fakes_.sink->failCreate = false;
    EXPECT_EQ(writer_->BeginWriting(), S_OK);
    EXPECT_EQ(writer_->EndWriting(), S_OK);
}

TEST_F(WriterTest, RealFileInAMissingFolderIsNotCreated)
{
    auto services = std::make_shared<RuntimeServices>(*fakes_.services);
    services->createSink = [](const std::string& path, std::string* error) {
        return asf::createFileSink(path, error);
    };
    ComPtr<IWMWriter> writer;
    ASSERT_EQ(createWriter(services, writer.put()), S_OK);
    ASSERT_EQ(addVideoStream(info_.get(), profile_.get(), VideoStreamSpec{}), S_OK);
    ASSERT_EQ(writer->SetProfile(profile_.get()), S_OK);
    asfw::test::TempDir dir;
    const std::string missing = dir.path() + "/no/such/folder/out.wmv";
    const std::u16string wide(missing.begin(), missing.end());
    ASSERT_EQ(writer->SetOutputFilename(wide.c_str()), S_OK);
    EXPECT_EQ(writer->BeginWriting(), E_PATH_NOT_FOUND);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // A UTF-16 name with non-ASCII characters reaches the file system as UTF-8.
    const std::u16string named = std::u16string(wide.begin(), wide.begin() + static_cast<std::ptrdiff_t>(dir.path().size())) +
                                 u"/caf\u00e9 \u00fc\u4e2d.wmv";
    ASSERT_EQ(writer->SetOutputFilename(named.c_str()), S_OK);
    ASSERT_EQ(writer->BeginWriting(), S_OK);
    ASSERT_EQ(writer->EndWriting(), S_OK);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/caf\xc3\xa9 \xc3\xbc\xe4\xb8\xad.wmv"));
}

TEST_F(WriterTest, WriteSampleChecksItsArguments)
{
    configure(true, true);
    const DWORD video = inputNamed(u"Video");
    ASSERT_EQ(writer_->BeginWriting(), S_OK);
    EXPECT_EQ(sendBytes(video, 0, frame()), S_OK);
    EXPECT_EQ(sendBytes(5, 0, frame()), E_INVALIDARG);
    EXPECT_EQ(writer_->WriteSample(video, 0, 0, nullptr), E_POINTER);
    auto shortFrame = frame();
    shortFrame.pop_back();
    EXPECT_EQ(sendBytes(video, 400000, shortFrame), NS_E_INVALID_DATA);
    EXPECT_EQ(sendBytes(video, 400000, {}), NS_E_INVALID_DATA);
    EXPECT_EQ(sendBytes(video, 400000, frame()), S_OK);
    EXPECT_EQ(sendBytes(video, 0, frame()), E_INVALIDARG) << "time going back";
    EXPECT_EQ(sendBytes(video, QWORD{1} << 62, frame()), E_INVALIDARG) << "beyond the file's time range";
    EXPECT_EQ(sendBytes(video, 800000, frame()), S_OK) << "refused samples do not stop the stream";
    EXPECT_EQ(fakes_.log->encodedVideo, (std::vector<std::int64_t>{0, 400000, 800000}));
    // A sample's length may not exceed what was allocated.
    ComPtr<INSSBuffer> sample;
    ASSERT_EQ(writer_->AllocateSample(8, sample.put()), S_OK);
    EXPECT_EQ(sample->SetLength(9), E_INVALIDARG);
    DWORD max = 0;
    sample->GetMaxLength(&max);
    EXPECT_EQ(max, 8u);
    EXPECT_EQ(writer_->EndWriting(), S_OK);
}

TEST_F(WriterTest, Yv12InputReachesTheEncoderAsI420)
{
    configure(true, false);
    ASSERT_EQ(installFormat(0, [](MediaTypeCopy& mt) { return mt.get()->subtype == WMMEDIASUBTYPE_YV12; }), S_OK);
    ASSERT_EQ(writer_->BeginWriting(), S_OK);
    // YV12 stores V before U.
    ASSERT_EQ(sendBytes(0, 0, frame(50, 60, 70)), S_OK);
    ASSERT_EQ(writer_->EndWriting(), S_OK);
    ASSERT_EQ(fakes_.log->frames.size(), 1u);
    EXPECT_EQ(fakes_.log->frames[0], (std::vector<std::uint8_t>{50, 70, 60}));
}

TEST_F(WriterTest, VideoEncoderSettingsComeFromTheStreamAndItsVault)
{
    struct Case {
        const char* what;
        VideoStreamSpec spec;
        bool vbr;
        std::uint32_t passes, quality, rmax, bmax;
    };
    VideoStreamSpec cbr;
    cbr.bitrate = 1000000;
    cbr.complexity = 4;
    VideoStreamSpec quality = cbr;
    quality.vbr = true;
    quality.setVbrProperties = true;
    quality.quality = 75;
    VideoStreamSpec peak = quality;
    peak.passes = 2;
    peak.quality = 0;
    peak.rmax = 2500000;
    peak.bmax = 6000;
    const Case cases[] = {
        {"CBR", cbr, false, 1, 0, 0, 0},
        {"quality VBR", quality, true, 1, 75, 0, 0},
        {"peak VBR", peak, true, 2, 0, 2500000, 6000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IWMProfile> profile;
        ASSERT_EQ(manager_->CreateEmptyProfile(WMT_VER_9_0, profile.put()), S_OK);
        ASSERT_EQ(addVideoStream(info_.get(), profile.get(), c.spec), S_OK);
        ASSERT_EQ(writer_->SetProfile(profile.get()), S_OK);
        ASSERT_EQ(writer_->SetOutputFilename(u"/tmp/unused.wmv"), S_OK);
        fakes_.log->videoSettings.clear();
        ASSERT_EQ(writer_->BeginWriting(), S_OK);
        ASSERT_EQ(fakes_.log->videoSettings.size(), 1u);
        const VideoSettings& v = fakes_.log->videoSettings[0];
        EXPECT_EQ(v.width, 64);
        EXPECT_EQ(v.height, 48);
        EXPECT_EQ(v.frameDuration, 400000);
        EXPECT_EQ(v.bitrate, 1000000u);
        EXPECT_EQ(v.bufferWindowMs, 3000u);
        EXPECT_EQ(v.maxKeyFrameSpacing, 40000000);
        EXPECT_EQ(v.complexity, 4);
        EXPECT_EQ(v.vbr, c.vbr);
        EXPECT_EQ(v.passes, c.passes);
        EXPECT_EQ(v.vbrQuality, c.quality);
        EXPECT_EQ(v.peakBitrate, c.rmax);
        EXPECT_EQ(v.peakBufferMs, c.bmax);
        ASSERT_EQ(writer_->EndWriting(), S_OK);
    }
}

TEST_F(WriterTest, EncoderThatRefusesTheSettingsFailsBeginWriting)
{
    configure(true, false);
    fakes_.log->refuseVideoSettings = true;
    EXPECT_EQ(writer_->BeginWriting(), NS_E_INVALID_OUTPUT_FORMAT);
    EXPECT_FALSE(fakes_.sink->created);
}

TEST_F(WriterTest, PreprocessingPassCountIsChecked)
{
    EXPECT_EQ(pre_->SetNumPreprocessingPasses(0, 0, 1), NS_E_INVALID_REQUEST) << "no profile";
    configure(true, true);
    const DWORD video = inputNamed(u"Video"), audio = inputNamed(u"Audio");
    DWORD max = 9;
    ASSERT_EQ(pre_->GetMaxPreprocessingPasses(video, 0, &max), S_OK);
    EXPECT_EQ(max, 1u);
    ASSERT_EQ(pre_->GetMaxPreprocessingPasses(audio, 0, &max), S_OK);
    EXPECT_EQ(max, 0u);
    struct Case {
        DWORD input, passes;
        HRESULT expected;
    } cases[] = {{video, 0, E_INVALIDARG}, {video, 2, E_INVALIDARG}, {audio, 1, E_INVALIDARG},
                 {7, 1, E_INVALIDARG},     {video, 1, S_OK}};
    for (const auto& c : cases)
        EXPECT_EQ(pre_->SetNumPreprocessingPasses(c.input, 0, c.passes), c.expected) << c.input << "/" << c.passes;
}

TEST_F(WriterTest, PreprocessingPassInTheWritersCallingOrder)
{
    VideoStreamSpec spec;
    spec.passes = 2;  // a two-pass mode: the pass is required
    configure(true, true, spec);
    const DWORD video = inputNamed(u"Video"), audio = inputNamed(u"Audio");
    EXPECT_EQ(pre_->BeginPreprocessingPass(video, 0), NS_E_INVALID_REQUEST) << "not writing yet";
    ASSERT_EQ(writer_->BeginWriting(), S_OK);
    EXPECT_EQ(pre_->BeginPreprocessingPass(video, 0), NS_E_INVALID_REQUEST) << "no pass requested";
    ASSERT_EQ(pre_->SetNumPreprocessingPasses(video, 0, 1), S_OK);
    EXPECT_EQ(sendBytes(video, 0, frame(), true), NS_E_INVALID_REQUEST) << "pass not begun";
    EXPECT_EQ(pre_->EndPreprocessingPass(video, 0), NS_E_INVALID_REQUEST);
    ASSERT_EQ(pre_->BeginPreprocessingPass(video, 0), S_OK);
    EXPECT_EQ(pre_->BeginPreprocessingPass(video, 0), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pre_->SetNumPreprocessingPasses(video, 0, 1), NS_E_INVALID_REQUEST);
    for (QWORD t : {0, 400000, 800000}) EXPECT_EQ(sendBytes(video, t, frame(), true), S_OK);
    EXPECT_EQ(sendBytes(video, 0, frame()), NS_E_INVALID_REQUEST) << "real samples wait for the pass";
    EXPECT_EQ(pre_->PreprocessSample(video, 0, 0, nullptr), E_POINTER);
    auto shortFrame = frame();
    shortFrame.resize(10);
    EXPECT_EQ(sendBytes(video, 0, shortFrame, true), NS_E_INVALID_DATA);
    // Audio keeps going to the writer during the video's pass.
    EXPECT_EQ(sendBytes(audio, 0, std::vector<std::uint8_t>(1920)), S_OK);
    ASSERT_EQ(pre_->EndPreprocessingPass(video, 0), S_OK);
    EXPECT_EQ(fakes_.log->analysed, (std::vector<std::int64_t>{0, 400000, 800000}));
    EXPECT_EQ(fakes_.log->endAnalysisCalls, 1);
    EXPECT_EQ(pre_->BeginPreprocessingPass(video, 0), NS_E_INVALID_REQUEST) << "passes used up";
    EXPECT_EQ(sendBytes(video, 0, frame()), S_OK);
    EXPECT_EQ(sendBytes(video, 0, frame(), true), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pre_->SetNumPreprocessingPasses(video, 0, 1), NS_E_INVALID_REQUEST) << "writing has begun";
    EXPECT_EQ(writer_->EndWriting(), S_OK);
}

TEST_F(WriterTest, TwoPassModesWithoutThePassFailTheFirstSample)
{
    struct Case {
        bool vbr;
        DWORD passes;
        HRESULT expected;
    } cases[] = {{false, 1, S_OK}, {true, 1, S_OK}, {false, 2, NS_E_INVALID_NUM_PASSES}, {true, 2, NS_E_INVALID_NUM_PASSES}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.vbr << "/" << c.passes);
        VideoStreamSpec spec;
        spec.vbr = c.vbr;
        spec.passes = c.passes;
        ComPtr<IWMProfile> profile;
        ASSERT_EQ(manager_->CreateEmptyProfile(WMT_VER_9_0, profile.put()), S_OK);
        ASSERT_EQ(addVideoStream(info_.get(), profile.get(), spec), S_OK);
        ASSERT_EQ(writer_->SetProfile(profile.get()), S_OK);
        ASSERT_EQ(writer_->SetOutputFilename(u"/tmp/unused.wmv"), S_OK);
        spec_ = spec;
        ASSERT_EQ(writer_->BeginWriting(), S_OK);
        EXPECT_EQ(sendBytes(0, 0, frame()), c.expected);
        EXPECT_EQ(sendBytes(0, 400000, frame()), c.expected);
        ASSERT_EQ(writer_->EndWriting(), S_OK);
    }
}

TEST_F(WriterTest, AudioTimesFollowTheSampleCount)
{
    // Fake format 1: 44.1 kHz stereo, fed 48 kHz stereo 16-bit as the writer
    // class delivers it, in blocks whose converted length is fractional.
    configure(false, true, {}, 1);
    ASSERT_EQ(installPcm(0, 48000, 2, 16), S_OK);
    ASSERT_EQ(writer_->BeginWriting(), S_OK);
    ASSERT_EQ(fakes_.log->audioSettings.size(), 1u);
    EXPECT_EQ(fakes_.log->audioSettings[0].sampleRate, 44100);
    EXPECT_EQ(fakes_.log->audioSettings[0].channels, 2);
    const std::size_t blockBytes = 4096;
    const int blocks = 50;
    std::int64_t hostTime = 0;
    for (int b = 0; b < blocks; ++b) {
        ASSERT_EQ(sendBytes(0, static_cast<QWORD>(hostTime), std::vector<std::uint8_t>(blockBytes)), S_OK);
        hostTime += static_cast<std::int64_t>(blockBytes) * 10000000 / 192000;  // truncating, as the writer class does
    }
    const std::size_t framesBeforeDrain = fakes_.log->pcm.size() / 2;
    ASSERT_EQ(writer_->EndWriting(), S_OK);
    // Each block's time is the count of sample frames before it, at 44.1 kHz,
    // rounded once (not accumulated block by block).
    const auto& times = fakes_.log->audioTimes;
    const auto& sizes = fakes_.log->audioFrames;
    ASSERT_EQ(times.size(), sizes.size());
    ASSERT_GT(times.size(), 10u);
    std::uint64_t before = 0;
    for (std::size_t i = 0; i < times.size(); ++i) {
        EXPECT_EQ(times[i], static_cast<std::int64_t>(std::llround(before * 1e7 / 44100))) << i;
        before += sizes[i];
    }
    // The resampler's tail arrives at EndWriting; the total matches the input
    // duration at the new rate within a few samples.
    const std::size_t frames = fakes_.log->pcm.size() / 2;
    EXPECT_EQ(frames, before);
    EXPECT_LT(framesBeforeDrain, frames);
    const double expectedFrames = blocks * (blockBytes / 4.0) * 44100 / 48000;
    EXPECT_NEAR(static_cast<double>(frames), expectedFrames, 4.0);
}

TEST_F(WriterTest, WriteFailuresAreReportedAndStick)
{
    configure(true, false);
    ASSERT_EQ(writer_->BeginWriting(), S_OK);
    fakes_.sink->failAfterBytes = fakes_.sink->bytes.size() + 20000;
    HRESULT hr = S_OK;
    int sent = 0;
    for (; sent < 2000 && hr == S_OK; ++sent) hr = sendBytes(0, static_cast<QWORD>(sent) * 400000, frame());
    EXPECT_EQ(hr, E_DISK_FULL) << "after " << sent << " frames";
    EXPECT_EQ(sendBytes(0, static_cast<QWORD>(sent) * 400000, frame()), E_DISK_FULL);
    EXPECT_TRUE(FAILED(writer_->EndWriting()));
    // The writer is usable again for a new file.
    fakes_.sink->failAfterBytes = UINT64_MAX;
    fakes_.sink->bytes.clear();
    EXPECT_EQ(writer_->BeginWriting(), S_OK);
    EXPECT_EQ(sendBytes(0, 0, frame()), S_OK);
    EXPECT_EQ(writer_->EndWriting(), S_OK);
}

TEST_F(WriterTest, EndWritingFlushesTheEncodersAndFinishesTheFile)
{
    configure(true, true);
    const DWORD video = inputNamed(u"Video"), audio = inputNamed(u"Audio");
    ASSERT_EQ(installPcm(audio, 48000, 2, 16), S_OK);
    ASSERT_EQ(writer_->BeginWriting(), S_OK);
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(sendBytes(video, static_cast<QWORD>(i) * 400000, frame()), S_OK);
        ASSERT_EQ(sendBytes(audio, static_cast<QWORD>(i) * 400000, std::vector<std::uint8_t>(76800)), S_OK);
    }
    ASSERT_EQ(writer_->EndWriting(), S_OK);
    EXPECT_EQ(fakes_.log->flushCalls, 2);
    asfw::test::TempDir dir;
    const std::string path = dir.file("out.wmv");
    ASSERT_TRUE(asfw::test::writeFileBytes(path, fakes_.sink->bytes));
    asfw::test::asfread::AsfReader file;
    ASSERT_TRUE(file.open(path)) << file.error();
    ASSERT_EQ(file.streams().size(), 2u);
    EXPECT_EQ(file.streams()[0].number, 1);
    EXPECT_EQ(file.streams()[1].number, 2);
    EXPECT_EQ(file.streams()[1].wave.formatTag, 0x0161);
    EXPECT_EQ(file.streams()[1].wave.sampleRate, 44100u);
    EXPECT_EQ(file.streams()[1].wave.extra, std::vector<std::uint8_t>(10, 0x11));
    const auto problems = asfw::test::asfread::validate(file);
    EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST_F(WriterTest, QueryInterfaceAndReferenceCounts)
{
    ComPtr<IWMWriter> back;
    ASSERT_EQ(pre_->QueryInterface(IID_IWMWriter, back.putVoid()), S_OK);
    EXPECT_EQ(back.get(), writer_.get());
    ComPtr<IWMProfile> none;
    EXPECT_EQ(writer_->QueryInterface(IID_IWMProfile, none.putVoid()), E_NOINTERFACE);
    EXPECT_EQ(writer_->AddRef(), 4u);  // writer_, pre_, back and this one
    EXPECT_EQ(writer_->Release(), 3u);
}

TEST_F(WriterTest, WriterReleasedWhileWritingStillFinishesItsFile)
{
    configure(true, false);
    ASSERT_EQ(writer_->BeginWriting(), S_OK);
    ASSERT_EQ(sendBytes(0, 0, frame()), S_OK);
    pre_.reset();
    writer_.reset();
    EXPECT_EQ(fakes_.log->flushCalls, 1);
    asfw::test::TempDir dir;
    ASSERT_TRUE(asfw::test::writeFileBytes(dir.file("a.wmv"), fakes_.sink->bytes));
    asfw::test::asfread::AsfReader file;
    EXPECT_TRUE(file.open(dir.file("a.wmv"))) << file.error();
}

}  // namespace
}  // namespace asfw::rt::test
