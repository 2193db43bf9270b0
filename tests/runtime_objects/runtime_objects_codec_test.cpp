// Codec information, stream configurations, property vault and profile.
#include <gtest/gtest.h>

#include "fake_services.h"
#include "objects_helpers.h"
#include "runtime_objects/runtime_services.h"

namespace asfw::rt::test {
namespace {

class CodecInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        baseline_ = liveObjectCount();
        fakes_ = makeFakes();
        ASSERT_EQ(createProfileManager(fakes_.services, manager_.put()), S_OK);
        ASSERT_EQ(manager_->QueryInterface(IID_IWMCodecInfo3, info_.putVoid()), S_OK);
        ASSERT_EQ(manager_->CreateEmptyProfile(WMT_VER_9_0, profile_.put()), S_OK);
    }
    void TearDown() override
    {
        profile_.reset();
        info_.reset();
        manager_.reset();
        EXPECT_EQ(liveObjectCount(), baseline_) << "runtime objects leaked";
    }

    std::size_t baseline_ = 0;
    Fakes fakes_;
    ComPtr<IWMProfileManager> manager_;
    ComPtr<IWMCodecInfo3> info_;
    ComPtr<IWMProfile> profile_;
};

TEST_F(CodecInfoTest, NamesTheBuiltInCodecsWithTheSizeThenFillConvention)
{
    struct Case {
        const GUID* type;
        std::u16string name;
    } cases[] = {{&WMMEDIATYPE_Video, u"Windows Media Video 9"}, {&WMMEDIATYPE_Audio, u"Windows Media Audio 9.2"}};
    for (const auto& c : cases) {
        DWORD count = 0;
        ASSERT_EQ(info_->GetCodecInfoCount(*c.type, &count), S_OK);
        EXPECT_EQ(count, 1u);
        DWORD chars = 0;
        ASSERT_EQ(info_->GetCodecName(*c.type, 0, nullptr, &chars), S_OK);
        EXPECT_EQ(chars, c.name.size() + 1);
        WCHAR small[4];
        DWORD smallChars = 4;
        EXPECT_EQ(info_->GetCodecName(*c.type, 0, small, &smallChars), ASF_E_BUFFERTOOSMALL);
        EXPECT_EQ(smallChars, c.name.size() + 1);
        WCHAR name[128];
        DWORD capacity = 128;
        ASSERT_EQ(info_->GetCodecName(*c.type, 0, name, &capacity), S_OK);
        EXPECT_EQ(std::u16string(name), c.name);
        EXPECT_EQ(info_->GetCodecName(*c.type, 1, name, &capacity), E_INVALIDARG);
    }
    DWORD count = 0;
    EXPECT_EQ(info_->GetCodecInfoCount(WMMEDIASUBTYPE_I420, &count), E_INVALIDARG);
    EXPECT_EQ(info_->GetCodecInfoCount(WMMEDIATYPE_Video, nullptr), E_POINTER);
}

