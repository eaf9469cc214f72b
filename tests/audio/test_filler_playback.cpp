// The buffer filler playing through the component on the simulated device: what
// the listener hears must be exactly the synthesis, frame by frame.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "audio_probe.h"
#include "synth/buffer_filler.h"
#include "synth/errors.h"
#include "tests/support/expected_signal.h"

namespace zelvo::test {
namespace {

using wave::TSimWaveOut;

// What the window does around the filler: the Loop box, the output's ring.
struct TOwner : TFillerHost {
    TAudioOut* Out = nullptr;
    bool Loop = true;
    std::vector<std::string> Messages;
    bool LoopChecked() override { return Loop; }
    int32_t NumBuffers() override { return Out->NumBuffers(); }
    int32_t BufferSize() override { return Out->BufferSize(); }
    void StopAtOnce() override { Out->StopAtOnce(); }
    void ShowMessage(const std::string& T) override { Messages.push_back(T); }
};

void DefaultBank(TSynth& S) {
    for (int I = 0; I < 25; ++I) S.Oscillators[I] = DefaultOscRecord();
    S.OscCount = 3;
    S.SampleRate = 22050;
}

class FillerPlayback : public ::testing::Test {
protected:
    void SetUp() override {
        DefaultBank(Synth);
        Out = std::make_unique<TProbe>(&Sim);
        Owner.Out = Out.get();
        Out->OnFillBuffer = [this](uint8_t* B, int32_t& Size) { return Filler.AudioOut1FillBuffer(B, Size); };
        Out->OnStart = [this] { Log.push_back("start"); };
        Out->OnStop = [this] { Log.push_back("stop"); };
    }

    // Configured as the ON button does, then started.
    void Start(const char* Duration) {
        Synth.PrepareSweep(Duration, '.');
        Reference = Synth;
        Out->SetStereo(true);
        Out->SetFrameRate(Synth.SampleRate);
        Out->SetNumBuffers(4);
        Out->SetBufferSize(16384);
        ASSERT_TRUE(Out->Start(nullptr)) << Out->ErrorMessage;
        Pump(Sim);
    }

    void Play(uint64_t Frames) {
        for (uint64_t Done = 0; Done < Frames; Done += 1000) {
            Sim.AdvanceFrames(std::min<uint64_t>(1000, Frames - Done));
            Pump(Sim);
        }
    }

    TSynth Synth, Reference;
    TOwner Owner;
    TBufferFiller Filler{Synth, Owner};
    TSimWaveOut Sim;
    std::unique_ptr<TProbe> Out;
    std::vector<std::string> Log;
};

TEST_F(FillerPlayback, LoopingSweepsAcrossRingWrapsRestartsAndTurns) {
    Synth.Oscillators[1].FreqInit = 100;
    Synth.Oscillators[1].FreqFinal = 3000;
    Synth.Oscillators[2].FreqInit = 200;
    Synth.Oscillators[2].FreqFinal = 8000;
    Synth.Oscillators[2].LogSweep = 1;
    Synth.Oscillators[2].BiDir = 1;
    Start("0.7");
    Play(22050 * 3);  // four period ends, a dozen trips round the ring
    const auto Heard = Sim.Last().Played;
    ASSERT_GE(Heard.size(), 22050u * 3 * 4);
    EXPECT_EQ(Heard, Expected(Reference, static_cast<int64_t>(Heard.size() / 4), true));
    EXPECT_TRUE(Out->Active);
    Out->StopAtOnce();
    Pump(Sim);
    EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(FillerPlayback, NonLoopingSignalsArePlayedWholeThenStop) {
    struct Case {
        const char* Duration;
        size_t Buffers;  // buffers heard: the whole period and the rest of its last buffer
    };
    for (const Case C : {Case{"1", 6}, Case{"0.5", 4}}) {
        SetUp();
        Owner.Loop = false;
        Log.clear();
        Start(C.Duration);
        Play(22050 * 3);
        const auto Heard = Sim.Last().Played;
        EXPECT_EQ(Heard.size(), C.Buffers * 16384) << C.Duration;
        EXPECT_EQ(Heard, Expected(Reference, static_cast<int64_t>(Heard.size() / 4), false)) << C.Duration;
        EXPECT_FALSE(Out->Active);
        EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"})) << C.Duration;
        EXPECT_EQ(Sim.OpenDevices(), 0u);
    }
}

TEST_F(FillerPlayback, StopAtOnceMidRingKeepsWhatWasHeardExact) {
    Start("1");
    Play(4096 + 1500);
    Out->StopAtOnce();
    EXPECT_FALSE(Out->Active);
    Pump(Sim);
    const auto Heard = Sim.Last().Played;
    EXPECT_EQ(Heard.size(), (4096u + 1500u) * 4);
    EXPECT_EQ(Heard, Expected(Reference, static_cast<int64_t>(Heard.size() / 4), true));
    EXPECT_EQ(Log.back(), "stop");
    Play(20000);
    EXPECT_EQ(Sim.Last().Played.size(), Heard.size()) << "nothing plays after the stop";
}

TEST_F(FillerPlayback, PausedBeforeStartPlaysNothingUntilResumed) {
    Out->SetPaused(true);
    Start("1");
    Play(10000);
    EXPECT_TRUE(Sim.Last().Played.empty());
    EXPECT_TRUE(Out->Active);
    Out->SetPaused(false);
    Play(10000);
    const auto Heard = Sim.Last().Played;
    EXPECT_EQ(Heard.size(), 10000u * 4);
    EXPECT_EQ(Heard, Expected(Reference, 10000, true));
}

TEST_F(FillerPlayback, AFillThatFailedStopsTheNextStartWithTheBusyPath) {
    Synth.OscCount = 0;  // the scaling fails inside the first fill
    Synth.Oscillators[0].FreqInit = 1000;
    EXPECT_THROW(
        {
            Synth.PrepareSweep("1", '.');
            Out->SetStereo(true);
            Out->SetNumBuffers(4);
            Out->SetBufferSize(16384);
            Out->Start(nullptr);
        },
        EZelvoError);
    Pump(Sim);
    EXPECT_TRUE(Filler.FillBusy);
    Synth.OscCount = 3;
    Synth.PrepareSweep("1", '.');
    EXPECT_FALSE(Out->Start(nullptr));
    EXPECT_EQ(Out->ErrorMessage, "There must be at least one filled buffer");
    EXPECT_EQ(Owner.Messages, (std::vector<std::string>{"There is an issue with performance. See help for details"}));
    Pump(Sim);
    ASSERT_TRUE(Out->Start(nullptr)) << "the next start works normally";
    Out->StopAtOnce();
    Pump(Sim);
}

} // namespace
} // namespace zelvo::test
