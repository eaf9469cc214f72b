// Renders long stretches of the heaviest set-ups and reports how many seconds of
// audio one CPU second produces (the device needs at least 1.0): frame by frame
// and through the block computation on each instruction set this machine has,
// and through the WAV export.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>
#include <algorithm>

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
    const auto Paths = TSynth::BlockPathsOnThisMachine();
    const char* PathNames[] = {"frame by frame", "blocks, baseline", "blocks, AVX2"};
    for (int Kind = 0; Kind < 5; ++Kind) {
        for (const auto Path : Paths) {
            TSynth S;
            SetUp25(S, Kind, Rate, std::to_string(Seconds).c_str());
            S.SetBlockPath(Path);
            // as the buffer filler asks for them: 4096 frames at a time
            std::vector<int16_t> Buf(2 * 4096);
            const double T0 = CpuSeconds();
            long long Check = 0;
            for (int32_t K = 0; K < S.PeriodSamples; K += 4096) {
                const int32_t N = std::min<int32_t>(4096, S.PeriodSamples - K);
                S.RenderFrames(Buf.data(), N);
                for (int32_t I = 0; I < 2 * N; ++I) Check += Buf[I];
            }
            const double Cpu = CpuSeconds() - T0;
            std::printf("  %-11s %-17s %7.1f x real time  (%.3f s CPU, %llu fallbacks, check %lld)\n",
                        KindName(Kind), PathNames[static_cast<int>(Path)], Seconds / Cpu, Cpu,
                        static_cast<unsigned long long>(S.FallbackCount()), Check);
        }
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
    for (const auto Path : Paths) {
        TSynth S;
        SetUp25(S, wkSine, Rate, std::to_string(Seconds).c_str());
        S.SetBlockPath(Path);
        const auto File = std::filesystem::temp_directory_path() / "zelvo-bench.wav";
        NullHost H;
        const double T0 = CpuSeconds();
        WriteWaveData(S, File.string(), H);
        const double Cpu = CpuSeconds() - T0;
        std::printf("  WriteWaveData sine, %-17s %7.1f x real time  (%.3f s CPU, %s, %.1f MB)\n",
                    PathNames[static_cast<int>(Path)], Seconds / Cpu, Cpu, H.Ok ? "complete" : "FAILED",
                    std::filesystem::file_size(File) / 1e6);
        std::filesystem::remove(File);
    }
    return 0;
}
