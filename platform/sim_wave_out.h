#pragma once
// A simulated wave-output device for tests and soak runs. It plays nothing
// aloud: a clock that the caller advances makes every open device consume its
// written buffers in write order at the opened format's byte rate, records the
// bytes "played", and posts one Done per buffer as it finishes. Faults can be
// injected into Open, PrepareHeader and Write.
//
// Thread-safe: the optional pacer thread advances the clock in real time while
// the GUI thread calls the driver. Notices are posted while the device's lock
// is held, so they leave in the order the device produced them.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/wave_out.h"

namespace zelvo::wave {

class TSimWaveOut final : public IWaveOutDriver {
public:
    explicit TSimWaveOut(std::vector<std::string> DeviceNames = {"Simulated output"});
    ~TSimWaveOut() override;

    void SetDevices(std::vector<std::string> Names);

    // The clock. Every open device that is not paused plays for this long;
    // AdvanceMs and AdvanceMicroseconds carry the fraction of a frame over.
    void AdvanceFrames(uint64_t Frames);
    void AdvanceMs(uint64_t Ms);
    void AdvanceMicroseconds(uint64_t Us);

    // Faults: the Nth call from now (1 = the next) answers Code without doing
    // anything; with Sticky every later call answers it too. Code 0 disarms.
    void FailOpen(MMRESULT Code, uint32_t Nth = 1, bool Sticky = false);
    void FailPrepare(MMRESULT Code, uint32_t Nth = 1, bool Sticky = false);
    void FailWrite(MMRESULT Code, uint32_t Nth = 1, bool Sticky = false);
    void ClearFaults();
    // The open device H fails as a device that went away: every written buffer
    // comes back at once as done, later writes answer Code, GetDeviceError
    // tells Code. Closing it still works.
    void FailDevice(HWaveOut H, MMRESULT Code);
    // Overrides the text GetErrorText gives for Code.
    void SetErrorText(MMRESULT Code, std::string Text);
    // Keep the played bytes (on by default; a long soak may not want them).
    void SetRecording(bool On);

    // A real-time pacer: a thread that advances the clock by the wall time
    // that has passed, every Tick. Stopped by StopPacing or the destructor.
    void StartPacing(uint32_t TickMicroseconds = 2000);
    void StopPacing();

    // What one open did, kept after it closed.
    struct TPlayback {
        HWaveOut Handle = kNoWaveOut;
        uint32_t DeviceId = 0;  // as asked for (WAVE_MAPPER plays on device 0)
        WaveFormatEx Format;
        bool Open = false;
        bool Paused = false;
        std::vector<uint8_t> Played;             // every byte played, in order
        std::vector<const uint8_t*> Written;     // lpData of every accepted write
        uint32_t Queued = 0;                     // written and not yet back
        uint32_t Done = 0;                       // buffers handed back
        uint32_t Pauses = 0, Restarts = 0, Resets = 0;
        uint32_t RefusedCloses = 0, RefusedUnprepares = 0;
        uint64_t PositionBytes = 0;  // since open or the last Reset
        uint64_t StarvedFrames = 0;  // clock time running with nothing queued, after the first write
    };
    // Copies: a pacer may be changing the originals.
    std::vector<TPlayback> Playbacks() const;
    TPlayback Last() const;  // the latest open (an empty record when none)
    uint32_t OpenDevices() const;
    uint64_t NoticesPosted() const;

    // IWaveOutDriver
    uint32_t GetNumDevs() override;
    MMRESULT GetDevCaps(uint32_t Id, std::string& Name) override;
    MMRESULT Open(HWaveOut* Handle, uint32_t Id, const WaveFormatEx& Format,
                  INoticeSink* Sink) override;
    MMRESULT PrepareHeader(HWaveOut H, WaveHdr* Hdr) override;
    MMRESULT UnprepareHeader(HWaveOut H, WaveHdr* Hdr) override;
    MMRESULT Write(HWaveOut H, WaveHdr* Hdr) override;
    MMRESULT Pause(HWaveOut H) override;
    MMRESULT Restart(HWaveOut H) override;
    MMRESULT Reset(HWaveOut H) override;
    MMRESULT Close(HWaveOut H) override;
    MMRESULT GetPosition(HWaveOut H, uint32_t& Samples) override;
    std::string GetErrorText(MMRESULT Code) override;
    MMRESULT GetDeviceError(HWaveOut H, MMRESULT& Error) override;

private:
    struct TFault {
        MMRESULT Code = MMSYSERR_NOERROR;
        uint32_t Remaining = 0;
        bool Sticky = false;
    };
    struct TDevice {
        size_t Record = 0;  // index into FPlaybacks
        INoticeSink* Sink = nullptr;
        std::deque<WaveHdr*> Queue;
        uint32_t HeadOffset = 0;  // bytes of the front buffer already played
        std::vector<WaveHdr*> Prepared;
        uint64_t FrameRemainder = 0;  // carried fraction, in frame-microseconds
        bool Started = false;         // a buffer has been written
        MMRESULT Failed = MMSYSERR_NOERROR;
    };

    static MMRESULT Trip(TFault& F);
    TDevice* Find(HWaveOut H);
    void Post(TDevice& D, Notice N, HWaveOut H, WaveHdr* Hdr);
    void AdvanceLocked(uint64_t Us);
    void PlayFrames(HWaveOut H, TDevice& D, uint64_t Frames);
    void FinishFront(HWaveOut H, TDevice& D);
    void PacerLoop(uint32_t TickMicroseconds);

    mutable std::mutex FLock;
    std::vector<std::string> FNames;
    std::map<HWaveOut, TDevice> FDevices;  // open devices only
    std::vector<TPlayback> FPlaybacks;
    std::map<MMRESULT, std::string> FTexts;
    TFault FOpenFault, FPrepareFault, FWriteFault;
    bool FRecording = true;
    uint64_t FNotices = 0;

    std::thread FPacer;
    std::condition_variable FPacerWake;
    bool FPacerStop = false;
};

} // namespace zelvo::wave
