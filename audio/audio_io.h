#pragma once
// The streaming wave-output component: a ring of two to four buffers that its
// owner fills through OnFillBuffer, played through an IWaveOutDriver. Device
// notices arrive as posted events on a hidden receiver object and are handled by
// the GUI thread's event loop, which also runs every fill.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/wave_out.h"

namespace zelvo {

class TCallBackWinOut;  // the hidden receiver of the device's notices

using TNotifyEvent = std::function<void()>;
// Buffer, Size in bytes (the handler may lower it, never raise it); true while
// the buffer holds signal.
using TBufferEvent = std::function<bool(uint8_t* Buffer, int32_t& Size)>;

// The driver's text for a result code (a standard text when it has none).
std::string WaveOutErrorText(wave::IWaveOutDriver& Driver, wave::MMRESULT Code);

class TAudioIO {
public:
    explicit TAudioIO();
    virtual ~TAudioIO();
    TAudioIO(const TAudioIO&) = delete;
    TAudioIO& operator=(const TAudioIO&) = delete;

    virtual void StopAtOnce();
    virtual void StopGracefully();

    int32_t BufferSize() const { return FBufferSize; }
    void SetBufferSize(int32_t Value);
    int32_t NumBuffers() const { return FNumBuffers; }
    void SetNumBuffers(int32_t Value);
    int32_t FrameRate() const;
    void SetFrameRate(int32_t Value);
    bool Stereo() const;
    void SetStereo(bool Value);
    uint16_t Quantization() const;
    void SetQuantization(uint16_t Value);
    uint32_t WaveDevice() const { return FWaveDevice; }
    void SetWaveDevice(uint32_t Value) { FWaveDevice = Value; }

    TNotifyEvent OnStart;
    TNotifyEvent OnStop;

    // Read by the owner.
    bool Active = false;
    std::string ErrorMessage;

protected:
    static constexpr int kSlots = 4;

    void UpdateFormat();
    bool InitWaveHeaders();
    bool AllocateHeaders();
    void FreeHeaders();
    bool AllocateBuffers();
    bool FreeBuffers();
    // True while a device may still read the ring: a new BufferSize then waits
    // for the next open instead of freeing memory under the device.
    virtual bool BuffersHeld() const { return false; }
    // Forgets the ring's memory without freeing it (a device that would not
    // close may still touch it).
    void AbandonMemory();

    int32_t FBufferSize = 0;
    int32_t FRequestedBufferSize = 8192;
    int32_t FNumBuffers = 4;
    wave::WaveFormatEx FWaveFmtEx;
    uint32_t FWaveDevice = wave::WAVE_MAPPER;
    std::array<void*, kSlots> hWaveHeader{};
    std::array<wave::WaveHdr*, kSlots> WaveHdr{};
    std::array<uint8_t*, kSlots> WaveBuffer{};
    std::array<void*, kSlots> hWaveBuffer{};
    std::array<int32_t, kSlots> FBufferBytes{};  // bytes actually allocated per slot
    // Why the ring lacks memory, as the failed allocation said it; empty while
    // nothing is missing for that reason.
    std::string FHeaderFailure;
    std::string FBufferFailure;
    bool FReallocPending = false;
    int32_t BufIndex = 0;
    bool ContinueProcessing = false;
    bool FPaused = false;
    int32_t FilledBuffers = 0;
    int32_t QueuedBuffers = 0;
    int32_t ProcessedBuffers = 0;
};

class TAudioOut : public TAudioIO {
public:
    // Driver defaults to wave::DefaultWaveOutDriver(), looked up at each open.
    explicit TAudioOut(wave::IWaveOutDriver* Driver = nullptr);
    ~TAudioOut() override;

    // TS: the variable that holds this component; notices reach it through TS
    // (nullptr: straight to this component).
    bool Start(TAudioOut** TS);
    void StopAtOnce() override;
    void StopGracefully() override;
    bool Paused() const { return FPaused; }
    void SetPaused(bool Value);
    double ElapsedTime();

    TBufferEvent OnFillBuffer;

protected:
    virtual bool DoFillBuffer(int32_t Index, int32_t Size);
    virtual void CloseDevice();
    virtual bool OpenDevice(TAudioOut** TS);

    bool StartQueueing();
    bool QueueBuffer();
    bool BuffersHeld() const override { return FDeviceHeld; }

    bool WaveDeviceOpen = false;
    std::unique_ptr<TCallBackWinOut> CallBackWin;
    wave::HWaveOut WaveHandle = wave::kNoWaveOut;

private:
    friend class TCallBackWinOut;

    wave::IWaveOutDriver& CurrentDriver();
    bool RingReady();
    void FinishEarlierDevice();
    void HandleNotice(wave::Notice N, wave::HWaveOut Handle);
    void BufferDone();

    wave::IWaveOutDriver* FDriver = nullptr;      // chosen at construction, if any
    wave::IWaveOutDriver* FOpenDriver = nullptr;  // the driver WaveHandle belongs to
    bool FDeviceHeld = false;  // WaveHandle opened and not yet closed by the driver
    int32_t FRingSize = 0;     // ring slots of the current playback
    int32_t WrittenBuffers = 0;
    TAudioOut* FSelf = this;
};

} // namespace zelvo
