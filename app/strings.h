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

// The waveform list, by waveform code.
extern const char* const WaveNames[5];

inline QString Q(const char* S) { return QString::fromUtf8(S); }

} // namespace zelvo::str
