// The block computation against frame-by-frame ComputeSample calls, on every
// instruction set this machine has: every sample, every running field, the pink
// rows, the random stream and SampleIndex must be the same, and so must an error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "synth/errors.h"
#include "synth/synth.h"
#include "synth/synth_math.h"

using namespace zelvo;

namespace {

const int32_t kRates[] = {8000, 11025, 22050, 44100, 48000, 96000};

struct TRun {
    std::vector<int16_t> Samples;
    std::optional<std::string> Error;
};

// Frames in runs of the given lengths; the first error ends the rendering.
TRun Render(TSynth& S, const std::vector<int32_t>& Runs, bool FrameByFrame) {
    TRun Out;
    for (int32_t N : Runs) {
        std::vector<int16_t> Buf(2 * N, 0x5555);
        try {
            if (FrameByFrame) {
                for (int32_t F = 0; F < N; ++F) {
                    Buf[2 * F] = SampleToPcm16(S.ComputeSample(0));
                    Buf[2 * F + 1] = SampleToPcm16(S.ComputeSample(1));
                    S.SampleIndex = static_cast<int32_t>(static_cast<uint32_t>(S.SampleIndex) + 1u);
                }
            } else {
                S.RenderFrames(Buf.data(), N);
            }
        } catch (const EZelvoError& E) {
            Out.Error = E.what();
        }
        Out.Samples.insert(Out.Samples.end(), Buf.begin(), Buf.end());
        if (Out.Error) break;
    }
    return Out;
}

std::string StateDiff(const TSynth& A, const TSynth& B) {
    std::string D;
    if (A.SampleIndex != B.SampleIndex)
        D += "SampleIndex " + std::to_string(A.SampleIndex) + " vs " + std::to_string(B.SampleIndex) + "\n";
    if (std::memcmp(A.Oscillators.data(), B.Oscillators.data(), sizeof A.Oscillators) != 0) {
        for (int I = 0; I < TSynth::kBankSize; ++I)
            if (std::memcmp(&A.Oscillators[I], &B.Oscillators[I], sizeof(TOscRecord)) != 0)
                D += "record " + std::to_string(I) + " differs\n";
    }
    if (std::memcmp(A.PinkRows.data(), B.PinkRows.data(), sizeof A.PinkRows) != 0) D += "pink rows differ\n";
    TSynth CA = A, CB = B;
    if (CA.NextRandom32() != CB.NextRandom32()) D += "random streams differ\n";
    return D;
}

// Compares the block path Path with frame by frame on a prepared synthesis.
void ExpectSame(const TSynth& Prepared, TSynth::TBlockPath Path, const std::vector<int32_t>& Runs,
                const std::string& What) {
    TSynth Ref = Prepared, Blk = Prepared;
    Ref.SetBlockPath(TSynth::TBlockPath::FrameByFrame);
    Blk.SetBlockPath(Path);
    const TRun A = Render(Ref, Runs, true);
    const TRun B = Render(Blk, Runs, false);
    ASSERT_EQ(A.Error.value_or(""), B.Error.value_or("")) << What;
    // after an error, the frames before it must agree; the rest of the run is not defined
    size_t Upto = A.Samples.size();
    if (A.Error) Upto = 2 * size_t{static_cast<uint32_t>(Ref.SampleIndex) - static_cast<uint32_t>(Prepared.SampleIndex)};
    for (size_t K = 0; K < Upto && K < B.Samples.size(); ++K)
        ASSERT_EQ(A.Samples[K], B.Samples[K]) << What << ": sample " << K / 2 << (K % 2 ? " right" : " left");
    ASSERT_EQ(StateDiff(Ref, Blk), "") << What;
}

std::string Describe(const TSynth& S, uint32_t Seed) {
    std::string D = "seed " + std::to_string(Seed) + ", " + std::to_string(S.OscCount) + " osc at " +
                    std::to_string(S.SampleRate) + " Hz, period " + std::to_string(S.PeriodSamples) + ":";
    for (int I = 0; I < S.OscCount; ++I) {
        const TOscRecord& R = S.Oscillators[I];
        D += " [" + std::to_string(R.WaveKind) + (R.ModeAdd ? "+" : R.ModeMultiply ? "*" : "") +
             (R.LogSweep ? " log" : "") + (R.BiDir ? " bi" : "") + " " + std::to_string(R.FreqInit) + "-" +
             std::to_string(R.FreqFinal) + " g" + std::to_string(R.GainInit) + "]";
    }
    return D;
}

// A random set-up as the window can make it, with now and then what only a
// foreign file brings.
TSynth RandomSetUp(uint32_t Seed) {
    std::mt19937 G(Seed);
    auto U = [&](double A, double B) { return std::uniform_real_distribution<double>(A, B)(G); };
    auto I = [&](int A, int B) { return std::uniform_int_distribution<int>(A, B)(G); };
    TSynth S;
    S.SeedRandom(Seed);
    S.SampleRate = kRates[I(0, 5)];
    S.OscCount = I(1, 25);
    const float Nyquist = S.SampleRate / 2.0f;
    for (int K = 0; K < TSynth::kBankSize; ++K) {
        TOscRecord R = DefaultOscRecord();
        R.WaveKind = I(0, 4);
        R.FreqInit = static_cast<float>(std::exp(U(std::log(1.0), std::log(Nyquist))));
        R.FreqFinal = I(0, 3) == 0 ? R.FreqInit : static_cast<float>(std::exp(U(std::log(1.0), std::log(Nyquist))));
        R.LogSweep = I(0, 1);
        R.BiDir = I(0, 1);
        const int Mode = K == 0 ? 0 : I(0, 2);
        R.ModeIndependent = Mode == 0;
        R.ModeAdd = Mode == 1;
        R.ModeMultiply = Mode == 2;
        R.Summand = static_cast<float>(U(-2000, 2000));
        R.Factor = static_cast<float>(U(0.1, 3));
        R.LeftOn = I(0, 3) != 0;
        R.RightOn = I(0, 3) != 0;
        R.PhaseDeg = static_cast<float>(I(0, 4) == 0 ? 359.99 : U(0, 360));
        R.GainInit = static_cast<float>(std::pow(10.0, I(-100, 0) / 20.0));
        if (I(0, 9) == 0) R.GainInit = static_cast<float>(U(1, 3));  // saturates
        if (I(0, 15) == 0) R.GainInit = 0.0f;
        if (I(0, 30) == 0) R.WaveKind = 7;                          // foreign waveform code
        if (I(0, 30) == 0) R.Reserved = 0xAB;
        S.Oscillators[K] = R;
    }
    const char* Periods[] = {"0.01", "0.25", "1", "0.0031", "-0.5", "3"};
    S.PrepareSweep(Periods[I(0, 5)], '.');
    // running fields as a recall during playback would leave them
    if (I(0, 9) == 0) S.Oscillators[S.OscCount - 1].Phase = 6.2831850f;
    if (I(0, 9) == 0) S.SampleIndex = I(0, 5000);
    return S;
}

// Count oscillators with the start-up values, and a fixed noise stream.
TSynth DefaultBank(int32_t Rate, int32_t Count, uint64_t Seed) {
    TSynth S;
    S.SeedRandom(Seed);
    S.SampleRate = Rate;
    S.OscCount = Count;
    for (int I = 0; I < Count; ++I) S.Oscillators[I] = DefaultOscRecord();
    return S;
}

class BlockPaths : public ::testing::TestWithParam<TSynth::TBlockPath> {};

std::string PathName(const ::testing::TestParamInfo<TSynth::TBlockPath>& P) {
    switch (P.param) {
    case TSynth::TBlockPath::FrameByFrame: return "FrameByFrame";
    case TSynth::TBlockPath::Generic: return "Generic";
    case TSynth::TBlockPath::Avx2: return "Avx2";
    }
    return "Unknown";
}

} // namespace

