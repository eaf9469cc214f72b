#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "synth/errors.h"
#include "synth/wav_writer.h"

using namespace zelvo;
namespace fs = std::filesystem;

namespace {

struct RecordingHost : TWaveExportHost {
    std::vector<std::string> Calls;
    std::vector<int> Percents;
    int CancelAfterProgressAt = -1;  // cancel right after the progress call for this frame
    bool CancelNow = false;
    TSynth* Synth = nullptr;

    void BeginExport() override { Calls.push_back("begin"); }
    void ShowProgress(int P) override {
        Percents.push_back(P);
        if (Synth && Synth->SampleIndex == CancelAfterProgressAt) CancelNow = true;
    }
    bool CancelRequested() override { return CancelNow; }
    void EndExport(TExportOutcome O) override {
        Calls.push_back(O == TExportOutcome::eoCompleted   ? "completed"
                        : O == TExportOutcome::eoCancelled ? "cancelled"
                                                           : "failed");
    }
};

std::vector<uint8_t> ReadAll(const fs::path& P) {
    std::ifstream In(P, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), {}};
}

void PrepareBank(TSynth& S, int32_t Rate, const char* Duration) {
    for (int I = 0; I < 25; ++I) S.Oscillators[I] = DefaultOscRecord();
    S.OscCount = 1;
    S.SampleRate = Rate;
    S.PrepareSweep(Duration, '.');
}

class WavWriter : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() / ("zelvo-wav-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir);
    }
    void TearDown() override { fs::remove_all(Dir); }
    fs::path Dir;
};

} // namespace

