#include "synth/number_text.h"
