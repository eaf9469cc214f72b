#pragma once
// Renders one period of the signal into a WAV file: 44-byte RIFF header, then
// 16-bit stereo frames. The writer touches no window: it reports to its host.
#include <cstdint>
#include <string>

#include "synth/synth.h"

namespace zelvo {

enum class TExportOutcome { eoCompleted, eoCancelled, eoFailed };

class TWaveExportHost {
public:
    virtual ~TWaveExportHost() = default;
    virtual void BeginExport() = 0;
    // After every 10000th frame; the host lets its event loop run here.
    virtual void ShowProgress(int Percent) = 0;
    virtual bool CancelRequested() = 0;
    virtual void EndExport(TExportOutcome Outcome) = 0;
    // Again and again while the file takes no data (a pipe whose reader is
    // slow or stalled); the host lets its event loop run here too, so that a
    // cancel is seen.
    virtual void WaitForTarget() {}
};

// The largest period a WAV file can describe: its RIFF size is 36 + 4N in 32 bits.
constexpr int64_t kMaxWaveFrames = (0xFFFFFFFFll - 36) / 4;

// Raises ERangeError when a period of PeriodSamples frames cannot be written as a
// WAV file (negative, or beyond the RIFF size limit). The export command calls it
// before it asks for a file name.
void CheckWaveExportable(int32_t PeriodSamples);

// The 44-byte header of a file of Frames stereo frames at SampleRate.
void MakeWaveHeader(uint8_t Header[44], int32_t SampleRate, uint32_t Frames);

// Progress of frame Index of N in percent, halves to even, without overflow.
int ProgressPercent(int64_t Index, int64_t N);

// Writes one period (Synth.PeriodSamples frames, as PrepareSweep left the bank)
// into Filename, through TFileReplacement: the file appears only when complete,
// so a cancelled or failed export leaves an existing file untouched; a link is
// followed, a device or FIFO is written in place, and a read-only file, a
// read-only folder or a directory is refused (eoFailed). While a pipe or a
// device takes no data the writer waits in short polls, through
// WaitForTarget, until it does or the host cancels (eoCancelled; what reached
// the target stays). Every outcome reaches the host through EndExport;
// nothing is thrown.
void WriteWaveData(TSynth& Synth, const std::string& Filename, TWaveExportHost& Host);

} // namespace zelvo
