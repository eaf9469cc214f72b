#pragma once
// The preset file ".zvo": the header "ZVO Preset File V1.0" as a length-prefixed
// 8-bit string, then the raw images of memories 1 to 4. A file the program
// writes is always exactly 7301 bytes.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/memories.h"
#include "synth/errors.h"

namespace zelvo {

constexpr size_t kPresetHeaderSize = 21;
constexpr size_t kPresetFileSize = kPresetHeaderSize + TMemoryBank::kCount * sizeof(TMemorySlot);
static_assert(kPresetFileSize == 7301);

// A file that cannot be opened, created, read or written; the text names the
// file and the system's reason.
class EFileError : public EZelvoError {
public:
    using EZelvoError::EZelvoError;
};

// The 21 header bytes followed by the four slots.
std::vector<uint8_t> PresetFileImage(const TMemoryBank& Memories);

// Takes the four slots from a file's bytes. A wrong header, and a file that
// ends before the last slot does, give false and leave Memories as they were:
// a partial read would mix half a record with the old one. Bytes after the
// fourth slot are ignored. No value inside a slot is checked.
bool ReadPresetImage(const uint8_t* Data, size_t Size, TMemoryBank& Memories);

// The first kPresetFileSize bytes of the file (all of a shorter one), or
// nothing when Path names no regular file (a FIFO, a device, a folder), which
// is then never opened for reading. Path is the name's bytes as the system
// has them, UTF-8 or not. EFileError ("Cannot open file ...", "Stream read
// error").
std::optional<std::vector<uint8_t>> ReadPresetFile(const std::string& Path);

// Writes Bytes as the file's new content through TFileReplacement: in one
// piece, so a failure part-way leaves the previous file whole; a link is
// followed, a device or FIFO is written in place. EFileError ("Cannot create
// file ..." when the target cannot be opened or is refused, "Stream write
// error").
void WriteWholeFile(const QString& Path, const std::vector<uint8_t>& Bytes);

// Fills each "%s" of Format with the next argument.
QString FormatS(const QString& Format, std::initializer_list<QString> Args);

} // namespace zelvo
