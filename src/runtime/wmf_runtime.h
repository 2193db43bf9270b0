// Declarations of the media format runtime that the writer class drives:
// base types, result codes, GUIDs, media-type records and the
// reference-counted interfaces, named as the runtime publishes them.
// Written from the runtime's public documentation for builds off Windows;
// on Windows the platform's own interface is used instead (see
// src/writer/platform.h). Strings are UTF-16 everywhere (char16_t here).
#ifndef ASFWRITER_RUNTIME_WMF_RUNTIME_H
#define ASFWRITER_RUNTIME_WMF_RUNTIME_H

#include <cstdint>
#include <cstring>

// ---- base types -----------------------------------------------------------
typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::uint64_t QWORD;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef std::int64_t LONGLONG;
typedef std::int64_t REFERENCE_TIME;
typedef std::int32_t BOOL;
typedef std::int32_t HRESULT;
typedef char16_t WCHAR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
typedef std::uint32_t UINT;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define STDMETHODCALLTYPE
#define MAX_PATH 260

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

// ---- results ---------------------------------------------------------------
constexpr HRESULT MakeResult(std::uint32_t v) { return static_cast<HRESULT>(v); }
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeResult(0x80004003u);
constexpr HRESULT E_FAIL = MakeResult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057u);
constexpr HRESULT E_ACCESSDENIED = MakeResult(0x80070005u);
constexpr HRESULT E_DISK_FULL = MakeResult(0x80070070u);  // HRESULT_FROM_WIN32(ERROR_DISK_FULL)
constexpr HRESULT E_WRITE_FAULT = MakeResult(0x8007001Du); // HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)
constexpr HRESULT E_PATH_NOT_FOUND = MakeResult(0x80070003u);
constexpr HRESULT ASF_E_BUFFERTOOSMALL = MakeResult(0xC00D07D1u);  // a caller's buffer is too small
constexpr HRESULT NS_E_INVALID_REQUEST = MakeResult(0xC00D002Bu);
constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = MakeResult(0xC00D0BB8u);
constexpr HRESULT NS_E_INVALID_OUTPUT_FORMAT = MakeResult(0xC00D0BBBu);
constexpr HRESULT NS_E_INVALIDPROFILE = MakeResult(0xC00D0BC6u);
constexpr HRESULT NS_E_UNSUPPORTED_PROPERTY = MakeResult(0xC00D0BCDu);
constexpr HRESULT NS_E_INVALID_NUM_PASSES = MakeResult(0xC00D0BD5u);
constexpr HRESULT NS_E_INVALID_STATE = MakeResult(0xC00D0BC5u);  // UNVERIFIED value (0xC00D0BC5 is the video codec error)
constexpr HRESULT NS_E_INVALID_DATA = MakeResult(0xC00D002Fu);
constexpr HRESULT NS_E_LATE_OPERATION = MakeResult(0xC00D002Eu);
constexpr HRESULT NS_E_INVALID_STREAM = MakeResult(0xC00D003Cu);

// ---- GUIDs -----------------------------------------------------------------
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
typedef GUID IID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }

extern const GUID GUID_NULL;
extern const GUID WMMEDIATYPE_Video;
extern const GUID WMMEDIATYPE_Audio;
extern const GUID WMMEDIASUBTYPE_I420;
extern const GUID WMMEDIASUBTYPE_IYUV;
extern const GUID WMMEDIASUBTYPE_YV12;
extern const GUID WMMEDIASUBTYPE_PCM;
extern const GUID WMMEDIASUBTYPE_WMV3;
extern const GUID WMMEDIASUBTYPE_WMAudioV8;  // format tag 0x0161
extern const GUID WMFORMAT_VideoInfo;
extern const GUID WMFORMAT_WaveFormatEx;

extern const IID IID_IUnknown;
extern const IID IID_IWMProfileManager;
extern const IID IID_IWMProfile;
extern const IID IID_IWMStreamConfig;
extern const IID IID_IWMMediaProps;
extern const IID IID_IWMVideoMediaProps;
extern const IID IID_IWMInputMediaProps;
extern const IID IID_IWMPropertyVault;
extern const IID IID_IWMCodecInfo;
extern const IID IID_IWMCodecInfo2;
extern const IID IID_IWMCodecInfo3;
extern const IID IID_IWMWriter;
extern const IID IID_IWMWriterPreprocess;
extern const IID IID_INSSBuffer;

