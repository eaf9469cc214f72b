// The component's properties, its format rule and its buffer memory: all that
// holds without an open device.
#include <gtest/gtest.h>

#include "audio/audio_memory.h"
#include "audio_probe.h"

namespace zelvo::test {
namespace {

class AudioProperties : public ::testing::Test {
protected:
    void TearDown() override { audio_memory::ClearFaults(); }
    wave::TSimWaveOut Sim;
};

TEST_F(AudioProperties, FreshComponentDefaults) {
    TProbe Out(&Sim);
    EXPECT_EQ(Out.BufferSize(), 8192);
    EXPECT_EQ(Out.NumBuffers(), 4);
    EXPECT_EQ(Out.FrameRate(), 22050);
    EXPECT_FALSE(Out.Stereo());
    EXPECT_EQ(Out.Quantization(), 16);
    EXPECT_EQ(Out.WaveDevice(), 0xFFFFFFFFu);
    EXPECT_FALSE(Out.Paused());
    EXPECT_FALSE(Out.Active);
    EXPECT_EQ(Out.ErrorMessage, "");
    EXPECT_EQ(Out.Format().wFormatTag, 1);
    EXPECT_EQ(Out.Format().nBlockAlign, 2);
    EXPECT_EQ(Out.Format().nAvgBytesPerSec, 44100u);
    EXPECT_EQ(Out.Format().cbSize, 0);
    EXPECT_EQ(Out.ElapsedTime(), 0.0);
    for (int I = 0; I < 4; ++I) {
        ASSERT_NE(Out.Buffer(I), nullptr);
        ASSERT_NE(Out.Header(I), nullptr);
        EXPECT_EQ(Out.Header(I)->lpData, Out.Buffer(I));
        EXPECT_EQ(Out.Header(I)->dwFlags, 0u);
    }
}

TEST_F(AudioProperties, BufferSizeIsClampedAndRoundedToWholeFrames) {
    struct TCase {
        bool Stereo;
        uint16_t Bits;
        int32_t Written;
        int32_t Reads;
    };
    for (const TCase& C : {TCase{true, 16, 100, 512}, TCase{false, 16, 100, 512},
                           TCase{true, 16, 16383, 16380}, TCase{false, 16, 16383, 16382},
                           TCase{true, 16, 64536, 64536}, TCase{true, 24, 1000, 996},
                           TCase{false, 8, 513, 513}, TCase{true, 16, -7, 512}}) {
        SCOPED_TRACE(testing::Message() << C.Stereo << " " << C.Bits << " " << C.Written);
        TProbe Out(&Sim);
        Out.SetStereo(C.Stereo);
        Out.SetQuantization(C.Bits);
        Out.SetBufferSize(C.Written);
        EXPECT_EQ(Out.BufferSize(), C.Reads);
        EXPECT_EQ(Out.Header(0)->lpData, Out.Buffer(0));
    }
}

TEST_F(AudioProperties, FormatSettersReapplyTheFormatRule) {
    TProbe Out(&Sim);
    Out.SetBufferSize(16383);  // mono: 16382
    Out.SetStereo(true);
    EXPECT_EQ(Out.BufferSize(), 16380);
    Out.SetFrameRate(44100);
    EXPECT_EQ(Out.Format().nBlockAlign, 4);
    EXPECT_EQ(Out.Format().nAvgBytesPerSec, 176400u);
    EXPECT_EQ(Out.FrameRate(), 44100);
    Out.SetFrameRate(-5);  // stored as given; the device refuses it at open
    EXPECT_EQ(Out.FrameRate(), -5);
}

TEST_F(AudioProperties, NumBuffersIsClampedToTwoToFour) {
    TProbe Out(&Sim);
    for (auto [Written, Reads] : {std::pair{7, 4}, {1, 2}, {0, 2}, {-5, 2}, {3, 3}, {4, 4}}) {
        Out.SetNumBuffers(Written);
        EXPECT_EQ(Out.NumBuffers(), Reads) << Written;
    }
}

TEST_F(AudioProperties, QuantizationIsClampedAndGivesWholeBytesPerSample) {
    TProbe Out(&Sim);
    struct TCase {
        uint16_t Written, Reads;
        bool Stereo;
        uint16_t Align;
    };
    for (const TCase& C : {TCase{4, 8, false, 1}, TCase{32, 24, false, 3},
                           TCase{65535, 24, true, 6}, TCase{12, 12, false, 1},
                           TCase{12, 12, true, 2}, TCase{8, 8, true, 2}}) {
        Out.SetStereo(C.Stereo);
        Out.SetQuantization(C.Written);
        EXPECT_EQ(Out.Quantization(), C.Reads) << C.Written;
        EXPECT_EQ(Out.Format().nBlockAlign, C.Align) << C.Written;
        EXPECT_EQ(Out.Format().nAvgBytesPerSec, 22050u * C.Align) << C.Written;
    }
}

TEST_F(AudioProperties, OnlyBufferSizeAllocatesAndOnlyForTheRingThenInForce) {
    TProbe Out(&Sim);
    uint8_t* Third = Out.Buffer(2);
    Out.SetNumBuffers(2);
    EXPECT_EQ(Out.Buffer(2), Third);  // NumBuffers alone changes nothing
    Out.SetBufferSize(1024);
    EXPECT_NE(Out.Buffer(0), nullptr);
    EXPECT_NE(Out.Buffer(1), nullptr);
    EXPECT_EQ(Out.Buffer(2), nullptr);
    EXPECT_EQ(Out.Buffer(3), nullptr);
    EXPECT_EQ(Out.Header(0)->lpData, Out.Buffer(0));
    EXPECT_EQ(Out.Header(1)->lpData, Out.Buffer(1));
    for (int I = 0; I < 4; ++I)
        EXPECT_NE(Out.Header(I), nullptr);  // headers stay, whatever the ring
}

TEST_F(AudioProperties, AllocationFailuresLeaveTheirTextAndNoPartialSet) {
    struct TCase {
        const char* Name;
        bool AtConstruction;
        bool Lock;
        int Nth;
        const char* Text;
        bool HeadersGone, BuffersGone;
    };
    // At construction the four headers come first (allocations 1-4, locks 1-4).
    for (const TCase& C : {
             TCase{"header alloc", true, false, 3, "Error allocating wave header memory", true, false},
             TCase{"header lock", true, true, 1, "Could not lock header memory for recording", true,
                   false},
             TCase{"buffer alloc", true, false, 6, "Error allocating wave buffer memory", false, true},
             TCase{"buffer lock", false, true, 4, "Error Locking wave buffer memory", false, true},
             TCase{"buffer alloc later", false, false, 2, "Error allocating wave buffer memory",
                   false, true},
         }) {
        SCOPED_TRACE(C.Name);
        std::unique_ptr<TProbe> Out;
        if (!C.AtConstruction)
            Out = std::make_unique<TProbe>(&Sim);
        (C.Lock ? audio_memory::FailLock : audio_memory::FailAllocation)(C.Nth);
        if (C.AtConstruction)
            Out = std::make_unique<TProbe>(&Sim);
        else
            Out->SetBufferSize(2048);
        audio_memory::ClearFaults();
        EXPECT_EQ(Out->ErrorMessage, C.Text);
        for (int I = 0; I < 4; ++I) {
            EXPECT_EQ(Out->Header(I) == nullptr, C.HeadersGone) << I;
            EXPECT_EQ(Out->Buffer(I) == nullptr, C.BuffersGone) << I;
        }

        // Start hands no missing memory to the device or to the owner, and
        // says why it is missing, also to an owner that cleared the text.
        int Fills = 0;
        Out->OnFillBuffer = [&](uint8_t*, int32_t&) { return ++Fills, true; };
        const size_t Opens = Sim.Playbacks().size();
        EXPECT_FALSE(Out->Start(nullptr));
        EXPECT_EQ(Out->ErrorMessage, C.Text);
        Out->ErrorMessage.clear();
        EXPECT_FALSE(Out->Start(nullptr));
        EXPECT_EQ(Out->ErrorMessage, C.Text);
        EXPECT_EQ(Fills, 0);
        EXPECT_EQ(Sim.Playbacks().size(), Opens);
        EXPECT_FALSE(Out->Active);
    }
}

TEST_F(AudioProperties, StartRefusesARingThatNoLongerMatchesItsMemory) {
    TProbe Out(&Sim);
    Out.OnFillBuffer = [](uint8_t*, int32_t&) { return true; };
    // More buffers asked for after the ring was allocated.
    Out.SetNumBuffers(2);
    Out.SetBufferSize(1024);
    Out.SetNumBuffers(3);
    EXPECT_FALSE(Out.Start(nullptr));
    EXPECT_EQ(Out.ErrorMessage, "Wave buffer memory is missing");

    // A format change that makes the buffers larger than what was allocated.
    Out.SetStereo(true);
    Out.SetBufferSize(16383);  // 16380 for stereo
    Out.SetStereo(false);      // 16382 for mono
    EXPECT_FALSE(Out.Start(nullptr));
    EXPECT_EQ(Out.ErrorMessage, "Wave buffer memory is missing");
    EXPECT_TRUE(Sim.Playbacks().empty());

    Out.SetBufferSize(16383);
    EXPECT_TRUE(Out.Start(nullptr));
    Out.StopAtOnce();
}

} // namespace
} // namespace zelvo::test
