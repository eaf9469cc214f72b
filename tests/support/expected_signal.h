#pragma once
// The signal as it must sound, computed straight from the synthesis: frames of
// ComputeSample with the sweep restarted or turned at every period end while
// looping, and silence after a period that does not loop. Playback tests compare
// what a device heard with it.
#include <cstdint>
#include <vector>

#include "synth/synth.h"

namespace zelvo::test {

// Appends Frames frames to Out; S moves on as the playing synthesis does.
inline void RenderExpected(TSynth& S, int64_t Frames, bool Loop, std::vector<uint8_t>& Out) {
    for (int64_t K = 0; K < Frames; ++K) {
        int16_t L = 0, R = 0;
        if (Loop || S.SampleIndex < S.PeriodSamples) {
            L = SampleToPcm16(S.ComputeSample(0));
            R = SampleToPcm16(S.ComputeSample(1));
        }
        for (int16_t V : {L, R}) {
            Out.push_back(static_cast<uint8_t>(V));
            Out.push_back(static_cast<uint8_t>(static_cast<uint16_t>(V) >> 8));
        }
        if (++S.SampleIndex == S.PeriodSamples && Loop) {
            S.SampleIndex = 0;
            for (int I = 0; I <= S.LastOsc; ++I) {
                TOscRecord& O = S.Oscillators[I];
                if (O.BiDir) {
                    O.SweepRatio = static_cast<float>(1.0L / O.SweepRatio);
                    O.SweepStep = -O.SweepStep;
                } else {
                    O.Omega = static_cast<float>(6.28318530717958647703L * O.FreqInit);
                }
            }
        }
    }
}

inline std::vector<uint8_t> Expected(TSynth S, int64_t Frames, bool Loop) {
    std::vector<uint8_t> Out;
    RenderExpected(S, Frames, Loop, Out);
    return Out;
}

} // namespace zelvo::test
