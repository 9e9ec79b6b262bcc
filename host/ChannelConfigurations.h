#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

/**
    The channel configurations the plug-in runs in: mono in and out, stereo in
    and out, mono in to stereo out, in that order of preference. The build
    hands the same list to the format wrappers that offer hosts a choice.
*/
namespace ChannelConfigurations
{
    /** True for a layout with one main input and one main output bus, each
        mono or stereo, whose channel counts are one of the configurations. */
    bool isSupported (const juce::AudioProcessor::BusesLayout& layout);
}
