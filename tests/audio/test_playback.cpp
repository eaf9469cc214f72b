// The playback engine on the simulated device, through a real Qt event loop:
// what is written, in which order, what is heard, when the device closes, and
// which events the owner sees.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "audio_probe.h"
#include "platform/error_sink.h"

namespace zelvo::test {
namespace {

using wave::TSimWaveOut;

constexpr int32_t kBytes = 512;            // per buffer
constexpr uint64_t kFrames = kBytes / 4;   // 16-bit stereo

class Playback : public ::testing::Test {
protected:
    void SetUp() override { Make(4); }
    void TearDown() override {
        Out.reset();
        SetUnhandledErrorHandler(nullptr);
    }

    // A component as the main window configures it, with an owner that
    // answers from Script (then Then) and fills a counter pattern.
    void Make(int NumBuffers) {
        Out.reset();
        Out = std::make_unique<TProbe>(&Sim);
        OutVar = Out.get();
        Asked.clear();
        Fills.clear();
        Log.clear();
        Script.clear();
        Then = true;
        Out->SetStereo(true);
        Out->SetFrameRate(22050);
        Out->SetNumBuffers(NumBuffers);
        Out->SetBufferSize(kBytes);
        Out->OnStart = [this] { Log.push_back("start"); };
        Out->OnStop = [this] {
            Log.push_back("stop");
            ProcessedAtStop = Out->Processed();
        };
        Out->OnFillBuffer = [this](uint8_t* Buffer, int32_t& Size) {
            if (!Out) {
                ADD_FAILURE() << "fill asked of a destroyed component";
                return false;
            }
            Asked.push_back(Out->SlotOf(Buffer));
            if (Throw && Throw-- == 1)
                throw std::runtime_error("fill failed");
            std::vector<uint8_t> Bytes(static_cast<size_t>(Size));
            for (auto& B : Bytes)
                B = static_cast<uint8_t>(Counter++ % 251);  // never in step with the ring
            std::copy(Bytes.begin(), Bytes.end(), Buffer);
            if (Resize) {
                Size = Resize;
                Resize = 0;
            }
            Fills.push_back(std::move(Bytes));
            bool Answer = Then;
            if (!Script.empty()) {
                Answer = Script.front();
                Script.pop_front();
            }
            return Answer;
        };
    }

    bool Start() { return Out->Start(&OutVar); }
    void Pump() { zelvo::test::Pump(Sim); }
    // The device plays for Buffers buffers' time; the loop runs after every
    // buffer's time, as it would while the device plays.
    void Play(double Buffers) {
        uint64_t Frames = static_cast<uint64_t>(Buffers * kFrames);
        while (Frames > 0) {
            const uint64_t Step = std::min(Frames, kFrames);
            Sim.AdvanceFrames(Step);
            Pump();
            Frames -= Step;
        }
    }
    // The bytes of the given fills (0 = the first of this component), in order.
    std::vector<uint8_t> Cat(std::initializer_list<int> Which) const {
        std::vector<uint8_t> R;
        for (int I : Which)
            R.insert(R.end(), Fills.at(I).begin(), Fills.at(I).end());
        return R;
    }
    std::vector<uint8_t> AllFills() const {
        std::vector<uint8_t> R;
        for (auto& F : Fills)
            R.insert(R.end(), F.begin(), F.end());
        return R;
    }
    static std::vector<int> Ring(int N, int Count) {
        std::vector<int> R;
        for (int I = 0; I < Count; ++I)
            R.push_back(I % N);
        return R;
    }

