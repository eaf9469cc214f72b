#pragma once
// The oscillator record. Its raw image is stored in memory presets and preset
// files, so the layout is fixed to the byte: packed, little-endian, binary32
// floats, Booleans as one byte.
#include <cstddef>
#include <cstdint>

namespace zelvo {

#pragma pack(push, 1)
struct TOscRecord {
    // user's settings
    float FreqInit;          // Hz
    float FreqFinal;         // Hz
    uint8_t LogSweep;        // Boolean byte: any value but 0 counts as true
    uint8_t BiDir;
    uint8_t ModeIndependent;
    uint8_t ModeAdd;
    uint8_t ModeMultiply;
    float Summand;           // Hz
    float Factor;
    uint8_t Reserved;        // carried along, never read
    uint8_t LeftOn;
    uint8_t RightOn;
    float PhaseDeg;          // degrees
    int32_t WaveKind;        // 0 Sine .. 4 Pink Noise
    float GainInit;          // linear gain
    float GainFinal;         // kept, never used by the synthesis
    // running state
    float Omega;             // rad/s
    float SweepRatio;
    float SweepStep;         // rad/s per frame
    float Phase;             // rad
    float Gain;
};
#pragma pack(pop)

static_assert(sizeof(TOscRecord) == 60);
static_assert(offsetof(TOscRecord, FreqInit) == 0);
static_assert(offsetof(TOscRecord, FreqFinal) == 4);
static_assert(offsetof(TOscRecord, LogSweep) == 8);
static_assert(offsetof(TOscRecord, BiDir) == 9);
static_assert(offsetof(TOscRecord, ModeIndependent) == 10);
static_assert(offsetof(TOscRecord, ModeAdd) == 11);
static_assert(offsetof(TOscRecord, ModeMultiply) == 12);
static_assert(offsetof(TOscRecord, Summand) == 13);
static_assert(offsetof(TOscRecord, Factor) == 17);
static_assert(offsetof(TOscRecord, Reserved) == 21);
static_assert(offsetof(TOscRecord, LeftOn) == 22);
static_assert(offsetof(TOscRecord, RightOn) == 23);
static_assert(offsetof(TOscRecord, PhaseDeg) == 24);
static_assert(offsetof(TOscRecord, WaveKind) == 28);
static_assert(offsetof(TOscRecord, GainInit) == 32);
static_assert(offsetof(TOscRecord, GainFinal) == 36);
static_assert(offsetof(TOscRecord, Omega) == 40);
static_assert(offsetof(TOscRecord, SweepRatio) == 44);
static_assert(offsetof(TOscRecord, SweepStep) == 48);
static_assert(offsetof(TOscRecord, Phase) == 52);
static_assert(offsetof(TOscRecord, Gain) == 56);

enum TWaveKind : int32_t { wkSine = 0, wkSquare = 1, wkTriangular = 2, wkWhiteNoise = 3, wkPinkNoise = 4 };

// The values a record gets from the main window's controls at start-up; for
// tests and tools that have no window.
TOscRecord DefaultOscRecord();

} // namespace zelvo
