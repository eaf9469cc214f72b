// The block computation: a run of frames at once, with the same samples and the
// same state as frame-by-frame ComputeSample calls.
//
// Per block, the phase and frequency recurrences run for all oscillators side by
// side (four to a vector) and keep each frame's phase; the noise is drawn in the
// order the frame-by-frame passes draw it; then each oscillator, in index order,
// adds its terms into every frame's left and right sums, several frames to a
// vector. Each fast value is taken only where its error bound proves the rounding
// the extended computation gives; an undecided element is computed the plain way
// in place. A block that meets anything unusual (a fault, a foreign record, a
// phase beyond one wrap) is thrown away and done frame by frame.
#include <cmath>
#include <cstring>
#include <immintrin.h>

#include "synth/synth.h"
#include "synth/synth_math.h"

namespace zelvo {
using namespace detail;
namespace {

typedef double v4d __attribute__((vector_size(32)));
typedef float v4f __attribute__((vector_size(16)));
typedef int64_t v4l __attribute__((vector_size(32)));
typedef int32_t v4i __attribute__((vector_size(16)));

#define ZELVO_INLINE [[gnu::always_inline]] inline

constexpr float kFloatMax = 3.40282347e+38f;
// 2 pi of the extended computation as the sum of two doubles, both exact.
constexpr double kTwoPiHi = static_cast<double>(kTwoPi);
constexpr double kTwoPiLo = static_cast<double>(kTwoPi - static_cast<long double>(kTwoPiHi));
constexpr float kFourPi = 12.56637f;  // below 4 pi: subtracting kTwoPiHi is exact up to here
constexpr double kRound = 0x1.8p52;   // adding and subtracting it rounds to an integer, ties to even

enum TLaneMode : int32_t { lmIndependent, lmAdd, lmMultiply };

ZELVO_INLINE v4f Load(const float* P) {
    v4f V;
    std::memcpy(&V, P, sizeof V);
    return V;
}
ZELVO_INLINE void Store(float* P, v4f V) { std::memcpy(P, &V, sizeof V); }
ZELVO_INLINE v4i Load(const int32_t* P) {
    v4i V;
    std::memcpy(&V, P, sizeof V);
    return V;
}
ZELVO_INLINE v4d ToD(v4f V) { return __builtin_convertvector(V, v4d); }
ZELVO_INLINE v4f ToF(v4d V) { return __builtin_convertvector(V, v4f); }
ZELVO_INLINE v4d Abs(v4d V) { return (v4d)((v4l)V & 0x7FFFFFFFFFFFFFFFll); }
ZELVO_INLINE v4f Abs(v4f V) { return (v4f)((v4i)V & 0x7FFFFFFF); }
ZELVO_INLINE v4d Splat(double X) { return v4d{X, X, X, X}; }
ZELVO_INLINE v4f SplatF(float X) { return v4f{X, X, X, X}; }
ZELVO_INLINE v4i Narrow(v4l M) { return __builtin_convertvector(M, v4i); }
// One bit per lane of a mask.
ZELVO_INLINE int Bitmask(v4i M) { return _mm_movemask_ps((__m128)M); }
ZELVO_INLINE v4f Select(v4i M, v4f A, v4f B) { return (v4f)((M & (v4i)A) | (~M & (v4i)B)); }
ZELVO_INLINE v4d Select(v4l M, v4d A, v4d B) { return (v4d)((M & (v4l)A) | (~M & (v4l)B)); }

// Both ends of [T - E, T + E] round to one finite float: lanes of the mask.
ZELVO_INLINE v4i Decided(v4d T, v4d E, v4f& Out) {
    const v4f Lo = ToF(T - E), Hi = ToF(T + E);
    Out = Lo;
    return (Lo == Hi) & (Abs(Lo) <= kFloatMax);
}

// The reduction and polynomials of FastSinImpl, lane by lane, the same operations
// in the same order. Valid for |X| < 2^20; the caller looks at the others.
struct TSinCos {
    v4d R, Sin, Cos;  // the reduced angle and its sine and cosine
    v4l Quadrant;     // N's low bits
    v4d Value;        // sin X
    v4i Far;          // lanes beyond the reduction's range
};

ZELVO_INLINE TSinCos SinCos(v4d X) {
    constexpr double TwoOverPi = 0.63661977236758134308;
    constexpr double Pio2_1 = 1.57079632673412561417e+00;
    constexpr double Pio2_2 = 6.07710050630396597660e-11;
    constexpr double Pio2_2t = 2.02226624879595063154e-21;
    const v4l NonNegative = X >= 0.0;
    const v4d Y = X * TwoOverPi + Select(NonNegative, Splat(0.5), Splat(-0.5));
    // truncation toward zero, as the conversion to an integer does
    const v4d Near = (Y + kRound) - kRound;
    const v4d K = Select(Y >= 0.0, Near - Select(Near > Y, Splat(1.0), Splat(0.0)),
                         Near + Select(Near < Y, Splat(1.0), Splat(0.0)));
    TSinCos C;
    C.R = ((X - K * Pio2_1) - K * Pio2_2) - K * Pio2_2t;
    const v4d Z = C.R * C.R, Z2 = Z * Z, Z4 = Z2 * Z2;
    const v4d CA = (1.0 - Z * (1.0 / 2)) + Z2 * (1.0 / 24 - Z * (1.0 / 720));
    const v4d CB = (1.0 / 40320 - Z * (1.0 / 3628800)) + Z2 * (1.0 / 479001600 - Z * (1.0 / 87178291200.0));
    C.Cos = CA + Z4 * (CB + Z4 * (1.0 / 20922789888000.0));
    const v4d SA = (-1.0 / 6 + Z * (1.0 / 120)) + Z2 * (-1.0 / 5040 + Z * (1.0 / 362880));
    const v4d SB = (-1.0 / 39916800 + Z * (1.0 / 6227020800.0)) + Z2 * (-1.0 / 1307674368000.0);
    C.Sin = C.R + C.R * Z * (SA + Z4 * SB);
    C.Quadrant = (v4l)(K + kRound);
    const v4l Pick = 0 - (C.Quadrant & 1);
    C.Value = (v4d)((((v4l)C.Cos & Pick) | ((v4l)C.Sin & ~Pick)) ^ ((C.Quadrant & 2) << 62));
    return C;
}

// sin of four phases; lanes beyond the polynomial's range go to the library, as
// FastSinImpl does.
ZELVO_INLINE v4d Sines(const float* Ph, TSinCos* Full = nullptr) {
    const v4d X = ToD(Load(Ph));
    TSinCos C = SinCos(X);
    C.Far = Narrow(~(Abs(X) < 0x1p20));
    const int Far = Bitmask(C.Far);
    if (Far) [[unlikely]]
        for (int L = 0; L < 4; ++L)
            if (Far >> L & 1) C.Value[L] = std::sin(X[L]);
    if (Full) *Full = C;
    return C.Value;
}

// ---- the recurrences ------------------------------------------------------

struct TRecurJob {
    float (*Ph)[TSynth::kBlockFrames];
    const float* Omega0;
    float* LanePh;
    float* LaneOm;
    const float* Ratio;
    const float* Step;
    const float* Summand;
    const float* Factor;
    const int32_t* Mode;
    int Groups;
    int Frames;
    int32_t Rate;
    uint64_t Fallbacks;
    bool Unusual;  // a phase still above 2 pi after the left pass's wrap
};

// One lane's frame the plain way (may raise).
[[gnu::noinline]] void PlainLane(TRecurJob& J, int Lane, float Omega0) {
    const float Ph = PlainPhaseStep(J.LanePh[Lane], J.LaneOm[Lane], J.Rate);
    switch (J.Mode[Lane]) {
    case lmIndependent: J.LaneOm[Lane] = PlainSweep(J.LaneOm[Lane], J.Ratio[Lane], J.Step[Lane]); break;
    case lmAdd: J.LaneOm[Lane] = PlainAddOmega(J.Summand[Lane], Omega0); break;
    default: J.LaneOm[Lane] = PlainMulOmega(Omega0, J.Factor[Lane]); break;
    }
    J.LanePh[Lane] = PlainWrap(Ph);
}

ZELVO_INLINE void RecurBody(TRecurJob& J) {
    const v4d Inv = Splat(1.0 / J.Rate);
    for (int F = 0; F < J.Frames; ++F) {
        const float O0 = J.Omega0[F];
        const v4d O0d = Splat(O0);
        for (int G = 0; G < J.Groups; ++G) {
            const int B = 4 * G;
            const v4f Ph = Load(J.LanePh + B), Om = Load(J.LaneOm + B);
            const v4f Ratio = Load(J.Ratio + B), Step = Load(J.Step + B);
            const v4i Mode = Load(J.Mode + B);
            // Phase + Omega / rate
            const v4d D = ToD(Om) * Inv;
            const v4d T = ToD(Ph) + D;
            v4f NewPh;
            v4i Ok = Decided(T, (Abs(D) + Abs(T)) * kStep, NewPh);
            // the new angular frequency, by mode
            const v4d Tg = ToD(Om) * ToD(Ratio) + ToD(Step);  // the product is exact
            v4f General;
            const v4i OkGeneral = Decided(Tg, Abs(Tg) * kStep, General);
            const v4f Indep = Select(Ratio == 1.0f, Om + Step, Select(Step == 0.0f, Om * Ratio, General));
            const v4i OkIndep = (Ratio == 1.0f) | (Step == 0.0f) | OkGeneral;
            const v4d P = ToD(Load(J.Summand + B)) * kTwoPiD;
            const v4d Ta = P + O0d;
            v4f Added;
            const v4i OkAdd = Decided(Ta, (Abs(P) + Abs(Ta)) * kStep, Added);
            const v4f Multiplied = SplatF(O0) * Load(J.Factor + B);
            const v4i IsIndep = Mode == int32_t{lmIndependent}, IsAdd = Mode == int32_t{lmAdd};
            const v4f NewOm = Select(IsIndep, Indep, Select(IsAdd, Added, Multiplied));
            Ok &= (IsIndep & OkIndep) | (IsAdd & OkAdd) | (~IsIndep & ~IsAdd);
            Ok &= Abs(NewOm) <= kFloatMax;
            // the wrap: Phase - 2 pi, exact in double below 4 pi but for the last term
            const v4i Wraps = NewPh > kBelowTwoPi;
            const v4d V = (ToD(NewPh) - kTwoPiHi) - kTwoPiLo;
            v4f Wrapped;
            const v4i OkWrap = Decided(V, Abs(V) * 0x1p-50, Wrapped) & (NewPh <= kFourPi);
            Ok &= ~Wraps | OkWrap;
            const v4f Out = Select(Wraps, Wrapped, NewPh);
            Store(J.LanePh + B, Out);
            Store(J.LaneOm + B, NewOm);
            const int Undecided = Bitmask(~Ok);
            if (Undecided) [[unlikely]] {
                // go back to the lane's values before this frame and do it plainly
                Store(J.LanePh + B, Ph);
                Store(J.LaneOm + B, Om);
                for (int L = 0; L < 4; ++L) {
                    if (Undecided >> L & 1) {
                        PlainLane(J, B + L, O0);
                        ++J.Fallbacks;
                    } else {
                        J.LanePh[B + L] = Out[L];
                        J.LaneOm[B + L] = NewOm[L];
                    }
                }
            }
            const v4f Final = Load(J.LanePh + B);
            // The right pass would wrap once more; and a phase that is not finite
            // has to raise where frame-by-frame computation raises it.
            if (Bitmask((Final > kBelowTwoPi) | ~(Abs(Final) <= kFloatMax))) [[unlikely]]
                J.Unusual = true;
            for (int L = 0; L < 4; ++L) J.Ph[B + L][F] = Final[L];
        }
    }
}

// ---- adding one oscillator's terms into the sums ------------------------------

struct TMixJob {
    const float* Ph;     // the oscillator's phases (sine, square)
    const float* W;      // its waveform values (triangle, pink noise)
    const uint32_t* K;   // its draws (white noise)
    float* Sum;
    float Gain;
    int Frames;
    uint64_t Fallbacks;
};

// Sum + sin(Phase) * Gain
ZELVO_INLINE void MixSineBody(TMixJob& J) {
    const v4d G = Splat(J.Gain);
    for (int F = 0; F < J.Frames; F += 4) {
        const v4d S = Sines(J.Ph + F);
        const v4f Sum = Load(J.Sum + F);
        const v4d P = S * G;
        const v4d T = ToD(Sum) + P;
        v4f Out;
        const int Undecided = Bitmask(~Decided(T, Abs(P) * kLib + Abs(T) * kStep, Out));
        Store(J.Sum + F, Out);
        if (Undecided) [[unlikely]]
            for (int L = 0; L < 4; ++L)
                if (Undecided >> L & 1) {
                    J.Sum[F + L] = PlainAddTerm(Sum[L], sinl(J.Ph[F + L]), J.Gain);
                    ++J.Fallbacks;
                }
    }
}

// Sum + SquareOf(sin Phase) * Gain. For a float phase the sine is never so small
// that it rounds to zero unless the phase is zero, so the double sine's sign is
// the rounded sine's (-0 counts as +1 both ways); two floats added exactly and
// rounded once are a float addition.
ZELVO_INLINE void MixSquareBody(TMixJob& J) {
    const v4f G = SplatF(J.Gain);
    for (int F = 0; F < J.Frames; F += 4) {
        const v4d S = Sines(J.Ph + F);
        const v4f Sum = Load(J.Sum + F);
        const v4f Term = (v4f)((v4i)G ^ (Narrow(S < 0.0) & (int32_t)0x80000000));
        const v4f Out = Sum + Term;
        Store(J.Sum + F, Out);
        const int Undecided = Bitmask(~(Abs(Out) <= kFloatMax));
        if (Undecided) [[unlikely]]
            for (int L = 0; L < 4; ++L)
                if (Undecided >> L & 1) {
                    const float Sine = StoreF32(sinl(J.Ph[F + L]));
                    J.Sum[F + L] = PlainAddTerm(Sum[L], TSynth::SquareOf(Sine), J.Gain);
                    ++J.Fallbacks;
                }
    }
}

// Sum + W * Gain for float values (triangle, pink noise): the product is exact.
ZELVO_INLINE void MixFloatBody(TMixJob& J) {
    const v4d G = Splat(J.Gain);
    for (int F = 0; F < J.Frames; F += 4) {
        const v4f Sum = Load(J.Sum + F);
        const v4f W = Load(J.W + F);
        const v4d T = ToD(Sum) + ToD(W) * G;
        v4f Out;
        const int Undecided = Bitmask(~Decided(T, Abs(T) * kStep, Out));
        Store(J.Sum + F, Out);
        if (Undecided) [[unlikely]]
            for (int L = 0; L < 4; ++L)
                if (Undecided >> L & 1) {
                    J.Sum[F + L] = PlainAddTerm(Sum[L], W[L], J.Gain);
                    ++J.Fallbacks;
                }
    }
}

// Sum + (2u - 1) * Gain for u = k / 2^32: 2u - 1 is exact in double.
ZELVO_INLINE void MixWhiteBody(TMixJob& J) {
    const v4d G = Splat(J.Gain);
    for (int F = 0; F < J.Frames; F += 4) {
        const v4f Sum = Load(J.Sum + F);
        v4d W;
        for (int L = 0; L < 4; ++L) W[L] = (static_cast<double>(J.K[F + L]) * 2.0 - 0x1p32) * 0x1p-32;
        const v4d P = W * G;
        const v4d T = ToD(Sum) + P;
        v4f Out;
        const int Undecided = Bitmask(~Decided(T, (Abs(P) + Abs(T)) * kStep, Out));
        Store(J.Sum + F, Out);
        if (Undecided) [[unlikely]]
            for (int L = 0; L < 4; ++L)
                if (Undecided >> L & 1) {
                    J.Sum[F + L] = PlainAddTerm(Sum[L], W[L], J.Gain);
                    ++J.Fallbacks;
                }
    }
}

// The triangle's values: 2/pi * arcsin(s) for the rounded sine s of each phase.
// With theta the reduced angle whose sine the double sine approximates and c its
// cosine, arcsin(s) = theta + d/c + sin(theta) d^2 / (2 c^3) + O(d^3 / c^5) for
// d = s - sin(theta), |d| below 2^-24. Where c is small (near the peaks) or the
// bound does not decide the rounding, the library's arcsine takes over.
ZELVO_INLINE void TriangleBody(TMixJob& J, float* Out) {
    constexpr double HalfPi = 1.57079632679489661923;
    constexpr double TwoOverPi = 2.0 / 3.14159265358979323846;
    for (int F = 0; F < J.Frames; F += 4) {
        TSinCos C;
        const v4d S = Sines(J.Ph + F, &C);
        v4f Sf;
        v4i Ok = Decided(S, Abs(S) * kLib, Sf);
        const v4l Odd = 0 - (C.Quadrant & 1);
        const v4l Negative = 0 - ((C.Quadrant >> 1) & 1);
        const v4d Theta0 = Select(Odd, HalfPi - Abs(C.R), C.R);
        const v4d Theta = (v4d)((v4l)Theta0 ^ (Negative & (int64_t)0x8000000000000000ll));
        const v4d Cos = Select(Odd, Abs(C.Sin), C.Cos);
        const v4d D = ToD(Sf) - S;
        const v4d Q = D / Cos;
        const v4d A = Theta + (Q + S * Q * Q / (Cos + Cos));
        const v4d R = A * TwoOverPi;
        const v4d Q3 = Abs(Q * Q * Q) / (Cos * Cos);
        const v4d ThetaErr = Abs(Theta) * 0x1p-49 + Select(Odd, Splat(0x1p-50), Splat(0x1p-90));
        const v4d E = (ThetaErr + Abs(S) / Cos * kLib + Q3) * TwoOverPi + Abs(R) * 0x1p-49;
        v4f W;
        Ok &= Decided(R, E, W) & Narrow(Cos >= 0x1p-5) & ~C.Far;
        Store(Out + F, W);
        const int Undecided = Bitmask(~Ok);
        if (Undecided) [[unlikely]]
            for (int L = 0; L < 4; ++L)
                if (Undecided >> L & 1) {
                    const float Ph = J.Ph[F + L];
                    Out[F + L] = FastTriangleOfSine(FastSineF32(FastSinImpl(Ph), Ph, J.Fallbacks), J.Fallbacks);
                }
    }
}

// ---- the samples ------------------------------------------------------------

// The sample of a sum: 32767 * sum / count rounded to an integer, ties to even,
// then kept within 16 bits. 32767 * sum is exact in double; the quotient of such
// a number by a count up to 25 lies at least 2^-39 of its size away from any
// half-integer that it is not, so the double quotient rounds to the same integer
// as the extended one wherever it is below 2^30.
[[gnu::noinline]] int16_t PlainSampleOf(float Sum, int32_t Count) {
    const long double V = Divide(32767.0L * Sum, Count);
    if (!(V > -9223372036854775808.5L && V < 9223372036854775808.0L)) throw EInvalidOp();
    const int64_t I = llrintl(V);
    return SampleToPcm16(I > INT32_MAX ? INT32_MAX : (I < INT32_MIN ? INT32_MIN : static_cast<int32_t>(I)));
}

ZELVO_INLINE void SamplesBody(const float* SumL, const float* SumR, int32_t Count, int Frames, int16_t* Out) {
    const v4d N = Splat(Count);
    for (int F = 0; F < Frames; F += 4) {
        for (int Ch = 0; Ch < 2; ++Ch) {
            const float* Sums = Ch == 0 ? SumL : SumR;
            const v4d Q = ToD(Load(Sums + F)) * 32767.0 / N;
            const v4d Rounded = (Q + kRound) - kRound;
            const v4d Kept = Select(Rounded > 32767.0, Splat(32767.0), Select(Rounded < -32768.0, Splat(-32768.0), Rounded));
            const int Far = Bitmask(Narrow(~(Abs(Q) < 0x1p30)));
            for (int L = 0; L < 4 && F + L < Frames; ++L)
                Out[2 * (F + L) + Ch] = (Far >> L & 1) ? PlainSampleOf(Sums[F + L], Count)
                                                      : static_cast<int16_t>(Kept[L]);
        }
    }
}

// ---- the kernels, once for each instruction set --------------------------------

struct TKernels {
    void (*Recur)(TRecurJob&);
    void (*MixSine)(TMixJob&);
    void (*MixSquare)(TMixJob&);
    void (*MixFloat)(TMixJob&);
    void (*MixWhite)(TMixJob&);
    void (*Triangle)(TMixJob&, float*);
    void (*Samples)(const float*, const float*, int32_t, int, int16_t*);
};

#define ZELVO_KERNELS(NAME, ATTR)                                                              \
    namespace NAME {                                                                           \
    ATTR void Recur(TRecurJob& J) { RecurBody(J); }                                            \
    ATTR void MixSine(TMixJob& J) { MixSineBody(J); }                                          \
    ATTR void MixSquare(TMixJob& J) { MixSquareBody(J); }                                      \
    ATTR void MixFloat(TMixJob& J) { MixFloatBody(J); }                                        \
    ATTR void MixWhite(TMixJob& J) { MixWhiteBody(J); }                                        \
    ATTR void Triangle(TMixJob& J, float* Out) { TriangleBody(J, Out); }                       \
    ATTR void Samples(const float* L, const float* R, int32_t N, int F, int16_t* O) {          \
        SamplesBody(L, R, N, F, O);                                                            \
    }                                                                                          \
    constexpr TKernels Kernels{Recur, MixSine, MixSquare, MixFloat, MixWhite, Triangle, Samples}; \
    }

ZELVO_KERNELS(generic, )
ZELVO_KERNELS(avx2, [[gnu::target("avx2")]])

const TKernels& KernelsFor(TSynth::TBlockPath Path) {
    return Path == TSynth::TBlockPath::Avx2 ? avx2::Kernels : generic::Kernels;
}

inline bool IsSet(uint8_t B) { return B != 0; }

} // namespace

std::vector<TSynth::TBlockPath> TSynth::BlockPathsOnThisMachine() {
    std::vector<TBlockPath> Paths{TBlockPath::FrameByFrame, TBlockPath::Generic};
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) Paths.push_back(TBlockPath::Avx2);
    return Paths;
}

