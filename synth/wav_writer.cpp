#include "synth/wav_writer.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>

#include "files/file_replacement.h"
#include "synth/errors.h"

namespace zelvo {
namespace {

void Put16(uint8_t* P, uint16_t V) {
    P[0] = static_cast<uint8_t>(V);
    P[1] = static_cast<uint8_t>(V >> 8);
}

void Put32(uint8_t* P, uint32_t V) {
    for (int I = 0; I < 4; ++I) P[I] = static_cast<uint8_t>(V >> (8 * I));
}

// The file being written, gathered into large writes; it takes the target's
// place only when complete.
class TTempFile {
public:
    explicit TTempFile(const std::string& Target) : FFile(Target) { FBuf.reserve(1 << 16); }

    bool Ok() const { return FFile.Ok(); }
    // The host gave up waiting for a target that took no data.
    bool Cancelled() const { return FFile.Error() == ECANCELED; }
    void SetWaitHandler(TFileReplacement::TWaitHandler H) { FFile.SetWaitHandler(std::move(H)); }

    void Write(const uint8_t* Data, size_t Size) {
        FBuf.insert(FBuf.end(), Data, Data + Size);
        if (FBuf.size() >= (1u << 16)) Flush();
    }

    bool Commit() {
        Flush();
        return FFile.Commit();
    }

    void Discard() {
        FBuf.clear();
        FFile.Discard();
    }

private:
    void Flush() {
        FFile.Write(FBuf.data(), FBuf.size());
        FBuf.clear();
    }

    TFileReplacement FFile;
    std::vector<uint8_t> FBuf;
};

} // namespace

void CheckWaveExportable(int32_t PeriodSamples) {
    if (PeriodSamples < 0)
        throw ERangeError("A negative period cannot be saved as a wave file");
    if (PeriodSamples > kMaxWaveFrames)
        throw ERangeError("The period is too long for a wave file: at most " +
                          std::to_string(kMaxWaveFrames) + " frames fit");
}

void MakeWaveHeader(uint8_t H[44], int32_t SampleRate, uint32_t Frames) {
    // The rate fields keep their three low bytes, as the format's writers always have.
    const uint32_t Rate = static_cast<uint32_t>(SampleRate) & 0x00FFFFFFu;
    const uint32_t ByteRate = (static_cast<uint32_t>(SampleRate) * 4u) & 0x00FFFFFFu;
    std::memcpy(H + 0, "RIFF", 4);
    Put32(H + 4, 36u + 4u * Frames);
    std::memcpy(H + 8, "WAVE", 4);
    std::memcpy(H + 12, "fmt ", 4);
    Put32(H + 16, 16);
    Put16(H + 20, 1);
    Put16(H + 22, 2);
    Put32(H + 24, Rate);
    Put32(H + 28, ByteRate);
    Put16(H + 32, 4);
    Put16(H + 34, 16);
    std::memcpy(H + 36, "data", 4);
    Put32(H + 40, 4u * Frames);
}

int ProgressPercent(int64_t Index, int64_t N) {
    if (N <= 0) return 0;
    const int64_t P = Index * 100;  // Index < 2^31: no overflow
    int64_t Q = P / N;
    const int64_t R2 = 2 * (P % N);
    if (R2 > N || (R2 == N && (Q & 1))) ++Q;
    return static_cast<int>(Q);
}

// The samples go to the file as they lie in memory: 16-bit little-endian.
static_assert(std::endian::native == std::endian::little);

void WriteWaveData(TSynth& Synth, const std::string& Filename, TWaveExportHost& Host) {
    const int32_t N = Synth.PeriodSamples;
    Host.BeginExport();
    if (N < 0 || N > kMaxWaveFrames) {
        Host.EndExport(TExportOutcome::eoFailed);
        return;
    }
    TTempFile File(Filename);
    File.SetWaitHandler([&Host] {
        Host.WaitForTarget();
        return !Host.CancelRequested();
    });
    if (!File.Ok()) {
        Host.EndExport(TExportOutcome::eoFailed);
        return;
    }
    uint8_t Header[44];
    MakeWaveHeader(Header, Synth.SampleRate, static_cast<uint32_t>(N));
    File.Write(Header, sizeof Header);

    bool Cancelled = false;
    try {
        Synth.SampleIndex = 0;
        int16_t Samples[2 * TSynth::kBlockFrames];
        for (int32_t K = 0; K < N && File.Ok();) {
            // A run ends at the next frame the progress is shown after.
            const int32_t NextReport = (K + 9999) / 10000 * 10000;
            int32_t Run = std::min({N - K, NextReport - K + 1, TSynth::kBlockFrames});
            const TSynth::TRunState Start = Synth.SaveRunState();
            std::exception_ptr Fault;
            try {
                Synth.RenderFrames(Samples, Run);
            } catch (...) {
                // the frames before the fault count as written
                Fault = std::current_exception();
                Run = Synth.SampleIndex - K;
            }
            // The host sees each frame's index; the progress frame ends the run, so
            // there the whole state is that frame's.
            int32_t Done = 0;
            while (Done < Run && !Cancelled) {
                Synth.SampleIndex = K + Done;
                if (Synth.SampleIndex % 10000 == 0) Host.ShowProgress(ProgressPercent(Synth.SampleIndex, N));
                Cancelled = Host.CancelRequested();
                ++Done;
            }
            Synth.SampleIndex = K + Run;
            File.Write(reinterpret_cast<const uint8_t*>(Samples), 4 * static_cast<size_t>(Done));
            if (Cancelled) {
                // the state as it stood after the frame the cancel came in
                if (Done < Run || Fault) {
                    Synth.RestoreRunState(Start);
                    Synth.RenderFrames(Samples, Done);
                }
                Synth.SampleIndex = K + Done - 1;
                break;
            }
            if (Fault) std::rethrow_exception(Fault);
            K += Run;
        }
    } catch (...) {
        File.Discard();
        Host.EndExport(TExportOutcome::eoFailed);
        return;
    }
    const bool Committed = !Cancelled && File.Commit();
    if (!Cancelled && File.Cancelled()) {
        // cancelled while the target took no data: the last frame handed over
        // is the last one written
        Cancelled = true;
        Synth.SampleIndex = std::max(Synth.SampleIndex - 1, 0);
    }
    if (Cancelled) {
        File.Discard();
        Host.EndExport(TExportOutcome::eoCancelled);
        return;
    }
    Host.EndExport(Committed ? TExportOutcome::eoCompleted : TExportOutcome::eoFailed);
}

} // namespace zelvo