TEST_F(CodecInfoTest, EnumerationSettingsSelectTheModePerCodec)
{
    struct Case {
        const GUID* type;
        bool vbr;
        DWORD passes;
        HRESULT expected;
    } cases[] = {
        {&WMMEDIATYPE_Video, false, 1, S_OK},
        {&WMMEDIATYPE_Video, false, 2, S_OK},
        {&WMMEDIATYPE_Video, true, 1, S_OK},
        {&WMMEDIATYPE_Video, true, 2, S_OK},
        {&WMMEDIATYPE_Video, false, 0, NS_E_UNSUPPORTED_PROPERTY},
        {&WMMEDIATYPE_Video, true, 3, NS_E_UNSUPPORTED_PROPERTY},
        {&WMMEDIATYPE_Audio, false, 1, S_OK},
        {&WMMEDIATYPE_Audio, false, 2, NS_E_UNSUPPORTED_PROPERTY},  // the audio codec is one-pass CBR only
        {&WMMEDIATYPE_Audio, true, 1, NS_E_UNSUPPORTED_PROPERTY},
        {&WMMEDIATYPE_Audio, true, 2, NS_E_UNSUPPORTED_PROPERTY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.type == &WMMEDIATYPE_Video ? "video" : "audio") << " vbr " << c.vbr
                                        << " passes " << c.passes);
        ASSERT_EQ(setEnumeration(info_.get(), WMMEDIATYPE_Video, false, 1), S_OK);
        ASSERT_EQ(setEnumeration(info_.get(), WMMEDIATYPE_Audio, false, 1), S_OK);
        EXPECT_EQ(setEnumeration(info_.get(), *c.type, c.vbr, c.passes), c.expected);
        if (c.expected != S_OK) continue;
        DWORD formats = 0;
        ASSERT_EQ(info_->GetCodecFormatCount(*c.type, 0, &formats), S_OK);
        EXPECT_EQ(formats, c.type == &WMMEDIATYPE_Video ? 1u : fakeAudioFormats().size());
        // The mode travels with the configurations of that list.
        ComPtr<IWMStreamConfig> config;
        ASSERT_EQ(info_->GetCodecFormat(*c.type, 0, 0, config.put()), S_OK);
        ComPtr<IWMPropertyVault> vault;
        ASSERT_EQ(config->QueryInterface(IID_IWMPropertyVault, vault.putVoid()), S_OK);
        DWORD value = 7, size = 4;
        WMT_ATTR_DATATYPE type;
        ASSERT_EQ(vault->GetPropertyByName(u"_PASSESUSED", &type, reinterpret_cast<BYTE*>(&value), &size), S_OK);
        EXPECT_EQ(value, c.passes);
        ASSERT_EQ(vault->GetPropertyByName(u"_VBRENABLED", &type, reinterpret_cast<BYTE*>(&value), &size), S_OK);
        EXPECT_EQ(type, WMT_TYPE_BOOL);
        EXPECT_EQ(value != 0, c.vbr);
        // And can be read back from the codec.
        ASSERT_EQ(info_->GetCodecEnumerationSetting(*c.type, 0, u"_PASSESUSED", &type, reinterpret_cast<BYTE*>(&value),
                                                    &size),
                  S_OK);
        EXPECT_EQ(value, c.passes);
    }
}

TEST_F(CodecInfoTest, EnumerationSettingRefusesUnknownNamesAndWrongTypes)
{
    DWORD v = 1;
    const BYTE* p = reinterpret_cast<const BYTE*>(&v);
    EXPECT_EQ(info_->SetCodecEnumerationSetting(WMMEDIATYPE_Video, 0, u"_NOSUCH", WMT_TYPE_DWORD, p, 4),
              NS_E_UNSUPPORTED_PROPERTY);
    EXPECT_EQ(info_->SetCodecEnumerationSetting(WMMEDIATYPE_Video, 0, u"_VBRENABLED", WMT_TYPE_DWORD, p, 4),
              E_INVALIDARG);
    EXPECT_EQ(info_->SetCodecEnumerationSetting(WMMEDIATYPE_Video, 0, u"_PASSESUSED", WMT_TYPE_DWORD, p, 2),
              E_INVALIDARG);
    EXPECT_EQ(info_->SetCodecEnumerationSetting(WMMEDIATYPE_Video, 1, u"_PASSESUSED", WMT_TYPE_DWORD, p, 4),
              E_INVALIDARG);
    EXPECT_EQ(info_->SetCodecEnumerationSetting(WMMEDIATYPE_Video, 0, nullptr, WMT_TYPE_DWORD, p, 4), E_POINTER);
    EXPECT_EQ(info_->SetCodecEnumerationSetting(WMMEDIATYPE_Video, 0, u"_PASSESUSED", WMT_TYPE_DWORD, nullptr, 4),
              E_POINTER);
}

