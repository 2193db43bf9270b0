// asfwriter: writes raw I420 video and 16-bit PCM audio into an ASF file
// holding a Windows Media Video 9 and/or Windows Media Audio 9 stream.
//
// One object writes one file. Typical use:
//   CAsfWriter w;
//   w.Init();
//   w.AddVideo(640, 480, 30000, 1001, 1000, 0, 1);   // stream 1 "Video"
//   w.AddAudio(44100, 2, 128);                        // stream 2 "Audio", returns 1
//   w.OpenFile("out.wmv");
//   w.WriteSample(0, frame, 640 * 480 * 3 / 2);       // I420 frame
//   w.WriteSample(1, pcm, 1920);                      // 48 kHz stereo s16 PCM
//   w.CloseFile();
//   w.Close();
// Every method returns -1 on failure; success is 0 (AddAudio: 1).
#ifndef ASFWRITER_ASFWRITER_H
#define ASFWRITER_ASFWRITER_H

#if defined(_WIN32)
#  if defined(ASFWRITER_BUILD)
#    define ASFWRITER_API __declspec(dllexport)
#  elif defined(ASFWRITER_STATIC)
#    define ASFWRITER_API
#  else
#    define ASFWRITER_API __declspec(dllimport)
#  endif
#else
#  define ASFWRITER_API __attribute__((visibility("default")))
#endif

struct IWMProfileManager;
struct IWMProfile;
struct IWMWriter;
struct IWMCodecInfo3;
struct IWMWriterPreprocess;

class ASFWRITER_API CAsfWriter {
public:
    CAsfWriter();
    CAsfWriter& operator=(const CAsfWriter& other);

    int Init();
    int AddAudio(int sampleRate, int channels, int maxKbps);
    int AddVideo(int width, int height, int frameRateNum, int frameRateDen,
                 int kbps, int quality, int passes);
    int OpenFile(const char* path);
    int StartPrePass();
    int EndPrePass();
    int WriteSample(int streamKind, unsigned char* data, int size);
    int CloseFile();
    void Close();

    IWMProfileManager* profileManager;
    IWMProfile* profile;
    IWMWriter* writer;
    IWMCodecInfo3* codecInfo;
    IWMWriterPreprocess* preprocessor;
    int audioInput;
    int videoInput;
    long long videoTime;
    long long audioTime;
    int frameRateNum;
    int frameRateDen;
    int inPrePass;
};

#endif
