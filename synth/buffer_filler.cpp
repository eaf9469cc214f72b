#include "synth/buffer_filler.h"

#include <cstring>

#include "synth/errors.h"
#include "synth/synth.h"

namespace zelvo {

bool TBufferFiller::AudioOut1FillBuffer(uint8_t* Buffer, int32_t& Size) {
    const bool Loop = FHost.LoopChecked();
    if (FillBusy) {
        FHost.StopAtOnce();
        FHost.ShowMessage("There is an issue with performance. See help for details");
        FillBusy = false;
        return false;
    }
    FillBusy = true;

    TSynth& S = FSynth;
    const int32_t StartIndex = S.SampleIndex;
    const int32_t Frames = Size / 4;
    int16_t Chunk[2 * TSynth::kBlockFrames];
    for (int32_t F = 0; F < Frames;) {
        int64_t Run = Frames - F;
        const bool Signal = Loop || S.SampleIndex < S.PeriodSamples;
        if (Signal) {
            // up to the period's end, where SampleIndex reaches PeriodSamples (the
            // 32-bit counter may have to wrap round to get there)
            const uint32_t ToEnd = static_cast<uint32_t>(S.PeriodSamples) - static_cast<uint32_t>(S.SampleIndex);
            if (ToEnd != 0 && ToEnd < Run) Run = ToEnd;
            if (Run > TSynth::kBlockFrames) Run = TSynth::kBlockFrames;
            const int32_t Before = S.SampleIndex;
            try {
                S.RenderFrames(Chunk, static_cast<int32_t>(Run));
            } catch (...) {
                // the frames before the fault are in the buffer, as frame by frame
                const uint32_t Done = static_cast<uint32_t>(S.SampleIndex) - static_cast<uint32_t>(Before);
                std::memcpy(Buffer + 4 * F, Chunk, 4 * Done);
                throw;
            }
            std::memcpy(Buffer + 4 * F, Chunk, 4 * Run);
        } else {
            // silence until the counter, wrapping round, comes below the period again
            const int64_t Below = static_cast<int64_t>(INT32_MAX) - S.SampleIndex + 1;
            if (Below < Run) Run = Below;
            std::memset(Buffer + 4 * F, 0, 4 * Run);
            S.SampleIndex = static_cast<int32_t>(static_cast<uint32_t>(S.SampleIndex) + static_cast<uint32_t>(Run));
        }
        F += static_cast<int32_t>(Run);
        if (S.SampleIndex == S.PeriodSamples && Loop) {
            S.SampleIndex = 0;
            const int Last = S.LastOsc < TSynth::kBankSize ? S.LastOsc : TSynth::kBankSize - 1;
            for (int I = 0; I <= Last; ++I) {
                TOscRecord& O = S.Oscillators[I];
                if (O.BiDir != 0) {
                    if (O.SweepRatio == 0.0f) throw EZeroDivide();
                    O.SweepRatio = StoreF32(1.0L / O.SweepRatio);
                    O.SweepStep = StoreF32(static_cast<long double>(O.SweepStep) * -1.0L);
                } else {
                    O.Omega = StoreF32(6.28318530717958647703L * O.FreqInit);
                }
            }
        }
    }

    bool Result;
    if (S.SampleIndex < S.PeriodSamples) {
        Result = true;
    } else if (FHost.LoopChecked()) {
        Result = true;
    } else {
        // 32-bit products, as the ring's byte count and the frame count are.
        const int32_t Ring = static_cast<int32_t>(static_cast<uint32_t>(FHost.NumBuffers()) *
                                                  static_cast<uint32_t>(FHost.BufferSize()));
        const int32_t Produced = static_cast<int32_t>(static_cast<uint32_t>(S.SampleIndex) * 4u);
        Result = Ring > Produced;
        // The fill in which a period longer than the ring ends holds its last
        // frames: play it, or the end of the period is never heard. A shorter
        // period ends within the prefill, which is played whatever it answers.
        const bool LongerThanRing = static_cast<int64_t>(S.PeriodSamples) * 4 >
                                    static_cast<int64_t>(FHost.NumBuffers()) * FHost.BufferSize();
        if (LongerThanRing && StartIndex < S.PeriodSamples && S.SampleIndex >= S.PeriodSamples) Result = true;
    }
    FillBusy = false;
    return Result;
}

} // namespace zelvo