TEST_F(CodecInfoTest, AudioFormatsCarryTheCodecsWaveFormat)
{
    ASSERT_EQ(setEnumeration(info_.get(), WMMEDIATYPE_Audio, false, 1), S_OK);
    const auto table = fakeAudioFormats();
    DWORD count = 0;
    ASSERT_EQ(info_->GetCodecFormatCount(WMMEDIATYPE_Audio, 0, &count), S_OK);
    ASSERT_EQ(count, table.size());
    for (DWORD i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        ComPtr<IWMStreamConfig> config;
        WCHAR desc[256];
        DWORD descChars = 256;
        ASSERT_EQ(info_->GetCodecFormatDesc(WMMEDIATYPE_Audio, 0, i, config.put(), desc, &descChars), S_OK);
        EXPECT_GT(descChars, 1u);
        MediaTypeCopy mt;
        ASSERT_EQ(readMediaType(config.get(), &mt), S_OK);
        EXPECT_EQ(mt.get()->majortype, WMMEDIATYPE_Audio);
        EXPECT_EQ(mt.get()->formattype, WMFORMAT_WaveFormatEx);
        ASSERT_EQ(mt.get()->cbFormat, sizeof(WAVEFORMATEX) + 10);
        const auto w = mt.format<WAVEFORMATEX>();
        EXPECT_EQ(w.wFormatTag, 0x0161);
        EXPECT_EQ(w.wBitsPerSample, 16);
        EXPECT_EQ(w.cbSize, 10);
        EXPECT_EQ(static_cast<int>(w.nSamplesPerSec), table[i].sampleRate);
        EXPECT_EQ(w.nChannels, table[i].channels);
        EXPECT_EQ(w.nAvgBytesPerSec, table[i].avgBytesPerSec);
        EXPECT_EQ(w.nBlockAlign, table[i].blockAlign);
        const auto bytes = mt.formatBytes();
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + sizeof(WAVEFORMATEX), bytes.end()), table[i].extra);
        DWORD bitrate = 0;
        config->GetBitrate(&bitrate);
        EXPECT_EQ(bitrate, table[i].avgBytesPerSec * 8);
        ComPtr<IWMVideoMediaProps> video;
        EXPECT_EQ(config->QueryInterface(IID_IWMVideoMediaProps, video.putVoid()), E_NOINTERFACE);
    }
    ComPtr<IWMStreamConfig> none;
    EXPECT_EQ(info_->GetCodecFormat(WMMEDIATYPE_Audio, 0, count, none.put()), E_INVALIDARG);
    EXPECT_FALSE(none);
}

TEST_F(CodecInfoTest, VideoFormatZeroIsWmv3WithTheSequenceHeaderAfterTheBitmapHeader)
{
    ComPtr<IWMStreamConfig> config;
    ASSERT_EQ(info_->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, config.put()), S_OK);
    MediaTypeCopy mt;
    ASSERT_EQ(readMediaType(config.get(), &mt), S_OK);
    EXPECT_EQ(mt.get()->subtype, WMMEDIASUBTYPE_WMV3);
    EXPECT_EQ(mt.get()->formattype, WMFORMAT_VideoInfo);
    ASSERT_EQ(mt.get()->cbFormat, sizeof(WMVIDEOINFOHEADER) + 4);
    const auto vih = mt.format<WMVIDEOINFOHEADER>();
    EXPECT_EQ(vih.bmiHeader.biCompression, MakeFourCC('W', 'M', 'V', '3'));
    EXPECT_EQ(vih.bmiHeader.biSize, sizeof(BITMAPINFOHEADER) + 4);
    EXPECT_GT(vih.AvgTimePerFrame, 0);
    const auto bytes = mt.formatBytes();
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + sizeof(WMVIDEOINFOHEADER), bytes.end()),
              (std::vector<std::uint8_t>{0x4E, 0xF1, 0x0A, 0x01}));
    // The pbFormat block sits 8-byte aligned so callers may read it in place.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(mt.get()->pbFormat) % 8, 0u);
}

