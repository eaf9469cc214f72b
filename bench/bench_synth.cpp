// Renders long stretches of the heaviest set-ups and reports how many seconds of
// audio one CPU second produces (the device needs at least 1.0).
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "synth/synth.h"
#include "bench_common.h"
#include "synth/wav_writer.h"

using namespace zelvo;
using bench::CpuSeconds;

namespace {

void SetUp25(TSynth& S, int32_t Kind, int32_t Rate, const char* Seconds) {
    S.SeedRandom(1);
    bench::SweepBank(S, Kind, Rate, 0.9f);
    S.PrepareSweep(Seconds, '.');
}

struct NullHost : TWaveExportHost {
    void BeginExport() override {}
    void ShowProgress(int) override {}
    bool CancelRequested() override { return false; }
    void EndExport(TExportOutcome O) override { Ok = O == TExportOutcome::eoCompleted; }
    bool Ok = false;
};

const char* KindName(int K) {
    static const char* Names[] = {"sine", "square", "triangle", "white noise", "pink noise"};
    return Names[K];
}

} // namespace

int main(int argc, char** argv) {
    const int Seconds = argc > 1 ? std::stoi(argv[1]) : 60;
    const int32_t Rate = 96000;
    std::printf("25 oscillators at %d Hz, %d s of audio each (one core)\n", Rate, Seconds);
    {
        // Warm the core up so that the first figure is not the slowest.
        TSynth S;
        SetUp25(S, wkSine, Rate, "2");
        for (int32_t K = 0; K < S.PeriodSamples; ++K) {
            S.ComputeSample(0);
            S.ComputeSample(1);
            ++S.SampleIndex;
        }
    }
    for (int Kind = 0; Kind < 5; ++Kind) {
        TSynth S;
        SetUp25(S, Kind, Rate, std::to_string(Seconds).c_str());
        const double T0 = CpuSeconds();
        long long Check = 0;
        for (int32_t K = 0; K < S.PeriodSamples; ++K) {
            Check += S.ComputeSample(0);
            Check += S.ComputeSample(1);
            ++S.SampleIndex;
        }
        const double Cpu = CpuSeconds() - T0;
        std::printf("  ComputeSample %-11s %7.1f x real time  (%.3f s CPU, %llu fallbacks, check %lld)\n",
                    KindName(Kind), Seconds / Cpu, Cpu,
                    static_cast<unsigned long long>(S.FallbackCount()), Check);
    }
    {
        // The plain evaluation, for comparison (a shorter stretch: it is slow).
        TSynth S;
        S.SetPlainEvaluation(true);
        const int Short = Seconds < 5 ? Seconds : 5;
        SetUp25(S, wkSine, Rate, std::to_string(Short).c_str());
        const double T0 = CpuSeconds();
        for (int32_t K = 0; K < S.PeriodSamples; ++K) {
            S.ComputeSample(0);
            S.ComputeSample(1);
            ++S.SampleIndex;
        }
        const double Cpu = CpuSeconds() - T0;
        std::printf("  plain sinl    sine        %7.1f x real time\n", Short / Cpu);
    }
    {
        TSynth S;
        SetUp25(S, wkSine, Rate, std::to_string(Seconds).c_str());
        const auto Path = std::filesystem::temp_directory_path() / "zelvo-bench.wav";
        NullHost H;
        const double T0 = CpuSeconds();
        WriteWaveData(S, Path.string(), H);
        const double Cpu = CpuSeconds() - T0;
        std::printf("  WriteWaveData sine        %7.1f x real time  (%s, %.1f MB)\n", Seconds / Cpu,
                    H.Ok ? "complete" : "FAILED", std::filesystem::file_size(Path) / 1e6);
        std::filesystem::remove(Path);
    }
    return 0;
}
