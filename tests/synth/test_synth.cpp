#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "synth/errors.h"
#include "synth/synth.h"

using namespace zelvo;

namespace {

// The bank as start-up leaves it: records 0..24 with the defaults, 3 live.
void LoadDefaultBank(TSynth& S, int32_t Rate = 22050) {
    for (int I = 0; I < 25; ++I) S.Oscillators[I] = DefaultOscRecord();
    S.OscCount = 3;
    S.SampleRate = Rate;
}

struct Frame {
    int32_t L, R;
    bool operator==(const Frame&) const = default;
};

std::vector<Frame> Render(TSynth& S, int Frames) {
    std::vector<Frame> Out;
    for (int K = 0; K < Frames; ++K) {
        const int32_t L = S.ComputeSample(0);
        const int32_t R = S.ComputeSample(1);
        Out.push_back({L, R});
        ++S.SampleIndex;
    }
    return Out;
}

const float kTwoPiF = 6.28318530717958647703f;

} // namespace

TEST(PrepareSweep, DefaultBankAt22050) {
    TSynth S;
    LoadDefaultBank(S);
    S.SampleIndex = 7;
    S.PrepareSweep("1", '.');
    EXPECT_EQ(S.SampleIndex, 0);
    EXPECT_EQ(S.LastOsc, 2);
    EXPECT_EQ(S.PeriodSamples, 22050);
    for (int I = 0; I < 3; ++I) {
        const TOscRecord& R = S.Oscillators[I];
        EXPECT_EQ(R.Omega, 6283.185546875f);
        EXPECT_EQ(R.SweepRatio, 1.0f);
        EXPECT_EQ(R.SweepStep, 0.0f);
        EXPECT_EQ(R.Phase, 0.0f);
        EXPECT_EQ(R.Gain, 1.0f);
    }
    EXPECT_EQ(S.Oscillators[3].Omega, 0.0f) << "records after the live ones are left alone";
}

TEST(PrepareSweep, PeriodRoundsHalfToEvenAndReadsEitherSeparator) {
    TSynth S;
    LoadDefaultBank(S, 11025);
    S.PrepareSweep("0.5", '.');
    EXPECT_EQ(S.PeriodSamples, 5512);
    S.PrepareSweep("0,5", '.');
    EXPECT_EQ(S.PeriodSamples, 5512);
    S.PrepareSweep("-1", '.');
    EXPECT_EQ(S.PeriodSamples, -11025) << "a negative period is let through";
}

TEST(PrepareSweep, StartPhaseIsNotReduced) {
    TSynth S;
    LoadDefaultBank(S);
    S.Oscillators[0].PhaseDeg = 90;
    S.Oscillators[1].PhaseDeg = 1080;
    S.PrepareSweep("1", '.');
    EXPECT_EQ(S.Oscillators[0].Phase, static_cast<float>(3.14159265358979323846L / 2));
    EXPECT_EQ(S.Oscillators[1].Phase, static_cast<float>(6 * 3.14159265358979323846L));
}

TEST(PrepareSweep, SweepSetUp) {
    TSynth S;
    LoadDefaultBank(S, 2);  // 1 s = 2 frames: the step is the whole distance
    S.OscCount = 2;
    S.Oscillators[0].FreqFinal = 2000;
    S.Oscillators[1].LogSweep = 1;  // equal ends: ratio exp(0)
    S.PrepareSweep("1", '.');
    EXPECT_EQ(S.Oscillators[0].SweepStep, static_cast<float>(1000 * 6.28318530717958647703L));
    EXPECT_EQ(S.Oscillators[1].SweepRatio, 1.0f);
    EXPECT_EQ(S.Oscillators[1].SweepStep, 0.0f);
    S.ComputeSample(0);
    EXPECT_EQ(S.Oscillators[0].Omega, static_cast<float>(2000 * 6.28318530717958647703L))
        << "frame 1 runs at the final frequency";
}

