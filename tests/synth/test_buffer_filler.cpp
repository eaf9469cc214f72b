#include <gtest/gtest.h>

#include <vector>

#include "synth/buffer_filler.h"
#include "synth/errors.h"
#include "tests/support/expected_signal.h"

using namespace zelvo;

namespace {

struct FakeHost : TFillerHost {
    bool Loop = true;
    int32_t Buffers = 4, Size = 16384;
    int Stops = 0;
    std::vector<std::string> Messages;
    bool LoopChecked() override { return Loop; }
    int32_t NumBuffers() override { return Buffers; }
    int32_t BufferSize() override { return Size; }
    void StopAtOnce() override { ++Stops; }
    void ShowMessage(const std::string& T) override { Messages.push_back(T); }
};

struct Rig {
    TSynth S;
    FakeHost Host;
    TBufferFiller Filler{S, Host};
    std::vector<uint8_t> Buf = std::vector<uint8_t>(16384);

    explicit Rig(const char* Duration, int32_t Rate = 22050) {
        for (int I = 0; I < 25; ++I) S.Oscillators[I] = DefaultOscRecord();
        S.SampleRate = Rate;
        S.PrepareSweep(Duration, '.');
    }
    bool Fill() {
        int32_t Size = static_cast<int32_t>(Buf.size());
        const bool R = Filler.AudioOut1FillBuffer(Buf.data(), Size);
        EXPECT_EQ(Size, static_cast<int32_t>(Buf.size()));
        return R;
    }
    int16_t Left(int Frame) const { return static_cast<int16_t>(Buf[4 * Frame] | (Buf[4 * Frame + 1] << 8)); }
    int16_t Right(int Frame) const {
        return static_cast<int16_t>(Buf[4 * Frame + 2] | (Buf[4 * Frame + 3] << 8));
    }
    bool SilentFrom(int Frame) const {
        for (size_t I = 4 * Frame; I < Buf.size(); ++I)
            if (Buf[I]) return false;
        return true;
    }
};

} // namespace

TEST(BufferFiller, FramesAreTheSynthesisInOrder) {
    Rig A("1");
    TSynth Twin = A.S;
    for (int Fill = 0; Fill < 3; ++Fill) {
        ASSERT_TRUE(A.Fill());
        for (int F = 0; F < 4096; ++F) {
            ASSERT_EQ(A.Left(F), SampleToPcm16(Twin.ComputeSample(0)));
            ASSERT_EQ(A.Right(F), SampleToPcm16(Twin.ComputeSample(1)));
            ++Twin.SampleIndex;
        }
    }
}

TEST(BufferFiller, LoopingPeriodRestartsInsideTheSixthFill) {
    Rig A("1");
    A.S.Oscillators[0].FreqFinal = 2000;  // a sweep makes the restart visible
    A.S.PrepareSweep("1", '.');
    for (int Fill = 0; Fill < 5; ++Fill) ASSERT_TRUE(A.Fill());
    EXPECT_EQ(A.S.SampleIndex, 20480);
    ASSERT_TRUE(A.Fill());
    EXPECT_EQ(A.S.SampleIndex, 2526);
    // After the restart the first oscillator sweeps up from its start again.
    EXPECT_LT(A.S.Oscillators[0].Omega, 2 * 3.14159f * 1150);
    EXPECT_GT(A.S.Oscillators[0].Omega, 6283.0f);
}

TEST(BufferFiller, NonLoopingOneSecondIsPlayedWhole) {
    Rig A("1");
    A.Host.Loop = false;
    for (int Fill = 0; Fill < 5; ++Fill) ASSERT_TRUE(A.Fill()) << Fill;
    // The sixth fill holds the last 1570 frames and silence; it is played so the
    // whole period is heard.
    EXPECT_TRUE(A.Fill());
    EXPECT_NE(A.Left(1569), 0);
    EXPECT_TRUE(A.SilentFrom(1570));
    for (int Fill = 0; Fill < 3; ++Fill) {
        EXPECT_FALSE(A.Fill());
        EXPECT_TRUE(A.SilentFrom(0));
    }
}

TEST(BufferFiller, NonLoopingHalfSecondEndsWithinThePrefill) {
    Rig A("0.5");
    A.Host.Loop = false;
    EXPECT_TRUE(A.Fill());
    EXPECT_TRUE(A.Fill());
    EXPECT_TRUE(A.Fill());
    EXPECT_NE(A.Left(11025 - 8192 - 1), 0);
    EXPECT_TRUE(A.SilentFrom(11025 - 8192));
    EXPECT_FALSE(A.Fill());
    EXPECT_TRUE(A.SilentFrom(0));
}

