#pragma once
// Reading the start of a user's file without ever waiting or reading without end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvo {

struct TFileHead {
    int OpenError = 0;    // errno when the file cannot be opened
    int ReadError = 0;    // errno when reading failed; Bytes holds what came before
    bool Regular = true;  // false: Path names no regular file, and nothing was read
    std::vector<uint8_t> Bytes;
};

// At most MaxSize bytes from the start of the regular file Path (links
// followed). Anything else (a FIFO, a device, a folder) is not even opened for
// reading: a FIFO would wait for a writer, /dev/zero would never end, and
// opening some devices does something. The open does not block either, should
// the file have been swapped for a FIFO in between.
TFileHead ReadFileHead(const std::string& Path, size_t MaxSize);

} // namespace zelvo
