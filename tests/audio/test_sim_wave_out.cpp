// The simulated device itself: the engine tests rely on its timing, order and
// refusals, so these pin them down directly, without the component.
#include <gtest/gtest.h>

#include <mutex>
#include <numeric>
#include <vector>

#include "platform/sim_wave_out.h"

namespace zelvo::wave {
namespace {

struct TRecSink : INoticeSink {
    struct TGot {
        Notice N;
        HWaveOut H;
        WaveHdr* Hdr;
    };
    void PostNotice(Notice N, HWaveOut H, WaveHdr* Hdr) override {
        std::lock_guard L(Lock);
        Got.push_back({N, H, Hdr});
    }
    std::vector<Notice> Kinds() {
        std::lock_guard L(Lock);
        std::vector<Notice> K;
        for (auto& G : Got)
            K.push_back(G.N);
        return K;
    }
    std::mutex Lock;
    std::vector<TGot> Got;
};

WaveFormatEx Stereo16(uint32_t Rate = 22050) {
    WaveFormatEx F;
    F.nChannels = 2;
    F.wBitsPerSample = 16;
    F.nBlockAlign = 4;
    F.nSamplesPerSec = Rate;
    F.nAvgBytesPerSec = Rate * 4;
    return F;
}

class SimDevice : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Sim.Open(&H, 0, Stereo16(), &Sink), MMSYSERR_NOERROR);
        for (int I = 0; I < 3; ++I) {
            Data[I].resize(400);
            std::iota(Data[I].begin(), Data[I].end(), static_cast<uint8_t>(I * 100));
            Hdr[I].lpData = Data[I].data();
            Hdr[I].dwBufferLength = 400;  // 100 frames
            ASSERT_EQ(Sim.PrepareHeader(H, &Hdr[I]), MMSYSERR_NOERROR);
        }
    }
    void WriteAll() {
        for (auto& X : Hdr)
            ASSERT_EQ(Sim.Write(H, &X), MMSYSERR_NOERROR);
    }
    std::vector<uint8_t> Cat(std::initializer_list<int> Which, size_t Cut = SIZE_MAX) {
        std::vector<uint8_t> R;
        for (int I : Which)
            R.insert(R.end(), Data[I].begin(), Data[I].end());
        if (R.size() > Cut)
            R.resize(Cut);
        return R;
    }

    TSimWaveOut Sim{{"First", "Second"}};
    TRecSink Sink;
    HWaveOut H = kNoWaveOut;
    WaveHdr Hdr[3];
    std::vector<uint8_t> Data[3];
};

TEST_F(SimDevice, PlaysInWriteOrderAtTheByteRateAndHandsEachBufferBackOnce) {
    WriteAll();
    Sim.AdvanceFrames(150);  // one and a half buffers
    EXPECT_EQ(Sim.Last().Played, Cat({0, 1}, 600));
    uint32_t Pos = 0;
    ASSERT_EQ(Sim.GetPosition(H, Pos), MMSYSERR_NOERROR);
    EXPECT_EQ(Pos, 150u);
    ASSERT_EQ(Sink.Got.size(), 2u);
    EXPECT_EQ(Sink.Got[1].N, Notice::Done);
    EXPECT_EQ(Sink.Got[1].Hdr, &Hdr[0]);
    EXPECT_TRUE(Hdr[0].dwFlags & WHDR_DONE);
    EXPECT_TRUE(Hdr[1].dwFlags & WHDR_INQUEUE);

    Sim.AdvanceFrames(1000);
    EXPECT_EQ(Sim.Last().Played, Cat({0, 1, 2}));
    ASSERT_EQ(Sink.Got.size(), 4u);
    EXPECT_EQ(Sink.Got[2].Hdr, &Hdr[1]);
    EXPECT_EQ(Sink.Got[3].Hdr, &Hdr[2]);
    EXPECT_EQ(Sim.Last().StarvedFrames, 1000u - 150u);  // 850 frames with nothing left
}

TEST_F(SimDevice, MillisecondsCarryTheFractionOfAFrame) {
    WriteAll();
    for (int I = 0; I < 10; ++I)
        Sim.AdvanceMs(1);  // 22.05 frames each
    uint32_t Pos = 0;
    Sim.GetPosition(H, Pos);
    EXPECT_EQ(Pos, 220u);
}

TEST_F(SimDevice, RefusesCloseAndUnprepareWhileABufferIsOut) {
    WriteAll();
    EXPECT_EQ(Sim.Close(H), WAVERR_STILLPLAYING);
    EXPECT_EQ(Sim.UnprepareHeader(H, &Hdr[2]), WAVERR_STILLPLAYING);
    EXPECT_EQ(Sim.Write(H, &Hdr[0]), WAVERR_STILLPLAYING);
    Sim.AdvanceFrames(200);
    EXPECT_EQ(Sim.UnprepareHeader(H, &Hdr[0]), MMSYSERR_NOERROR);
    EXPECT_EQ(Sim.Write(H, &Hdr[0]), WAVERR_UNPREPARED);
    EXPECT_EQ(Sim.Close(H), WAVERR_STILLPLAYING);
    Sim.AdvanceFrames(100);
    EXPECT_EQ(Sim.Close(H), MMSYSERR_NOERROR);
    EXPECT_EQ(Sink.Kinds().back(), Notice::Close);
    EXPECT_EQ(Sim.Last().RefusedCloses, 2u);
    // The handle is gone for good.
    EXPECT_EQ(Sim.Close(H), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Sim.Write(H, &Hdr[1]), MMSYSERR_INVALHANDLE);
}

