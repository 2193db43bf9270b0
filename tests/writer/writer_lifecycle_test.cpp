// Construction, copy assignment, Init, CloseFile and Close.
#include "writer_fixture.h"

#include <functional>

namespace {

using Log = std::vector<std::string>;

struct Refs {
    bool manager, profile, codecInfo, writer;
};

Refs Held(const CAsfWriter& w)
{
    return Refs{w.profileManager != nullptr, w.profile != nullptr, w.codecInfo != nullptr, w.writer != nullptr};
}

TEST_F(WriterTest, ConstructionLeavesNoReferencesAndNoInputs)
{
    EXPECT_EQ(nullptr, w.profileManager);
    EXPECT_EQ(nullptr, w.profile);
    EXPECT_EQ(nullptr, w.writer);
    EXPECT_EQ(nullptr, w.codecInfo);
    EXPECT_EQ(nullptr, w.preprocessor);
    EXPECT_EQ(-1, w.audioInput);
    EXPECT_EQ(-1, w.videoInput);
}

TEST_F(WriterTest, CloseOnFreshObjectOnlyResetsInputNumbers)
{
    w.audioInput = 3;
    w.videoInput = 4;
    w.videoTime = 77;
    w.Close();
    EXPECT_EQ(Log{}, rt.log);
    EXPECT_EQ(-1, w.audioInput);
    EXPECT_EQ(-1, w.videoInput);
    EXPECT_EQ(77, w.videoTime);
}

TEST_F(WriterTest, InitCreatesFourObjectsInOrderAndCloseReleasesThemInOrder)
{
    ASSERT_EQ(0, w.Init());
    EXPECT_EQ((Log{"WMCreateProfileManager()", "manager.CreateEmptyProfile(0x90000)",
                   "manager.QueryInterface(IWMCodecInfo3)", "WMCreateWriter(null)"}),
              rt.log);
    // The codec information is the profile manager's own interface.
    EXPECT_EQ(2, rt.RefCount("manager"));
    EXPECT_EQ(1, rt.RefCount("profile"));
    EXPECT_EQ(1, rt.RefCount("writer"));

    rt.log.clear();
    w.audioInput = 1;
    w.videoInput = 0;
    w.Close();
    EXPECT_EQ((Log{"writer.Release", "profile.Release", "manager.Release", "manager.Release"}), rt.log);
    EXPECT_EQ(nullptr, w.profileManager);
    EXPECT_EQ(nullptr, w.profile);
    EXPECT_EQ(nullptr, w.writer);
    EXPECT_EQ(nullptr, w.codecInfo);
    EXPECT_EQ(-1, w.audioInput);
    EXPECT_EQ(-1, w.videoInput);
}

TEST_F(WriterTest, InitFailingPartWayKeepsWhatItGotForClose)
{
    struct Case {
        const char* failing;
        Refs kept;
    };
    const Case cases[] = {
        {"WMCreateProfileManager", {false, false, false, false}},
        {"CreateEmptyProfile", {true, false, false, false}},
        {"QueryInterface(IWMCodecInfo3)", {true, true, false, false}},
        {"WMCreateWriter", {true, true, true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        ResetRuntime();
        CAsfWriter obj;
        rt.Fail(c.failing);
        EXPECT_EQ(-1, obj.Init());
        const Refs held = Held(obj);
        EXPECT_EQ(c.kept.manager, held.manager);
        EXPECT_EQ(c.kept.profile, held.profile);
        EXPECT_EQ(c.kept.codecInfo, held.codecInfo);
        EXPECT_EQ(c.kept.writer, held.writer);

        // Without Close the held references would be overwritten: refused.
        if (held.manager) {
            const std::size_t calls = rt.log.size();
            EXPECT_EQ(-1, obj.Init());
            EXPECT_EQ(calls, rt.log.size());
        }

        obj.Close();
        ExpectBalanced();

        // Closed, the object initialises as a new one.
        rt.ClearFailures();
        EXPECT_EQ(0, obj.Init());
        obj.Close();
        ExpectBalanced();
    }
}

TEST_F(WriterTest, InitTwiceIsRefusedWithoutCallsOrLeaks)
{
    ASSERT_EQ(0, w.Init());
    IWMWriter* first = w.writer;
    rt.log.clear();
    EXPECT_EQ(-1, w.Init());
    EXPECT_EQ(Log{}, rt.log);
    EXPECT_EQ(first, w.writer);
}

TEST_F(WriterTest, InitAgainAfterCloseWorksLikeANewObject)
{
    ASSERT_EQ(0, w.Init());
    const Log first = rt.log;
    w.Close();
    rt.log.clear();
    ASSERT_EQ(0, w.Init());
    EXPECT_EQ(first, rt.log);
}

TEST_F(WriterTest, CopyAssignmentSharesReferencesWithoutCounting)
{
    OpenOk();
    ASSERT_EQ(0, w.StartPrePass());
    w.videoTime = 123;
    w.audioTime = 456;
    const long managerRefs = rt.RefCount("manager");
    const long writerRefs = rt.RefCount("writer");
    const long profileRefs = rt.RefCount("profile");
    rt.log.clear();

    CAsfWriter copy;
    copy = w;
    EXPECT_EQ(Log{}, rt.log);
    EXPECT_EQ(managerRefs, rt.RefCount("manager"));
    EXPECT_EQ(writerRefs, rt.RefCount("writer"));
    EXPECT_EQ(profileRefs, rt.RefCount("profile"));
    EXPECT_EQ(w.profileManager, copy.profileManager);
    EXPECT_EQ(w.profile, copy.profile);
    EXPECT_EQ(w.writer, copy.writer);
    EXPECT_EQ(w.codecInfo, copy.codecInfo);
    EXPECT_EQ(w.preprocessor, copy.preprocessor);
    EXPECT_EQ(w.audioInput, copy.audioInput);
    EXPECT_EQ(w.videoInput, copy.videoInput);
    EXPECT_EQ(w.videoTime, copy.videoTime);
    EXPECT_EQ(w.audioTime, copy.audioTime);
    EXPECT_EQ(w.frameRateNum, copy.frameRateNum);
    EXPECT_EQ(w.frameRateDen, copy.frameRateDen);
    EXPECT_EQ(w.inPrePass, copy.inPrePass);

    // Closing one of the two gives back every reference once.
    copy.EndPrePass();
    copy.CloseFile();
    copy.Close();
    closeAtEnd = false;
}

TEST_F(WriterTest, CloseFileReportsWhetherTheRuntimeFinishedTheFile)
{
    struct Case {
        bool fail;
        int expected;
    };
    for (const Case c : {Case{false, 0}, Case{true, -1}}) {
        SCOPED_TRACE(c.fail);
        ResetRuntime();
        CAsfWriter obj;
        ASSERT_EQ(0, obj.Init());
        if (c.fail)
            rt.Fail("EndWriting");
        rt.log.clear();
        EXPECT_EQ(c.expected, obj.CloseFile());
        EXPECT_EQ(Log{"writer.EndWriting()"}, rt.log);
        obj.Close();
        ExpectBalanced();
    }
}

// Every method that needs a successful Init refuses, without a runtime call,
// on a new object, after Init failed part-way and after Close.
TEST_F(WriterTest, MethodsNeedingInitRefuseWithoutCalls)
{
    unsigned char bytes[16] = {};
    struct Method {
        const char* name;
        std::function<int(CAsfWriter&)> call;
        int expected;
    };
    const Method methods[] = {
        {"AddAudio", [](CAsfWriter& o) { return o.AddAudio(44100, 2, 128); }, -1},
        {"AddVideo", [](CAsfWriter& o) { return o.AddVideo(640, 480, 30, 1, 1000, 0, 1); }, -1},
        {"OpenFile", [](CAsfWriter& o) { return o.OpenFile("x.wmv"); }, -1},
        {"StartPrePass",
         [](CAsfWriter& o) {
             o.videoInput = 0;
             return o.StartPrePass();
         },
         -1},
        {"WriteSample video",
         [&bytes](CAsfWriter& o) {
             o.videoInput = 0;
             o.frameRateNum = 30;
             o.frameRateDen = 1;
             return o.WriteSample(0, bytes, 16);
         },
         -1},
        {"WriteSample audio",
         [&bytes](CAsfWriter& o) {
             o.audioInput = 1;
             return o.WriteSample(1, bytes, 16);
         },
         -1},
        {"CloseFile", [](CAsfWriter& o) { return o.CloseFile(); }, 0},
        {"EndPrePass", [](CAsfWriter& o) { return o.EndPrePass(); }, 0},
    };
    enum Phase { kNew, kPartialInit, kClosed };
    for (Phase phase : {kNew, kPartialInit, kClosed}) {
        for (const Method& m : methods) {
            SCOPED_TRACE(std::string(m.name) + " phase " + std::to_string(phase));
            ResetRuntime();
            CAsfWriter obj;
            if (phase == kPartialInit) {
                rt.Fail("WMCreateWriter");
                ASSERT_EQ(-1, obj.Init());
            } else if (phase == kClosed) {
                ASSERT_EQ(0, obj.Init());
                obj.Close();
            }
            rt.log.clear();
            EXPECT_EQ(m.expected, m.call(obj));
            EXPECT_EQ(Log{}, rt.log);
            obj.Close();
            ExpectBalanced();
        }
    }
}

}  // namespace
