// A host program's view of the library: only the public header.
#include <AsfWriter.h>

int DriveWriter(unsigned char* frame, int frameBytes, unsigned char* pcm, int pcmBytes)
{
    CAsfWriter writer;
    if (writer.Init() != 0)
        return -1;
    if (writer.AddVideo(640, 480, 30000, 1001, 1000, 0, 1) != 0 || writer.AddAudio(44100, 2, 128) != 1 ||
        writer.OpenFile("out.wmv") != 0) {
        writer.Close();
        return -1;
    }
    writer.StartPrePass();
    writer.WriteSample(0, frame, frameBytes);
    writer.EndPrePass();
    writer.WriteSample(0, frame, frameBytes);
    writer.WriteSample(1, pcm, pcmBytes);
    CAsfWriter copy;
    copy = writer;
    const int closed = copy.CloseFile();
    copy.Close();
    return closed + (writer.videoInput + writer.audioInput) * 0;
}
