#include "synth/synth.h"

#include <cmath>
#include <cstring>
#include <random>

#include "synth/errors.h"
#include "synth/number_text.h"
#include "synth/synth_math.h"

namespace zelvo {
using namespace detail;
namespace {

// Pink-noise rows 1..12: renewed when (index AND mask) = value.
constexpr int32_t kPinkMask[TSynth::kPinkRows] = {0, 0x001, 0x003, 0x007, 0x00F, 0x01F, 0x03F,
                                                  0x07F, 0x0FF, 0x0FF, 0x1FF, 0x3FF, 0x7FF};
constexpr int32_t kPinkValue[TSynth::kPinkRows] = {0, 0x001, 0x002, 0x004, 0x00E, 0x00F, 0x01F,
                                                   0x040, 0x081, 0x0EE, 0x1DA, 0x36B, 0x753};

inline long double Ln(long double X) {
    if (X == 0.0L) throw EZeroDivide();
    if (!(X > 0.0L)) throw EInvalidOp();
    return logl(X);
}

// Nearest integer, ties to even, in 64 bits.
inline int64_t RoundToInt64(long double V) {
    // 2^63 is exact in long double; anything at or beyond it does not fit.
    if (!(V > -9223372036854775808.5L && V < 9223372036854775808.0L)) throw EInvalidOp();
    return llrintl(V);
}

inline bool IsSet(uint8_t B) { return B != 0; }

} // namespace

double FastSin(double X) { return FastSinImpl(X); }

const uint16_t* detail::PinkDueRows() {
    static const auto Due = [] {
        std::array<uint16_t, 2048> T{};
        for (int I = 0; I < 2048; ++I)
            for (int K = 1; K < TSynth::kPinkRows; ++K)
                if ((I & kPinkMask[K]) == kPinkValue[K]) T[I] |= static_cast<uint16_t>(1u << K);
        return T;
    }();
    return Due.data();
}

void RaiseStoreFault(long double V) {
    if (std::isnan(V)) throw EInvalidOp();
    throw EOverflow();
}

// The machine does not change while the program runs: ask it once.
static TSynth::TBlockPath WidestBlockPath() {
    static const TSynth::TBlockPath Widest = TSynth::BlockPathsOnThisMachine().back();
    return Widest;
}

TSynth::TSynth() : FBlockPath(WidestBlockPath()) {
    std::random_device Rd;
    SeedRandom((static_cast<uint64_t>(Rd()) << 32) ^ Rd());
    FSinPhaseBits.fill(Bits(0.0f));  // sin(0) = 0: the cache is valid from the start
    FSinValue.fill(0.0);
    FTriPhaseBits.fill(Bits(0.0f));
    FTriValue.fill(0.0f);
}

void TSynth::SeedRandom(uint64_t Seed) {
    // splitmix64 spreads one seed over the generator's state
    for (auto& S : FRng) {
        Seed += 0x9E3779B97F4A7C15ull;
        uint64_t Z = Seed;
        Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ull;
        Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EBull;
        S = Z ^ (Z >> 31);
    }
}

long double TSynth::NextRandom() { return static_cast<long double>(NextRandom32()) * 0x1p-32L; }

void TSynth::PrepareSweep(std::string_view DurationText, char DecimalSeparator) {
    SampleIndex = 0;
    LastOsc = OscCount - 1;
    const double Period = IntlStrToFloat(DurationText, DecimalSeparator);
    const long double Frames = nearbyintl(static_cast<long double>(Period) * SampleRate);
    // A frame count beyond 32 bits would wrap round into a wrong period.
    if (!(Frames >= -2147483648.0L && Frames <= 2147483647.0L))
        throw ERangeError("The period is too long: one period may hold at most 2147483647 frames");
    PeriodSamples = static_cast<int32_t>(Frames);

    const int Last = LastOsc < kBankSize ? LastOsc : kBankSize - 1;
    const long double Divisor = static_cast<long double>(PeriodSamples) - 1.0L;
    for (int I = 0; I <= Last; ++I) {
        TOscRecord& R = Oscillators[I];
        R.Omega = StoreF32(kTwoPi * R.FreqInit);
        R.Gain = 1.0f;
        R.Phase = StoreF32(static_cast<long double>(R.PhaseDeg) / 180.0L * kPi);
        if (PeriodSamples == 0) throw EInvalidOp();
        if (IsSet(R.LogSweep)) {
            const long double LnFinal = Ln(R.FreqFinal);
            const long double LnInit = Ln(R.FreqInit);
            R.SweepRatio = StoreF32(expl(Divide(LnFinal - LnInit, Divisor)));
            R.SweepStep = 0.0f;
        } else {
            R.SweepRatio = 1.0f;
            R.SweepStep = StoreF32(Divide((static_cast<long double>(R.FreqFinal) - R.FreqInit) * kTwoPi,
                                          Divisor));
        }
    }
}

int32_t TSynth::SquareOf(float X) { return X < 0.0f ? -1 : 1; }

float TSynth::TriangleOf(float Phase) { return PlainTriangle(StoreF32(sinl(Phase))); }

float TSynth::PinkNoise(int32_t Index) {
    const uint16_t* Due = PinkDueRows();
    PinkRows[0] = PinkRandom();
    for (unsigned Rows = Due[Index & 0x7FF]; Rows; Rows &= Rows - 1)
        PinkRows[__builtin_ctz(Rows)] = PinkRandom();  // in ascending row order
    // Adding two floats exactly and rounding once to float is what a float
    // addition does, so the rows are summed in float arithmetic; the rows lie in
    // [0, 1], so the sum cannot overflow.
    float Total = 0.0f;
    for (int K = 0; K < kPinkRows; ++K) Total += PinkRows[K];
    if (FPlain) return PlainPinkValue(Total);
    return FastPinkValue(Total, FFallbacks);
}

// sin(Phase) rounded to a float store, as the plain evaluation gives it.
inline float TSynth::SineF32(int Osc, float Phase) {
    if (FPlain) return StoreF32(sinl(Phase));
    return FastSineF32(SineOf(Osc, Phase), Phase, FFallbacks);
}

inline double TSynth::SineOf(int Osc, float Phase) {
    const uint32_t B = Bits(Phase);
    if (FSinPhaseBits[Osc] != B) {
        FSinPhaseBits[Osc] = B;
        FSinValue[Osc] = FastSinImpl(Phase);
    }
    return FSinValue[Osc];
}

inline float TSynth::TriangleFast(int Osc, float Phase) {
    const uint32_t B = Bits(Phase);
    if (FTriPhaseBits[Osc] != B) {
        FTriValue[Osc] = TriangleUncached(Osc, Phase);
        FTriPhaseBits[Osc] = B;
    }
    return FTriValue[Osc];
}

float TSynth::TriangleUncached(int Osc, float Phase) {
    const float S = SineF32(Osc, Phase);
    if (FPlain) return PlainTriangle(S);
    return FastTriangleOfSine(S, FFallbacks);
}

// Sum + w * Gain of one oscillator, rounded to the running sum's float. Each
// fast path stands for the extended expression of its fallback.
[[gnu::always_inline]] inline float TSynth::AddWave(int Osc, const TOscRecord& R, float Sum) {
    float Out;
    switch (R.WaveKind) {
    case wkSine: {
        // A finite phase with no gain adds nothing; skip the sine.
        if (R.Gain == 0.0f && std::isfinite(R.Phase)) return Sum;
        if (!FPlain) {
            const double P = SineOf(Osc, R.Phase) * R.Gain;
            const double T = Sum + P;
            if (RoundsSurely(T, std::fabs(P) * kLib + std::fabs(T) * kStep, Out)) return Out;
            ++FFallbacks;
        }
        return PlainAddTerm(Sum, sinl(R.Phase), R.Gain);
    }
    case wkSquare: {
        if (R.Gain == 0.0f && std::isfinite(R.Phase)) return Sum;
        if (!FPlain && std::isfinite(R.Phase)) {
            // Only the sign of the rounded sine counts. For a float phase the
            // sine is never so small that it rounds to zero unless the phase is
            // zero, so the double sine's sign decides (-0 counts as +1 both ways).
            const uint32_t Flip = SineOf(Osc, R.Phase) < 0.0 ? 0x80000000u : 0u;
            float Term;
            const uint32_t GainBits = Bits(R.Gain) ^ Flip;
            std::memcpy(&Term, &GainBits, sizeof Term);
            // two floats added exactly and rounded once: a float addition
            Out = Sum + Term;
            if (std::isfinite(Out)) return Out;
        }
        const int32_t W = SquareOf(SineF32(Osc, R.Phase));
        return PlainAddTerm(Sum, W, R.Gain);
    }
    case wkTriangular: {
        if (R.Gain == 0.0f && std::isfinite(R.Phase)) return Sum;
        const float W = TriangleFast(Osc, R.Phase);
        if (!FPlain) {
            const double T = Sum + static_cast<double>(W) * R.Gain;  // the product is exact
            if (RoundsSurely(T, std::fabs(T) * kStep, Out)) return Out;
            ++FFallbacks;
        }
        return PlainAddTerm(Sum, W, R.Gain);
    }
    case wkWhiteNoise: {
        // 2u - 1 for u = k / 2^32: exact in double and in extended
        const double W = (static_cast<double>(NextRandom32()) * 2.0 - 0x1p32) * 0x1p-32;
        if (!FPlain) {
            const double P = W * R.Gain;
            const double T = Sum + P;
            if (RoundsSurely(T, (std::fabs(P) + std::fabs(T)) * kStep, Out)) return Out;
            ++FFallbacks;
        }
        return PlainAddTerm(Sum, W, R.Gain);
    }
    case wkPinkNoise: {
        const float W = PinkNoise(SampleIndex);
        if (!FPlain) {
            const double T = Sum + static_cast<double>(W) * R.Gain;
            if (RoundsSurely(T, std::fabs(T) * kStep, Out)) return Out;
            ++FFallbacks;
        }
        return PlainAddTerm(Sum, W, R.Gain);
    }
    default:
        // A waveform code from a foreign file: this oscillator contributes nothing.
        return Sum;
    }
}

// Phase + Omega / SampleRate.
inline float TSynth::AdvancePhase(const TOscRecord& R) {
    if (FPlain) return PlainPhaseStep(R.Phase, R.Omega, SampleRate);
    return FastPhaseStep(R.Phase, R.Omega, SampleRate, FInvRate, FFallbacks);
}

// Omega * SweepRatio + SweepStep.
inline float TSynth::SweepOmega(const TOscRecord& R) {
    if (FPlain) return PlainSweep(R.Omega, R.SweepRatio, R.SweepStep);
    return FastSweep(R.Omega, R.SweepRatio, R.SweepStep, FFallbacks);
}

// 2 pi * Summand + the first oscillator's Omega.
inline float TSynth::AddOmega(const TOscRecord& R) {
    if (FPlain) return PlainAddOmega(R.Summand, Oscillators[0].Omega);
    return FastAddOmega(R.Summand, Oscillators[0].Omega, FFallbacks);
}

int32_t TSynth::ComputeSample(uint8_t Channel) {
    float Sum = 0.0f;
    // A count from a foreign file must never take the loop beyond the bank.
    const int Last = LastOsc < kBankSize ? LastOsc : kBankSize - 1;
    if (Channel == 0) {
        FInvRate = 1.0 / SampleRate;
        for (int I = 0; I <= Last; ++I) {
            TOscRecord& R = Oscillators[I];
            const float LeftGain = IsSet(R.LeftOn) ? R.GainInit : 0.0f;
            if (IsSet(R.ModeIndependent)) {
                R.Phase = AdvancePhase(R);
                R.Omega = SweepOmega(R);
                R.Gain = LeftGain;
            }
            if (IsSet(R.ModeAdd)) {
                R.Phase = AdvancePhase(R);
                R.Omega = AddOmega(R);
                R.Gain = LeftGain;
            }
            if (IsSet(R.ModeMultiply)) {
                R.Phase = AdvancePhase(R);
                R.Omega = PlainMulOmega(Oscillators[0].Omega, R.Factor);
                R.Gain = LeftGain;
            }
            R.Phase = PlainWrap(R.Phase);
            if (IsSet(R.LeftOn)) Sum = AddWave(I, R, Sum);
        }
    } else {
        for (int I = 0; I <= Last; ++I) {
            TOscRecord& R = Oscillators[I];
            R.Gain = IsSet(R.RightOn) ? R.GainInit : 0.0f;
            R.Phase = PlainWrap(R.Phase);
            Sum = AddWave(I, R, Sum);
        }
    }
    const int64_t V = RoundToInt64(Divide(32767.0L * Sum, OscCount));
    // Beyond 32 bits the value would wrap; the callers saturate at 16 bits anyway.
    if (V > INT32_MAX) return INT32_MAX;
    if (V < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(V);
}

} // namespace zelvo
