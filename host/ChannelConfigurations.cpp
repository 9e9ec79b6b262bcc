#include "host/ChannelConfigurations.h"

#ifndef TESSAMUNE_CHANNEL_CONFIGURATIONS
 #error "The build defines TESSAMUNE_CHANNEL_CONFIGURATIONS (host/Identity.cmake)"
#endif

namespace
{
    constexpr short configurations[][2] { TESSAMUNE_CHANNEL_CONFIGURATIONS };

    bool isMonoOrStereo (const juce::AudioChannelSet& set)
    {
        return set == juce::AudioChannelSet::mono() || set == juce::AudioChannelSet::stereo();
    }
}

bool ChannelConfigurations::isSupported (const juce::AudioProcessor::BusesLayout& layout)
{
    if (layout.inputBuses.size() != 1 || layout.outputBuses.size() != 1)
        return false;

    const auto& input = layout.inputBuses.getReference (0);
    const auto& output = layout.outputBuses.getReference (0);

    if (! isMonoOrStereo (input) || ! isMonoOrStereo (output))
        return false;

    for (const auto& config : configurations)
        if (config[0] == input.size() && config[1] == output.size())
            return true;

    return false;
}
