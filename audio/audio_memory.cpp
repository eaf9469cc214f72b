#include "audio/audio_memory.h"

#include <cstdlib>

namespace zelvo::audio_memory {
namespace {

int AllocCountdown = 0;
int LockCountdown = 0;

bool Trips(int& Countdown) {
    if (Countdown <= 0)
        return false;
    return --Countdown == 0;
}

} // namespace

THandle Alloc(std::size_t Bytes, bool ZeroInit) {
    if (Trips(AllocCountdown))
        return nullptr;
    if (Bytes == 0)
        Bytes = 1;  // a handle must stand for something
    return ZeroInit ? std::calloc(1, Bytes) : std::malloc(Bytes);
}

uint8_t* Lock(THandle H) {
    if (!H || Trips(LockCountdown))
        return nullptr;
    return static_cast<uint8_t*>(H);
}

void Unlock(THandle) {}

void Free(THandle H) { std::free(H); }

void FailAllocation(int Nth) { AllocCountdown = Nth; }
void FailLock(int Nth) { LockCountdown = Nth; }
void ClearFaults() { AllocCountdown = LockCountdown = 0; }

} // namespace zelvo::audio_memory