TSynth::TRunState TSynth::SaveRunState() const {
    TRunState S;
    S.Oscillators = Oscillators;
    S.PinkRows = PinkRows;
    std::memcpy(S.Rng, FRng, sizeof FRng);
    S.SampleIndex = SampleIndex;
    return S;
}

void TSynth::RestoreRunState(const TRunState& S) {
    Oscillators = S.Oscillators;
    PinkRows = S.PinkRows;
    std::memcpy(FRng, S.Rng, sizeof FRng);
    SampleIndex = S.SampleIndex;
}

void TSynth::RenderFrames(int16_t* Out, int32_t Frames) {
    while (Frames > 0) {
        const int32_t N = Frames < kBlockFrames ? Frames : kBlockFrames;
        if (FBlockPath == TBlockPath::FrameByFrame || !RenderBlock(Out, N)) RenderFrameByFrame(Out, N);
        Out += 2 * N;
        Frames -= N;
    }
}

void TSynth::RenderFrameByFrame(int16_t* Out, int32_t Frames) {
    for (int32_t F = 0; F < Frames; ++F) {
        Out[2 * F] = SampleToPcm16(ComputeSample(0));
        Out[2 * F + 1] = SampleToPcm16(ComputeSample(1));
        SampleIndex = static_cast<int32_t>(static_cast<uint32_t>(SampleIndex) + 1u);
    }
}

