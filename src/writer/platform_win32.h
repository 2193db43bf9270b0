// The writer class on 32-bit Windows: the media format runtime, the string
// services and the media records come from the platform's own headers as
// the toolchain ships them. What those headers leave out but the class uses
// is declared here, after the runtime's published documentation.
#ifndef ASFWRITER_WRITER_PLATFORM_WIN32_H
#define ASFWRITER_WRITER_PLATFORM_WIN32_H

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmreg.h>
#include <shlwapi.h>
#include <wmsdk.h>

// ---- video media properties ---------------------------------------------------
// Obtained from a video stream configuration; sets the largest distance
// between two key frames (100-nanosecond units) and the video quality.
#ifndef __IWMVideoMediaProps_INTERFACE_DEFINED__
#define __IWMVideoMediaProps_INTERFACE_DEFINED__
struct IWMVideoMediaProps : public IWMMediaProps {
    virtual HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG* pllTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG llTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetQuality(DWORD* pdwQuality) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetQuality(DWORD dwQuality) = 0;
};
// {96406BCF-2B2B-11D3-B36B-00C04F6108FF}
extern "C" const IID IID_IWMVideoMediaProps;
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IWMVideoMediaProps, 0x96406BCF, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF)
#endif
#endif

// ---- video format block -----------------------------------------------------
// The format block (pbFormat) of a video media type whose format type is
// WMFORMAT_VideoInfo: source and target rectangles, bit rate, bit error
// rate, frame duration (100-nanosecond units) and the picture's bitmap header.
typedef LONGLONG REFERENCE_TIME;

// Format types of a media type's format block (formattype).
extern "C" const GUID WMFORMAT_VideoInfo;
extern "C" const GUID WMFORMAT_WaveFormatEx;

#ifndef ASFW_HAVE_WMVIDEOINFOHEADER
#define ASFW_HAVE_WMVIDEOINFOHEADER
typedef struct tagWMVIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
} WMVIDEOINFOHEADER;
#endif

static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER layout");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX layout");
static_assert(sizeof(WMVIDEOINFOHEADER) == 88, "WMVIDEOINFOHEADER layout");
static_assert(sizeof(WCHAR) == 2, "UTF-16 code units");

#endif
