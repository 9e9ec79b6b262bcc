#pragma once

#include "Lv2ControlPortTable.h"

#include <lv2/core/lv2.h>

#include <cstdint>
#include <iterator>

#if ! defined (TESSAMUNE_LV2_AUDIO_INPUTS) || ! defined (TESSAMUNE_LV2_AUDIO_OUTPUTS)
 #error "The build defines TESSAMUNE_LV2_AUDIO_INPUTS and TESSAMUNE_LV2_AUDIO_OUTPUTS"
#endif

/**
    The LV2 layer between hosts and the framework's LV2 wrapper.

    Port order: the framework's ports (audio inputs, audio outputs, the atom
    input, the atom output, latency, free-wheeling, enabled), then one control
    input per parameter of the processor, in the parameters' order
    (Lv2ControlPortTable.h). The audio port counts are fixed by the build,
    which checks them and the control ports' indices against the bundle's
    description (DescribeLv2Bundle.cmake).
*/
namespace Lv2Bridge
{
    constexpr uint32_t numAudioInputs = TESSAMUNE_LV2_AUDIO_INPUTS;
    constexpr uint32_t numAudioOutputs = TESSAMUNE_LV2_AUDIO_OUTPUTS;
    constexpr uint32_t numAudioPorts = numAudioInputs + numAudioOutputs;
    constexpr uint32_t atomInputPort = numAudioPorts;
    constexpr uint32_t atomOutputPort = numAudioPorts + 1;
    constexpr uint32_t firstControlPort = numAudioPorts + 5;
    constexpr uint32_t numControlPorts = (uint32_t) std::size (Lv2ControlPortTable::ports);

    /** The index among the control ports of a port index, or -1. */
    constexpr int controlFor (uint32_t port) noexcept
    {
        return port >= firstControlPort && port - firstControlPort < numControlPorts ? (int) (port - firstControlPort) : -1;
    }

    /** The framework's instance inside one of ours. */
    LV2_Handle frameworkInstance (LV2_Handle) noexcept;

    /** Makes the next run hand the control port's current value to the
        processor again, even if the port has not changed since it last did. */
    void reapplyControl (LV2_Handle, int control) noexcept;

    /** True while the calling thread is inside the instance's run: what
        changes then came from the ports. */
    bool isRunningOnThisThread (LV2_Handle) noexcept;
}

// The framework's entry points, renamed by the build (Formats.cmake).
extern "C" const LV2_Descriptor* tessamune_framework_lv2_descriptor (uint32_t index);
