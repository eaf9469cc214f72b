#pragma once
// What the killed writer writes, shared by the child and the test that kills it.
#include <string>

#include "synth/synth.h"
#include "synth/wav_writer.h"

namespace zelvo::test {

// One sine at 44100 Hz for Seconds: 10 s make a 1.7 MB file, long enough to be
// killed in the middle of it.
inline void PrepareVictimBank(TSynth& S, const char* Seconds) {
    S.Oscillators[0] = DefaultOscRecord();
    S.OscCount = 1;
    S.SampleRate = 44100;
    S.PrepareSweep(Seconds, '.');
}

struct TSilentHost : TWaveExportHost {
    void BeginExport() override {}
    void ShowProgress(int) override {}
    bool CancelRequested() override { return false; }
    void EndExport(TExportOutcome O) override { Outcome = O; }
    TExportOutcome Outcome = TExportOutcome::eoFailed;
};

const char* const kVictimSeconds = "10";
const char* const kSettingsKey = "\\Software\\Quorvin\\Zelvo";

} // namespace zelvo::test
