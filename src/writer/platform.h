// The one platform header of the writer class. The class's code is the same
// everywhere; only what this header pulls in differs.
//
// Off Windows: the project's declarations of the media format runtime and
// the portable string services (src/runtime/).
//
// On Windows, writer/platform_win32.h must make these names available, with
// the platform's published signatures:
//  - types and macros: HRESULT, FAILED, SUCCEEDED, BYTE, WORD, DWORD, QWORD,
//    LONGLONG, BOOL, TRUE, FALSE, WCHAR (16-bit), LPCWSTR, MAX_PATH, GUID;
//  - records: WM_MEDIA_TYPE, WAVEFORMATEX, WMVIDEOINFOHEADER with its
//    BITMAPINFOHEADER and RECT members;
//  - constants: WMT_VER_9_0, WMT_ATTR_DATATYPE with WMT_TYPE_DWORD and
//    WMT_TYPE_BOOL, WAVE_FORMAT_PCM, CP_ACP;
//  - GUIDs (declared here, defined at link time): WMMEDIATYPE_Audio,
//    WMMEDIATYPE_Video, WMMEDIASUBTYPE_I420, IID_IWMCodecInfo3,
//    IID_IWMMediaProps, IID_IWMVideoMediaProps, IID_IWMPropertyVault,
//    IID_IWMWriterPreprocess;
//  - interfaces: IWMProfileManager, IWMProfile, IWMCodecInfo3,
//    IWMStreamConfig, IWMMediaProps, IWMVideoMediaProps, IWMInputMediaProps,
//    IWMPropertyVault, IWMWriter, IWMWriterPreprocess, INSSBuffer;
//  - functions: WMCreateProfileManager, WMCreateWriter (WMVCore),
//    MultiByteToWideChar, lstrcmpW (kernel32), StrCmpNIW (shlwapi).
// ASFW_WSTR(x) is defined below for both worlds.
#ifndef ASFWRITER_WRITER_PLATFORM_H
#define ASFWRITER_WRITER_PLATFORM_H

#if defined(_WIN32)
#include "writer/platform_win32.h"
// A UTF-16 string literal of the platform's WCHAR type.
#define ASFW_WSTR(x) L##x
#else
#include "runtime/wmf_runtime.h"
#include "runtime/winstring.h"
#define ASFW_WSTR(x) u##x
#endif

#endif
