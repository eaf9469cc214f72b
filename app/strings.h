#pragma once
// The program's string table: every caption and message that the windows build
// at run time, and the version string. Layout captions live in the .ui files.
#include <QString>

namespace zelvo::str {

extern const char* const ProductTitle;      // "Zelvo"
extern const char* const TitleWithBlank;    // "Zelvo "
extern const char* const Version;           // shown in the title and the about box
extern const char* const FirstTab;          // "Oscillator 1"
extern const char* const OscPrefix;         // "Osc ": tabs 2.. and the remove menus
extern const char* const MemoryPrefix;      // "Memory "
extern const char* const NoiseMark;         // a waveform whose name holds it is noise
extern const char* const NoSoundcard;
extern const char* const HelpFileName;      // beside the program
extern const char* const RegistryKey;
extern const char* const RegFs;
extern const char* const RegBuffers;
extern const char* const RegBufferSize;
extern const char* const RegWaveDevice;
extern const char* const FailedToSetData;   // "%s": the value's name
extern const char* const NoDeviceName;      // a device whose name cannot be read
extern const char* const NotAnInteger;      // "%s": the text of a list
extern const char* const CloseThisTab;
extern const char* const StoreItem;
extern const char* const StoreItemHint;
extern const char* const RenameItem;
// playback
extern const char* const NoFilledBuffer;    // the output's text when the first fill delivers nothing
extern const char* const ShortSignals;
extern const char* const AudioOutFailed;    // followed by CR and the output's error
// preset files
extern const char* const PresetFileHeader;  // "ZVO Preset File V1.0"
extern const char* const WrongFileFormat;
extern const char* const CannotOpenFile;    // "%s": the full path, then the system's reason
extern const char* const CannotCreateFile;  // the same
extern const char* const StreamReadError;
extern const char* const StreamWriteError;
extern const char* const SavePresetsTitle;
extern const char* const SavePresetsFilter;   // in the toolkit's filter syntax
extern const char* const OpenPresetsTitle;
extern const char* const OpenPresetsFilter;
extern const char* const PresetExtension;

// The waveform list, by waveform code.
extern const char* const WaveNames[5];

// WAV export
extern const char* const CDFormatHint;
extern const char* const HintCaption;       // "Hint"
extern const char* const DontShowAgain;
extern const char* const RegCDformat;
extern const char* const SampleRateForCD;   // "44100", as the rate list writes it
extern const char* const SaveWaveTitle;
extern const char* const SaveWaveFilter;    // in the toolkit's filter syntax
extern const char* const SaveWaveExtension;
extern const char* const WaveNameStart;     // "Signal "
extern const char* const WaveNameOscillators;
extern const char* const WaveNameEnd;       // " Seconds.wav"
extern const char* const FileAccessError;

// About box
extern const char* const VersionPrefix;     // "Version "

inline QString Q(const char* S) { return QString::fromUtf8(S); }

} // namespace zelvo::str
