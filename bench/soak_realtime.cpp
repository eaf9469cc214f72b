// Plays set-ups in real time through the audio output while other processes
// load every core, and reports late fills and underruns (the goal is none).
// The simulated device, paced by the wall clock, stands in for a sound card.
//   soak_realtime [seconds per set-up]
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_io.h"
#include "platform/sim_wave_out.h"
#include "bench_common.h"

using namespace zelvo;
using Clock = std::chrono::steady_clock;

namespace {

void Run(const char* Name, int Oscillators, int32_t Rate, int Seconds) {
    TSynth Synth;
    if (Oscillators > 3) {
        bench::SweepBank(Synth, wkSine, Rate);
    } else {
        for (int I = 0; I < 25; ++I) Synth.Oscillators[I] = DefaultOscRecord();
        Synth.SampleRate = Rate;
    }
    Synth.OscCount = Oscillators;
    Synth.PrepareSweep("1", '.');

    wave::TSimWaveOut Sim;
    Sim.SetRecording(false);
    TAudioOut Out(&Sim);
    bench::TLoopingOwner Owner;
    Owner.Out = &Out;
    TBufferFiller Filler(Synth, Owner);

    Out.SetStereo(true);
    Out.SetFrameRate(Rate);
    Out.SetNumBuffers(4);
    Out.SetBufferSize(16384);
    // A fill is late when it takes longer than the other buffers of the ring play.
    const double Budget = 3.0 * (16384 / 4) / Rate;
    int Fills = 0, Late = 0;
    double Worst = 0;
    Out.OnFillBuffer = [&](uint8_t* B, int32_t& Size) {
        const auto T0 = Clock::now();
        const bool R = Filler.AudioOut1FillBuffer(B, Size);
        const double D = std::chrono::duration<double>(Clock::now() - T0).count();
        ++Fills;
        Worst = std::max(Worst, D);
        if (D > Budget) ++Late;
        return R;
    };
    Sim.StartPacing(1000);
    if (!Out.Start(nullptr)) {
        std::printf("%s: start failed: %s\n", Name, Out.ErrorMessage.c_str());
        return;
    }
    QTimer::singleShot(Seconds * 1000, [&] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    const auto P = Sim.Last();
    Out.StopAtOnce();
    Sim.StopPacing();
    std::printf("%-32s %d s: %d fills, worst fill %.1f ms of a %.0f ms budget, %d late, %llu frames of underrun\n",
                Name, Seconds, Fills, Worst * 1e3, Budget * 1e3, Late,
                static_cast<unsigned long long>(P.StarvedFrames));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    const int Seconds = argc > 1 ? std::stoi(argv[1]) : 30;
    const auto Kids = bench::StartBusyProcesses(std::thread::hardware_concurrency());
    std::printf("simulated device paced by the wall clock, %zu busy processes on %u cores\n", Kids.size(),
                std::thread::hardware_concurrency());
    Run("default set-up (3 x 1 kHz, 22050 Hz)", 3, 22050, Seconds);
    Run("25 sweeping sines at 96000 Hz", 25, 96000, Seconds);
    bench::StopBusyProcesses(Kids);
    return 0;
}
