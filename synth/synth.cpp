#include "synth/synth.h"
