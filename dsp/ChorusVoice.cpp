#include "dsp/ChorusVoice.h"

ChorusVoice::ChorusVoice()
{
    lfo.frequency = 0.0f;
}

void ChorusVoice::prepare (int32_t sampleRate)
{
    lfo.phase = 0.0f;

    line.sampleRate = sampleRate;
    line.length = 2 * sampleRate;
    line.buffer.assign ((size_t) line.length, 0.0f);
    line.readIndex = 0;
    line.writeIndex = 0;
    line.lastOutput = 0.0f;

    lfo.unipolar = 1;
    lfo.bandLimited = 0;

    switch (mode)
    {
        case shortNoFeedbackMode:
            minDelayMs = 0.0f;
            maxDelayMs = 7.0f;
            line.feedbackPercent = 0.0f;
            break;

        case chorusMode:
            minDelayMs = 5.0f;
            maxDelayMs = 30.0f;
            line.feedbackPercent = feedbackPercent;
            break;

        default:
            minDelayMs = 0.1f;
            maxDelayMs = 7.0f;
            line.feedbackPercent = feedbackPercent;
            break;
    }

    lfo.frequency = speedHz;
    lfo.waveform = waveform;
    lfo.increment = WavetableLfo::incrementFor (speedHz, (double) sampleRate);

    line.mixPercent = mixPercent;
    line.update();

    lfo.running = true;
}