TEST_F(CodecInfoTest, CodecPropertiesAreDwordsReadWithTheSizeConvention)
{
    struct Case {
        const char16_t* name;
        DWORD value;
    } cases[] = {{u"_COMPLEXITYEXOFFLINE", 3}, {u"_COMPLEXITYEXLIVE", 0}, {u"_COMPLEXITYEXMAX", 5}};
    for (const auto& c : cases) {
        WMT_ATTR_DATATYPE type = WMT_TYPE_STRING;
        DWORD value = 99, size = 0;
        ASSERT_EQ(info_->GetCodecProp(WMMEDIATYPE_Video, 0, c.name, &type, nullptr, &size), S_OK);
        EXPECT_EQ(size, 4u);
        size = 2;
        EXPECT_EQ(info_->GetCodecProp(WMMEDIATYPE_Video, 0, c.name, &type, reinterpret_cast<BYTE*>(&value), &size),
                  ASF_E_BUFFERTOOSMALL);
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(value, 99u);
        size = 4;
        ASSERT_EQ(info_->GetCodecProp(WMMEDIATYPE_Video, 0, c.name, &type, reinterpret_cast<BYTE*>(&value), &size),
                  S_OK);
        EXPECT_EQ(type, WMT_TYPE_DWORD);
        EXPECT_EQ(value, c.value);
    }
    WMT_ATTR_DATATYPE type;
    DWORD value, size = 4;
    EXPECT_EQ(info_->GetCodecProp(WMMEDIATYPE_Video, 0, u"_NOSUCH", &type, reinterpret_cast<BYTE*>(&value), &size),
              NS_E_UNSUPPORTED_PROPERTY);
    EXPECT_EQ(info_->GetCodecProp(WMMEDIATYPE_Audio, 0, u"_COMPLEXITYEXMAX", &type, reinterpret_cast<BYTE*>(&value),
                                  &size),
              NS_E_UNSUPPORTED_PROPERTY);
    EXPECT_EQ(info_->GetCodecProp(WMMEDIATYPE_Video, 0, u"_COMPLEXITYEXMAX", nullptr, nullptr, &size), E_POINTER);
}

TEST_F(CodecInfoTest, MediaTypeIsReadInTwoCallsAndReplacedByCopy)
{
    ComPtr<IWMStreamConfig> config;
    ASSERT_EQ(info_->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, config.put()), S_OK);
    ComPtr<IWMMediaProps> props;
    ASSERT_EQ(config->QueryInterface(IID_IWMMediaProps, props.putVoid()), S_OK);
    EXPECT_EQ(props->GetMediaType(nullptr, nullptr), E_INVALIDARG);
    DWORD size = 0;
    ASSERT_EQ(props->GetMediaType(nullptr, &size), S_OK);
    std::vector<std::uint64_t> small((size - 1) / 8);
    DWORD smallSize = size - 1;
    EXPECT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(small.data()), &smallSize), ASF_E_BUFFERTOOSMALL);
    EXPECT_EQ(smallSize, size);

    MediaTypeCopy mt;
    ASSERT_EQ(readMediaType(config.get(), &mt), S_OK);
    auto vih = mt.format<WMVIDEOINFOHEADER>();
    vih.bmiHeader.biWidth = 640;
    vih.AvgTimePerFrame = 333666;
    std::memcpy(mt.get()->pbFormat, &vih, sizeof(vih));
    ASSERT_EQ(props->SetMediaType(mt.get()), S_OK);
    // The caller's buffer is not kept: scribbling on it changes nothing.
    std::memset(mt.get()->pbFormat, 0xEE, mt.get()->cbFormat);
    MediaTypeCopy back;
    ASSERT_EQ(readMediaType(config.get(), &back), S_OK);
    EXPECT_EQ(back.format<WMVIDEOINFOHEADER>().bmiHeader.biWidth, 640);
    EXPECT_EQ(back.format<WMVIDEOINFOHEADER>().AvgTimePerFrame, 333666);

    back.get()->majortype = WMMEDIATYPE_Audio;
    EXPECT_EQ(props->SetMediaType(back.get()), E_INVALIDARG);
    EXPECT_EQ(props->SetMediaType(nullptr), E_POINTER);
    WM_MEDIA_TYPE broken = *back.get();
    broken.majortype = WMMEDIATYPE_Video;
    broken.pbFormat = nullptr;
    EXPECT_EQ(props->SetMediaType(&broken), E_INVALIDARG);
}

