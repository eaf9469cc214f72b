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
const char* const NoFilledBuffer = "There must be at least one filled buffer";
const char* const ShortSignals = "For very short signals please decrease the buffer number and size in the "
                                 "'Compatibility settings' in the 'Options' menu";
const char* const AudioOutFailed = "Audio Out failed because: ";
const char* const PresetFileHeader = "ZVO Preset File V1.0";
const char* const WrongFileFormat = "Wrong file format";
const char* const CannotOpenFile = "Cannot open file \"%s\". %s";
const char* const CannotCreateFile = "Cannot create file \"%s\". %s";
const char* const StreamReadError = "Stream read error";
const char* const StreamWriteError = "Stream write error";
const char* const SavePresetsTitle = "Save ZVO presets";
const char* const SavePresetsFilter = "ZVO presets (*.zvo)";
const char* const OpenPresetsTitle = "Open preset file";
const char* const OpenPresetsFilter = "ZVO Presets (*.zvo)";
const char* const PresetExtension = "zvo";

const char* const WaveNames[5] = {"Sine", "Square", "Triangular", "White Noise", "Pink Noise"};

const char* const CDFormatHint =
    "If you would like to burn your created wave files to CD, they must be generated in stereo and at 44.1kHz "
    "sampling rate. Your current settings are different. Would you like to adjust this now?";
const char* const HintCaption = "Hint";
const char* const DontShowAgain = "Don't show this message again.";
const char* const RegCDformat = "CDformat";
const char* const SampleRateForCD = "44100";
const char* const SaveWaveTitle = "Save wave file";
const char* const SaveWaveFilter = "WAVE file (*.wav)";
const char* const SaveWaveExtension = "wav";
const char* const WaveNameStart = "Signal ";
const char* const WaveNameOscillators = " Oscillators ";
const char* const WaveNameEnd = " Seconds.wav";
const char* const FileAccessError = "File Access Error, cannot write file.";

const char* const VersionPrefix = "Version ";

} // namespace zelvo::str