TEST(PrepareSweep, OnlyLiveRecordsArePrepared) {
    TSynth S;
    LoadDefaultBank(S);
    S.OscCount = 1;
    S.PrepareSweep("1", '.');
    EXPECT_EQ(S.LastOsc, 0);
    EXPECT_NE(S.Oscillators[0].Omega, 0.0f);
    EXPECT_EQ(S.Oscillators[1].Omega, 0.0f);
}

TEST(PrepareSweep, FailuresInTheirOrder) {
    struct Case {
        const char* Name;
        const char* Duration;
        bool Log;
        float Init, Final;
        const char* Text;
    };
    const Case Cases[] = {
        {"not a number", "1s", false, 1000, 1000, "'1s' is not a valid floating point value"},
        {"0 frames", "0", false, 1000, 2000, "Invalid floating point operation"},
        {"0 frames before log", "0", true, 1000, 0, "Invalid floating point operation"},
        {"log final 0", "1", true, 1000, 0, "Floating point division by zero"},
        {"log init 0", "1", true, 0, 1000, "Floating point division by zero"},
        {"log final < 0", "1", true, 1000, -5, "Invalid floating point operation"},
        {"log init < 0", "1", true, -5, 1000, "Invalid floating point operation"},
        {"final checked before init", "1", true, -5, 0, "Floating point division by zero"},
        {"1 frame, equal ends", "0.00005", false, 1000, 1000, "Invalid floating point operation"},
        {"1 frame, different ends", "0.00005", false, 1000, 2000, "Floating point division by zero"},
        {"1 frame, log equal ends", "0.00005", true, 1000, 1000, "Invalid floating point operation"},
        {"1 frame, log different ends", "0.00005", true, 1000, 2000,
         "Floating point division by zero"},
    };
    for (const Case& C : Cases) {
        TSynth S;
        LoadDefaultBank(S);
        S.Oscillators[0].LogSweep = C.Log;
        S.Oscillators[0].FreqInit = C.Init;
        S.Oscillators[0].FreqFinal = C.Final;
        try {
            S.PrepareSweep(C.Duration, '.');
            ADD_FAILURE() << C.Name << ": no error";
        } catch (const EZelvoError& E) {
            EXPECT_STREQ(E.what(), C.Text) << C.Name;
        }
    }
}

TEST(PrepareSweep, RefusesAPeriodWhoseFrameCountDoesNotFit) {
    TSynth S;
    LoadDefaultBank(S, 96000);
    EXPECT_THROW(S.PrepareSweep("22370", '.'), ERangeError);   // 2^31 frames and a little more
    EXPECT_THROW(S.PrepareSweep("-1e300", '.'), ERangeError);
    EXPECT_NO_THROW(S.PrepareSweep("22369", '.'));
}

TEST(ComputeSample, DefaultBankFirstFrames) {
    for (bool Plain : {false, true}) {
        TSynth S;
        S.SetPlainEvaluation(Plain);
        LoadDefaultBank(S);
        S.PrepareSweep("1", '.');
        const auto F = Render(S, 3);
        EXPECT_EQ(F[0], (Frame{9211, 9211}));
        EXPECT_EQ(F[1], (Frame{17679, 17679}));
        EXPECT_EQ(F[2], (Frame{24722, 24722}));
    }
}

TEST(ComputeSample, ChannelRoutingAndScaling) {
    TSynth S;
    LoadDefaultBank(S);
    S.OscCount = 2;
    S.Oscillators[1].LeftOn = 0;
    S.Oscillators[1].FreqInit = S.Oscillators[1].FreqFinal = 440;
    S.PrepareSweep("1", '.');
    int32_t MaxL = 0, MaxR = 0;
    for (const Frame& F : Render(S, 22050)) {
        MaxL = std::max(MaxL, std::abs(F.L));
        MaxR = std::max(MaxR, std::abs(F.R));
    }
    EXPECT_LE(MaxL, 32767 / 2 + 1);
    EXPECT_GT(MaxL, 16000);
    EXPECT_GT(MaxR, 17000) << "the right channel carries both";

    TSynth T;
    LoadDefaultBank(T);
    T.Oscillators[1].LeftOn = T.Oscillators[2].LeftOn = 0;
    T.PrepareSweep("1", '.');
    MaxL = 0;
    for (const Frame& F : Render(T, 2205)) MaxL = std::max(MaxL, std::abs(F.L));
    EXPECT_LE(MaxL, 32767 / 3 + 1);
}

