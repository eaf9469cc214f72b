#include "synth/buffer_filler.h"

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
    uint8_t* P = Buffer;
    for (int32_t F = 0; F < Frames; ++F, P += 4) {
        int16_t L = 0, R = 0;
        if (Loop || S.SampleIndex < S.PeriodSamples) {
            L = SampleToPcm16(S.ComputeSample(0));
            R = SampleToPcm16(S.ComputeSample(1));
        }
        P[0] = static_cast<uint8_t>(L);
        P[1] = static_cast<uint8_t>(static_cast<uint16_t>(L) >> 8);
        P[2] = static_cast<uint8_t>(R);
        P[3] = static_cast<uint8_t>(static_cast<uint16_t>(R) >> 8);
        // The frame counter wraps like the 32-bit counter it is; only a signal
        // that ran for days past a negative period gets there.
        S.SampleIndex = static_cast<int32_t>(static_cast<uint32_t>(S.SampleIndex) + 1u);
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
        // frames: play it, or the end of the period is never heard.
        if (StartIndex < S.PeriodSamples && S.SampleIndex >= S.PeriodSamples) Result = true;
    }
    FillBusy = false;
    return Result;
}

} // namespace zelvo
