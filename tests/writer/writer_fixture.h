// Shared fixture of the writer class's tests: a fresh recording runtime with
// typical codecs and inputs, and a check after every test that each
// reference handed out was given back exactly once.
#ifndef ASFWRITER_TESTS_WRITER_WRITER_FIXTURE_H
#define ASFWRITER_TESTS_WRITER_WRITER_FIXTURE_H

#include "AsfWriter.h"
#include "recording_runtime.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class WriterTest : public ::testing::Test {
protected:
    rec::Runtime& rt = rec::Runtime::Get();
    CAsfWriter w;
    // Set false by a test that has already closed the object's references
    // through a copy.
    bool closeAtEnd = true;

    void SetUp() override { ResetRuntime(); }

    void TearDown() override
    {
        if (closeAtEnd)
            w.Close();
        ExpectBalanced();
    }

    void ResetRuntime()
    {
        rt.Reset();
        rt.audioCodecs = rec::StandardAudioCodecs();
        rt.videoCodecs = rec::StandardVideoCodecs();
        rt.inputs = rec::StandardInputs();
    }

    void ExpectBalanced()
    {
        EXPECT_EQ(std::vector<std::string>{}, rt.Unbalanced()) << "references still held";
        EXPECT_EQ(std::vector<std::string>{}, rt.errors) << "misuse of runtime objects";
    }

    void InitOk()
    {
        ASSERT_EQ(0, w.Init());
        rt.log.clear();
    }

    // Init, the video stream (30000/1001 unless told), the audio stream and
    // OpenFile; the log starts afresh afterwards.
    void OpenOk(int rateNum = 30000, int rateDen = 1001, bool withAudio = true)
    {
        ASSERT_EQ(0, w.Init());
        ASSERT_EQ(0, w.AddVideo(640, 480, rateNum, rateDen, 1000, 0, 1));
        if (withAudio) {
            ASSERT_EQ(1, w.AddAudio(44100, 2, 128));
        }
        ASSERT_EQ(0, w.OpenFile("out.wmv"));
        rt.log.clear();
        rt.samples.clear();
    }
};

#endif