TEST(ComputeSample, FollowersTrackTheFirstOscillator) {
    TSynth S;
    LoadDefaultBank(S);
    S.OscCount = 3;
    S.Oscillators[1].ModeIndependent = 0;
    S.Oscillators[1].ModeAdd = 1;
    S.Oscillators[1].Summand = -1500;  // 1000 - 1500 Hz: a negative frequency
    S.Oscillators[2].ModeIndependent = 0;
    S.Oscillators[2].ModeMultiply = 1;
    S.Oscillators[2].Factor = 2;
    S.PrepareSweep("1", '.');
    S.ComputeSample(0);
    EXPECT_EQ(S.Oscillators[1].Omega, static_cast<float>(6.28318530717958647703L * -1500 + 6283.185546875f));
    EXPECT_EQ(S.Oscillators[2].Omega, 2 * 6283.185546875f);
    float Prev = S.Oscillators[1].Phase;
    for (int K = 0; K < 500; ++K) {
        S.ComputeSample(0);
        S.ComputeSample(1);
        EXPECT_LT(S.Oscillators[1].Phase, Prev) << "runs downward with no wrap";
        Prev = S.Oscillators[1].Phase;
    }
}

TEST(ComputeSample, WrapAtTwoPi) {
    TSynth S;
    LoadDefaultBank(S);
    S.OscCount = 2;
    S.LastOsc = 1;
    S.Oscillators[0].Phase = std::nextafter(kTwoPiF, 0.0f);  // just below 2 pi: kept
    S.Oscillators[1].Phase = kTwoPiF;                         // 6.2831855, just above: wrapped
    ASSERT_GT(static_cast<long double>(kTwoPiF), 6.28318530717958647703L);
    S.ComputeSample(1);
    EXPECT_EQ(S.Oscillators[0].Phase, std::nextafter(kTwoPiF, 0.0f));
    EXPECT_NEAR(S.Oscillators[1].Phase, 1.75e-7f, 0.01e-7f);

    // Several turns lose one turn per pass.
    S.Oscillators[0].Phase = 40.0f;
    S.Oscillators[0].Omega = 0;
    S.ComputeSample(0);
    const float AfterLeft = S.Oscillators[0].Phase;
    EXPECT_NEAR(AfterLeft, 40.0f - 6.2831853f, 1e-5);
    S.ComputeSample(1);
    EXPECT_NEAR(S.Oscillators[0].Phase, AfterLeft - 6.2831853f, 1e-5);
}

TEST(ComputeSample, WaveformHelpers) {
    EXPECT_EQ(TSynth::SquareOf(0.0f), 1);
    EXPECT_EQ(TSynth::SquareOf(-0.0f), 1);
    EXPECT_EQ(TSynth::SquareOf(-1e-30f), -1);
    EXPECT_EQ(TSynth::SquareOf(0.5f), 1);
    EXPECT_EQ(TSynth::TriangleOf(0.0f), 0.0f);
    EXPECT_EQ(TSynth::TriangleOf(static_cast<float>(3.14159265358979323846L / 2)), 1.0f);
    EXPECT_NEAR(TSynth::TriangleOf(static_cast<float>(3.14159265358979323846L / 4)), 0.5f, 1e-6);
    EXPECT_NEAR(TSynth::TriangleOf(static_cast<float>(3 * 3.14159265358979323846L / 2)), -1.0f, 1e-6);
}

