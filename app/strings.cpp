#include "app/strings.h"

namespace zelvo::str {

const char* const ProductTitle = "Zelvo";
const char* const TitleWithBlank = "Zelvo ";
const char* const Version = "1.0";
const char* const FirstTab = "Oscillator 1";
const char* const OscPrefix = "Osc ";
const char* const MemoryPrefix = "Memory ";
const char* const NoiseMark = "noise";
const char* const NoSoundcard = "No Soundcard driver found. No sound output possible.";
const char* const HelpFileName = "zvo.chm";
const char* const RegistryKey = "\\Software\\Quorvin\\Zelvo";
const char* const RegFs = "Fs";
const char* const RegBuffers = "Buffers";
const char* const RegBufferSize = "BufferSize";
const char* const RegWaveDevice = "WaveDevice";
const char* const FailedToSetData = "Failed to set data for '%s'";
const char* const NoDeviceName = "(unnamed device)";
const char* const NotAnInteger = "'%s' is not a valid integer value";
const char* const CloseThisTab = "&Close this tab";
const char* const StoreItem = "Store";
const char* const StoreItemHint = "Store settings in this memory position";
const char* const RenameItem = "Rename";

const char* const WaveNames[5] = {"Sine", "Square", "Triangular", "White Noise", "Pink Noise"};

} // namespace zelvo::str
