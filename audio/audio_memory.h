#pragma once
// Plain heap blocks in the shape of the platform's movable memory: allocate,
// lock for an address, unlock, free. Locking never moves anything here; it is
// kept so that the component's two failure points stay distinct, and tests can
// make either of them fail.
#include <cstddef>
#include <cstdint>

namespace zelvo::audio_memory {

using THandle = void*;

THandle Alloc(std::size_t Bytes, bool ZeroInit);  // nullptr when there is no memory
uint8_t* Lock(THandle H);                           // nullptr when the lock fails
void Unlock(THandle H);
void Free(THandle H);

// For tests: the Nth allocation (or lock) from now fails, 1 being the next.
// 0 disarms. GUI thread only, like the component.
void FailAllocation(int Nth);
void FailLock(int Nth);
void ClearFaults();

} // namespace zelvo::audio_memory
