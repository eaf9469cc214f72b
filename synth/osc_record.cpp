#include "synth/osc_record.h"

namespace zelvo {

TOscRecord DefaultOscRecord() {
    TOscRecord R{};
    R.FreqInit = 1000.0f;
    R.FreqFinal = 1000.0f;
    R.ModeIndependent = 1;
    R.Factor = 1.0f;
    R.LeftOn = 1;
    R.RightOn = 1;
    R.WaveKind = wkSine;
    R.GainInit = 1.0f;
    return R;
}

} // namespace zelvo
