#include "dsp/PreDelayBuffer.h"

PreDelayBuffer::PreDelayBuffer (uint32_t sampleRate)
    : length ((int32_t) lengthFor (sampleRate, 20u)),
      data ((size_t) length, 0.0f),
      readIndex (0),
      writeIndex (length - 1),
      lengthMs (20)
{
}

void PreDelayBuffer::resize (uint32_t sampleRate)
{
    length = (int32_t) lengthFor (sampleRate, (uint32_t) lengthMs);
    data.assign ((size_t) length, 0.0f);
    readIndex = 0;
    writeIndex = length - 1;
}