// The noise of a block, drawn in the order of the frame-by-frame passes: in each
// frame the left pass's noise oscillators that feed the left channel, then the
// right pass's, all of them, in index order.
void TSynth::DrawNoise(int32_t Frames, int Last) {
    int Slots[2 * kBankSize];
    int Count = 0;
    for (int Pass = 0; Pass < 2; ++Pass)
        for (int I = 0; I <= Last; ++I) {
            const TOscRecord& R = Oscillators[I];
            if ((R.WaveKind == wkWhiteNoise || R.WaveKind == wkPinkNoise) && (Pass == 1 || IsSet(R.LeftOn)))
                Slots[Count++] = Pass * kBankSize + I;
        }
    if (Count == 0) return;
    const uint16_t* Due = PinkDueRows();
    for (int32_t F = 0; F < Frames; ++F) {
        const unsigned DueRows = Due[(static_cast<uint32_t>(SampleIndex) + F) & 0x7FF];
        for (int S = 0; S < Count; ++S) {
            const int I = Slots[S] % kBankSize;
            uint32_t* Noise = Slots[S] < kBankSize ? FBlock.NoiseL[I] : FBlock.NoiseR[I];
            if (Oscillators[I].WaveKind == wkWhiteNoise) {
                Noise[F] = NextRandom32();
                continue;
            }
            PinkRows[0] = PinkRandom();
            for (unsigned Rows = DueRows; Rows; Rows &= Rows - 1) PinkRows[__builtin_ctz(Rows)] = PinkRandom();
            float Total = 0.0f;
            for (int K = 0; K < kPinkRows; ++K) Total += PinkRows[K];
            const float W = FastPinkValue(Total, FFallbacks);
            std::memcpy(&Noise[F], &W, sizeof W);
        }
    }
}

