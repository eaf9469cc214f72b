#pragma once
// Fills the audio output's buffers with stereo frames of the signal: moves the
// period on frame by frame, restarts or turns the sweep at the end of a looping
// period, and pads with silence after the end of a signal that does not loop.
#include <cstdint>
#include <string>

#include "synth/synth.h"

namespace zelvo {

// What a fill needs of the window and the audio output that own it.
class TFillerHost {
public:
    virtual ~TFillerHost() = default;
    virtual bool LoopChecked() = 0;      // the state of the "Loop" check box, read when asked
    virtual int32_t NumBuffers() = 0;    // buffers in the output's ring
    virtual int32_t BufferSize() = 0;    // bytes per buffer
    virtual void StopAtOnce() = 0;       // the output's immediate stop
    virtual void ShowMessage(const std::string& Text) = 0;  // waits for the user's OK
};

class TBufferFiller {
public:
    TBufferFiller(TSynth& Synth, TFillerHost& Host) : FSynth(Synth), FHost(Host) {}

    // The handler of the output's fill event: fills Size bytes (a multiple of 4)
    // and answers whether the buffer is to be played. An error inside the
    // synthesis leaves FillBusy set, so the next fill stops the output.
    bool AudioOut1FillBuffer(uint8_t* Buffer, int32_t& Size);

    bool FillBusy = false;

private:
    TSynth& FSynth;
    TFillerHost& FHost;
};

} // namespace zelvo