    TSimWaveOut Sim{{"Sim one", "Sim two"}};
    std::unique_ptr<TProbe> Out;
    TAudioOut* OutVar = nullptr;  // the owner's variable that Start is given
    std::vector<int> Asked;       // the slot of every fill request
    std::vector<std::vector<uint8_t>> Fills;
    std::vector<std::string> Log;
    std::deque<bool> Script;
    bool Then = true;
    int Throw = 0;       // the Throw-th fill from now throws
    int32_t Resize = 0;  // the Size the next fill hands back, when set
    uint32_t Counter = 0;
    int32_t ProcessedAtStop = -1;
};

TEST_F(Playback, FillsAlwaysTrueCycleTheRingAndEveryByteIsHeardInOrder) {
    for (int N : {2, 3, 4}) {
        SCOPED_TRACE(N);
        Make(N);
        ASSERT_TRUE(Start());
        EXPECT_EQ(Out->ErrorMessage, "");
        EXPECT_TRUE(Log.empty());  // OnStart only from the event loop
        Pump();
        EXPECT_EQ(Log, std::vector<std::string>{"start"});
        for (int K = 0; K < 3 * N + 1; ++K) {
            Play(1);
            EXPECT_EQ(Out->Queued(), N);
            EXPECT_TRUE(Out->Active);
        }
        EXPECT_EQ(Asked, Ring(N, 4 * N + 1));
        const auto Played = Sim.Last().Played;
        const auto Made = AllFills();
        ASSERT_EQ(Played.size(), static_cast<size_t>(3 * N + 1) * kBytes);
        EXPECT_TRUE(std::equal(Played.begin(), Played.end(), Made.begin()));

        // A graceful stop: nothing more is asked, the queue plays out.
        Out->StopGracefully();
        Play(N);
        EXPECT_EQ(Asked.size(), static_cast<size_t>(4 * N + 1));
        EXPECT_FALSE(Sim.Last().Open);
        EXPECT_EQ(Sim.Last().Played, Made);
        EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
        EXPECT_EQ(Sim.Last().StarvedFrames, 0u);
    }
}

TEST_F(Playback, ElapsedTimeFollowsTheDevicePosition) {
    ASSERT_TRUE(Start());
    Pump();
    Play(1.5);
    EXPECT_DOUBLE_EQ(Out->ElapsedTime(), 192.0 / 22050.0);
    Out->StopAtOnce();
    EXPECT_EQ(Out->ElapsedTime(), 0.0);
}

TEST_F(Playback, ShortSignalsDrainThroughARefusedCloseAndTheLastBufferIsHeard) {
    struct TCase {
        const char* Name;
        std::vector<bool> Answers;   // the prefill's, then one per completion
        int CompletionsToClose;
        std::vector<int> Heard;      // fills played, in order
        std::vector<int> AskedSlots;
    };
    for (const TCase& C : {
             // Shorter than the ring: the count reaches zero at the third
             // completion, while the fourth buffer still plays.
             TCase{"short", {true, true, true, false, false, false, false}, 4, {0, 1, 2, 3},
                   {0, 1, 2, 3, 0, 0, 0}},
             // The owner has signal again at the completion that brought the
             // count to zero: that buffer is still written and heard.
             TCase{"late refill", {true, true, true, false, false, false, true}, 5,
                   {0, 1, 2, 3, 6}, {0, 1, 2, 3, 0, 0, 0}},
         }) {
        SCOPED_TRACE(C.Name);
        Make(4);
        Script.assign(C.Answers.begin(), C.Answers.end());
        Then = false;
        ASSERT_TRUE(Start());
        EXPECT_EQ(Sim.Last().Written.size(), 4u);  // a False prefill slot is written too
        Pump();
        Play(3);
        EXPECT_FALSE(Out->Active);
        EXPECT_FALSE(Out->DeviceOpen());
        EXPECT_TRUE(Sim.Last().Open);  // the close was refused
        EXPECT_GE(Sim.Last().RefusedCloses, 1u);
        EXPECT_EQ(Log, std::vector<std::string>{"start"});
        Play(C.CompletionsToClose - 4);
        EXPECT_TRUE(Sim.Last().Open);
        Play(1);
        EXPECT_FALSE(Sim.Last().Open);
        EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
        std::vector<uint8_t> Heard;
        for (int I : C.Heard)
            Heard.insert(Heard.end(), Fills.at(I).begin(), Fills.at(I).end());
        EXPECT_EQ(Sim.Last().Played, Heard);
        EXPECT_EQ(Asked, C.AskedSlots);
        EXPECT_FALSE(Out->Paused());
    }
}

TEST_F(Playback, AFalseRefillHoldsItsSlotUntilTheOwnerHasSignalAgain) {
    // Prefill, then completions 1..4 answer T, F, F, T; always T afterwards.
    Script = {true, true, true, true, true, false, false, true};
    ASSERT_TRUE(Start());
    Pump();
    Play(1);
    EXPECT_EQ(Out->Index(), 1);
    Play(1);
    EXPECT_EQ(Out->Index(), 1);  // slot 1 was not written again
    EXPECT_EQ(Out->Queued(), 3);
    Play(2);
    Play(4);
    EXPECT_EQ(Asked, (std::vector<int>{0, 1, 2, 3, 0, 1, 1, 1, 2, 3, 0, 1}));
    // Heard: the prefill, then the fills of completions 1, 4, 5, ...
    EXPECT_EQ(Sim.Last().Played,
              (Cat({0, 1, 2, 3, 4, 7, 8, 9})));
    EXPECT_TRUE(Out->Active);
    EXPECT_EQ(Log, std::vector<std::string>{"start"});
}

TEST_F(Playback, StartWhilePlayingIsRefusedAndThePlaybackGoesOn) {
    ASSERT_TRUE(Start());
    Pump();
    Play(1);
    EXPECT_FALSE(Start());
    EXPECT_EQ(Out->ErrorMessage, "Wave output device is already open");
    EXPECT_EQ(Asked.size(), 5u);
    Play(2);
    EXPECT_EQ(Asked.size(), 7u);
    EXPECT_EQ(Sim.Playbacks().size(), 1u);
    EXPECT_EQ(Sim.Last().Played, Cat({0, 1, 2}));
    EXPECT_EQ(Log, std::vector<std::string>{"start"});
}

TEST_F(Playback, WithoutAFillHandlerStartFailsButStartAndStopStillArrive) {
    Out->OnFillBuffer = nullptr;
    EXPECT_FALSE(Start());
    EXPECT_EQ(Out->ErrorMessage, "There must be at least one filled buffer");
    EXPECT_FALSE(Out->Active);
    EXPECT_TRUE(Log.empty());
    Pump();
    EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
    EXPECT_TRUE(Sim.Last().Written.empty());
    EXPECT_FALSE(Sim.Last().Open);
}

TEST_F(Playback, FirstFillFalseFailsTheStartWithTheExactText) {
    Script = {false};
    EXPECT_FALSE(Start());
    EXPECT_EQ(Out->ErrorMessage, "There must be at least one filled buffer");
    EXPECT_EQ(Asked, std::vector<int>{0});
    Pump();
    EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(Playback, StopAtOnceClosesAtOnceAndTheReturnedBuffersAskNothing) {
    // Idle: nothing happens at all.
    Out->StopAtOnce();
    Out->StopGracefully();
    EXPECT_TRUE(Sim.Playbacks().empty());

    ASSERT_TRUE(Start());
    Pump();
    Play(5.5);  // mid-buffer, after the ring wrapped
    const size_t AskedBefore = Asked.size();
    const size_t WrittenBefore = Sim.Last().Written.size();
    Out->StopAtOnce();
    EXPECT_FALSE(Out->Active);
    EXPECT_FALSE(Out->DeviceOpen());
    EXPECT_FALSE(Sim.Last().Open);
    EXPECT_EQ(Log, std::vector<std::string>{"start"});  // OnStop not inside StopAtOnce
    Pump();
    EXPECT_EQ(Asked.size(), AskedBefore);
    EXPECT_EQ(Sim.Last().Written.size(), WrittenBefore);
    EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
    EXPECT_EQ(ProcessedAtStop, static_cast<int32_t>(WrittenBefore));  // after every completion
    const auto Made = AllFills();
    const auto Played = Sim.Last().Played;
    ASSERT_EQ(Played.size(), static_cast<size_t>(5.5 * kBytes));
    EXPECT_TRUE(std::equal(Played.begin(), Played.end(), Made.begin()));

    Out->StopAtOnce();  // no device: nothing more
    EXPECT_EQ(Sim.Last().Resets, 1u);
}

TEST_F(Playback, PausedBeforeStartHoldsTheFilledRingUntilResumed) {
    Out->SetPaused(true);
    ASSERT_TRUE(Start());
    EXPECT_EQ(Asked.size(), 4u);
    EXPECT_EQ(Sim.Last().Written.size(), 4u);
    EXPECT_TRUE(Sim.Last().Paused);
    Pump();
    Play(3);
    EXPECT_TRUE(Sim.Last().Played.empty());
    EXPECT_EQ(Asked.size(), 4u);
    Out->SetPaused(false);
    Play(1);
    EXPECT_EQ(Sim.Last().Played, Cat({0}));
    EXPECT_EQ(Asked.size(), 5u);

    // Pausing while playing stops the completions and the clock.
    Out->SetPaused(true);
    const double At = Out->ElapsedTime();
    Play(2);
    EXPECT_EQ(Asked.size(), 5u);
    EXPECT_EQ(Out->ElapsedTime(), At);

    // Any close clears the flag without restarting the device.
    Out->StopAtOnce();
    EXPECT_FALSE(Out->Paused());
    EXPECT_EQ(Sim.Last().Restarts, 1u);
    Pump();
    EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(Playback, FailuresDuringStartLeaveTheDeviceClosedWithItsText) {
    struct TCase {
        const char* Name;
        void (TSimWaveOut::*Inject)(wave::MMRESULT, uint32_t, bool);
        uint32_t Nth;
        size_t Fills;  // fills asked before the failure
        std::vector<std::string> Events;
    };
    for (const TCase& C : {
             TCase{"open", &TSimWaveOut::FailOpen, 1, 0, {}},
             TCase{"second prepare", &TSimWaveOut::FailPrepare, 2, 0, {"start", "stop"}},
             TCase{"first write", &TSimWaveOut::FailWrite, 1, 4, {"start", "stop"}},
         }) {
        SCOPED_TRACE(C.Name);
        Make(4);
        Sim.SetErrorText(wave::MMSYSERR_NOMEM, std::string("No room for ") + C.Name);
        (Sim.*C.Inject)(wave::MMSYSERR_NOMEM, C.Nth, false);
        const size_t Opens = Sim.Playbacks().size();
        EXPECT_FALSE(Start());
        EXPECT_EQ(Out->ErrorMessage, std::string("No room for ") + C.Name);
        EXPECT_FALSE(Out->Active);
        EXPECT_FALSE(Out->DeviceOpen());
        EXPECT_EQ(Asked.size(), C.Fills);
        EXPECT_EQ(Sim.OpenDevices(), 0u);
        Pump();
        EXPECT_EQ(Log, C.Events);
        EXPECT_EQ(Sim.Playbacks().size(), Opens + (C.Events.empty() ? 0 : 1));

        // The next start works and a success does not clear the old text.
        ASSERT_TRUE(Start());
        EXPECT_EQ(Out->ErrorMessage, std::string("No room for ") + C.Name);
        Out->StopAtOnce();
        Pump();
    }
}

TEST_F(Playback, AFailedLaterWriteDrainsClosesAndStops) {
    struct TCase {
        const char* Name;
        uint32_t Nth;  // counted from the first write of the start
        bool Sticky;
        size_t Written;
        int ToClose;  // buffers' time until the device closes
    };
    for (const TCase& C : {
             TCase{"second write, once", 2, false, 3, 3},
             TCase{"second write on", 2, true, 1, 1},
             TCase{"a refill", 5, false, 4, 4},
             TCase{"every refill", 5, true, 4, 4},
         }) {
        SCOPED_TRACE(C.Name);
        Make(4);
        Sim.FailWrite(wave::MMSYSERR_ERROR, C.Nth, C.Sticky);
        ASSERT_TRUE(Start());
        Pump();
        EXPECT_EQ(Sim.Last().Written.size(), C.Written);
        Play(C.ToClose - 0.5);
        EXPECT_TRUE(Sim.Last().Open);
        Play(0.5);
        EXPECT_EQ(Out->ErrorMessage, Sim.GetErrorText(wave::MMSYSERR_ERROR));
        EXPECT_FALSE(Sim.Last().Open);
        EXPECT_FALSE(Out->Active);
        EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
        // Nothing is asked after the failed write; what was written is heard.
        EXPECT_LE(Asked.size(), 5u);
        std::vector<uint8_t> Heard;
        for (const uint8_t* Data : Sim.Last().Written) {
            const int Slot = Out->SlotOf(Data);
            Heard.insert(Heard.end(), Fills.at(Slot).begin(), Fills.at(Slot).end());
        }
        EXPECT_EQ(Sim.Last().Played, Heard);
        Sim.ClearFaults();
    }
}

TEST_F(Playback, ADeviceThatFailsMidPlayEndsThePlaybackWithItsText) {
    for (bool MoreSignal : {true, false}) {
        SCOPED_TRACE(MoreSignal);
        Make(4);
        Script = {true, true, true, true};
        Then = MoreSignal;
        Sim.SetErrorText(wave::MMSYSERR_NODRIVER, "The device went away");
        ASSERT_TRUE(Start());
        Pump();
        Play(1.5);
        Sim.FailDevice(Sim.Last().Handle, wave::MMSYSERR_NODRIVER);
        Pump();
        EXPECT_EQ(Out->ErrorMessage, "The device went away");
        EXPECT_FALSE(Out->Active);
        EXPECT_FALSE(Sim.Last().Open);
        EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
    }
}

TEST_F(Playback, NoticesOfAnEarlierPlaybackDoNotActOnTheNextOne) {
    struct TCase {
        const char* Name;
        bool Closing;  // restart while the last buffer still plays, else after StopAtOnce
    };
    for (const TCase& C : {TCase{"refused close", true}, TCase{"stopped at once", false}}) {
        SCOPED_TRACE(C.Name);
        Make(4);
        if (C.Closing) {
            Script = {true, true, true, false, false, false, false};
            ASSERT_TRUE(Start());
            Pump();
            Play(3);
            ASSERT_TRUE(Sim.Last().Open);
        } else {
            ASSERT_TRUE(Start());
            Pump();
            Play(1.5);
            Out->StopAtOnce();  // its notices are still on their way
        }
        Log.clear();
        Asked.clear();
        Script.clear();
        Then = true;
        const size_t Earlier = Sim.Playbacks().size() - 1;

        ASSERT_TRUE(Start());
        Pump();
        const auto All = Sim.Playbacks();
        ASSERT_EQ(All.size(), Earlier + 2);
        EXPECT_FALSE(All[Earlier].Open);  // the earlier device was let go
        EXPECT_EQ(Log, std::vector<std::string>{"start"});  // no stop of the earlier one
        EXPECT_EQ(Asked, (std::vector<int>{0, 1, 2, 3}));
        EXPECT_EQ(Out->Queued(), 4);
        EXPECT_EQ(Out->Processed(), 0);
        Play(1);
        EXPECT_EQ(Asked, (std::vector<int>{0, 1, 2, 3, 0}));
        EXPECT_EQ(Out->Queued(), 4);
        Out->StopAtOnce();
        Pump();
        EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
    }
}

TEST_F(Playback, BufferSizeWrittenWhileTheLastBufferPlaysWaitsForTheNextStart) {
    Script = {true, true, true, false, false, false, false};
    ASSERT_TRUE(Start());
    Pump();
    Play(3);
    ASSERT_TRUE(Sim.Last().Open);
    uint8_t* Last = Out->Buffer(3);
    Out->SetBufferSize(1024);
    EXPECT_EQ(Out->BufferSize(), 1024);
    EXPECT_EQ(Out->Buffer(3), Last);  // still the device's
    Play(1);
    EXPECT_EQ(Sim.Last().Played, Cat({0, 1, 2, 3}));
    EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));

    ASSERT_TRUE(Start());
    EXPECT_EQ(Fills.back().size(), 1024u);
    Pump();
    Play(2);  // 2 × 512 bytes' time: one 1024-byte buffer
    EXPECT_EQ(Sim.Last().Played, Cat({7}));
}

TEST_F(Playback, TheSizeAFillHandsBackIsWhatThePlayerGetsButNeverMore) {
    for (int32_t Back : {100, 100000, -3}) {
        SCOPED_TRACE(Back);
        Make(2);
        Resize = Back;
        ASSERT_TRUE(Start());
        Pump();
        Play(2);
        const size_t First = std::clamp<int32_t>(Back, 0, kBytes);
        ASSERT_GE(Sim.Last().Played.size(), First);
        EXPECT_TRUE(std::equal(Fills[0].begin(), Fills[0].begin() + First,
                               Sim.Last().Played.begin()));
        EXPECT_TRUE(std::equal(Fills[1].begin(), Fills[1].end(),
                               Sim.Last().Played.begin() + First));
        Out->StopAtOnce();
        Pump();
    }
}

TEST_F(Playback, AnErrorInTheFillLeavesStartAndStillClosesTheDevice) {
    Throw = 2;
    EXPECT_THROW(Start(), std::runtime_error);
    EXPECT_FALSE(Out->Active);
    EXPECT_FALSE(Out->DeviceOpen());
    EXPECT_FALSE(Sim.Last().Open);
    Pump();
    EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
    Log.clear();
    ASSERT_TRUE(Start());
    Pump();
    EXPECT_EQ(Log, std::vector<std::string>{"start"});
}

TEST_F(Playback, AnErrorInARefillIsReportedNotThrownIntoTheEventLoop) {
    std::vector<std::string> Reported;
    SetUnhandledErrorHandler([&](const std::string& M) { Reported.push_back(M); });
    ASSERT_TRUE(Start());
    Pump();
    Throw = 1;
    Play(1);
    EXPECT_EQ(Reported, std::vector<std::string>{"fill failed"});
    EXPECT_TRUE(Out->Active);
    // The slot was not written; the next completion asks for it again.
    Play(1);
    EXPECT_EQ(Asked, (std::vector<int>{0, 1, 2, 3, 0, 0}));
    Play(3);
    EXPECT_EQ(Asked, (std::vector<int>{0, 1, 2, 3, 0, 0, 1, 2, 3}));
    EXPECT_EQ(Log, std::vector<std::string>{"start"});

    // At the completion that empties the device, an error still lets it close.
    Make(4);
    Script = {true, true, true, true, false, false, false};
    ASSERT_TRUE(Start());
    Pump();
    Play(3);
    Throw = 1;
    Play(1);
    EXPECT_EQ(Reported.size(), 2u);
    EXPECT_FALSE(Sim.Last().Open);
    EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(Playback, DestroyingTheComponentLetsGoOfTheDeviceAndDeliversNothing) {
    for (bool Closing : {false, true}) {
        SCOPED_TRACE(Closing);
        Make(4);
        if (Closing)
            Script = {true, true, true, false, false, false, false};
        ASSERT_TRUE(Start());
        Pump();
        Play(Closing ? 3 : 1.5);
        ASSERT_TRUE(Sim.Last().Open);
        Log.clear();
        const size_t AskedBefore = Asked.size();
        Out.reset();
        EXPECT_EQ(Sim.OpenDevices(), 0u);
        EXPECT_EQ(Sim.Last().Queued, 0u);
        Pump();
        Sim.AdvanceFrames(10 * kFrames);
        Pump();
        EXPECT_TRUE(Log.empty());
        EXPECT_EQ(Asked.size(), AskedBefore);
    }
}

TEST_F(Playback, NoticesReachTheComponentThroughTheOwnersVariable) {
    ASSERT_TRUE(Start());
    Pump();
    OutVar = nullptr;  // the owner has let go of its component
    Play(2);
    EXPECT_EQ(Asked.size(), 4u);
    OutVar = Out.get();
    Out->StopAtOnce();
    Pump();
    EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(Playback, PlaysOnTheWallClockPacerFromAnotherThread) {
    ASSERT_TRUE(Start());
    Sim.StartPacing(500);
    // Not a timing check: the run only has to get there.
    const auto GiveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Asked.size() < 24 && std::chrono::steady_clock::now() < GiveUp) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Sim.StopPacing();
    ASSERT_GE(Asked.size(), 24u);
    EXPECT_EQ(Asked, Ring(4, static_cast<int>(Asked.size())));
    Out->StopAtOnce();
    Pump();
    const auto Played = Sim.Last().Played;
    const auto Made = AllFills();
    ASSERT_LE(Played.size(), Made.size());
    EXPECT_TRUE(std::equal(Played.begin(), Played.end(), Made.begin()));
    EXPECT_EQ(Log, (std::vector<std::string>{"start", "stop"}));
}

} // namespace
} // namespace zelvo::test
