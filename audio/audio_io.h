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
    // ... the fields of the ring, the counts and the flags (implementation)
    int32_t FBufferSize = 0;
    int32_t FRequestedBufferSize = 8192;
    int32_t FNumBuffers = 4;
    wave::WaveFormatEx FWaveFmtEx;
    uint32_t FWaveDevice = wave::WAVE_MAPPER;
    bool ContinueProcessing = false;
    bool FPaused = false;
    int32_t BufIndex = 0;
    int32_t FilledBuffers = 0;
    int32_t QueuedBuffers = 0;
    int32_t ProcessedBuffers = 0;
};

class TAudioOut : public TAudioIO {
public:
    // Driver defaults to wave::DefaultWaveOutDriver().
    explicit TAudioOut(wave::IWaveOutDriver* Driver = nullptr);
    ~TAudioOut() override;

    // TS: the variable that holds this component; notices reach it through TS.
    bool Start(TAudioOut** TS);
    void StopAtOnce() override;
    void StopGracefully() override;
    bool Paused() const { return FPaused; }
    void SetPaused(bool Value);
    double ElapsedTime();

    TBufferEvent OnFillBuffer;

    // (implementation details follow in the real header)
};

} // namespace zelvo
