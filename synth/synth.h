#pragma once
// The oscillator bank and the synthesis state, with the set-up of a period and
// the per-sample computation. One instance lives as long as the program.
//
// Precision: every store into a record field or a synthesis value rounds to its
// type (32-bit float for every real field); arithmetic between stores is done in
// long double (64-bit significand); rounding to integers is to nearest, ties to
// even. Faults raise EInvalidOp, EZeroDivide or EOverflow.
#include <array>
#include <cfloat>
#include <cstdint>
#include <string_view>
#include <vector>

#include "osc_record.h"

static_assert(LDBL_MANT_DIG == 64, "the synthesis needs the x87 extended format");

namespace zelvo {

class TSynth {
public:
    static constexpr int kBankSize = 26;   // records 0..25
    static constexpr int kMaxOscillators = 25;
    static constexpr int kPinkRows = 13;
    static constexpr int kBlockFrames = 128;  // frames of one block
    static constexpr int kLanes = 28;         // the bank in groups of four
    static constexpr int kPinkSlots = 2 * kBankSize + 4;  // both passes, and room for a group of four

    TSynth();  // seeds the random source from the system, once

    std::array<TOscRecord, kBankSize> Oscillators{};
    int32_t OscCount = 3;
    int32_t LastOsc = 0;
    int32_t SampleRate = 0;
    int32_t SampleIndex = 0;
    int32_t PeriodSamples = 0;
    std::array<float, kPinkRows> PinkRows{};

    // Prepares the start of a period. DurationText is the period in seconds, read
    // with either decimal separator.
    void PrepareSweep(std::string_view DurationText, char DecimalSeparator);

    // One sample of the mix: channel 0 is the left pass (which advances every
    // oscillator by one frame), any other value the right pass.
    int32_t ComputeSample(uint8_t Channel);

    static int32_t SquareOf(float X);
    static float TriangleOf(float Phase);
    float PinkNoise(int32_t Index);

    // The random source: one stream of values in [0, 1) for both noise kinds.
    void SeedRandom(uint64_t Seed);
    long double NextRandom();
    // The same stream: k for the value k / 2^32.
    uint32_t NextRandom32() { return NextRandom32(FRng); }
    // xoshiro256**; the top 32 bits give a value k / 2^32, exact in every format used.
    static uint32_t NextRandom32(uint64_t (&S)[4]) {
        const uint64_t Result = Rotl(S[1] * 5, 7) * 9;
        const uint64_t T = S[1] << 17;
        S[2] ^= S[0];
        S[3] ^= S[1];
        S[1] ^= S[2];
        S[0] ^= S[3];
        S[2] ^= T;
        S[3] = Rotl(S[3], 45);
        return static_cast<uint32_t>(Result >> 32);
    }

    // Tests compare the fast evaluation of sines against the plain one; both must
    // give identical results.
    void SetPlainEvaluation(bool Plain) { FPlain = Plain; }

    // How often the fast path could not decide a rounding and fell back (for the
    // benchmark's report).
    uint64_t FallbackCount() const { return FFallbacks; }

    // Renders Frames frames exactly as the pairs ComputeSample(0), ComputeSample(1)
    // give them, SampleIndex moving on by one after each frame as the 32-bit
    // counter it is; Out receives the left and right 16-bit samples of each frame
    // (SampleToPcm16). The caller keeps period ends out of the run. An error is
    // raised at the same frame, with the same state, as frame by frame; the frames
    // before it are in Out.
    void RenderFrames(int16_t* Out, int32_t Frames);

    // The instruction sets the block computation can run on; every path gives the
    // same samples. Frame by frame is the reference the others are tested against.
    enum class TBlockPath { FrameByFrame, Generic, Avx2 };
    static std::vector<TBlockPath> BlockPathsOnThisMachine();  // widest last
    void SetBlockPath(TBlockPath Path) { FBlockPath = Path; }
    TBlockPath BlockPath() const { return FBlockPath; }

