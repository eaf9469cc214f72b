#pragma once
// The wave-output device over ALSA. Device ids are positions in the list of
// playback PCMs that the last GetNumDevs took from ALSA's device hints.
//
// Each open device has one worker thread that makes every ALSA call after the
// open, sleeping in poll() on an eventfd and the PCM's descriptors; the PCM is
// non-blocking throughout. A buffer counts as done once the played position
// (written frames less the device's delay) has passed its end, so no drain is
// ever needed. Done notices come from the worker thread, in write order; Open
// and Close come from the thread that called Open and Close.
//
// Pause, Restart and Reset return once the worker has carried them out: after
// Reset every queued buffer has been posted as done, so Close succeeds at once.
// A sink must therefore not call them, nor Close, from inside PostNotice (they
// are refused there with MMSYSERR_ERROR). GetPosition counts the frames played
// since the open; Reset does not set it back.
//
// No ALSA header here: callers need only the wave-output contract.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wave_out.h"

namespace zelvo::wave {

// An ALSA error E (negative) is reported as ALSAERR_BASE + (-E); GetErrorText
// gives ALSA's own text for it.
constexpr MMRESULT ALSAERR_BASE = 0x10000;
constexpr MMRESULT AlsaErrorCode(int E) {
    return E < 0 ? ALSAERR_BASE + static_cast<MMRESULT>(-static_cast<int64_t>(E)) : MMSYSERR_NOERROR;
}

// This driver's own codes, between the standard codes and ALSA's.
constexpr MMRESULT ALSAWAVERR_DEVICEFAILED = 0x8001;  // error on the descriptor outside an underrun
constexpr MMRESULT ALSAWAVERR_UNSTABLE = 0x8002;      // recovered too often in a short time
constexpr MMRESULT ALSAWAVERR_STALLED = 0x8003;       // stopped consuming while not paused
constexpr MMRESULT ALSAWAVERR_NOTHREAD = 0x8004;      // the worker thread could not be started

struct TAlsaWaveOutOptions {
    // Devices that keep no time of their own (null, file, anything whose delay
    // stays 0 with the buffer empty) play by a software clock at the frame
    // rate, as a sound card would. Unpaced, they take everything at once and
    // each buffer is done as soon as it has been written.
    bool Paced = true;
    // The ALSA ring; asked for, the device may choose near values.
    uint32_t BufferTimeUs = 100000;
    uint32_t PeriodTimeUs = 25000;
    // More recoveries than this within one second end the playback: from
    // underruns the writer did not cause (the device ran dry before it could
    // have played what it held, or with nothing written since it was
    // prepared: how an ioplug device that has gone away shows itself) and
    // from suspends. Underruns after a late write are recovered and counted,
    // however many there are; a recovery that fails ends the playback at once.
    uint32_t MaxRecoveriesPerSecond = 25;
    // Frames pending, not paused, and the device plays nothing for this long:
    // the playback ends rather than waiting for ever.
    uint32_t StallTimeoutMs = 3000;
};

struct TAlsaWaveOutCounters {
    // Gaps in the sound while playback went on: the device ran dry and more
    // sound followed. The final run-out of a playback is not one.
    uint64_t Underruns = 0;
    // Of those, the gaps in which this driver still held data that it had not
    // written to the device in time (the rest: the application wrote late).
    uint64_t DriverUnderruns = 0;
};

// One entry of ALSA's device hints ("NAME", "DESC", "IOID"; empty where absent).
struct TAlsaHint {
    std::string Name;
    std::string Desc;
    std::string IoId;
};

struct TAlsaDevice {
    std::string Name;      // what a person reads
    std::string AlsaName;  // what is opened
};

// The playback devices to offer, in order: "default" first where it exists,
// software PCMs without a colon, one entry per card; no "null", no raw,
// per-channel, digital-passthrough or mixing plugin names, no input-only
// entries. Each is named by the first line of its description; names that
// collide get the second line, or else the ALSA name, in parentheses.
std::vector<TAlsaDevice> SelectAlsaPlaybackDevices(const std::vector<TAlsaHint>& Hints);

class TAlsaWaveOut final : public IWaveOutDriver {
public:
    explicit TAlsaWaveOut(TAlsaWaveOutOptions Options = {});
    // Stops every device still open; their sinks hear nothing more.
    ~TAlsaWaveOut() override;
    TAlsaWaveOut(const TAlsaWaveOut&) = delete;
    TAlsaWaveOut& operator=(const TAlsaWaveOut&) = delete;

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

    // The ALSA name behind Id in the last listing; "default" for WAVE_MAPPER.
    MMRESULT GetAlsaName(uint32_t Id, std::string& Name);
    // Whether H plays by the software clock (its device keeps no time).
    MMRESULT IsSoftwareClocked(HWaveOut H, bool& Soft);

    // Over every device this driver has opened, closed ones included.
    TAlsaWaveOutCounters Counters() const;
    MMRESULT GetCounters(HWaveOut H, TAlsaWaveOutCounters& C);

    // Applies to devices opened afterwards.
    void SetPaced(bool Paced);
    bool Paced() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};

} // namespace zelvo::wave