// ---- enumerations and constants -------------------------------------------
enum WMT_VERSION {
    WMT_VER_4_0 = 0x00040000,
    WMT_VER_7_0 = 0x00070000,
    WMT_VER_8_0 = 0x00080000,
    WMT_VER_9_0 = 0x00090000
};

enum WMT_ATTR_DATATYPE {
    WMT_TYPE_DWORD = 0,
    WMT_TYPE_STRING = 1,
    WMT_TYPE_BINARY = 2,
    WMT_TYPE_BOOL = 3,
    WMT_TYPE_QWORD = 4,
    WMT_TYPE_WORD = 5,
    WMT_TYPE_GUID = 6
};

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr DWORD WM_SF_CLEANPOINT = 0x1;
constexpr DWORD WM_SF_DISCONTINUITY = 0x2;
constexpr DWORD BI_RGB = 0;

// ---- records ---------------------------------------------------------------
struct WM_MEDIA_TYPE;
struct IUnknown;

struct WM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

#pragma pack(push, 2)
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
#pragma pack(pop)

struct WMVIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)

static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER layout");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX layout");
static_assert(sizeof(WMVIDEOINFOHEADER) == 88, "WMVIDEOINFOHEADER layout");

constexpr DWORD MakeFourCC(char a, char b, char c, char d)
{
    return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
           (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}

// ---- interfaces --------------------------------------------------------------
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
protected:
    ~IUnknown() = default;
};

struct INSSBuffer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLength(DWORD* pdwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLength(DWORD dwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* pdwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** ppdwBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) = 0;
protected:
    ~INSSBuffer() = default;
};

struct IWMMediaProps : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetType(GUID* pguidType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* pType) = 0;
protected:
    ~IWMMediaProps() = default;
};

struct IWMVideoMediaProps : IWMMediaProps {
    virtual HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG* pllTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG llTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetQuality(DWORD* pdwQuality) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetQuality(DWORD dwQuality) = 0;
protected:
    ~IWMVideoMediaProps() = default;
};

struct IWMInputMediaProps : IWMMediaProps {
    virtual HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* pwszName, WORD* pcchName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGroupName(WCHAR* pwszName, WORD* pcchName) = 0;
protected:
    ~IWMInputMediaProps() = default;
};

