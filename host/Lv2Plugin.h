#pragma once

#include "host/Lv2Ports.h"
#include "Lv2ControlPortTable.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <array>
#include <iterator>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class Processor;

static_assert (std::size (Lv2ControlPortTable::ports) == Lv2Ports::numControls);

/**
    One instance of the LV2 plug-in: the processor, and what the host
    connected to its ports (Lv2Ports.h).

    Of the host's features it uses the URID map, to save and restore its
    state, and the block length among the options, to size its scratch
    channels; it works without either.

    The host's threads: instantiate, activate, deactivate, restore and
    cleanup come from the host's instantiation thread; run (and
    connectPort) from its audio thread; save from any thread, at any time.
    run never locks, waits or allocates. A host that restores a state while
    the plug-in runs (some load presets that way, against the rules) gets a
    run of silence instead of a half-loaded processor: those calls take the
    instance for themselves, waiting for a run under way to finish, and a
    run that finds the instance taken writes silence.

    Control ports apply through the processor's parameters, on the audio
    thread at the start of the run that finds them changed, as automation
    does in other formats (Processor::setParameterOnAudioThread). A state
    the plug-in restores wins over the values the ports hold at that moment;
    a port that changes afterwards applies.

    The instance knows nothing of its editors (host/Lv2Ui.cpp): each has a
    model of its own and reads the instance's parameter values and kept
    zoom where the host gives it instance access.
*/
class Lv2Instance final
{
public:
    Lv2Instance (double sampleRate, const LV2_Feature* const* features);
    ~Lv2Instance();

    Lv2Instance (const Lv2Instance&) = delete;
    Lv2Instance& operator= (const Lv2Instance&) = delete;

    void connectPort (uint32_t port, void* data) noexcept;
    void activate();
    void run (uint32_t frames) noexcept;
    void deactivate();

    LV2_State_Status save (LV2_State_Store_Function, LV2_State_Handle);
    LV2_State_Status restore (LV2_State_Retrieve_Function, LV2_State_Handle);

    Processor& getProcessor() noexcept { return *processor; }


private:
    /** Holds the instance against runs; waits for one under way. */
    class Exclusive;

    void applyControls() noexcept;
    void takePortsAsApplied() noexcept;
    void processAudio (uint32_t frames) noexcept;
    void processInPlace (uint32_t frames) noexcept;
    void processThroughScratch (uint32_t frames) noexcept;
    void processBlock (float* const* channels, uint32_t frames) noexcept;
    void silenceOutputs (uint32_t frames) noexcept;
    bool outputsMayBeWrittenInPlace (uint32_t frames) const noexcept;

    // Keeps the framework (its message manager) alive for the processor's
    // parameter tree. The instance runs no timer of the message thread:
    // only an open editor dispatches its messages.
    const juce::ScopedJuceInitialiser_GUI framework;

    const double sampleRate;
    const LV2_URID_Map* const map;
    struct Urids
    {
        LV2_URID atomString = 0, stateKey = 0;
    } urids;

    std::unique_ptr<Processor> processor;

    // What the host connected.
    std::array<float*, Lv2Ports::numAudioInputs + Lv2Ports::numAudioOutputs> audio {};
    float* latencyOutput = nullptr;
    std::array<float*, 2> unusedOutputs {};
    const float* freeWheelingInput = nullptr;
    const float* enabledInput = nullptr;
    std::array<const float*, Lv2Ports::numControls> controls {};   // never null

    // Each control port's bits as last seen, and the value last applied
    // from it; until the first run (or a restore) every port applies. A
    // save reads the first and the flag from its own thread: a port whose
    // bits differ from those seen holds a value not yet applied.
    std::array<std::atomic<uint32_t>, Lv2Ports::numControls> seenBits {};
    std::array<float, Lv2Ports::numControls> appliedValues {};
    std::atomic<bool> applyAllControls { true };
    bool nonRealtime = false;
    bool hasRun = false;

    // How the audio buffers connected now may be processed: in the
    // outputs themselves, checked for runs of up to checkedFrames, or
    // through the scratch channels, scratchFrames at a time.
    bool buffersChanged = true;
    bool inPlace = false;
    uint32_t checkedFrames = 0;
    uint32_t scratchFrames = 0;
    std::vector<float> scratch;

    std::atomic<bool> busy { false };
};
