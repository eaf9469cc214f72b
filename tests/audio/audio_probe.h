#pragma once
// Test access to the component's inner state, and an event pump.
#include <QCoreApplication>

#include "audio/audio_io.h"
#include "platform/sim_wave_out.h"

namespace zelvo::test {

class TProbe : public TAudioOut {
public:
    using TAudioOut::TAudioOut;
    const wave::WaveFormatEx& Format() const { return FWaveFmtEx; }
    uint8_t* Buffer(int I) const { return WaveBuffer[I]; }
    wave::WaveHdr* Header(int I) const { return WaveHdr[I]; }
    int32_t Queued() const { return QueuedBuffers; }
    int32_t Processed() const { return ProcessedBuffers; }
    int32_t Index() const { return BufIndex; }
    bool DeviceOpen() const { return WaveDeviceOpen; }
    bool Continue() const { return ContinueProcessing; }
    int SlotOf(const uint8_t* P) const {
        for (int I = 0; I < kSlots; ++I)
            if (P && WaveBuffer[I] == P)
                return I;
        return -1;
    }
};

// Lets the event loop deliver every notice the device has posted, and those
// that handling them posts in turn.
inline void Pump(const wave::TSimWaveOut& Sim) {
    for (;;) {
        const uint64_t Before = Sim.NoticesPosted();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (Sim.NoticesPosted() == Before)
            return;
    }
}

} // namespace zelvo::test
