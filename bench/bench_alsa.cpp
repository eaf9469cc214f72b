// Plays 25 sweeping oscillators at 96000 Hz through the ALSA backend and
// reports the CPU time per second of audio (synthesis, component and backend
// together) and the underruns the backend counted.
//   bench_alsa [seconds of audio] [paced | starved [core]]
// By default the sink never blocks; "paced" plays it by the software clock.
// "starved" plays 2 x 4096-byte buffers on a device that keeps real time and
// underruns like a sound card, with the whole process pinned to one core that
// it shares with 8 busy processes: late fills are certain, and the question is
// whether playback survives them.
#include <QCoreApplication>

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "audio/audio_io.h"
#include "platform/alsa_wave_out.h"
#include "bench_common.h"

using namespace zelvo;
using namespace zelvo::wave;

namespace {

// The last core this process may run on, or Wanted when given.
int PinToOneCore(int Wanted) {
    cpu_set_t Set;
    CPU_ZERO(&Set);
    if (Wanted < 0) {
        if (sched_getaffinity(0, sizeof Set, &Set) != 0) return -1;
        for (int C = CPU_SETSIZE - 1; C >= 0; --C)
            if (CPU_ISSET(C, &Set)) {
                Wanted = C;
                break;
            }
        CPU_ZERO(&Set);
    }
    CPU_SET(Wanted, &Set);
    return sched_setaffinity(0, sizeof Set, &Set) == 0 ? Wanted : -1;
}

} // namespace

int main(int argc, char** argv) {
    const int Seconds = argc > 1 ? std::stoi(argv[1]) : 60;
    const std::string Mode = argc > 2 ? argv[2] : "";
    const bool Starved = Mode == "starved";
    const bool Paced = Mode == "paced" || Starved;
    const int32_t Rate = 96000;

    // Before any thread: the worker thread and the busy processes inherit it.
    std::vector<pid_t> Kids;
    int Core = -1;
    if (Starved) {
        Core = PinToOneCore(argc > 3 ? std::stoi(argv[3]) : -1);
        if (Core < 0) {
            std::printf("cannot pin to one core\n");
            return 1;
        }
        Kids = bench::StartBusyProcesses(8);
    }

    setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" ZELVO_BENCH_ALSA_CONF, 1);
    setenv("ZELVO_BENCH_TICK_PLUGIN", ZELVO_BENCH_TICK_PLUGIN, 1);
    QCoreApplication App(argc, argv);

    TAlsaWaveOutOptions Options;
    Options.Paced = Paced;
    TAlsaWaveOut Alsa(Options);
    const std::string DeviceName = Starved ? "Zelvo bench card" : "Zelvo bench sink";
    uint32_t Device = wave::WAVE_MAPPER;
    for (uint32_t Id = 0; Id < Alsa.GetNumDevs(); ++Id) {
        std::string Name;
        Alsa.GetDevCaps(Id, Name);
        if (Name == DeviceName) Device = Id;
    }
    if (Device == wave::WAVE_MAPPER) {
        std::printf("%s is not listed\n", DeviceName.c_str());
        bench::StopBusyProcesses(Kids);
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
    Out.SetNumBuffers(Starved ? 2 : 4);
    Out.SetBufferSize(Starved ? 4096 : 16384);
    Out.SetWaveDevice(Device);
    int64_t Frames = 0, Fills = 0;
    double FillCpu = 0;
    const int64_t Wanted = static_cast<int64_t>(Seconds) * Rate;
    Out.OnFillBuffer = [&](uint8_t* B, int32_t& Size) {
        if (Frames >= Wanted) return false;  // enough: let the queue drain
        Frames += Size / 4;
        const double T0 = bench::ThreadCpuSeconds();
        const bool R = Filler.AudioOut1FillBuffer(B, Size);
        FillCpu += bench::ThreadCpuSeconds() - T0;
        ++Fills;
        return R;
    };
    Out.OnStop = [] { QCoreApplication::quit(); };

    const double Cpu0 = bench::CpuSeconds();
    timespec W0, W1;
    clock_gettime(CLOCK_MONOTONIC, &W0);
    if (!Out.Start(nullptr)) {
        std::printf("start failed: %s\n", Out.ErrorMessage.c_str());
        bench::StopBusyProcesses(Kids);
        return 1;
    }
    QCoreApplication::exec();
    clock_gettime(CLOCK_MONOTONIC, &W1);
    const double Cpu = bench::CpuSeconds() - Cpu0;
    bench::StopBusyProcesses(Kids);
    const double Wall = (W1.tv_sec - W0.tv_sec) + (W1.tv_nsec - W0.tv_nsec) * 1e-9;
    const double Audio = static_cast<double>(Frames) / Rate;
    const auto C = Alsa.Counters();
    if (!Starved) {
        std::printf("25 sweeping sines at %d Hz, %s sink: %.1f s of audio in %.2f s wall, "
                    "%.4f s CPU per second of audio, %llu underruns (%llu in the driver)\n",
                    Rate, Paced ? "paced" : "non-blocking", Audio, Wall, Cpu / Audio,
                    static_cast<unsigned long long>(C.Underruns),
                    static_cast<unsigned long long>(C.DriverUnderruns));
        return 0;
    }
    const bool Survived = Frames >= Wanted && Out.ErrorMessage.empty();
    std::printf("25 sweeping sines at %d Hz, 2 x 4096 bytes on a real-time device, pinned to core %d "
                "with %zu busy processes:\n"
                "  %.1f s of audio filled in %.2f s wall, %.2f ms CPU per fill, "
                "%.4f s CPU per second of audio (%.1f %% of the core)\n"
                "  %llu underruns (%llu in the driver), %.1f underruns/s\n"
                "  playback %s%s\n",
                Rate, Core, Kids.size(), Audio, Wall, Fills ? FillCpu / Fills * 1e3 : 0.0, Cpu / Audio,
                100.0 * Cpu / Wall,
                static_cast<unsigned long long>(C.Underruns),
                static_cast<unsigned long long>(C.DriverUnderruns), C.Underruns / Wall,
                Survived ? "survived" : "ended early: ", Survived ? "" : Out.ErrorMessage.c_str());
    return 0;
}