TEST_P(BlockPaths, RandomSetUpsAgreeWithFrameByFrame) {
    for (uint32_t Seed = 1; Seed <= 300; ++Seed) {
        const TSynth S = RandomSetUp(Seed);
        // runs of odd lengths, so that blocks end anywhere
        ExpectSame(S, GetParam(), {1, 127, 128, 129, 300, 3, 1000}, Describe(S, Seed));
        if (HasFatalFailure()) return;
    }
}

TEST_P(BlockPaths, EveryWaveformOverLongSweeps) {
    // 25 oscillators of one waveform sweeping over the whole range, logarithmic
    // and linear by turns, and the same with followers after the first.
    for (int32_t Kind = 0; Kind < 5; ++Kind)
        for (int Follow = 0; Follow < 3; ++Follow) {
            TSynth S;
            S.SeedRandom(Kind * 10 + Follow);
            S.SampleRate = 96000;
            S.OscCount = 25;
            for (int I = 0; I < 25; ++I) {
                TOscRecord R = DefaultOscRecord();
                R.WaveKind = Kind;
                R.FreqInit = 20.0f + 31.0f * I;
                R.FreqFinal = 47000.0f - 977.0f * I;
                R.LogSweep = I % 2;
                R.GainInit = 0.9f;
                if (I > 0 && Follow == 1) R.ModeIndependent = 0, R.ModeAdd = 1, R.Summand = -3000.0f + 250.0f * I;
                if (I > 0 && Follow == 2) R.ModeIndependent = 0, R.ModeMultiply = 1, R.Factor = 0.05f * I;
                S.Oscillators[I] = R;
            }
            S.PrepareSweep("0.2", '.');
            ExpectSame(S, GetParam(), {19200}, "kind " + std::to_string(Kind) + " follow " + std::to_string(Follow));
        }
}