TEST_F(CodecInfoTest, PropertyVaultKeepsTheStreamPropertiesAndChecksTheKnownOnes)
{
    ComPtr<IWMStreamConfig> config;
    ASSERT_EQ(info_->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, config.put()), S_OK);
    ComPtr<IWMPropertyVault> vault;
    ASSERT_EQ(config->QueryInterface(IID_IWMPropertyVault, vault.putVoid()), S_OK);
    struct Case {
        const char16_t* name;
        WMT_ATTR_DATATYPE type;
        DWORD value;
        HRESULT expected;
    } cases[] = {
        {u"_COMPLEXITYEX", WMT_TYPE_DWORD, 5, S_OK},
        {u"_COMPLEXITYEX", WMT_TYPE_DWORD, 6, E_INVALIDARG},  // above the codec's maximum
        {u"_COMPLEXITYEX", WMT_TYPE_BOOL, 1, E_INVALIDARG},
        {u"_VBRENABLED", WMT_TYPE_BOOL, TRUE, S_OK},
        {u"_VBRENABLED", WMT_TYPE_DWORD, TRUE, E_INVALIDARG},
        {u"_VBRQUALITY", WMT_TYPE_DWORD, 75, S_OK},
        {u"_VBRQUALITY", WMT_TYPE_DWORD, 101, E_INVALIDARG},
        {u"_RMAX", WMT_TYPE_DWORD, 2000000, S_OK},
        {u"_BMAX", WMT_TYPE_DWORD, 6000, S_OK},
        {u"_SOMETHINGELSE", WMT_TYPE_DWORD, 1, S_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.value);
        DWORD v = c.value;
        EXPECT_EQ(vault->SetProperty(c.name, c.type, reinterpret_cast<BYTE*>(&v), 4), c.expected);
        if (c.expected != S_OK) continue;
        WMT_ATTR_DATATYPE type;
        DWORD back = 0, size = 4;
        ASSERT_EQ(vault->GetPropertyByName(c.name, &type, reinterpret_cast<BYTE*>(&back), &size), S_OK);
        EXPECT_EQ(back, c.value);
        EXPECT_EQ(type, c.type);
    }
    DWORD v = 1, size = 4;
    WMT_ATTR_DATATYPE type;
    EXPECT_EQ(vault->SetProperty(nullptr, WMT_TYPE_DWORD, reinterpret_cast<BYTE*>(&v), 4), E_INVALIDARG);
    EXPECT_EQ(vault->GetPropertyByName(u"_NOTSET", &type, reinterpret_cast<BYTE*>(&v), &size), E_INVALIDARG);
    EXPECT_EQ(vault->GetPropertyByName(u"_RMAX", nullptr, reinterpret_cast<BYTE*>(&v), &size), E_INVALIDARG);

    // Another configuration takes them over.
    ComPtr<IWMStreamConfig> other;
    ASSERT_EQ(profile_->CreateNewStream(WMMEDIATYPE_Video, other.put()), S_OK);
    ComPtr<IWMPropertyVault> otherVault;
    ASSERT_EQ(other->QueryInterface(IID_IWMPropertyVault, otherVault.putVoid()), S_OK);
    ASSERT_EQ(otherVault->CopyPropertiesFrom(vault.get()), S_OK);
    DWORD count = 0;
    otherVault->GetPropertyCount(&count);
    DWORD ours = 0;
    vault->GetPropertyCount(&ours);
    EXPECT_EQ(count, ours);
    DWORD rmax = 0;
    ASSERT_EQ(otherVault->GetPropertyByName(u"_RMAX", &type, reinterpret_cast<BYTE*>(&rmax), &size), S_OK);
    EXPECT_EQ(rmax, 2000000u);
}