TEST_F(SimDevice, ResetHandsEveryBufferBackAtOnceAndZeroesThePosition) {
    WriteAll();
    Sim.AdvanceFrames(50);
    ASSERT_EQ(Sim.Reset(H), MMSYSERR_NOERROR);
    EXPECT_EQ(Sink.Kinds(), (std::vector<Notice>{Notice::Open, Notice::Done, Notice::Done,
                                                 Notice::Done}));
    EXPECT_EQ(Sink.Got[1].Hdr, &Hdr[0]);
    EXPECT_EQ(Sink.Got[3].Hdr, &Hdr[2]);
    uint32_t Pos = 99;
    Sim.GetPosition(H, Pos);
    EXPECT_EQ(Pos, 0u);
    EXPECT_EQ(Sim.Last().Played.size(), 200u);
    EXPECT_EQ(Sim.Close(H), MMSYSERR_NOERROR);
}

TEST_F(SimDevice, PauseHoldsTheClockAndRestartResumesIt) {
    ASSERT_EQ(Sim.Pause(H), MMSYSERR_NOERROR);
    WriteAll();
    Sim.AdvanceFrames(500);
    Sim.AdvanceMs(100);
    EXPECT_TRUE(Sim.Last().Played.empty());
    EXPECT_EQ(Sim.Last().StarvedFrames, 0u);
    ASSERT_EQ(Sim.Restart(H), MMSYSERR_NOERROR);
    Sim.AdvanceFrames(100);
    EXPECT_EQ(Sim.Last().Played, Cat({0}));
}

TEST_F(SimDevice, InjectedFaultsHitTheChosenCallWithTheChosenCode) {
    Sim.FailWrite(MMSYSERR_NOMEM, 2);
    EXPECT_EQ(Sim.Write(H, &Hdr[0]), MMSYSERR_NOERROR);
    EXPECT_EQ(Sim.Write(H, &Hdr[1]), MMSYSERR_NOMEM);
    EXPECT_EQ(Sim.Write(H, &Hdr[1]), MMSYSERR_NOERROR);  // one shot
    EXPECT_EQ(Sim.Last().Written.size(), 2u);

    Sim.FailPrepare(MMSYSERR_ERROR, 1, true);
    EXPECT_EQ(Sim.PrepareHeader(H, &Hdr[2]), MMSYSERR_ERROR);
    EXPECT_EQ(Sim.PrepareHeader(H, &Hdr[2]), MMSYSERR_ERROR);  // sticky
    Sim.ClearFaults();
    EXPECT_EQ(Sim.PrepareHeader(H, &Hdr[2]), MMSYSERR_NOERROR);

    Sim.FailOpen(MMSYSERR_ALLOCATED);
    HWaveOut Other = kNoWaveOut;
    EXPECT_EQ(Sim.Open(&Other, 1, Stereo16(), &Sink), MMSYSERR_ALLOCATED);
    EXPECT_EQ(Other, kNoWaveOut);
    Sim.SetErrorText(MMSYSERR_ALLOCATED, "Busy elsewhere");
    EXPECT_EQ(Sim.GetErrorText(MMSYSERR_ALLOCATED), "Busy elsewhere");
    EXPECT_EQ(Sim.GetErrorText(MMSYSERR_NOMEM), StandardErrorText(MMSYSERR_NOMEM));
}

TEST(SimDeviceList, NamesIdsFormatsAndHandles) {
    TSimWaveOut Sim({"Alpha", "Beta"});
    std::string Name;
    EXPECT_EQ(Sim.GetNumDevs(), 2u);
    EXPECT_EQ(Sim.GetDevCaps(1, Name), MMSYSERR_NOERROR);
    EXPECT_EQ(Name, "Beta");
    EXPECT_EQ(Sim.GetDevCaps(2, Name), MMSYSERR_BADDEVICEID);

    HWaveOut A = kNoWaveOut, B = kNoWaveOut;
    EXPECT_EQ(Sim.Open(&A, 2, Stereo16(), nullptr), MMSYSERR_BADDEVICEID);
    WaveFormatEx Twelve = Stereo16();
    Twelve.wBitsPerSample = 12;
    Twelve.nBlockAlign = 2;
    Twelve.nAvgBytesPerSec = 44100;
    EXPECT_EQ(Sim.Open(&A, 0, Twelve, nullptr), WAVERR_BADFORMAT);
    EXPECT_EQ(Sim.Open(&A, 0, Stereo16(0), nullptr), WAVERR_BADFORMAT);

    ASSERT_EQ(Sim.Open(&A, WAVE_MAPPER, Stereo16(), nullptr), MMSYSERR_NOERROR);
    EXPECT_EQ(Sim.Close(A), MMSYSERR_NOERROR);
    TSimWaveOut Another({"Gamma"});
    ASSERT_EQ(Another.Open(&B, 0, Stereo16(), nullptr), MMSYSERR_NOERROR);
    EXPECT_NE(A, B);  // handles are never reused, not even by another instance
    EXPECT_EQ(Sim.Last().DeviceId, WAVE_MAPPER);
    EXPECT_FALSE(Sim.Last().Open);

    TSimWaveOut None(std::vector<std::string>{});
    EXPECT_EQ(None.GetNumDevs(), 0u);
    EXPECT_EQ(None.Open(&A, WAVE_MAPPER, Stereo16(), nullptr), MMSYSERR_NODRIVER);
}

} // namespace
} // namespace zelvo::wave