TEST(PinkNoise, RowSchedule) {
    struct Case {
        int32_t Index;
        std::vector<int> Rows;
    };
    const Case Cases[] = {
        {0, {0}}, {1, {0, 1}}, {0xEE, {0, 2, 4, 9}}, {0x753, {0, 1, 12}}, {0x800, {0}}};
    for (const Case& C : Cases) {
        TSynth S;
        S.PinkRows.fill(5.0f);  // outside [0, 1): any renewed row shows
        const float V = S.PinkNoise(C.Index);
        std::vector<int> Renewed;
        for (int K = 0; K < TSynth::kPinkRows; ++K)
            if (S.PinkRows[K] != 5.0f) Renewed.push_back(K);
        EXPECT_EQ(Renewed, C.Rows) << "index " << C.Index;
        (void)V;
    }
    TSynth S;
    S.SeedRandom(1);
    for (int I = 0; I < 5000; ++I) {
        const float V = S.PinkNoise(I);
        ASSERT_GE(V, -1.0f);
        ASSERT_LE(V, 1.0f);
    }
}

TEST(ComputeSample, OscillatorWithoutModeStandsStill) {
    TSynth S;
    LoadDefaultBank(S);
    S.OscCount = 1;
    S.PrepareSweep("1", '.');
    TOscRecord& R = S.Oscillators[0];
    R.ModeIndependent = 0;
    R.Phase = 1.0f;
    R.Gain = 0.25f;  // the left pass uses whatever the field holds
    const int32_t L = S.ComputeSample(0);
    EXPECT_EQ(R.Phase, 1.0f);
    EXPECT_EQ(R.Omega, 6283.185546875f);
    EXPECT_EQ(L, static_cast<int32_t>(std::lrint(32767.0L * static_cast<float>(sinl(1.0f) * 0.25L))));
    S.ComputeSample(1);
    EXPECT_EQ(R.Gain, 1.0f) << "the right pass sets the gain";

    // Two flags: each advances the phase once, the later frequency update wins.
    R.ModeIndependent = 1;
    R.ModeMultiply = 1;
    R.Factor = 3;
    R.Phase = 0;
    S.Oscillators[0].Omega = 1000;
    S.ComputeSample(0);
    EXPECT_FLOAT_EQ(R.Phase, 2 * 1000.0f / 22050);
    EXPECT_EQ(R.Omega, 3 * 1000.0f);
}

TEST(ComputeSample, GainAboveFullScaleSaturatesInsteadOfWrapping) {
    TSynth S;
    LoadDefaultBank(S);
    S.OscCount = 1;
    S.Oscillators[0].GainInit = 2.0f;
    S.PrepareSweep("1", '.');
    int16_t Max = 0;
    bool SawNegativeJump = false;
    int16_t Prev = 0;
    for (int K = 0; K < 200; ++K) {
        const int16_t V = SampleToPcm16(S.ComputeSample(0));
        S.ComputeSample(1);
        ++S.SampleIndex;
        Max = std::max(Max, V);
        if (Prev > 30000 && V < -30000) SawNegativeJump = true;
        Prev = V;
    }
    EXPECT_EQ(Max, 32767);
    EXPECT_FALSE(SawNegativeJump);
    EXPECT_EQ(SampleToPcm16(32768), 32767);
    EXPECT_EQ(SampleToPcm16(-40000), -32768);
}

TEST(ComputeSample, ForeignWaveKindContributesNothing) {
    TSynth S;
    LoadDefaultBank(S);
    S.OscCount = 2;
    S.PrepareSweep("1", '.');
    TSynth T = S;
    T.Oscillators[1].WaveKind = 77;
    S.Oscillators[1].GainInit = 0;  // the same sum without the second oscillator
    for (int K = 0; K < 50; ++K) {
        EXPECT_EQ(T.ComputeSample(0), S.ComputeSample(0));
        EXPECT_EQ(T.ComputeSample(1), S.ComputeSample(1));
    }
}