TEST_F(CodecInfoTest, StreamNamesAndNumbersAreChecked)
{
    ComPtr<IWMStreamConfig> config;
    ASSERT_EQ(info_->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, config.put()), S_OK);
    EXPECT_EQ(config->SetStreamName(nullptr), E_INVALIDARG);
    EXPECT_EQ(config->SetConnectionName(nullptr), E_INVALIDARG);
    std::u16string tooLong(257, u'x');
    EXPECT_EQ(config->SetStreamName(tooLong.data()), E_INVALIDARG);
    std::u16string longest(256, u'y');
    EXPECT_EQ(config->SetConnectionName(longest.data()), S_OK);
    WORD chars = 0;
    ASSERT_EQ(config->GetConnectionName(nullptr, &chars), S_OK);
    EXPECT_EQ(chars, 257);
    for (WORD bad : {0, 128, 65535}) EXPECT_EQ(config->SetStreamNumber(bad), E_INVALIDARG) << bad;
    for (WORD good : {1, 127}) {
        EXPECT_EQ(config->SetStreamNumber(good), S_OK);
        WORD back = 0;
        config->GetStreamNumber(&back);
        EXPECT_EQ(back, good);
    }
}

TEST_F(CodecInfoTest, AddStreamCopiesAndRefusesInvalidConfigurations)
{
    VideoStreamSpec spec;
    ASSERT_EQ(addVideoStream(info_.get(), profile_.get(), spec), S_OK);
    // Same number again.
    EXPECT_EQ(addVideoStream(info_.get(), profile_.get(), spec), E_INVALIDARG);
    ASSERT_EQ(addAudioStream(info_.get(), profile_.get(), 0, 2), S_OK);
    EXPECT_EQ(addAudioStream(info_.get(), profile_.get(), 1, 2), E_INVALIDARG);
    // No number set.
    {
        ComPtr<IWMStreamConfig> config;
        ASSERT_EQ(info_->GetCodecFormat(WMMEDIATYPE_Audio, 0, 0, config.put()), S_OK);
        EXPECT_EQ(profile_->AddStream(config.get()), E_INVALIDARG);
    }
    // No media type.
    {
        ComPtr<IWMStreamConfig> config;
        ASSERT_EQ(profile_->CreateNewStream(WMMEDIATYPE_Audio, config.put()), S_OK);
        config->SetStreamNumber(5);
        EXPECT_EQ(profile_->AddStream(config.get()), E_INVALIDARG);
    }
    EXPECT_EQ(profile_->AddStream(nullptr), E_POINTER);
    DWORD count = 0;
    ASSERT_EQ(profile_->GetStreamCount(&count), S_OK);
    EXPECT_EQ(count, 2u);

    // The profile holds a copy: later changes to a configuration do not reach it
    // until ReconfigStream.
    ComPtr<IWMStreamConfig> stream;
    ASSERT_EQ(profile_->GetStreamByNumber(1, stream.put()), S_OK);
    stream->SetBitrate(123);
    ComPtr<IWMStreamConfig> again;
    ASSERT_EQ(profile_->GetStream(0, again.put()), S_OK);
    DWORD bitrate = 0;
    again->GetBitrate(&bitrate);
    EXPECT_EQ(bitrate, spec.bitrate);
    ASSERT_EQ(profile_->ReconfigStream(stream.get()), S_OK);
    again.reset();
    ASSERT_EQ(profile_->GetStream(0, again.put()), S_OK);
    again->GetBitrate(&bitrate);
    EXPECT_EQ(bitrate, 123u);
    EXPECT_EQ(profile_->RemoveStreamByNumber(9), NS_E_INVALID_STREAM);
    EXPECT_EQ(profile_->RemoveStreamByNumber(2), S_OK);
}