TEST_F(WavWriter, HeaderBytes) {
    struct Case {
        int32_t Rate;
        size_t Size;
        std::vector<uint8_t> RiffSize, RateBytes, ByteRate, DataSize;
    };
    const Case Cases[] = {
        {44100, 176444, {0x34, 0xB1, 0x02, 0x00}, {0x44, 0xAC, 0, 0}, {0x10, 0xB1, 0x02, 0}, {0x10, 0xB1, 0x02, 0}},
        {22050, 88244, {0xAC, 0x58, 0x01, 0x00}, {0x22, 0x56, 0, 0}, {0x88, 0x58, 0x01, 0}, {0x88, 0x58, 0x01, 0}},
    };
    for (const Case& C : Cases) {
        TSynth S;
        PrepareBank(S, C.Rate, "1");
        RecordingHost H;
        const fs::path F = Dir / "one.wav";
        WriteWaveData(S, F.string(), H);
        const auto B = ReadAll(F);
        ASSERT_EQ(B.size(), C.Size);
        EXPECT_EQ(std::string(B.begin(), B.begin() + 4), "RIFF");
        EXPECT_EQ(std::vector<uint8_t>(B.begin() + 4, B.begin() + 8), C.RiffSize);
        EXPECT_EQ(std::string(B.begin() + 8, B.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(std::vector<uint8_t>(B.begin() + 16, B.begin() + 24),
                  (std::vector<uint8_t>{16, 0, 0, 0, 1, 0, 2, 0}));
        EXPECT_EQ(std::vector<uint8_t>(B.begin() + 24, B.begin() + 28), C.RateBytes);
        EXPECT_EQ(std::vector<uint8_t>(B.begin() + 28, B.begin() + 32), C.ByteRate);
        EXPECT_EQ(std::vector<uint8_t>(B.begin() + 32, B.begin() + 36), (std::vector<uint8_t>{4, 0, 16, 0}));
        EXPECT_EQ(std::string(B.begin() + 36, B.begin() + 40), "data");
        EXPECT_EQ(std::vector<uint8_t>(B.begin() + 40, B.begin() + 44), C.DataSize);
        EXPECT_EQ(H.Calls, (std::vector<std::string>{"begin", "completed"}));
        EXPECT_EQ(S.SampleIndex, S.PeriodSamples);
    }
}

TEST_F(WavWriter, FramesAreTheSynthesisLeftThenRight) {
    TSynth S, Twin;
    for (TSynth* T : {&S, &Twin}) {
        PrepareBank(*T, 8000, "0.3");
        T->OscCount = 2;
        T->Oscillators[1].LeftOn = 0;
        T->Oscillators[1].FreqFinal = 3000;
        T->Oscillators[1].BiDir = 1;  // a WAV file holds one sweep: no turn
        T->Oscillators[0].GainInit = 2.0f;  // beyond full scale: saturates
        T->PrepareSweep("0.3", '.');
    }
    RecordingHost H;
    const fs::path F = Dir / "frames.wav";
    WriteWaveData(S, F.string(), H);
    const auto B = ReadAll(F);
    ASSERT_EQ(B.size(), 44u + 4u * 2400);
    bool Saturated = false;
    for (int K = 0; K < 2400; ++K) {
        const int16_t L = SampleToPcm16(Twin.ComputeSample(0));
        const int16_t R = SampleToPcm16(Twin.ComputeSample(1));
        ++Twin.SampleIndex;
        const uint8_t* P = &B[44 + 4 * K];
        ASSERT_EQ(static_cast<int16_t>(P[0] | (P[1] << 8)), L) << K;
        ASSERT_EQ(static_cast<int16_t>(P[2] | (P[3] << 8)), R) << K;
        Saturated |= L == 32767;
    }
    EXPECT_TRUE(Saturated);
}

TEST(WavProgress, PercentsHalvesToEvenWithoutOverflow) {
    EXPECT_EQ(ProgressPercent(10000, 25000), 40);
    EXPECT_EQ(ProgressPercent(20000, 25000), 80);
    EXPECT_EQ(ProgressPercent(10000, 80000), 12);
    EXPECT_EQ(ProgressPercent(30000, 80000), 38);
    EXPECT_EQ(ProgressPercent(20000, 20001), 100);
    int Prev = 0;
    const int64_t N = 1073741814;  // the largest exportable period
    for (int64_t K = 0; K < N; K += 10000 * 97) {
        const int P = ProgressPercent(K, N);
        ASSERT_GE(P, Prev);
        ASSERT_LE(P, 100);
        Prev = P;
    }
}

TEST_F(WavWriter, ProgressCallsAfterEveryTenThousandFrames) {
    TSynth S;
    PrepareBank(S, 25000, "1");
    RecordingHost H;
    WriteWaveData(S, (Dir / "p.wav").string(), H);
    EXPECT_EQ(H.Percents, (std::vector<int>{0, 40, 80}));
}

TEST_F(WavWriter, CancelLeavesNoFileAndAnExistingFileUntouched) {
    const fs::path F = Dir / "keep.wav";
    { std::ofstream(F) << "old contents"; }
    TSynth S;
    PrepareBank(S, 22050, "2");
    RecordingHost H;
    H.Synth = &S;
    H.CancelAfterProgressAt = 10000;
    WriteWaveData(S, F.string(), H);
    EXPECT_EQ(H.Calls, (std::vector<std::string>{"begin", "cancelled"}));
    EXPECT_EQ(S.SampleIndex, 10000);
    const auto B = ReadAll(F);
    EXPECT_EQ(std::string(B.begin(), B.end()), "old contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1) << "no temporary left";

    // The next export runs in full.
    S.PrepareSweep("2", '.');
    RecordingHost H2;
    WriteWaveData(S, F.string(), H2);
    EXPECT_EQ(H2.Calls.back(), "completed");
    EXPECT_EQ(fs::file_size(F), 44u + 4u * 44100);
}

TEST_F(WavWriter, UnwritablePlaceFailsOnceAndCreatesNothing) {
    TSynth S;
    PrepareBank(S, 8000, "0.1");
    RecordingHost H;
    WriteWaveData(S, (Dir / "missing-folder" / "x.wav").string(), H);
    EXPECT_EQ(H.Calls, (std::vector<std::string>{"begin", "failed"}));
    EXPECT_FALSE(fs::exists(Dir / "missing-folder"));
}

TEST_F(WavWriter, ErrorInsideTheSynthesisFailsAndKeepsTheOldFile) {
    const fs::path F = Dir / "keep.wav";
    { std::ofstream(F) << "old"; }
    TSynth S;
    PrepareBank(S, 8000, "0.1");
    S.OscCount = 0;  // the scaling fails
    S.LastOsc = 0;
    RecordingHost H;
    WriteWaveData(S, F.string(), H);
    EXPECT_EQ(H.Calls, (std::vector<std::string>{"begin", "failed"}));
    EXPECT_EQ(fs::file_size(F), 3u);
}

TEST_F(WavWriter, PeriodsAWaveFileCannotHoldAreRefused) {
    EXPECT_THROW(CheckWaveExportable(-1), ERangeError);
    EXPECT_THROW(CheckWaveExportable(static_cast<int32_t>(kMaxWaveFrames + 1)), ERangeError);
    EXPECT_NO_THROW(CheckWaveExportable(static_cast<int32_t>(kMaxWaveFrames)));
    TSynth S;
    PrepareBank(S, 8000, "-1");
    RecordingHost H;
    WriteWaveData(S, (Dir / "neg.wav").string(), H);
    EXPECT_EQ(H.Calls.back(), "failed");
    EXPECT_FALSE(fs::exists(Dir / "neg.wav"));
}

TEST_F(WavWriter, CancelOrFaultInsideARunLeavesTheStateOfThatFrame) {
    // The export renders runs of frames; a cancel answered after any frame, or a
    // fault at any frame, must leave the synthesis as frame-by-frame rendering
    // leaves it there.
    struct CountingHost : RecordingHost {
        int CancelAtCall = -1;
        int Asked = 0;
        bool CancelRequested() override { return Asked++ == CancelAtCall; }
    };
    auto SetUp = [](TSynth& S) {
        PrepareBank(S, 22050, "1");
        S.OscCount = 4;
        for (int I = 0; I < 4; ++I) {
            S.Oscillators[I].WaveKind = I + 1;  // square, triangle, white and pink noise
            S.Oscillators[I].FreqFinal = 5000.0f;
        }
        S.SeedRandom(11);
        S.PrepareSweep("1", '.');
    };
    auto FrameByFrame = [](TSynth& S, int Frames) {
        S.SampleIndex = 0;
        for (int K = 0; K < Frames; ++K, ++S.SampleIndex) {
            S.ComputeSample(0);
            S.ComputeSample(1);
        }
    };
    for (int Frame : {0, 1, 127, 129, 9999, 10000, 12345}) {
        TSynth S, Twin;
        SetUp(S);
        SetUp(Twin);
        CountingHost H;
        H.CancelAtCall = Frame;
        WriteWaveData(S, (Dir / "c.wav").string(), H);
        EXPECT_EQ(H.Calls.back(), "cancelled");
        FrameByFrame(Twin, Frame + 1);
        Twin.SampleIndex = Frame;
        EXPECT_EQ(S.SampleIndex, Frame);
        EXPECT_EQ(std::memcmp(S.Oscillators.data(), Twin.Oscillators.data(), sizeof S.Oscillators), 0) << Frame;
        EXPECT_EQ(S.PinkRows, Twin.PinkRows) << Frame;
        EXPECT_EQ(S.NextRandom32(), Twin.NextRandom32()) << Frame;
    }
    // A frequency that grows beyond the float range a few frames, a few hundred or
    // a few thousand frames in: "Floating point overflow" there.
    for (float Omega : {3.4e38f, 3.3e38f, 2.5e38f}) {
        TSynth S, Twin;
        for (TSynth* T : {&S, &Twin}) {
            SetUp(*T);
            T->Oscillators[1].Omega = Omega;
            T->Oscillators[1].SweepRatio = 1.0001f;
            T->Oscillators[1].SweepStep = 0.0f;
        }
        RecordingHost H;
        WriteWaveData(S, (Dir / "f.wav").string(), H);
        EXPECT_EQ(H.Calls.back(), "failed");
        std::string TwinError;
        Twin.SampleIndex = 0;
        try {
            for (;; ++Twin.SampleIndex) {
                Twin.ComputeSample(0);
                Twin.ComputeSample(1);
            }
        } catch (const EZelvoError& E) {
            TwinError = E.what();
        }
        EXPECT_EQ(TwinError, "Floating point overflow");
        EXPECT_EQ(S.SampleIndex, Twin.SampleIndex) << Omega;
        EXPECT_EQ(std::memcmp(S.Oscillators.data(), Twin.Oscillators.data(), sizeof S.Oscillators), 0) << Omega;
    }
}
