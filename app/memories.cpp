#include "app/memories.h"

#include <algorithm>
#include <cstring>

namespace zelvo {

void TMemorySlot::SetName(std::string_view Bytes) {
    const size_t N = std::min<size_t>(Bytes.size(), sizeof(NameChars));
    std::memcpy(NameChars, Bytes.data(), N);
    NameLength = static_cast<uint8_t>(N);
}

} // namespace zelvo