struct IWMPropertyVault : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPropertyCount(DWORD* pdwCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyByName(LPCWSTR pszName, WMT_ATTR_DATATYPE* pType,
                                                        BYTE* pValue, DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperty(LPCWSTR pszName, WMT_ATTR_DATATYPE pType, BYTE* pValue,
                                                  DWORD dwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyByIndex(DWORD dwIndex, LPWSTR pszName, DWORD* pdwNameLen,
                                                         WMT_ATTR_DATATYPE* pType, BYTE* pValue,
                                                         DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyPropertiesFrom(IWMPropertyVault* pIWMPropertyVault) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
protected:
    ~IWMPropertyVault() = default;
};

struct IWMStreamConfig : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetStreamType(GUID* pguidStreamType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* pwStreamNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD wStreamNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamName(WCHAR* pwszStreamName, WORD* pcchStreamName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStreamName(WCHAR* pwszStreamName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* pwszInputName, WORD* pcchInputName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetConnectionName(WCHAR* pwszInputName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* pdwBitrate) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBitrate(DWORD pdwBitrate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* pmsBufferWindow) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD msBufferWindow) = 0;
protected:
    ~IWMStreamConfig() = default;
};

struct IWMProfile : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION* pdwVersion) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* pcStreams) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStream(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamByNumber(WORD wStreamNum, IWMStreamConfig** ppConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveStream(IWMStreamConfig* pConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveStreamByNumber(WORD wStreamNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* pConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReconfigStream(IWMStreamConfig* pConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID guidStreamType, IWMStreamConfig** ppConfig) = 0;
protected:
    ~IWMProfile() = default;
};

struct IWMProfileManager : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION dwVersion, IWMProfile** ppProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadProfileByID(REFGUID guidProfile, IWMProfile** ppProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadProfileByData(const WCHAR* pwszProfile, IWMProfile** ppProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveProfile(IWMProfile* pIWMProfile, WCHAR* pwszProfile,
                                                  DWORD* pdwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSystemProfileCount(DWORD* pcProfiles) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadSystemProfile(DWORD dwProfileIndex, IWMProfile** ppProfile) = 0;
protected:
    ~IWMProfileManager() = default;
};

struct IWMCodecInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCodecInfoCount(REFGUID guidType, DWORD* pcCodecs) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodecFormatCount(REFGUID guidType, DWORD dwCodecIndex,
                                                          DWORD* pcFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodecFormat(REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex,
                                                     IWMStreamConfig** ppIStreamConfig) = 0;
protected:
    ~IWMCodecInfo() = default;
};

struct IWMCodecInfo2 : IWMCodecInfo {
    virtual HRESULT STDMETHODCALLTYPE GetCodecName(REFGUID guidType, DWORD dwCodecIndex, WCHAR* wszName,
                                                   DWORD* pcchName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodecFormatDesc(REFGUID guidType, DWORD dwCodecIndex,
                                                         DWORD dwFormatIndex, IWMStreamConfig** ppIStreamConfig,
                                                         WCHAR* wszDesc, DWORD* pcchDesc) = 0;
protected:
    ~IWMCodecInfo2() = default;
};

struct IWMCodecInfo3 : IWMCodecInfo2 {
    virtual HRESULT STDMETHODCALLTYPE GetCodecFormatProp(REFGUID guidType, DWORD dwCodecIndex,
                                                         DWORD dwFormatIndex, const WCHAR* pszName,
                                                         WMT_ATTR_DATATYPE* pType, BYTE* pValue,
                                                         DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodecProp(REFGUID guidType, DWORD dwCodecIndex, const WCHAR* pszName,
                                                   WMT_ATTR_DATATYPE* pType, BYTE* pValue, DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCodecEnumerationSetting(REFGUID guidType, DWORD dwCodecIndex,
                                                                 const WCHAR* pszName, WMT_ATTR_DATATYPE Type,
                                                                 const BYTE* pValue, DWORD dwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodecEnumerationSetting(REFGUID guidType, DWORD dwCodecIndex,
                                                                 const WCHAR* pszName, WMT_ATTR_DATATYPE* pType,
                                                                 BYTE* pValue, DWORD* pdwSize) = 0;
protected:
    ~IWMCodecInfo3() = default;
};

struct IWMWriter : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID guidProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile* pProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* pwszFilename) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* pcInputs) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputProps(DWORD dwInputNum, IWMInputMediaProps** ppInput) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInputProps(DWORD dwInputNum, IWMInputMediaProps* pInput) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD dwInputNumber, DWORD* pcFormats) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD dwInputNumber, DWORD dwFormatNumber,
                                                     IWMInputMediaProps** pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginWriting() = 0;
    virtual HRESULT STDMETHODCALLTYPE EndWriting() = 0;
    virtual HRESULT STDMETHODCALLTYPE AllocateSample(DWORD dwSampleSize, INSSBuffer** ppSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteSample(DWORD dwInputNum, QWORD cnsSampleTime, DWORD dwFlags,
                                                  INSSBuffer* pSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE Flush() = 0;
protected:
    ~IWMWriter() = default;
};

struct IWMWriterPreprocess : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetMaxPreprocessingPasses(DWORD dwInputNum, DWORD dwFlags,
                                                                DWORD* pdwMaxNumPasses) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNumPreprocessingPasses(DWORD dwInputNum, DWORD dwFlags,
                                                                DWORD dwNumPasses) = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginPreprocessingPass(DWORD dwInputNum, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE PreprocessSample(DWORD dwInputNum, QWORD cnsSampleTime, DWORD dwFlags,
                                                       INSSBuffer* pSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndPreprocessingPass(DWORD dwInputNum, DWORD dwFlags) = 0;
protected:
    ~IWMWriterPreprocess() = default;
};

// ---- factories -------------------------------------------------------------
// Provided at link time: the built-in runtime in the product, a recording
// stand-in in the writer's tests.
HRESULT WMCreateProfileManager(IWMProfileManager** ppProfileManager);
HRESULT WMCreateWriter(IUnknown* pUnkCert, IWMWriter** ppWriter);

#endif