    // What a run of frames changes, for a caller that has to go back to the
    // start of a run (the export's cancel inside a run).
    struct TRunState {
        std::array<TOscRecord, kBankSize> Oscillators;
        std::array<float, kPinkRows> PinkRows;
        uint64_t Rng[4];
        int32_t SampleIndex;
    };
    TRunState SaveRunState() const;
    void RestoreRunState(const TRunState& State);

private:
    float AddWave(int Osc, const TOscRecord& R, float Sum);
    float AdvancePhase(const TOscRecord& R);
    float SweepOmega(const TOscRecord& R);
    float AddOmega(const TOscRecord& R);
    float SineF32(int Osc, float Phase);
    double SineOf(int Osc, float Phase);
    float TriangleFast(int Osc, float Phase);
    float TriangleUncached(int Osc, float Phase);
    // A random value rounded to a row's float: k / 2^32 rounds exactly as k does.
    float PinkRandom() { return PinkValueOf(NextRandom32()); }
    static float PinkValueOf(uint32_t K) { return static_cast<float>(K) * 0x1p-32f; }
    static uint64_t Rotl(uint64_t X, int K) { return (X << K) | (X >> (64 - K)); }

    bool RenderBlock(int16_t* Out, int32_t Frames);
    void RenderFrameByFrame(int16_t* Out, int32_t Frames);
    void DrawNoise(int32_t Frames, int Last, const void* Kernels);

    // Working space of the block computation, part of the object so that
    // nothing is allocated while a signal plays.
    struct alignas(64) TBlockScratch {
        float Ph[kLanes][kBlockFrames];  // each oscillator's phase per frame
        float Omega0[kBlockFrames];      // the first oscillator's angular frequency per frame
        float SumL[kBlockFrames], SumR[kBlockFrames];
        float W[kBlockFrames];           // waveform values shared by both passes
        // noise per oscillator and frame: white as the drawn k, pink as its value
        uint32_t NoiseL[kBankSize][kBlockFrames], NoiseR[kBankSize][kBlockFrames];
        // one frame's pink-noise draws: row 0's of every slot, then those of the due rows
        float PinkDraws[kPinkRows][kPinkSlots];
        float LanePh[kLanes], LaneOm[kLanes], LaneRatio[kLanes], LaneStep[kLanes];
        float LaneSummand[kLanes], LaneFactor[kLanes];
        int32_t LaneMode[kLanes];
    };
    TBlockScratch FBlock;
    TBlockPath FBlockPath;

    uint64_t FRng[4]{};
    bool FPlain = false;
    double FInvRate = 0;  // 1 / SampleRate for the fast phase step
    uint64_t FFallbacks = 0;
    // sin(Phase) of each oscillator's last evaluation, reused while its phase
    // has not moved (the right pass reads the phase the left pass set).
    std::array<uint32_t, kBankSize> FSinPhaseBits{};
    std::array<double, kBankSize> FSinValue{};
    // The same for the triangle, whose value also depends on the phase alone.
    std::array<uint32_t, kBankSize> FTriPhaseBits{};
    std::array<float, kBankSize> FTriValue{};
};

// The 16-bit sample kept from ComputeSample's result: saturated at the 16-bit
// range instead of wrapping round to a full-scale click.
inline int16_t SampleToPcm16(int32_t V) {
    return static_cast<int16_t>(V > 32767 ? 32767 : (V < -32768 ? -32768 : V));
}

// sin(X) in double precision, within a few units in the last place; the fast
// paths rely on that bound.
double FastSin(double X);

[[noreturn]] void RaiseStoreFault(long double V);

// Rounds an extended value to a 32-bit float store, raising instead of letting an
// overflow or a NaN through. An infinity that came in stays an infinity.
inline float StoreF32(long double V) {
    const float F = static_cast<float>(V);
    if (!(F <= 3.40282347e+38f && F >= -3.40282347e+38f)) [[unlikely]] {
        if (V == static_cast<long double>(F)) return F;  // an infinite input
        RaiseStoreFault(V);
    }
    return F;
}

} // namespace zelvo
