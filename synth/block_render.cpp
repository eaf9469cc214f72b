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

// sin X for four phases in double precision, within a few units in the last
// place: X = N pi + R with pi in three parts (Cody-Waite; N pi_1 and N pi_2 are
// exact for |N| < 2^20), then the Taylor polynomial of sin R to R^23 on
// |R| <= pi/2, whose remainder stays below 2^-66. The relative error stays far
// inside kLib for |X| < 64 (checked against sinl for every float there); lanes
// beyond that go to FastSinImpl.
struct TSines {
    v4d Value;  // sin X
    v4d R;      // the reduced angle: sin X = +-sin R, R in [-pi/2, pi/2]
    v4l Flip;   // the sign bit where N is odd
    v4i Far;    // lanes that went to FastSinImpl
};

constexpr double kSinRange = 64.0;

ZELVO_INLINE TSines Sines(const float* Ph) {
    constexpr double Pio2_1 = 1.57079632673412561417e+00;   // first 33 bits of pi/2
    constexpr double Pio2_2 = 6.07710050630396597660e-11;   // next 33 bits
    constexpr double Pio2_2t = 2.02226624879595063154e-21;  // pi/2 - Pio2_1 - Pio2_2
    constexpr double Pi1 = 2 * Pio2_1, Pi2 = 2 * Pio2_2, Pi3 = 2 * Pio2_2t;
    constexpr double InvPi = 0.31830988618379067154;
    const v4d X = ToD(Load(Ph));
    const v4d N = (X * InvPi + kRound) - kRound;
    TSines S;
    S.R = ((X - N * Pi1) - N * Pi2) - N * Pi3;
    // Estrin's scheme: a short dependency chain
    const v4d Z = S.R * S.R, Z2 = Z * Z, Z4 = Z2 * Z2;
    const v4d A0 = -1.0 / 6.0 + Z * (1.0 / 120.0);
    const v4d A1 = -1.0 / 5040.0 + Z * (1.0 / 362880.0);
    const v4d A2 = -1.0 / 39916800.0 + Z * (1.0 / 6227020800.0);
    const v4d A3 = -1.0 / 1307674368000.0 + Z * (1.0 / 355687428096000.0);
    const v4d A4 = -1.0 / 121645100408832000.0 + Z * (1.0 / 51090942171709440000.0);
    const v4d B2 = A4 + Z2 * (-1.0 / 25852016738884976640000.0);
    const v4d P = (A0 + Z2 * A1) + Z4 * ((A2 + Z2 * A3) + Z4 * B2);
    const v4d Sin = S.R + S.R * Z * P;
    S.Flip = (v4l)(N + kRound) << 63;
    S.Value = (v4d)((v4l)Sin ^ S.Flip);
    S.Far = Narrow(~(Abs(X) < kSinRange));
    if (const int Far = Bitmask(S.Far)) [[unlikely]]
        for (int L = 0; L < 4; ++L)
            if (Far >> L & 1) S.Value[L] = FastSinImpl(X[L]);
    return S;
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
    unsigned SimpleGroups;  // bit g: group g needs no more than one float operation per frequency
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

// One group's frame. Simple groups hold only oscillators that sweep on their own
// linearly or logarithmically: their new frequency is one float operation.
template <bool Simple>
ZELVO_INLINE void RecurGroup(TRecurJob& J, int B, int F, float O0, v4d Inv) {
    const v4f Ph = Load(J.LanePh + B), Om = Load(J.LaneOm + B);
    const v4f Ratio = Load(J.Ratio + B), Step = Load(J.Step + B);
    // Phase + Omega / rate
    const v4d D = ToD(Om) * Inv;
    const v4d T = ToD(Ph) + D;
    v4f NewPh;
    v4i Ok = Decided(T, (Abs(D) + Abs(T)) * kStep, NewPh);
    // the new angular frequency, by mode
    const v4i Linear = Ratio == 1.0f;
    v4f NewOm = Select(Linear, Om + Step, Om * Ratio);
    if constexpr (!Simple) {
        const v4i Mode = Load(J.Mode + B);
        const v4d Tg = ToD(Om) * ToD(Ratio) + ToD(Step);  // the product is exact
        v4f General;
        const v4i OkGeneral = Decided(Tg, Abs(Tg) * kStep, General);
        const v4i Plain = Linear | (Step == 0.0f);
        const v4f Indep = Select(Plain, NewOm, General);
        const v4d P = ToD(Load(J.Summand + B)) * kTwoPiD;
        const v4d Ta = P + O0;
        v4f Added;
        const v4i OkAdd = Decided(Ta, (Abs(P) + Abs(Ta)) * kStep, Added);
        const v4f Multiplied = SplatF(O0) * Load(J.Factor + B);
        const v4i IsIndep = Mode == int32_t{lmIndependent}, IsAdd = Mode == int32_t{lmAdd};
        NewOm = Select(IsIndep, Indep, Select(IsAdd, Added, Multiplied));
        Ok &= (IsIndep & (Plain | OkGeneral)) | (IsAdd & OkAdd) | (~IsIndep & ~IsAdd);
    }
    Ok &= Abs(NewOm) <= kFloatMax;
    // The wrap: Phase - 2 pi is exact in double but for the last term, so the
    // double result is one rounding of it, and rounding that to a float gives the
    // float of the exact value unless it lies on the midpoint of two floats.
    const v4i Wraps = NewPh > kBelowTwoPi;
    const v4d V = (ToD(NewPh) - kTwoPiHi) - kTwoPiLo;
    const v4i OnMidpoint = Narrow(((v4l)V & 0x1FFFFFFF) == 0x10000000);
    Ok &= ~Wraps | (~OnMidpoint & (NewPh <= kFourPi));
    const v4f Out = Select(Wraps, ToF(V), NewPh);
    Store(J.LanePh + B, Out);
    Store(J.LaneOm + B, NewOm);
    if (const int Undecided = Bitmask(~Ok)) [[unlikely]] {
        // the lane's frame again, plainly, from its values before this frame
        for (int L = 0; L < 4; ++L)
            if (Undecided >> L & 1) {
                J.LanePh[B + L] = Ph[L];
                J.LaneOm[B + L] = Om[L];
                PlainLane(J, B + L, O0);
                ++J.Fallbacks;
            }
        // The right pass would wrap once more; and a phase that is not finite
        // has to raise where frame-by-frame computation raises it.
        const v4f Final = Load(J.LanePh + B);
        if (Bitmask((Final > kBelowTwoPi) | ~(Abs(Final) <= kFloatMax))) J.Unusual = true;
        for (int L = 0; L < 4; ++L) J.Ph[B + L][F] = Final[L];
        return;
    }
    for (int L = 0; L < 4; ++L) J.Ph[B + L][F] = Out[L];
}

ZELVO_INLINE void RecurBody(TRecurJob& J) {
    const v4d Inv = Splat(1.0 / J.Rate);
    for (int F = 0; F < J.Frames; ++F) {
        const float O0 = J.Omega0 ? J.Omega0[F] : 0.0f;
        for (int G = 0; G < J.Groups; ++G) {
            if (J.SimpleGroups >> G & 1) RecurGroup<true>(J, 4 * G, F, O0, Inv);
            else RecurGroup<false>(J, 4 * G, F, O0, Inv);
        }
    }
}

// ---- adding one oscillator's terms into the sums ------------------------------

// One oscillator over a block: its terms go into the left sums with GainL and into
// the right ones with GainR; a gain of 0 adds nothing and skips its channel (the
// block's phases and noise values are finite).
struct TMixJob {
    const float* Ph;                  // the oscillator's phases
    const void* NoiseL;               // its noise of the left and the right pass:
    const void* NoiseR;               // white as the draws k, pink as float values
    float* SumL;
    float* SumR;
    float GainL, GainR;
    int Frames;
    uint64_t Fallbacks;
};

// Applies Add(Sums, Gain, F, Channel) to the channels that take the oscillator.
template <class TAdd>
ZELVO_INLINE void BothChannels(TMixJob& J, int F, TAdd&& Add) {
    if (J.GainL != 0.0f) Add(J.SumL, J.GainL, 0);
    if (J.GainR != 0.0f) Add(J.SumR, J.GainR, 1);
    (void)F;
}

// Sum + P rounded where P = W * Gain stands within PErr of the exact term.
template <class TPlain>
ZELVO_INLINE void AddDouble(TMixJob& J, float* Sum, v4d P, v4d PErr, TPlain&& Plain) {
    const v4f Old = Load(Sum);
    const v4d T = ToD(Old) + P;
    v4f Out;
    const int Undecided = Bitmask(~Decided(T, PErr + Abs(T) * kStep, Out));
    Store(Sum, Out);
    if (Undecided) [[unlikely]]
        for (int L = 0; L < 4; ++L)
            if (Undecided >> L & 1) {
                Sum[L] = Plain(Old[L], L);
                ++J.Fallbacks;
            }
}

// Sum + sin(Phase) * Gain
ZELVO_INLINE void MixSineBody(TMixJob& J) {
    for (int F = 0; F < J.Frames; F += 4) {
        const v4d S = Sines(J.Ph + F).Value;
        BothChannels(J, F, [&](float* Sums, float Gain, int) {
            const v4d P = S * Gain;
            AddDouble(J, Sums + F, P, Abs(P) * kLib,
                      [&](float Old, int L) { return PlainAddTerm(Old, sinl(J.Ph[F + L]), Gain); });
        });
    }
}

// Sum + SquareOf(sin Phase) * Gain. For a float phase the sine is never so small
// that it rounds to zero unless the phase is zero, so the double sine's sign is
// the rounded sine's (-0 counts as +1 both ways); two floats added exactly and
// rounded once are a float addition.
ZELVO_INLINE void MixSquareBody(TMixJob& J) {
    for (int F = 0; F < J.Frames; F += 4) {
        const v4i Negative = Narrow(Sines(J.Ph + F).Value < 0.0);
        BothChannels(J, F, [&](float* Sums, float Gain, int) {
            const v4f Old = Load(Sums + F);
            const v4f Out = Old + (v4f)((v4i)SplatF(Gain) ^ (Negative & (int32_t)0x80000000));
            Store(Sums + F, Out);
            if (const int Undecided = Bitmask(~(Abs(Out) <= kFloatMax))) [[unlikely]]
                for (int L = 0; L < 4; ++L)
                    if (Undecided >> L & 1) {
                        const float Sine = StoreF32(sinl(J.Ph[F + L]));
                        Sums[F + L] = PlainAddTerm(Old[L], TSynth::SquareOf(Sine), Gain);
                        ++J.Fallbacks;
                    }
        });
    }
}

// Sum + W * Gain for float values W (triangle, pink noise): the product is exact.
ZELVO_INLINE void AddFloat(TMixJob& J, float* Sum, v4f W, float Gain) {
    AddDouble(J, Sum, ToD(W) * Gain, Splat(0.0), [&](float Old, int L) { return PlainAddTerm(Old, W[L], Gain); });
}

// The triangle's values: 2/pi * arcsin(s) for the rounded sine s of each phase.
// With theta = +-R the angle in [-pi/2, pi/2] whose sine the double sine
// approximates and c its cosine, arcsin(s) = theta + d/c + sin(theta) d^2 / (2 c^3)
// + O(d^3 / c^5) for d = s - sin(theta), |d| below 2^-24. Where c is small (near
// the peaks) or the bound does not decide the rounding, the library's arcsine
// takes over.
ZELVO_INLINE void MixTriangleBody(TMixJob& J) {
    constexpr double TwoOverPi = 2.0 / 3.14159265358979323846;
    for (int F = 0; F < J.Frames; F += 4) {
        const TSines C = Sines(J.Ph + F);
        const v4d S = C.Value;
        v4f Sf;
        v4i Ok = Decided(S, Abs(S) * kLib, Sf);
        const v4d Theta = (v4d)((v4l)C.R ^ C.Flip);
        v4d Cos;
        for (int L = 0; L < 4; ++L) Cos[L] = std::sqrt(1.0 - S[L] * S[L]);
        const v4d D = ToD(Sf) - S;
        const v4d Q = D / Cos;
        const v4d A = Theta + (Q + S * Q * Q / (Cos + Cos));
        const v4d R = A * TwoOverPi;
        const v4d Q3 = Abs(Q * Q * Q) / (Cos * Cos);
        const v4d E = ((Abs(Theta) * 0x1p-49 + 0x1p-70) + Abs(S) / Cos * kLib + Q3) * TwoOverPi + Abs(R) * 0x1p-49;
        v4f W;
        Ok &= Decided(R, E, W) & Narrow(Cos >= 0x1p-5) & ~C.Far;
        if (const int Undecided = Bitmask(~Ok)) [[unlikely]]
            for (int L = 0; L < 4; ++L)
                if (Undecided >> L & 1) {
                    const float Ph = J.Ph[F + L];
                    W[L] = FastTriangleOfSine(FastSineF32(FastSinImpl(Ph), Ph, J.Fallbacks), J.Fallbacks);
                }
        BothChannels(J, F, [&](float* Sums, float Gain, int) { AddFloat(J, Sums + F, W, Gain); });
    }
}

// Sum + (2u - 1) * Gain for u = k / 2^32: 2u - 1 is exact in double.
ZELVO_INLINE void MixWhiteBody(TMixJob& J) {
    for (int F = 0; F < J.Frames; F += 4)
        BothChannels(J, F, [&](float* Sums, float Gain, int Channel) {
            const uint32_t* K = static_cast<const uint32_t*>(Channel == 0 ? J.NoiseL : J.NoiseR) + F;
            v4d W;
            for (int L = 0; L < 4; ++L) W[L] = (static_cast<double>(K[L]) * 2.0 - 0x1p32) * 0x1p-32;
            const v4d P = W * Gain;
            AddDouble(J, Sums + F, P, Abs(P) * kStep,
                      [&](float Old, int L) { return PlainAddTerm(Old, W[L], Gain); });
        });
}

ZELVO_INLINE void MixPinkBody(TMixJob& J) {
    for (int F = 0; F < J.Frames; F += 4)
        BothChannels(J, F, [&](float* Sums, float Gain, int Channel) {
            AddFloat(J, Sums + F, Load(static_cast<const float*>(Channel == 0 ? J.NoiseL : J.NoiseR) + F), Gain);
        });
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
    void (*Mix[5])(TMixJob&);  // by waveform
    void (*Samples)(const float*, const float*, int32_t, int, int16_t*);
};

#define ZELVO_KERNELS(NAME, ATTR)                                                              \
    namespace NAME {                                                                           \
    ATTR void Recur(TRecurJob& J) { RecurBody(J); }                                            \
    ATTR void MixSine(TMixJob& J) { MixSineBody(J); }                                          \
    ATTR void MixSquare(TMixJob& J) { MixSquareBody(J); }                                      \
    ATTR void MixTriangle(TMixJob& J) { MixTriangleBody(J); }                                  \
    ATTR void MixWhite(TMixJob& J) { MixWhiteBody(J); }                                        \
    ATTR void MixPink(TMixJob& J) { MixPinkBody(J); }                                          \
    ATTR void Samples(const float* L, const float* R, int32_t N, int F, int16_t* O) {          \
        SamplesBody(L, R, N, F, O);                                                            \
    }                                                                                          \
    constexpr TKernels Kernels{Recur, {MixSine, MixSquare, MixTriangle, MixWhite, MixPink}, Samples}; \
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
        bool Followers = false;
        unsigned Simple = 0;
        for (int G = 0; G < Groups; ++G) {
            bool Plain = true;
            for (int L = 4 * G; L < 4 * G + 4; ++L) {
                Followers |= B.LaneMode[L] != lmIndependent;
                Plain &= B.LaneMode[L] == lmIndependent && (B.LaneRatio[L] == 1.0f || B.LaneStep[L] == 0.0f);
            }
            Simple |= static_cast<unsigned>(Plain) << G;
        }
        if (Followers) {
            const TOscRecord& R0 = Oscillators[0];
            float Om = R0.Omega;
            for (int F = 0; F < Frames; ++F) B.Omega0[F] = Om = FastSweep(Om, R0.SweepRatio, R0.SweepStep, FFallbacks);
        }
        TRecurJob J{B.Ph, Followers ? B.Omega0 : nullptr, B.LanePh, B.LaneOm, B.LaneRatio, B.LaneStep,
                    B.LaneSummand, B.LaneFactor, B.LaneMode, Groups, Simple, Frames, SampleRate, 0, false};
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
        M.SumL = B.SumL;
        M.SumR = B.SumR;
        M.Frames = Padded;
        for (int I = 0; I <= Last; ++I) {
            const TOscRecord& R = Oscillators[I];
            if (R.WaveKind < wkSine || R.WaveKind > wkPinkNoise) continue;  // a foreign code adds nothing
            M.GainL = IsSet(R.LeftOn) ? R.GainInit : 0.0f;
            M.GainR = IsSet(R.RightOn) ? R.GainInit : 0.0f;
            if (M.GainL == 0.0f && M.GainR == 0.0f) continue;
            M.Ph = B.Ph[I];
            M.NoiseL = B.NoiseL[I];
            M.NoiseR = B.NoiseR[I];
            if (R.WaveKind >= wkWhiteNoise)
                for (int F = Frames; F < Padded; ++F) B.NoiseL[I][F] = B.NoiseR[I][F] = 0;
            K.Mix[R.WaveKind](M);
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
