#pragma once
// A buffer-queue wave-output device: the contract the audio-output component is
// written against. Written buffers are played in order and each comes back with
// one Done notice, in write order; Open and Close are announced by notices too.
// Notices go to an INoticeSink from whatever thread the driver runs; the sink
// forwards them to the GUI thread. After Close has succeeded a driver never
// calls that device's sink again.
//
// No Qt here: the ALSA backend, the simulated device and the component share it.
#include <cstdint>
#include <string>

namespace zelvo::wave {

using MMRESULT = uint32_t;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;

constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

constexpr uint16_t WAVE_FORMAT_PCM = 1;

struct WaveFormatEx {
    uint16_t wFormatTag = WAVE_FORMAT_PCM;
    uint16_t nChannels = 1;
    uint32_t nSamplesPerSec = 22050;
    uint32_t nAvgBytesPerSec = 44100;
    uint16_t nBlockAlign = 2;
    uint16_t wBitsPerSample = 16;
    uint16_t cbSize = 0;
};

struct WaveHdr {
    uint8_t* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBytesRecorded = 0;
    uintptr_t dwUser = 0;
    uint32_t dwFlags = 0;
    uint32_t dwLoops = 0;
    WaveHdr* lpNext = nullptr;
    uintptr_t reserved = 0;
};

// Device handles are never reused within a run, so a stale handle is refused
// (MMSYSERR_INVALHANDLE) rather than reaching another playback.
using HWaveOut = uint32_t;
constexpr HWaveOut kNoWaveOut = 0;

enum class Notice : uint32_t {
    Open = 0x3BB,   // MM_WOM_OPEN
    Close = 0x3BC,  // MM_WOM_CLOSE
    Done = 0x3BD,   // MM_WOM_DONE
};

class INoticeSink {
public:
    virtual ~INoticeSink() = default;
    // May be called from any thread; must not block for long.
    virtual void PostNotice(Notice N, HWaveOut Handle, WaveHdr* Hdr) = 0;
};

class IWaveOutDriver {
public:
    virtual ~IWaveOutDriver() = default;

    virtual uint32_t GetNumDevs() = 0;
    // The name a person reads for device Id (0..GetNumDevs()-1).
    virtual MMRESULT GetDevCaps(uint32_t Id, std::string& Name) = 0;

    // Id is 0..n-1 or WAVE_MAPPER (the system's default output).
    virtual MMRESULT Open(HWaveOut* Handle, uint32_t Id, const WaveFormatEx& Format,
                          INoticeSink* Sink) = 0;
    virtual MMRESULT PrepareHeader(HWaveOut H, WaveHdr* Hdr) = 0;
    // WAVERR_STILLPLAYING while the header is queued.
    virtual MMRESULT UnprepareHeader(HWaveOut H, WaveHdr* Hdr) = 0;
    virtual MMRESULT Write(HWaveOut H, WaveHdr* Hdr) = 0;
    virtual MMRESULT Pause(HWaveOut H) = 0;
    virtual MMRESULT Restart(HWaveOut H) = 0;
    // Stops at once and hands every queued buffer back (Done notices).
    virtual MMRESULT Reset(HWaveOut H) = 0;
    // WAVERR_STILLPLAYING while a written buffer has not come back.
    virtual MMRESULT Close(HWaveOut H) = 0;
    // Frames played since the device was opened.
    virtual MMRESULT GetPosition(HWaveOut H, uint32_t& Samples) = 0;
    virtual std::string GetErrorText(MMRESULT Code) = 0;

    // Why playback on H ended early (the device failed or went away; its
    // buffers then come back as done and further writes are refused with the
    // same code), or MMSYSERR_NOERROR. GetErrorText gives the text. Drivers
    // whose devices cannot fail that way keep this default.
    virtual MMRESULT GetDeviceError(HWaveOut, MMRESULT& Error) {
        Error = MMSYSERR_NOERROR;
        return MMSYSERR_NOERROR;
    }
};

// Texts for the codes above, for drivers that have no better text of their own.
std::string StandardErrorText(MMRESULT Code);

// The driver the program uses (ALSA in the real program); tests install their own.
IWaveOutDriver& DefaultWaveOutDriver();
void SetDefaultWaveOutDriver(IWaveOutDriver* Driver);  // nullptr restores the built-in one

} // namespace zelvo::wave
