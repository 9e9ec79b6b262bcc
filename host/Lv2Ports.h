#pragma once

#include <cstdint>

/**
    The LV2 plug-in's ports, by index. Hosts save values and automation by
    index and symbol, so these never change: two audio inputs and two
    outputs, two ports that carry nothing, the latency output, the
    free-wheeling and enabled inputs, then one control input per parameter
    of the processor in the parameters' order.

    The two that carry nothing ("in" and "out") took the framework's
    messages in earlier releases. They stay, so that every later port keeps
    its index, as optional control outputs, hidden from hosts' controls, that
    always read 0: a control port is a kind every host knows, where a
    message port would keep the plug-in out of hosts that know only audio
    and control ports. The build describes all of them in the bundle, and
    generates the control ports' table (Lv2ControlPortTable.h), from the
    processor's parameter layout, and stops if the layout has another
    number of parameters.
*/
namespace Lv2Ports
{
    enum : uint32_t
    {
        audioIn1,
        audioIn2,
        audioOut1,
        audioOut2,
        unusedIn,
        unusedOut,
        latency,
        freeWheeling,
        enabled,
        firstControl
    };

    constexpr uint32_t numAudioInputs = 2;
    constexpr uint32_t numAudioOutputs = 2;
    constexpr uint32_t numControls = 5;
    constexpr uint32_t numPorts = firstControl + numControls;

    static_assert (numControls <= 32, "a control's pending state is one bit");

    /** The index among the control ports of a port index, or -1. */
    constexpr int controlFor (uint32_t port) noexcept
    {
        return port >= firstControl && port < numPorts ? (int) (port - firstControl) : -1;
    }
}
