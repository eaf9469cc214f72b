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
    bool Bounded;  // no gain beyond 2^100: no sum of the block can leave the float range
    uint64_t Fallbacks;
};

// ---- pink noise ---------------------------------------------------------------

// The pink-noise values of one frame: every slot (a pink oscillator in one pass)
// renews row 0 and the rows due at this frame with its own draws, which lie at
// Draw[0][slot] (row 0), Draw[1][slot], ... (the due rows in ascending order),
// and shares the other rows. The rows are summed in float arithmetic, as the
// frame-by-frame computation does.
struct TPinkJob {
    const float (*Draw)[TSynth::kPinkSlots];
    int Count;
    unsigned Due;         // bit k: row k is due
    float* Rows;          // the generator's rows, carried from frame to frame
    uint32_t* const* Dest;  // per slot, its values by frame
    int F;
    uint64_t Fallbacks;
};

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

// ---- the kernels, once for each instruction set --------------------------------

struct TKernels {
    void (*Recur)(TRecurJob&);
    void (*Mix[5])(TMixJob&);  // by waveform
    void (*Samples)(const float*, const float*, int32_t, int, int16_t*);
    void (*PinkFrame)(TPinkJob&);
    void (*Sines)(const float*, double*, int);
};

namespace generic {
#define ZELVO_AVX2 0
#include "synth/block_kernels.inc"
#undef ZELVO_AVX2
} // namespace generic

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {
#define ZELVO_AVX2 1
#include "synth/block_kernels.inc"
#undef ZELVO_AVX2
} // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

const TKernels& KernelsFor(TSynth::TBlockPath Path) {
    return Path == TSynth::TBlockPath::Avx2 ? avx2::Kernels : generic::Kernels;
}

inline bool IsSet(uint8_t B) { return B != 0; }

} // namespace

void detail::BlockSines(const float* Phases, double* Out, int Count, TSynth::TBlockPath Path) {
    KernelsFor(Path).Sines(Phases, Out, Count);
}

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
void TSynth::DrawNoise(int32_t Frames, int Last, const void* Kernels) {
    const TKernels& K = *static_cast<const TKernels*>(Kernels);
    TBlockScratch& B = FBlock;
    uint32_t* White[2 * kBankSize];  // per slot, where its draws go, or null for pink noise
    uint32_t* Pink[2 * kBankSize + 3];
    int Slots = 0, PinkSlots = 0;
    for (int Pass = 0; Pass < 2; ++Pass)
        for (int I = 0; I <= Last; ++I) {
            const TOscRecord& R = Oscillators[I];
            if ((R.WaveKind != wkWhiteNoise && R.WaveKind != wkPinkNoise) || (Pass == 0 && !IsSet(R.LeftOn)))
                continue;
            uint32_t* Noise = Pass == 0 ? B.NoiseL[I] : B.NoiseR[I];
            White[Slots++] = R.WaveKind == wkWhiteNoise ? Noise : nullptr;
            if (R.WaveKind == wkPinkNoise) Pink[PinkSlots++] = Noise;
        }
    if (Slots == 0) return;
    const uint16_t* Due = PinkDueRows();
    TPinkJob J{B.PinkDraws, PinkSlots, 0, PinkRows.data(), Pink, 0, 0};
    // the stream in registers while it runs
    uint64_t Rng[4];
    std::memcpy(Rng, FRng, sizeof Rng);
    for (int32_t F = 0; F < Frames; ++F) {
        J.Due = Due[(static_cast<uint32_t>(SampleIndex) + F) & 0x7FF];
        int PinkDraws = 1;
        for (unsigned Rows = J.Due; Rows; Rows &= Rows - 1) ++PinkDraws;
        int P = 0;
        for (int S = 0; S < Slots; ++S) {
            if (White[S]) {
                White[S][F] = NextRandom32(Rng);
                continue;
            }
            for (int D = 0; D < PinkDraws; ++D) B.PinkDraws[D][P] = PinkValueOf(NextRandom32(Rng));
            ++P;
        }
        if (PinkSlots == 0) continue;
        J.F = F;
        K.PinkFrame(J);
    }
    std::memcpy(FRng, Rng, sizeof Rng);
    FFallbacks += J.Fallbacks;
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

        DrawNoise(Frames, Last, &K);

        std::memset(B.SumL, 0, sizeof B.SumL);
        std::memset(B.SumR, 0, sizeof B.SumR);
        TMixJob M{};
        M.SumL = B.SumL;
        M.SumR = B.SumR;
        M.Frames = Padded;
        // Where every oscillator adds the same terms to both channels (the same
        // gain, no noise, which is drawn anew for each), the right sums are the
        // left ones, to the bit: the same additions in the same order.
        bool Same = true;
        M.Bounded = true;
        for (int I = 0; I <= Last; ++I) {
            const TOscRecord& R = Oscillators[I];
            M.Bounded &= std::fabs(R.GainInit) <= 0x1p100f;
            Same &= (IsSet(R.LeftOn) ? R.GainInit : 0.0f) == (IsSet(R.RightOn) ? R.GainInit : 0.0f) &&
                    R.WaveKind != wkWhiteNoise && R.WaveKind != wkPinkNoise;
        }
        for (int I = 0; I <= Last; ++I) {
            const TOscRecord& R = Oscillators[I];
            if (R.WaveKind < wkSine || R.WaveKind > wkPinkNoise) continue;  // a foreign code adds nothing
            M.GainL = IsSet(R.LeftOn) ? R.GainInit : 0.0f;
            M.GainR = !Same && IsSet(R.RightOn) ? R.GainInit : 0.0f;
            if (M.GainL == 0.0f && M.GainR == 0.0f) continue;
            M.Ph = B.Ph[I];
            M.NoiseL = B.NoiseL[I];
            M.NoiseR = B.NoiseR[I];
            if (R.WaveKind >= wkWhiteNoise)
                for (int F = Frames; F < Padded; ++F) B.NoiseL[I][F] = B.NoiseR[I][F] = 0;
            K.Mix[R.WaveKind](M);
        }
        FFallbacks += M.Fallbacks;
        if (Same) std::memcpy(B.SumR, B.SumL, sizeof B.SumR);
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