TEST(BufferFiller, BidirectionalSweepTurnsAtEachPeriodEnd) {
    Rig A("0.5", 8000);  // 4000 frames a period, 4096 a fill
    TOscRecord& R = A.S.Oscillators[0];
    R.FreqInit = 100;
    R.FreqFinal = 1000;
    R.BiDir = 1;
    A.S.OscCount = 1;
    A.S.PrepareSweep("0.5", '.');
    const float Step = R.SweepStep;
    ASSERT_GT(Step, 0);
    A.Fill();  // the turn falls inside: frame 4000
    EXPECT_EQ(R.SweepStep, -Step);
    EXPECT_GT(R.Omega, 2 * 3.14159f * 970) << "the frequency carries on from the top";
    A.Fill();
    EXPECT_EQ(R.SweepStep, Step);
    EXPECT_LT(R.Omega, 2 * 3.14159f * 150) << "back at the bottom after the second period";
}

TEST(BufferFiller, NegativePeriodWithoutLoopIsSilence) {
    Rig A("-1");
    A.Host.Loop = false;
    EXPECT_TRUE(A.Fill());
    EXPECT_TRUE(A.SilentFrom(0));
    EXPECT_TRUE(A.Fill());
    EXPECT_TRUE(A.Fill());
    EXPECT_FALSE(A.Fill());
}

TEST(BufferFiller, BusyPathStopsTheOutputAndLeavesTheBuffer) {
    Rig A("1");
    A.Filler.FillBusy = true;
    std::fill(A.Buf.begin(), A.Buf.end(), 0xAB);
    EXPECT_FALSE(A.Fill());
    EXPECT_EQ(A.Host.Stops, 1);
    EXPECT_EQ(A.Host.Messages, (std::vector<std::string>{"There is an issue with performance. See help for details"}));
    EXPECT_FALSE(A.Filler.FillBusy);
    EXPECT_EQ(A.Buf[100], 0xAB);
    EXPECT_TRUE(A.Fill()) << "the next fill works normally";
}

TEST(BufferFiller, AnErrorLeavesTheFillBusy) {
    Rig A("1");
    A.S.OscCount = 0;  // the scaling divides by zero oscillators
    EXPECT_THROW(A.Fill(), EZeroDivide);
    EXPECT_TRUE(A.Filler.FillBusy);
    EXPECT_FALSE(A.Fill());
    EXPECT_EQ(A.Host.Stops, 1);

    // A recalled record that never went through PrepareSweep holds ratio 0: the
    // turn divides by it.
    Rig B("0.1");
    B.S.Oscillators[1].BiDir = 1;
    B.S.Oscillators[1].SweepRatio = 0;
    EXPECT_THROW(B.Fill(), EZeroDivide);
    EXPECT_TRUE(B.Filler.FillBusy);
}

TEST(BufferFiller, PeriodEndsAnywhereInsideABlockAsFrameByFrame) {
    // Short periods, so that restarts and turns fall at every place of a block and
    // of a buffer; fills of odd sizes; looping and not.
    for (bool Loop : {true, false})
        for (int32_t Bytes : {4, 508, 512, 516, 4 * 1001}) {
            Rig A("0.0371", 22050);  // 818 frames
            A.S.OscCount = 5;
            for (int I = 0; I < 5; ++I) {
                TOscRecord& R = A.S.Oscillators[I];
                R.WaveKind = I;
                R.FreqFinal = 3000.0f + 1000.0f * I;
                R.BiDir = I % 2;
                R.LogSweep = I == 3;
            }
            A.S.Oscillators[2].ModeIndependent = 0, A.S.Oscillators[2].ModeAdd = 1;
            A.S.SeedRandom(3);
            A.S.PrepareSweep("0.0371", '.');
            A.Host.Loop = Loop;
            const auto Expected = test::Expected(A.S, 3000 + 3 * 4096, Loop);
            std::vector<uint8_t> Heard;
            A.Buf.resize(Bytes);
            while (Heard.size() < Expected.size()) {
                A.Fill();
                Heard.insert(Heard.end(), A.Buf.begin(), A.Buf.end());
            }
            Heard.resize(Expected.size());
            ASSERT_EQ(Heard, Expected) << "loop " << Loop << ", " << Bytes << " bytes a fill";
        }
}

TEST(BufferFiller, OnlyAPeriodLongerThanTheRingPlaysTheFillItEndsIn) {
    // 4 buffers of 16384 bytes hold 16384 frames; at 8000 Hz.
    struct Case {
        const char* Duration;
        std::vector<bool> Answers;
    } Cases[] = {
        {"1.536125", {true, true, true, false, false}},  // 12289 frames: ends in the prefill
        {"2.048", {true, true, true, false, false}},     // 16384 frames: fills the ring exactly
        {"2.048125", {true, true, true, true, true, false}},  // 16385 frames: its last frame is played
    };
    for (const Case& C : Cases) {
        Rig A(C.Duration, 8000);
        A.Host.Loop = false;
        for (size_t K = 0; K < C.Answers.size(); ++K) EXPECT_EQ(A.Fill(), C.Answers[K]) << C.Duration << " fill " << K + 1;
    }
}
