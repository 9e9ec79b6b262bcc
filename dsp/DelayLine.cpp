#include "dsp/DelayLine.h"

DelayLine::DelayLine()
    : buffer ((size_t) initialCapacity, 0.0f)
{
    update();
}
