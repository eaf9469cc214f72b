#pragma once
// Arithmetic shared by the frame-by-frame and the block computation: the
// constants, the faults as the floating-point unit raises them, and the steps of
// the synthesis both as the plain extended computation and as the faster double
// computation that is taken only where it provably rounds the same way.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "synth/errors.h"
#include "synth/synth.h"

namespace zelvo::detail {

constexpr long double kPi = 3.14159265358979323846264338327950288L;
constexpr long double kTwoPi = 6.28318530717958647703L;
constexpr double kTwoPiD = 6.283185307179586476925;

// The largest float below 2 pi: a stored phase is above 2 pi exactly when it is
// above this.
constexpr float kBelowTwoPi = 6.28318500518798828125f;

// Relative bound for a double-precision rounding step, four times what one
// step can cost, so that a few steps and the extended ones stay inside it.
constexpr double kStep = 0x1p-50;
// Relative bound for the library's double sine or arcsine against the extended
// ones (each within about one unit in the last place), with a wide margin.
constexpr double kLib = 0x1p-46;

// Division as the floating-point unit reports it: x/0 is a zero divide, 0/0 and
// anything with a NaN an invalid operation.
inline long double Divide(long double A, long double B) {
    if (B == 0.0L) {
        if (A == 0.0L || std::isnan(A)) throw EInvalidOp();
        throw EZeroDivide();
    }
    return A / B;
}

inline uint32_t Bits(float F) {
    uint32_t U;
    std::memcpy(&U, &F, sizeof U);
    return U;
}

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

// The block computation's sine of each phase, on the given instruction set (for
// the tests that hold it to its error bound).
void BlockSines(const float* Phases, double* Out, int Count, TSynth::TBlockPath Path);

// Which of the pink-noise rows 1..12 are due (bit k for row k) at each value of
// the index's low 11 bits.
const uint16_t* PinkDueRows();

// The plain steps: exactly the precision rule, raising where the unit would.
inline float PlainPhaseStep(float Phase, float Omega, int32_t Rate) {
    // Without a rate the division raises as the unit does.
    return StoreF32(Phase + (Rate != 0 ? Omega / static_cast<long double>(Rate) : Divide(Omega, 0.0L)));
}
inline float PlainSweep(float Omega, float Ratio, float Step) {
    return StoreF32(static_cast<long double>(Omega) * Ratio + Step);
}
inline float PlainAddOmega(float Summand, float Omega0) { return StoreF32(kTwoPi * Summand + Omega0); }
// a product of two floats is exact in extended: one rounding
inline float PlainMulOmega(float Omega0, float Factor) {
    return StoreF32(static_cast<long double>(Omega0) * Factor);
}
inline float PlainWrap(float Phase) { return Phase > kBelowTwoPi ? StoreF32(Phase - kTwoPi) : Phase; }
inline float PlainAddTerm(float Sum, long double W, float Gain) {
    return StoreF32(Sum + W * static_cast<long double>(Gain));
}
// total / 6.5 - 1 of the pink-noise rows' sum
inline float PlainPinkValue(float Total) { return StoreF32(static_cast<long double>(Total) / 6.5L - 1.0L); }
inline float PlainTriangle(float S) {
    if (std::fabs(S) == 1.0f) return S;
    const long double Sl = S;
    return StoreF32(atanl(Sl / sqrtl(1.0L - Sl * Sl)) * 2.0L / kPi);
}

// The fast steps with their fallbacks; Fallbacks counts the undecided ones.
inline float FastPhaseStep(float Phase, float Omega, int32_t Rate, double InvRate, uint64_t& Fallbacks) {
    float Out;
    if (Rate != 0) {
        const double D = static_cast<double>(Omega) * InvRate;  // within two roundings of the quotient
        const double T = Phase + D;
        if (RoundsSurely(T, (std::fabs(D) + std::fabs(T)) * kStep, Out)) return Out;
        ++Fallbacks;
    }
    return PlainPhaseStep(Phase, Omega, Rate);
}

inline float FastSweep(float Omega, float Ratio, float Step, uint64_t& Fallbacks) {
    float Out;
    // A linear sweep (ratio 1) adds two floats, a logarithmic one (step 0)
    // multiplies two: exact in extended and rounded once, which is what the
    // float operation does.
    if (Ratio == 1.0f) Out = Omega + Step;
    else if (Step == 0.0f) Out = Omega * Ratio;
    else {
        const double T = static_cast<double>(Omega) * Ratio + Step;  // exact product
        if (!RoundsSurely(T, std::fabs(T) * kStep, Out)) Out = NAN;
    }
    if (std::fabs(Out) <= 3.40282347e+38f) return Out;
    ++Fallbacks;
    return PlainSweep(Omega, Ratio, Step);
}

// sin(Phase) rounded to a float store, given W = FastSinImpl(Phase).
inline float FastSineF32(double W, float Phase, uint64_t& Fallbacks) {
    float Out;
    if (RoundsSurely(W, std::fabs(W) * kLib, Out)) return Out;
    ++Fallbacks;
    return StoreF32(sinl(Phase));
}

// The triangle of a rounded sine S: 2/pi * arcsin(s) is the arctangent form's
// exact value.
inline float FastTriangleOfSine(float S, uint64_t& Fallbacks) {
    if (std::fabs(S) == 1.0f) return S;
    const double R = std::asin(static_cast<double>(S)) * (2.0 / 3.14159265358979323846);
    float Out;
    if (RoundsSurely(R, std::fabs(R) * kLib, Out)) return Out;
    ++Fallbacks;
    return PlainTriangle(S);
}

inline float FastPinkValue(float Total, uint64_t& Fallbacks) {
    const double Q = Total / 6.5;
    const double T = Q - 1.0;
    float Out;
    if (RoundsSurely(T, (Q + std::fabs(T)) * kStep, Out)) return Out;
    ++Fallbacks;
    return PlainPinkValue(Total);
}

inline float FastAddOmega(float Summand, float Omega0, uint64_t& Fallbacks) {
    float Out;
    const double P = kTwoPiD * Summand;
    const double T = P + Omega0;
    if (RoundsSurely(T, (std::fabs(P) + std::fabs(T)) * kStep, Out)) return Out;
    ++Fallbacks;
    return PlainAddOmega(Summand, Omega0);
}

// sin(X) in double precision for the phases the oscillators run at, with a
// relative error of a few units in the last place (far inside kLib): Cody-Waite
// reduction by pi/2 in three parts, then Taylor polynomials on [-pi/4, pi/4].
// Phases beyond 2^20 rad go to the library. The block computation evaluates the
// same operations in the same order, lane by lane.
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

} // namespace zelvo::detail