TEST_F(CodecInfoTest, QueryInterfaceAnswersTheNamedInterfacesWithOneIdentity)
{
    struct Case {
        IUnknown* object;
        const IID* iid;
        HRESULT expected;
    };
    ComPtr<IWMStreamConfig> video, audio;
    ASSERT_EQ(info_->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, video.put()), S_OK);
    ASSERT_EQ(info_->GetCodecFormat(WMMEDIATYPE_Audio, 0, 0, audio.put()), S_OK);
    const Case cases[] = {
        {manager_.get(), &IID_IWMCodecInfo3, S_OK},      {manager_.get(), &IID_IWMCodecInfo, S_OK},
        {manager_.get(), &IID_IWMWriter, E_NOINTERFACE}, {video.get(), &IID_IWMMediaProps, S_OK},
        {video.get(), &IID_IWMVideoMediaProps, S_OK},    {video.get(), &IID_IWMPropertyVault, S_OK},
        {audio.get(), &IID_IWMMediaProps, S_OK},         {audio.get(), &IID_IWMVideoMediaProps, E_NOINTERFACE},
        {profile_.get(), &IID_IWMProfile, S_OK},         {profile_.get(), &IID_IWMStreamConfig, E_NOINTERFACE},
    };
    for (const auto& c : cases) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(c.object->QueryInterface(*c.iid, &p), c.expected);
        if (c.expected != S_OK) {
            EXPECT_EQ(p, nullptr);
            continue;
        }
        // Every interface of an object leads back to the same IUnknown.
        void* a = nullptr;
        void* b = nullptr;
        ASSERT_EQ(static_cast<IUnknown*>(p)->QueryInterface(IID_IUnknown, &a), S_OK);
        ASSERT_EQ(c.object->QueryInterface(IID_IUnknown, &b), S_OK);
        EXPECT_EQ(a, b);
        static_cast<IUnknown*>(a)->Release();
        static_cast<IUnknown*>(b)->Release();
        static_cast<IUnknown*>(p)->Release();
    }
    EXPECT_EQ(manager_->QueryInterface(IID_IWMCodecInfo3, nullptr), E_POINTER);
}

TEST_F(CodecInfoTest, ReferenceCountsAreRealAndObjectsGoWithTheirLastReference)
{
    // manager_ and info_ hold one reference each on the same object.
    EXPECT_EQ(manager_->AddRef(), 3u);
    EXPECT_EQ(manager_->Release(), 2u);
    EXPECT_EQ(info_->AddRef(), 3u);
    EXPECT_EQ(info_->Release(), 2u);
    const std::size_t before = liveObjectCount();
    {
        ComPtr<IWMStreamConfig> config;
        ASSERT_EQ(info_->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, config.put()), S_OK);
        EXPECT_EQ(liveObjectCount(), before + 1);
        ComPtr<IWMPropertyVault> vault;
        config->QueryInterface(IID_IWMPropertyVault, vault.putVoid());
        config.reset();  // the vault keeps the object alive
        EXPECT_EQ(liveObjectCount(), before + 1);
    }
    EXPECT_EQ(liveObjectCount(), before);
}

TEST_F(CodecInfoTest, EmptyProfileVersionsAndNullArguments)
{
    ComPtr<IWMProfile> p;
    EXPECT_EQ(manager_->CreateEmptyProfile(WMT_VER_8_0, p.put()), S_OK);
    EXPECT_EQ(manager_->CreateEmptyProfile(static_cast<WMT_VERSION>(0x12345), p.put()), E_INVALIDARG);
    EXPECT_EQ(manager_->CreateEmptyProfile(WMT_VER_9_0, nullptr), E_POINTER);
    WMT_VERSION version{};
    ASSERT_EQ(profile_->GetVersion(&version), S_OK);
    EXPECT_EQ(version, WMT_VER_9_0);
    EXPECT_EQ(createProfileManager(fakes_.services, nullptr), E_POINTER);
    EXPECT_EQ(info_->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, nullptr), E_POINTER);
}

}  // namespace
}  // namespace asfw::rt::test