TEST(ComputeSample, NoiseDrawsOneStreamAndDiffersBetweenChannels) {
    TSynth A, B;
    for (TSynth* S : {&A, &B}) {
        LoadDefaultBank(*S);
        S->OscCount = 2;
        S->Oscillators[0].WaveKind = wkWhiteNoise;
        S->Oscillators[1].WaveKind = wkPinkNoise;
        S->Oscillators[1].RightOn = 0;  // still draws in the right pass
        S->SeedRandom(42);
        S->PrepareSweep("1", '.');
    }
    const auto FA = Render(A, 1000), FB = Render(B, 1000);
    EXPECT_EQ(FA, FB) << "a fixed seed gives the same noise";
    int Differ = 0;
    for (const Frame& F : FA) Differ += F.L != F.R;
    EXPECT_GT(Differ, 900);
    // The right pass draws for the right-silent oscillator too: both pink rows and
    // white values advance the one stream, so a reseeded twin that skipped them would differ.
    TSynth C = A;
    C.SeedRandom(7);
    A.SeedRandom(7);
    C.Oscillators[1].WaveKind = wkSine;
    A.ComputeSample(1);
    C.ComputeSample(1);
    EXPECT_NE(A.NextRandom(), C.NextRandom());
}

// The fast evaluation of sines must give exactly what the plain extended one gives.
TEST(ComputeSample, FastEvaluationEqualsPlainEvaluation) {
    std::mt19937_64 Rng(2024);
    auto Uni = [&](double A, double B) { return std::uniform_real_distribution<double>(A, B)(Rng); };
    for (int Trial = 0; Trial < 40; ++Trial) {
        TSynth Fast, Plain;
        Plain.SetPlainEvaluation(true);
        for (TSynth* S : {&Fast, &Plain}) {
            std::mt19937_64 R2(Trial);
            auto U = [&](double A, double B) { return std::uniform_real_distribution<double>(A, B)(R2); };
            S->OscCount = 25;
            S->SampleRate = Trial % 2 ? 96000 : 8000;
            for (int I = 0; I < 25; ++I) {
                TOscRecord R = DefaultOscRecord();
                R.WaveKind = static_cast<int32_t>(U(0, 3));
                R.FreqInit = static_cast<float>(U(1, 20000));
                R.FreqFinal = static_cast<float>(U(1, 48000));
                R.LogSweep = U(0, 1) < 0.5;
                R.GainInit = static_cast<float>(std::pow(10.0, -U(0, 100) / 20));
                R.PhaseDeg = static_cast<float>(U(-720, 3600));
                R.LeftOn = U(0, 1) < 0.8;
                R.RightOn = U(0, 1) < 0.8;
                S->Oscillators[I] = R;
            }
            S->PrepareSweep("0.05", '.');
        }
        for (int K = 0; K < 2000; ++K) {
            ASSERT_EQ(Fast.ComputeSample(0), Plain.ComputeSample(0)) << Trial << " " << K;
            ASSERT_EQ(Fast.ComputeSample(1), Plain.ComputeSample(1)) << Trial << " " << K;
        }
        ASSERT_EQ(std::memcmp(Fast.Oscillators.data(), Plain.Oscillators.data(), sizeof Fast.Oscillators), 0);
    }
    // Single oscillators at random phases, gains and sums: the right pass alone.
    TSynth Fast, Plain;
    Plain.SetPlainEvaluation(true);
    for (int Trial = 0; Trial < 200000; ++Trial) {
        const int Kind = Trial % 3;
        const float Phase = static_cast<float>(Trial % 7 == 0 ? Uni(-1e6, 1e6) : Uni(-0.5, 6.3));
        const float Gain = static_cast<float>(std::pow(10.0, -Uni(0, 100) / 20));
        for (TSynth* S : {&Fast, &Plain}) {
            S->OscCount = 2;
            S->LastOsc = 1;
            S->Oscillators[0] = DefaultOscRecord();
            S->Oscillators[0].Phase = 1.0f;
            S->Oscillators[0].GainInit = static_cast<float>(Trial % 5) * 0.1f;
            S->Oscillators[1] = DefaultOscRecord();
            S->Oscillators[1].WaveKind = Kind;
            S->Oscillators[1].Phase = Phase;
            S->Oscillators[1].GainInit = Gain;
        }
        ASSERT_EQ(Fast.ComputeSample(1), Plain.ComputeSample(1)) << Phase << " " << Gain;
    }
}