TEST_P(BlockPaths, UnusualRecordsAndFaults) {
    struct Case {
        const char* What;
        void (*Change)(TSynth&);
    };
    const Case Cases[] = {
        {"no mode flag", [](TSynth& S) { S.Oscillators[1].ModeIndependent = 0; }},
        {"two mode flags", [](TSynth& S) { S.Oscillators[2].ModeAdd = 1; }},
        {"first oscillator follows", [](TSynth& S) { S.Oscillators[0].ModeIndependent = 0, S.Oscillators[0].ModeMultiply = 1; }},
        {"waveform code 7", [](TSynth& S) { S.Oscillators[1].WaveKind = 7; }},
        {"start phase of three turns", [](TSynth& S) { S.Oscillators[2].Phase = 6.0f * 3.14159265f; }},
        {"frequency above the rate", [](TSynth& S) { S.Oscillators[1].Omega = 6.2831853f * 30000.0f; }},
        {"NaN gain raises", [](TSynth& S) { S.Oscillators[1].GainInit = NAN; }},
        {"infinite frequency", [](TSynth& S) { S.Oscillators[2].Omega = INFINITY; }},
        {"sweep that overflows", [](TSynth& S) { S.Oscillators[1].SweepRatio = 1e30f, S.Oscillators[1].Omega = 1e20f; }},
        {"huge gain leaves 64 bits", [](TSynth& S) { S.Oscillators[0].GainInit = 3e38f; }},
        {"gain that saturates", [](TSynth& S) { S.Oscillators[0].GainInit = 2.5f; }},
        {"sample rate 0", [](TSynth& S) { S.SampleRate = 0; }},
        {"count beyond the bank", [](TSynth& S) { S.LastOsc = 40; }},
        {"no live oscillator", [](TSynth& S) { S.LastOsc = -1; }},
        {"NaN phase at frame 200", [](TSynth& S) { S.Oscillators[1].SweepStep = -INFINITY, S.Oscillators[1].SweepRatio = 1.0f; }},
        {"fault at a later oscillator", [](TSynth& S) { S.Oscillators[2].GainInit = 1e38f, S.Oscillators[1].GainInit = 1e38f; }},
    };
    for (int32_t Kind = 0; Kind < 5; ++Kind)
        for (const Case& C : Cases) {
            TSynth S = DefaultBank(48000, 3, 5);
            for (int I = 0; I < 3; ++I) {
                S.Oscillators[I].WaveKind = (Kind + I) % 5;
                S.Oscillators[I].FreqFinal = 9000.0f;
            }
            S.PrepareSweep("1", '.');
            C.Change(S);
            ExpectSame(S, GetParam(), {100, 200, 129}, std::string(C.What) + ", kind " + std::to_string(Kind));
        }
}

TEST_P(BlockPaths, PinkRowsAtTheirScheduleAcrossTheIndexWrap) {
    // a run across the 2048-frame schedule and across the 32-bit counter's wrap
    for (int32_t Start : {0, 2040, 0x7FFFFF80}) {
        TSynth S = DefaultBank(44100, 4, 9);
        for (int I = 0; I < 4; ++I) {
            S.Oscillators[I].WaveKind = I == 2 ? wkWhiteNoise : wkPinkNoise;
            S.Oscillators[I].LeftOn = I != 1;
        }
        S.PrepareSweep("-1", '.');
        S.SampleIndex = Start;
        ExpectSame(S, GetParam(), {300, 4096}, "start " + std::to_string(Start));
    }
}

TEST_P(BlockPaths, SineStaysWellInsideItsErrorBound) {
    // The fast sums take the double sine to be within 2^-46 of its size; every
    // float below 64 was checked once against sinl (worst 2^-50.9 for the
    // blocks' sine). Here a spread of them, and the phases near every multiple
    // of pi/2 the oscillators reach.
    std::vector<float> X;
    for (uint32_t B = 1; B < 0x42800000u; B += 997) {
        float F;
        std::memcpy(&F, &B, sizeof F);
        X.push_back(F);
        X.push_back(-F);
    }
    for (int K = 1; K <= 40; ++K) {
        float F = static_cast<float>(K * 1.57079632679489661923);
        for (int Step = 0; Step < 64; ++Step, F = std::nextafter(F, 0.0f)) X.push_back(F);
    }
    while (X.size() % 4) X.push_back(1.0f);
    std::vector<double> S(X.size());
    if (GetParam() == TSynth::TBlockPath::FrameByFrame)
        std::transform(X.begin(), X.end(), S.begin(), [](float F) { return FastSin(F); });
    else
        detail::BlockSines(X.data(), S.data(), static_cast<int>(X.size()), GetParam());
    double Worst = 0;
    for (size_t I = 0; I < X.size(); ++I) {
        const long double E = sinl(X[I]);
        Worst = std::max(Worst, static_cast<double>(fabsl((S[I] - E) / E)));
    }
    EXPECT_LT(Worst, 0x1p-48);
}

INSTANTIATE_TEST_SUITE_P(OnThisMachine, BlockPaths, ::testing::ValuesIn(TSynth::BlockPathsOnThisMachine()),
                         PathName);
