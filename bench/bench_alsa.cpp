// Plays 25 sweeping oscillators at 96000 Hz through the ALSA backend into a sink
// that never blocks, and reports the CPU time per second of audio (synthesis,
// component and backend together) and the underruns the backend counted.
//   bench_alsa [seconds of audio] [paced]
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "audio/audio_io.h"
#include "platform/alsa_wave_out.h"
#include "bench_common.h"

using namespace zelvo;
using namespace zelvo::wave;

int main(int argc, char** argv) {
    setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" ZELVO_BENCH_ALSA_CONF, 1);
    QCoreApplication App(argc, argv);
    const int Seconds = argc > 1 ? std::stoi(argv[1]) : 60;
    const bool Paced = argc > 2 && std::string(argv[2]) == "paced";
    const int32_t Rate = 96000;

    TAlsaWaveOutOptions Options;
    Options.Paced = Paced;
    TAlsaWaveOut Alsa(Options);
    uint32_t Device = wave::WAVE_MAPPER;
    for (uint32_t Id = 0; Id < Alsa.GetNumDevs(); ++Id) {
        std::string Name;
        Alsa.GetDevCaps(Id, Name);
        if (Name == "Zelvo bench sink") Device = Id;
    }
    if (Device == wave::WAVE_MAPPER) {
        std::printf("the bench sink is not listed\n");
        return 1;
    }

    TSynth Synth;
    bench::SweepBank(Synth, wkSine, Rate);
    Synth.PrepareSweep("1", '.');

    TAudioOut Out(&Alsa);
    bench::TLoopingOwner Owner;
    Owner.Out = &Out;
    TBufferFiller Filler(Synth, Owner);
    Out.SetStereo(true);
    Out.SetFrameRate(Rate);
    Out.SetNumBuffers(4);
    Out.SetBufferSize(16384);
    Out.SetWaveDevice(Device);
    int64_t Frames = 0;
    const int64_t Wanted = static_cast<int64_t>(Seconds) * Rate;
    Out.OnFillBuffer = [&](uint8_t* B, int32_t& Size) {
        if (Frames >= Wanted) return false;  // enough: let the queue drain
        Frames += Size / 4;
        return Filler.AudioOut1FillBuffer(B, Size);
    };
    Out.OnStop = [] { QCoreApplication::quit(); };

    const double Cpu0 = bench::CpuSeconds();
    timespec W0, W1;
    clock_gettime(CLOCK_MONOTONIC, &W0);
    if (!Out.Start(nullptr)) {
        std::printf("start failed: %s\n", Out.ErrorMessage.c_str());
        return 1;
    }
    QCoreApplication::exec();
    clock_gettime(CLOCK_MONOTONIC, &W1);
    const double Cpu = bench::CpuSeconds() - Cpu0;
    const double Wall = (W1.tv_sec - W0.tv_sec) + (W1.tv_nsec - W0.tv_nsec) * 1e-9;
    const double Audio = static_cast<double>(Frames) / Rate;
    const auto C = Alsa.Counters();
    std::printf("25 sweeping sines at %d Hz, %s sink: %.1f s of audio in %.2f s wall, "
                "%.4f s CPU per second of audio, %llu underruns (%llu in the driver)\n",
                Rate, Paced ? "paced" : "non-blocking", Audio, Wall, Cpu / Audio,
                static_cast<unsigned long long>(C.Underruns),
                static_cast<unsigned long long>(C.DriverUnderruns));
    return 0;
}