TEST(ComputeSample, GarbageRecordsGiveErrorsOrValuesNeverCrashes) {
    std::mt19937 Rng(99);
    const float Specials[] = {NAN, INFINITY, -INFINITY, 3.4e38f, -3.4e38f, 1e-45f, 0.0f};
    int Errors = 0;
    for (int Trial = 0; Trial < 400; ++Trial) {
        TSynth S;
        S.SampleRate = 44100;
        auto* Bytes = reinterpret_cast<uint8_t*>(S.Oscillators.data());
        for (size_t I = 0; I < sizeof S.Oscillators; ++I) Bytes[I] = static_cast<uint8_t>(Rng());
        for (int I = 0; I < 26; ++I)
            if (Rng() % 2) S.Oscillators[I].Phase = Specials[Rng() % 7];
        S.OscCount = static_cast<int32_t>(Rng() % 60) - 10;  // also outside 1..25
        try {
            S.PrepareSweep("0.01", '.');
            for (int K = 0; K < 20; ++K) {
                S.ComputeSample(0);
                S.ComputeSample(1);
                ++S.SampleIndex;
            }
        } catch (const EZelvoError&) {
            ++Errors;
        }
    }
    EXPECT_GT(Errors, 0);
}

TEST(ComputeSample, OverflowingValuesRaiseInsteadOfInfinities) {
    TSynth S;
    LoadDefaultBank(S);
    S.OscCount = 1;
    S.Oscillators[0].FreqInit = 3e38f;
    EXPECT_THROW(S.PrepareSweep("1", '.'), EOverflow);
    S.Oscillators[0] = DefaultOscRecord();
    S.Oscillators[0].GainInit = 1e30f;
    S.PrepareSweep("1", '.');
    EXPECT_THROW(S.ComputeSample(0), EInvalidOp) << "the value leaves the 64-bit range";
    S.Oscillators[0].GainInit = 1.0f;
    S.Oscillators[0].Phase = NAN;
    EXPECT_THROW(S.ComputeSample(1), EInvalidOp);
    S.Oscillators[0].Phase = 0;
    S.OscCount = 0;
    EXPECT_THROW(S.ComputeSample(1), EInvalidOp);
}

// The fast paths rely on this bound (with a wide margin) for their exactness.
TEST(FastSin, StaysWithinAFewUnitsOfTheExtendedSine) {
    std::mt19937_64 Rng(5);
    double Worst = 0;
    for (int I = 0; I < 2000000; ++I) {
        float X;
        if (I % 4 == 0) X = std::uniform_real_distribution<float>(-1e5f, 1e5f)(Rng);
        else if (I % 4 == 1) {  // the floats next to multiples of pi/2, where sine is smallest
            const float Base = static_cast<float>((Rng() % 64) * 1.57079632679489661923L);
            X = std::nextafter(Base, (Rng() & 1) ? 100.0f : -100.0f);
        } else X = std::uniform_real_distribution<float>(-0.5f, 7.0f)(Rng);
        const long double Ref = sinl(X);
        if (Ref == 0) continue;
        const double Rel = static_cast<double>(std::fabs((FastSin(X) - Ref) / Ref));
        Worst = std::max(Worst, Rel);
    }
    EXPECT_LT(Worst, 0x1p-50);
}
