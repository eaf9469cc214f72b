#pragma once
// The four memory presets. A slot's memory image is at the same time its
// 1820-byte image in a preset file, so its layout is fixed to the byte.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "synth/osc_record.h"
#include "synth/synth.h"

namespace zelvo {

#pragma pack(push, 1)
struct TMemorySlot {
    std::array<TOscRecord, TSynth::kBankSize> Bank;
    // A length-prefixed 8-bit name. The bytes after the first NameLength keep
    // whatever an earlier, longer name left there.
    uint8_t NameLength;
    char NameChars[255];
    int32_t Count;

    std::string Name() const { return std::string(NameChars, NameLength); }
    // Keeps the first 255 bytes of Bytes; the tail of the character field stays.
    void SetName(std::string_view Bytes);
};
#pragma pack(pop)

static_assert(sizeof(TMemorySlot) == 1820);
static_assert(offsetof(TMemorySlot, Bank) == 0);
static_assert(offsetof(TMemorySlot, NameLength) == 1560);
static_assert(offsetof(TMemorySlot, NameChars) == 1561);
static_assert(offsetof(TMemorySlot, Count) == 1816);

// Memories 1 to 4, all zero at program start.
class TMemoryBank {
public:
    static constexpr int kCount = 4;
    TMemorySlot& operator[](int No) { return FSlots.at(static_cast<size_t>(No - 1)); }
    const TMemorySlot& operator[](int No) const { return FSlots.at(static_cast<size_t>(No - 1)); }

private:
    std::array<TMemorySlot, kCount> FSlots{};
};

} // namespace zelvo
