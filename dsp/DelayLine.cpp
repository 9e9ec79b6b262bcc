#include "dsp/DelayLine.h"

DelayLine::DelayLine()
    : buffer ((size_t) initialCapacity)   // zero, as calloc makes it
{
    update();
}
