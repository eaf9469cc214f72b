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

// The last rounding of the fast paths: the exact result lies within E of T, so
// when both ends of that interval round to the same float, so does the exact
// result (rounding is monotonic).
inline bool RoundsSurely(long double T, long double E, float& Out) {
    const float Lo = static_cast<float>(T - E);
    const float Hi = static_cast<float>(T + E);
    if (Lo != Hi || !std::isfinite(Lo)) return false;
    Out = Lo;
    return true;
}

// The bound on the difference between a double-precision sine (or arcsine) and
// the extended one, relative to the value, with a wide margin over the libraries'
// error of about one unit in the last place of each.
constexpr long double kFastRelError = 0x1p-46L;

} // namespace

float StoreF32(long double V) {
    const float F = static_cast<float>(V);
    if (std::isnan(V)) throw EInvalidOp();
    if (std::isinf(F) && !std::isinf(V)) throw EOverflow();
    return F;
}

TSynth::TSynth() {
    std::random_device Rd;
    SeedRandom((static_cast<uint64_t>(Rd()) << 32) ^ Rd());
    FSinPhaseBits.fill(Bits(0.0f));  // sin(0) = 0: the cache is valid from the start
    FSinValue.fill(0.0);
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

long double TSynth::NextRandom() {
    // xoshiro256**; the top 32 bits give a value k / 2^32, exact in every format used
    const uint64_t Result = Rotl(FRng[1] * 5, 7) * 9;
    const uint64_t T = FRng[1] << 17;
    FRng[2] ^= FRng[0];
    FRng[3] ^= FRng[1];
    FRng[1] ^= FRng[2];
    FRng[0] ^= FRng[3];
    FRng[2] ^= T;
    FRng[3] = Rotl(FRng[3], 45);
    return static_cast<long double>(Result >> 32) * 0x1p-32L;
}

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

float TSynth::PinkNoise(int32_t Index) {
    PinkRows[0] = StoreF32(NextRandom());
    for (int K = 1; K < kPinkRows; ++K)
        if ((Index & kPinkMask[K]) == kPinkValue[K]) PinkRows[K] = StoreF32(NextRandom());
    float Total = 0.0f;
    for (int K = 0; K < kPinkRows; ++K) Total = StoreF32(static_cast<long double>(Total) + PinkRows[K]);
    return StoreF32(static_cast<long double>(Total) / 6.5L - 1.0L);
}

// sin(Phase) rounded to a float store, as the plain evaluation gives it.
float TSynth::SineF32(int Osc, float Phase) {
    if (!FPlain) {
        const double W = SineOf(Osc, Phase);
        float Out;
        if (RoundsSurely(W, std::fabs(static_cast<long double>(W)) * kFastRelError, Out)) return Out;
        ++FFallbacks;
    }
    return StoreF32(sinl(Phase));
}

double TSynth::SineOf(int Osc, float Phase) {
    const uint32_t B = Bits(Phase);
    if (FSinPhaseBits[Osc] != B) {
        FSinPhaseBits[Osc] = B;
        FSinValue[Osc] = std::sin(static_cast<double>(Phase));
    }
    return FSinValue[Osc];
}

float TSynth::TriangleFast(int Osc, float Phase) {
    const float S = SineF32(Osc, Phase);
    if (std::fabs(S) == 1.0f) return S;
    if (!FPlain) {
        // 2/pi * arcsin(s) is the arctangent form's exact value
        const long double R = static_cast<long double>(std::asin(static_cast<double>(S))) * 2.0L / kPi;
        float Out;
        if (RoundsSurely(R, std::fabs(R) * kFastRelError, Out)) return Out;
        ++FFallbacks;
    }
    const long double Sl = S;
    return StoreF32(atanl(Sl / sqrtl(1.0L - Sl * Sl)) * 2.0L / kPi);
}

// Sum + w * Gain of one oscillator, rounded to the running sum's float.
float TSynth::AddWave(int Osc, const TOscRecord& R, float Sum) {
    const long double G = R.Gain;
    switch (R.WaveKind) {
    case wkSine: {
        // A finite phase with no gain adds nothing; skip the sine.
        if (R.Gain == 0.0f && std::isfinite(R.Phase)) return Sum;
        if (!FPlain) {
            const double W = SineOf(Osc, R.Phase);
            const long double P = static_cast<long double>(W) * G;
            const long double T = Sum + P;
            float Out;
            if (RoundsSurely(T, std::fabs(P) * kFastRelError + std::fabs(T) * 0x1p-60L, Out)) return Out;
            ++FFallbacks;
        }
        return StoreF32(Sum + sinl(R.Phase) * G);
    }
    case wkSquare:
        if (R.Gain == 0.0f && std::isfinite(R.Phase)) return Sum;
        return StoreF32(Sum + static_cast<long double>(SquareOf(SineF32(Osc, R.Phase))) * G);
    case wkTriangular:
        if (R.Gain == 0.0f && std::isfinite(R.Phase)) return Sum;
        return StoreF32(Sum + static_cast<long double>(TriangleFast(Osc, R.Phase)) * G);
    case wkWhiteNoise:
        return StoreF32(Sum + (2.0L * NextRandom() - 1.0L) * G);
    case wkPinkNoise:
        return StoreF32(Sum + static_cast<long double>(PinkNoise(SampleIndex)) * G);
    default:
        // A waveform code from a foreign file: this oscillator contributes nothing.
        return Sum;
    }
}

int32_t TSynth::ComputeSample(uint8_t Channel) {
    float Sum = 0.0f;
    // A count from a foreign file must never take the loop beyond the bank.
    const int Last = LastOsc < kBankSize ? LastOsc : kBankSize - 1;
    if (Channel == 0) {
        for (int I = 0; I <= Last; ++I) {
            TOscRecord& R = Oscillators[I];
            const float LeftGain = IsSet(R.LeftOn) ? R.GainInit : 0.0f;
            if (IsSet(R.ModeIndependent)) {
                R.Phase = StoreF32(R.Phase + Divide(R.Omega, SampleRate));
                R.Omega = StoreF32(static_cast<long double>(R.Omega) * R.SweepRatio + R.SweepStep);
                R.Gain = LeftGain;
            }
            if (IsSet(R.ModeAdd)) {
                R.Phase = StoreF32(R.Phase + Divide(R.Omega, SampleRate));
                R.Omega = StoreF32(kTwoPi * R.Summand + Oscillators[0].Omega);
                R.Gain = LeftGain;
            }
            if (IsSet(R.ModeMultiply)) {
                R.Phase = StoreF32(R.Phase + Divide(R.Omega, SampleRate));
                R.Omega = StoreF32(static_cast<long double>(Oscillators[0].Omega) * R.Factor);
                R.Gain = LeftGain;
            }
            if (static_cast<long double>(R.Phase) > kTwoPi) R.Phase = StoreF32(R.Phase - kTwoPi);
            if (IsSet(R.LeftOn)) Sum = AddWave(I, R, Sum);
        }
    } else {
        for (int I = 0; I <= Last; ++I) {
            TOscRecord& R = Oscillators[I];
            R.Gain = IsSet(R.RightOn) ? R.GainInit : 0.0f;
            if (static_cast<long double>(R.Phase) > kTwoPi) R.Phase = StoreF32(R.Phase - kTwoPi);
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
