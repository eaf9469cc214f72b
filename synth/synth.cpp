#include "synth/synth.h"

#include <cmath>
#include <cstring>
#include <random>

#include "synth/errors.h"
#include "synth/number_text.h"

namespace zelvo {
namespace {

constexpr long double kPi = 3.14159265358979323846264338327950288L;
constexpr long double kTwoPi = 6.28318530717958647703L;

// Pink-noise rows 1..12: renewed when (index AND mask) = value.
constexpr int32_t kPinkMask[TSynth::kPinkRows] = {0, 0x001, 0x003, 0x007, 0x00F, 0x01F, 0x03F,
                                                  0x07F, 0x0FF, 0x0FF, 0x1FF, 0x3FF, 0x7FF};
constexpr int32_t kPinkValue[TSynth::kPinkRows] = {0, 0x001, 0x002, 0x004, 0x00E, 0x00F, 0x01F,
                                                   0x040, 0x081, 0x0EE, 0x1DA, 0x36B, 0x753};

// Division as the floating-point unit reports it: x/0 is a zero divide, 0/0 and
// anything with a NaN an invalid operation.
inline long double Divide(long double A, long double B) {
    if (B == 0.0L) {
        if (A == 0.0L || std::isnan(A)) throw EInvalidOp();
        throw EZeroDivide();
    }
    return A / B;
}

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

inline uint32_t Bits(float F) {
    uint32_t U;
    std::memcpy(&U, &F, sizeof U);
    return U;
}

inline uint64_t Rotl(uint64_t X, int K) { return (X << K) | (X >> (64 - K)); }

// The fast paths compute in double precision and bound their distance E from the
// extended computation they stand for. When both ends of [T - E, T + E] round to
// the same float, so does the extended result (rounding is monotonic), and that
// float is taken; otherwise the extended computation runs.
inline bool RoundsSurely(double T, double E, float& Out) {
    const float Lo = static_cast<float>(T - E);
    const float Hi = static_cast<float>(T + E);
    if (Lo != Hi || !(Lo <= 3.40282347e+38f && Lo >= -3.40282347e+38f)) return false;
    Out = Lo;
    return true;
}

// Relative bound for a double-precision rounding step, four times what one
// step can cost, so that a few steps and the extended ones stay inside it.
constexpr double kStep = 0x1p-50;
// Relative bound for the library's double sine or arcsine against the extended
// ones (each within about one unit in the last place), with a wide margin.
constexpr double kLib = 0x1p-46;
constexpr double kTwoPiD = 6.283185307179586476925;

// The largest float below 2 pi: a stored phase is above 2 pi exactly when it is
// above this.
constexpr float kBelowTwoPi = 6.28318500518798828125f;

} // namespace

// sin(X) in double precision for the phases the oscillators run at, with a
// relative error of a few units in the last place (far inside kLib): Cody-Waite
// reduction by pi/2 in three parts, then Taylor polynomials on [-pi/4, pi/4].
// Phases beyond 2^20 rad go to the library.
namespace {
inline double FastSinImpl(double X) {
    if (!(std::fabs(X) < 0x1p20)) return std::sin(X);
    constexpr double TwoOverPi = 0.63661977236758134308;
    constexpr double Pio2_1 = 1.57079632673412561417e+00;   // first 33 bits of pi/2
    constexpr double Pio2_2 = 6.07710050630396597660e-11;   // next 33 bits
    constexpr double Pio2_2t = 2.02226624879595063154e-21;  // pi/2 - Pio2_1 - Pio2_2
    const int64_t N = static_cast<int64_t>(X * TwoOverPi + (X >= 0 ? 0.5 : -0.5));
    const double K = static_cast<double>(N);
    const double R = ((X - K * Pio2_1) - K * Pio2_2) - K * Pio2_2t;
    // Taylor terms up to R^15 (sine) and R^16 (cosine) leave less than 2^-53 on
    // [-pi/4, pi/4]; Estrin's scheme keeps the dependency chain short.
    const double Z = R * R, Z2 = Z * Z, Z4 = Z2 * Z2;
    const double CA = (1.0 - Z * (1.0 / 2)) + Z2 * (1.0 / 24 - Z * (1.0 / 720));
    const double CB = (1.0 / 40320 - Z * (1.0 / 3628800)) + Z2 * (1.0 / 479001600 - Z * (1.0 / 87178291200.0));
    const double Cos = CA + Z4 * (CB + Z4 * (1.0 / 20922789888000.0));
    const double SA = (-1.0 / 6 + Z * (1.0 / 120)) + Z2 * (-1.0 / 5040 + Z * (1.0 / 362880));
    const double SB = (-1.0 / 39916800 + Z * (1.0 / 6227020800.0)) + Z2 * (-1.0 / 1307674368000.0);
    const double Sin = R + R * Z * (SA + Z4 * SB);
    // The quadrant picks and signs the result without branches: at high
    // frequencies it changes nearly every frame and would defeat prediction.
    uint64_t CosBits, SinBits;
    std::memcpy(&CosBits, &Cos, 8);
    std::memcpy(&SinBits, &Sin, 8);
    const uint64_t Pick = 0 - static_cast<uint64_t>(N & 1);
    const uint64_t Bits64 = ((CosBits & Pick) | (SinBits & ~Pick)) ^ (static_cast<uint64_t>(N & 2) << 62);
    double V;
    std::memcpy(&V, &Bits64, 8);
    return V;
}
} // namespace

double FastSin(double X) { return FastSinImpl(X); }

void RaiseStoreFault(long double V) {
    if (std::isnan(V)) throw EInvalidOp();
    throw EOverflow();
}

TSynth::TSynth() {
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

uint32_t TSynth::NextRandom32() {
    // xoshiro256**; the top 32 bits give a value k / 2^32, exact in every format used
    const uint64_t Result = Rotl(FRng[1] * 5, 7) * 9;
    const uint64_t T = FRng[1] << 17;
    FRng[2] ^= FRng[0];
    FRng[3] ^= FRng[1];
    FRng[1] ^= FRng[2];
    FRng[0] ^= FRng[3];
    FRng[2] ^= T;
    FRng[3] = Rotl(FRng[3], 45);
    return static_cast<uint32_t>(Result >> 32);
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

float TSynth::TriangleOf(float Phase) {
    const float S = StoreF32(sinl(Phase));
    if (std::fabs(S) == 1.0f) return S;
    const long double Sl = S;
    return StoreF32(atanl(Sl / sqrtl(1.0L - Sl * Sl)) * 2.0L / kPi);
}

// A random value rounded to a row's float: k / 2^32 rounds exactly as k does.
inline float TSynth::PinkRandom() { return static_cast<float>(NextRandom32()) * 0x1p-32f; }

float TSynth::PinkNoise(int32_t Index) {
    // Which of rows 1..12 are due at each value of the index's low 11 bits.
    static const auto Due = [] {
        std::array<uint16_t, 2048> T{};
        for (int I = 0; I < 2048; ++I)
            for (int K = 1; K < kPinkRows; ++K)
                if ((I & kPinkMask[K]) == kPinkValue[K]) T[I] |= static_cast<uint16_t>(1u << K);
        return T;
    }();
    PinkRows[0] = PinkRandom();
    for (unsigned Rows = Due[Index & 0x7FF]; Rows; Rows &= Rows - 1)
        PinkRows[__builtin_ctz(Rows)] = PinkRandom();  // in ascending row order
    // Adding two floats exactly and rounding once to float is what a float
    // addition does, so the rows are summed in float arithmetic; the rows lie in
    // [0, 1], so the sum cannot overflow.
    float Total = 0.0f;
    for (int K = 0; K < kPinkRows; ++K) Total += PinkRows[K];
    if (!FPlain) {
        const double Q = Total / 6.5;
        const double T = Q - 1.0;
        float Out;
        if (RoundsSurely(T, (Q + std::fabs(T)) * kStep, Out)) return Out;
        ++FFallbacks;
    }
    return StoreF32(static_cast<long double>(Total) / 6.5L - 1.0L);
}

// sin(Phase) rounded to a float store, as the plain evaluation gives it.
inline float TSynth::SineF32(int Osc, float Phase) {
    if (!FPlain) {
        const double W = SineOf(Osc, Phase);
        float Out;
        if (RoundsSurely(W, std::fabs(W) * kLib, Out)) return Out;
        ++FFallbacks;
    }
    return StoreF32(sinl(Phase));
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
    if (std::fabs(S) == 1.0f) return S;
    if (!FPlain) {
        // 2/pi * arcsin(s) is the arctangent form's exact value
        const double R = std::asin(static_cast<double>(S)) * (2.0 / 3.14159265358979323846);
        float Out;
        if (RoundsSurely(R, std::fabs(R) * kLib, Out)) return Out;
        ++FFallbacks;
    }
    const long double Sl = S;
    return StoreF32(atanl(Sl / sqrtl(1.0L - Sl * Sl)) * 2.0L / kPi);
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
        return StoreF32(Sum + sinl(R.Phase) * static_cast<long double>(R.Gain));
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
        return StoreF32(Sum + static_cast<long double>(W) * R.Gain);
    }
    case wkTriangular: {
        if (R.Gain == 0.0f && std::isfinite(R.Phase)) return Sum;
        const float W = TriangleFast(Osc, R.Phase);
        if (!FPlain) {
            const double T = Sum + static_cast<double>(W) * R.Gain;  // the product is exact
            if (RoundsSurely(T, std::fabs(T) * kStep, Out)) return Out;
            ++FFallbacks;
        }
        return StoreF32(Sum + static_cast<long double>(W) * R.Gain);
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
        return StoreF32(Sum + static_cast<long double>(W) * R.Gain);
    }
    case wkPinkNoise: {
        const float W = PinkNoise(SampleIndex);
        if (!FPlain) {
            const double T = Sum + static_cast<double>(W) * R.Gain;
            if (RoundsSurely(T, std::fabs(T) * kStep, Out)) return Out;
            ++FFallbacks;
        }
        return StoreF32(Sum + static_cast<long double>(W) * R.Gain);
    }
    default:
        // A waveform code from a foreign file: this oscillator contributes nothing.
        return Sum;
    }
}

// Phase + Omega / SampleRate.
inline float TSynth::AdvancePhase(const TOscRecord& R) {
    float Out;
    if (!FPlain && SampleRate != 0) {
        const double D = static_cast<double>(R.Omega) * FInvRate;  // within two roundings of the quotient
        const double T = R.Phase + D;
        if (RoundsSurely(T, (std::fabs(D) + std::fabs(T)) * kStep, Out)) return Out;
        ++FFallbacks;
    }
    // Without a rate the division raises as the unit does.
    return StoreF32(R.Phase + (SampleRate != 0 ? R.Omega / static_cast<long double>(SampleRate)
                                               : Divide(R.Omega, 0.0L)));
}

// Omega * SweepRatio + SweepStep.
inline float TSynth::SweepOmega(const TOscRecord& R) {
    float Out;
    if (!FPlain) {
        // A linear sweep (ratio 1) adds two floats, a logarithmic one (step 0)
        // multiplies two: exact in extended and rounded once, which is what the
        // float operation does.
        if (R.SweepRatio == 1.0f) Out = R.Omega + R.SweepStep;
        else if (R.SweepStep == 0.0f) Out = R.Omega * R.SweepRatio;
        else {
            const double T = static_cast<double>(R.Omega) * R.SweepRatio + R.SweepStep;  // exact product
            if (!RoundsSurely(T, std::fabs(T) * kStep, Out)) Out = NAN;
        }
        if (std::fabs(Out) <= 3.40282347e+38f) return Out;
        ++FFallbacks;
    }
    return StoreF32(static_cast<long double>(R.Omega) * R.SweepRatio + R.SweepStep);
}

// 2 pi * Summand + the first oscillator's Omega.
inline float TSynth::AddOmega(const TOscRecord& R) {
    float Out;
    if (!FPlain) {
        const double P = kTwoPiD * R.Summand;
        const double T = P + Oscillators[0].Omega;
        if (RoundsSurely(T, (std::fabs(P) + std::fabs(T)) * kStep, Out)) return Out;
        ++FFallbacks;
    }
    return StoreF32(kTwoPi * R.Summand + Oscillators[0].Omega);
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
                // a product of two floats is exact in extended: one rounding
                R.Omega = StoreF32(static_cast<long double>(Oscillators[0].Omega) * R.Factor);
                R.Gain = LeftGain;
            }
            if (R.Phase > kBelowTwoPi) R.Phase = StoreF32(R.Phase - kTwoPi);
            if (IsSet(R.LeftOn)) Sum = AddWave(I, R, Sum);
        }
    } else {
        for (int I = 0; I <= Last; ++I) {
            TOscRecord& R = Oscillators[I];
            R.Gain = IsSet(R.RightOn) ? R.GainInit : 0.0f;
            if (R.Phase > kBelowTwoPi) R.Phase = StoreF32(R.Phase - kTwoPi);
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
