#include "synth/wav_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// A file written under a temporary name beside its target and moved over the
// target only when it is complete.
class TTempFile {
public:
    explicit TTempFile(const std::string& Target) : FTarget(Target) {
        const auto Slash = Target.find_last_of('/');
        const std::string Dir = Slash == std::string::npos ? std::string() : Target.substr(0, Slash + 1);
        const std::string Base = Slash == std::string::npos ? Target : Target.substr(Slash + 1);
        std::random_device Rd;
        for (int Try = 0; Try < 16 && FFd < 0; ++Try) {
            char Suffix[16];
            std::snprintf(Suffix, sizeof Suffix, "%08x", static_cast<unsigned>(Rd()));
            FPath = Dir + "." + Base + "." + Suffix + ".part";
            FFd = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (FFd < 0 && errno != EEXIST) break;
        }
        FBuf.reserve(1 << 16);
    }
    ~TTempFile() { Discard(); }

    bool Ok() const { return FFd >= 0 && !FFailed; }

    void Write(const uint8_t* Data, size_t Size) {
        FBuf.insert(FBuf.end(), Data, Data + Size);
        if (FBuf.size() >= (1u << 16)) Flush();
    }

    bool Commit() {
        Flush();
        if (!Ok()) return false;
        const bool Closed = ::close(FFd) == 0;
        FFd = -1;
        if (!Closed || std::rename(FPath.c_str(), FTarget.c_str()) != 0) {
            FFailed = true;
            return false;
        }
        FPath.clear();
        return true;
    }

    void Discard() {
        if (FFd >= 0) ::close(FFd);
        FFd = -1;
        if (!FPath.empty()) ::unlink(FPath.c_str());
        FPath.clear();
    }

private:
    void Flush() {
        size_t Done = 0;
        while (Ok() && Done < FBuf.size()) {
            const ssize_t N = ::write(FFd, FBuf.data() + Done, FBuf.size() - Done);
            if (N < 0 && errno == EINTR) continue;
            if (N <= 0) FFailed = true;
            else Done += static_cast<size_t>(N);
        }
        FBuf.clear();
    }

    std::string FTarget;
    std::string FPath;
    int FFd = -1;
    bool FFailed = false;
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

void WriteWaveData(TSynth& Synth, const std::string& Filename, TWaveExportHost& Host) {
    const int32_t N = Synth.PeriodSamples;
    Host.BeginExport();
    if (N < 0 || N > kMaxWaveFrames) {
        Host.EndExport(TExportOutcome::eoFailed);
        return;
    }
    TTempFile File(Filename);
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
        for (int32_t K = 0; K < N && File.Ok(); ++K) {
            const int16_t L = SampleToPcm16(Synth.ComputeSample(0));
            const int16_t R = SampleToPcm16(Synth.ComputeSample(1));
            uint8_t Frame[4];
            Put16(Frame, static_cast<uint16_t>(L));
            Put16(Frame + 2, static_cast<uint16_t>(R));
            File.Write(Frame, 4);
            if (Synth.SampleIndex % 10000 == 0) Host.ShowProgress(ProgressPercent(Synth.SampleIndex, N));
            if (Host.CancelRequested()) {
                Cancelled = true;
                break;
            }
            ++Synth.SampleIndex;
        }
    } catch (...) {
        File.Discard();
        Host.EndExport(TExportOutcome::eoFailed);
        return;
    }
    if (Cancelled) {
        File.Discard();
        Host.EndExport(TExportOutcome::eoCancelled);
        return;
    }
    Host.EndExport(File.Commit() ? TExportOutcome::eoCompleted : TExportOutcome::eoFailed);
}

} // namespace zelvo