bool TSynth::RenderBlock(int16_t* Out, int32_t Frames) {
    // What the block computation covers; anything else goes frame by frame.
    const int Last = LastOsc < kBankSize ? LastOsc : kBankSize - 1;
    if (SampleRate <= 0 || OscCount < 1 || OscCount > kMaxOscillators || Last < 0) return false;
    for (int I = 0; I <= Last; ++I) {
        const TOscRecord& R = Oscillators[I];
        if (IsSet(R.ModeIndependent) + IsSet(R.ModeAdd) + IsSet(R.ModeMultiply) != 1) return false;
    }
    if (!IsSet(Oscillators[0].ModeIndependent)) return false;

    const TKernels& K = KernelsFor(FBlockPath);
    TBlockScratch& B = FBlock;
    const int Padded = (Frames + 3) & ~3;
    const int Groups = (Last + 4) / 4;
    for (int L = 0; L < 4 * Groups; ++L) {
        const bool Live = L <= Last;
        const TOscRecord& R = Oscillators[Live ? L : 0];
        B.LanePh[L] = Live ? R.Phase : 0.0f;
        B.LaneOm[L] = Live ? R.Omega : 0.0f;
        B.LaneRatio[L] = Live ? R.SweepRatio : 1.0f;
        B.LaneStep[L] = Live ? R.SweepStep : 0.0f;
        B.LaneSummand[L] = Live ? R.Summand : 0.0f;
        B.LaneFactor[L] = Live ? R.Factor : 0.0f;
        B.LaneMode[L] = !Live || IsSet(R.ModeIndependent) ? lmIndependent : IsSet(R.ModeAdd) ? lmAdd : lmMultiply;
    }
    // the noise is drawn before anything can fail: keep the stream to go back to
    const auto Rng = std::to_array(FRng);
    const auto Pink = PinkRows;
    try {
        {
            const TOscRecord& R0 = Oscillators[0];
            float Om = R0.Omega;
            for (int F = 0; F < Frames; ++F) B.Omega0[F] = Om = FastSweep(Om, R0.SweepRatio, R0.SweepStep, FFallbacks);
        }
        TRecurJob J{B.Ph, B.Omega0, B.LanePh, B.LaneOm, B.LaneRatio, B.LaneStep, B.LaneSummand, B.LaneFactor,
                    B.LaneMode, Groups, Frames, SampleRate, 0, false};
        K.Recur(J);
        FFallbacks += J.Fallbacks;
        if (J.Unusual) return false;
        // the last frame's phase stands in for the padding frames
        for (int L = 0; L <= Last; ++L)
            for (int F = Frames; F < Padded; ++F) B.Ph[L][F] = B.Ph[L][Frames - 1];

        DrawNoise(Frames, Last);

        std::memset(B.SumL, 0, sizeof B.SumL);
        std::memset(B.SumR, 0, sizeof B.SumR);
        TMixJob M{};
        M.Frames = Padded;
        for (int I = 0; I <= Last; ++I) {
            const TOscRecord& R = Oscillators[I];
            const float GainL = IsSet(R.LeftOn) ? R.GainInit : 0.0f;
            const float GainR = IsSet(R.RightOn) ? R.GainInit : 0.0f;
            // a gain of 0 adds nothing: the phases are finite and the noise values too
            const bool Left = IsSet(R.LeftOn) && GainL != 0.0f, Right = GainR != 0.0f;
            if (!Left && !Right) continue;
            M.Ph = B.Ph[I];
            auto Both = [&](void (*Mix)(TMixJob&), const void* L, const void* Rt) {
                if (Left) {
                    M.W = static_cast<const float*>(L);
                    M.K = static_cast<const uint32_t*>(L);
                    M.Sum = B.SumL;
                    M.Gain = GainL;
                    Mix(M);
                }
                if (Right) {
                    M.W = static_cast<const float*>(Rt);
                    M.K = static_cast<const uint32_t*>(Rt);
                    M.Sum = B.SumR;
                    M.Gain = GainR;
                    Mix(M);
                }
            };
            switch (R.WaveKind) {
            case wkSine: Both(K.MixSine, nullptr, nullptr); break;
            case wkSquare: Both(K.MixSquare, nullptr, nullptr); break;
            case wkTriangular:
                K.Triangle(M, B.W);
                Both(K.MixFloat, B.W, B.W);
                break;
            case wkWhiteNoise:
            case wkPinkNoise:
                for (int F = Frames; F < Padded; ++F) B.NoiseL[I][F] = B.NoiseR[I][F] = 0;
                Both(R.WaveKind == wkWhiteNoise ? K.MixWhite : K.MixFloat, B.NoiseL[I], B.NoiseR[I]);
                break;
            default: break;  // a foreign waveform code adds nothing
            }
        }
        FFallbacks += M.Fallbacks;
        K.Samples(B.SumL, B.SumR, OscCount, Frames, Out);
    } catch (const EZelvoError&) {
        std::memcpy(FRng, Rng.data(), sizeof FRng);
        PinkRows = Pink;
        return false;
    }

    for (int I = 0; I <= Last; ++I) {
        TOscRecord& R = Oscillators[I];
        R.Phase = B.LanePh[I];
        R.Omega = B.LaneOm[I];
        R.Gain = IsSet(R.RightOn) ? R.GainInit : 0.0f;
    }
    SampleIndex = static_cast<int32_t>(static_cast<uint32_t>(SampleIndex) + static_cast<uint32_t>(Frames));
    return true;
}

} // namespace zelvo
