#include "platform/wave_out.h"

namespace zelvo::wave {
namespace {

// Stands in until the program installs a real driver: no devices at all.
class TNoWaveOut final : public IWaveOutDriver {
public:
    uint32_t GetNumDevs() override { return 0; }
    MMRESULT GetDevCaps(uint32_t, std::string&) override { return MMSYSERR_BADDEVICEID; }
    MMRESULT Open(HWaveOut*, uint32_t, const WaveFormatEx&, INoticeSink*) override {
        return MMSYSERR_NODRIVER;
    }
    MMRESULT PrepareHeader(HWaveOut, WaveHdr*) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT UnprepareHeader(HWaveOut, WaveHdr*) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Write(HWaveOut, WaveHdr*) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Pause(HWaveOut) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Restart(HWaveOut) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Reset(HWaveOut) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Close(HWaveOut) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT GetPosition(HWaveOut, uint32_t&) override { return MMSYSERR_INVALHANDLE; }
    std::string GetErrorText(MMRESULT Code) override { return StandardErrorText(Code); }
};

IWaveOutDriver*& Installed() {
    static IWaveOutDriver* D = nullptr;
    return D;
}

} // namespace

std::string StandardErrorText(MMRESULT Code) {
    switch (Code) {
    case MMSYSERR_NOERROR: return "The command completed successfully.";
    case MMSYSERR_ERROR: return "Unspecified error.";
    case MMSYSERR_BADDEVICEID: return "The device identifier is out of range.";
    case MMSYSERR_ALLOCATED: return "The device is already in use.";
    case MMSYSERR_INVALHANDLE: return "The device handle is invalid.";
    case MMSYSERR_NODRIVER: return "No sound output device is installed.";
    case MMSYSERR_NOMEM: return "Not enough memory for the sound output.";
    case MMSYSERR_INVALPARAM: return "An invalid parameter was passed to the sound output.";
    case WAVERR_BADFORMAT: return "The sound output device does not support this format.";
    case WAVERR_STILLPLAYING: return "The sound output device is still playing.";
    case WAVERR_UNPREPARED: return "The buffer was not prepared for the sound output.";
    default: return "Unknown sound output error " + std::to_string(Code) + ".";
    }
}

IWaveOutDriver& DefaultWaveOutDriver() {
    static TNoWaveOut None;
    return Installed() ? *Installed() : None;
}

void SetDefaultWaveOutDriver(IWaveOutDriver* Driver) { Installed() = Driver; }

} // namespace zelvo::wave
