#pragma once
// What the benchmark programs share: the CPU clocks, busy processes that load
// the cores, the bank of 25 sweeping oscillators they measure, and a looping
// owner for the audio output's fills.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "audio/audio_io.h"
#include "synth/buffer_filler.h"
#include "synth/synth.h"

namespace zelvo::bench {

inline double CpuSeconds() {
    timespec T;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &T);
    return T.tv_sec + T.tv_nsec * 1e-9;
}

inline double ThreadCpuSeconds() {
    timespec T;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
    return T.tv_sec + T.tv_nsec * 1e-9;
}

// Processes that spin until stopped, on the cores the caller may run on (a
// child keeps its parent's CPU affinity). Start them before any thread.
inline std::vector<pid_t> StartBusyProcesses(unsigned Count) {
    std::vector<pid_t> Kids;
    for (unsigned I = 0; I < Count; ++I) {
        const pid_t P = fork();
        if (P == 0) {
            volatile unsigned long X = 0;
            for (;;) X = X + 1;
        }
        if (P > 0) Kids.push_back(P);
    }
    return Kids;
}

inline void StopBusyProcesses(const std::vector<pid_t>& Kids) {
    for (pid_t P : Kids) kill(P, SIGKILL);
    for (pid_t P : Kids) waitpid(P, nullptr, 0);
}

// 25 oscillators of one waveform, sweeping between 50 Hz and 20 kHz, every other
// one logarithmically; the period is left for the caller to prepare.
inline void SweepBank(TSynth& S, int32_t Kind, int32_t Rate, float Gain = 1.0f) {
    S.OscCount = 25;
    S.SampleRate = Rate;
    for (int I = 0; I < 25; ++I) {
        TOscRecord R = DefaultOscRecord();
        R.WaveKind = Kind;
        R.FreqInit = 50.0f + 37.0f * I;
        R.FreqFinal = 20000.0f - 311.0f * I;
        R.LogSweep = I % 2;
        R.GainInit = Gain;
        S.Oscillators[I] = R;
    }
}

// The owner of the output's fills; the signal always loops.
struct TLoopingOwner : TFillerHost {
    TAudioOut* Out = nullptr;
    bool LoopChecked() override { return true; }
    int32_t NumBuffers() override { return Out->NumBuffers(); }
    int32_t BufferSize() override { return Out->BufferSize(); }
    void StopAtOnce() override { Out->StopAtOnce(); }
    void ShowMessage(const std::string& T) override { std::printf("message: %s\n", T.c_str()); }
};

} // namespace zelvo::bench
