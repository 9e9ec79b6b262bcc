/*
    The LV2 plug-in's entry points and what they do with the processor.

    Nothing is required of a host: the URID map (for the saved state) and
    the options (a block length, to size the scratch channels) are used
    where a host offers them. Blocks of any length are processed, in place
    in the host's buffers wherever the buffers allow it.
*/

#include "host/Lv2Plugin.h"

#include "host/Lv2Features.h"
#include "plugin/Processor.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#if ! defined (TESSAMUNE_LV2_URI) || ! defined (TESSAMUNE_LV2_AUDIO_INPUTS) || ! defined (TESSAMUNE_LV2_AUDIO_OUTPUTS)
 #error "The build defines the LV2 URI and the bundle's audio channels"
#endif

static_assert (TESSAMUNE_LV2_AUDIO_INPUTS == Lv2Ports::numAudioInputs && TESSAMUNE_LV2_AUDIO_OUTPUTS == Lv2Ports::numAudioOutputs,
               "the bundle's ports are stereo in, stereo out");

namespace
{
    using namespace Lv2Ports;

    // The key under which the state is saved, and its form (the state
    // block in the framework's base-64 text, an atom:String), as every
    // release has saved it, so that projects load in either direction.
    constexpr const char* stateKey = TESSAMUNE_LV2_URI ":StateString";

    // The scratch channels' length when the host names no block length,
    // and the range a named one is taken from.
    constexpr uint32_t defaultScratchFrames = 4096;
    constexpr uint32_t minScratchFrames = 256, maxScratchFrames = 8192;

    // The most frames handed to the processor at once: its blocks are
    // counted in int.
    constexpr uint32_t longestBlock = 1u << 20;

    uint32_t bitsOf (float value) noexcept
    {
        uint32_t bits;
        std::memcpy (&bits, &value, sizeof bits);
        return bits;
    }

    float floatOf (uint32_t bits) noexcept
    {
        float value;
        std::memcpy (&value, &bits, sizeof value);
        return value;
    }

    bool overlap (const float* a, const float* b, uint32_t frames) noexcept
    {
        const auto x = reinterpret_cast<uintptr_t> (a), y = reinterpret_cast<uintptr_t> (b);
        const auto bytes = (uintptr_t) frames * sizeof (float);
        return x < y + bytes && y < x + bytes;
    }

    // The state text is the block in the framework's base-64 form: its
    // byte count, a dot, then the characters of its own alphabet (others
    // are skipped, as they always were). Its decoder takes the count as
    // given and allocates that much, so the count is looked at first: no
    // larger than a state can be (far beyond anything the plug-in saves;
    // the processor refuses such blocks as damaged anyway), and plain ASCII
    // text throughout.
    constexpr size_t largestState = 1 << 20;

    bool decodeState (const char* data, size_t size, juce::MemoryBlock& block)
    {
        const std::string text (data, strnlen (data, size));
        const auto dot = text.find ('.');

        if (dot == 0 || dot == std::string::npos || dot > 7
            || ! std::all_of (text.begin(), text.begin() + (std::ptrdiff_t) dot, [] (char c) { return c >= '0' && c <= '9'; })
            || std::stoul (text.substr (0, dot)) > largestState
            || ! std::all_of (text.begin(), text.end(), [] (char c) { return (unsigned char) c < 0x80; }))
            return false;

        return block.fromBase64Encoding (text);
    }
}

//==============================================================================
class Lv2Instance::Exclusive
{
public:
    explicit Exclusive (Lv2Instance& i) : instance (i)
    {
        while (instance.busy.exchange (true, std::memory_order_acquire))
            std::this_thread::yield();
    }

    ~Exclusive() { instance.busy.store (false, std::memory_order_release); }

    Exclusive (const Exclusive&) = delete;
    Exclusive& operator= (const Exclusive&) = delete;

private:
    Lv2Instance& instance;
};

Lv2Instance::Lv2Instance (double rate, const LV2_Feature* const* features)
    : sampleRate (rate),
      map (static_cast<const LV2_URID_Map*> (findLv2Feature (features, LV2_URID__map)))
{
    if (map != nullptr && map->map != nullptr)
    {
        const auto urid = [this] (const char* uri) { return map->map (map->handle, uri); };
        urids = { urid (LV2_ATOM__String), urid (stateKey) };

        // The scratch channels hold a whole block where the host says how
        // long its blocks get.
        const auto* options = static_cast<const LV2_Options_Option*> (findLv2Feature (features, LV2_OPTIONS__options));
        auto longest = lv2BlockLengthOption (*map, options, LV2_BUF_SIZE__maxBlockLength);

        if (longest <= 0)
            longest = lv2BlockLengthOption (*map, options, LV2_BUF_SIZE__nominalBlockLength);

        if (longest > 0)
            scratchFrames = (uint32_t) std::clamp<int64_t> (longest, minScratchFrames, maxScratchFrames);
    }

    if (scratchFrames == 0)
        scratchFrames = defaultScratchFrames;

    for (uint32_t c = 0; c < numControls; ++c)
        controls[c] = &Lv2ControlPortTable::ports[c].defaultValue;

    scratch.assign ((size_t) scratchFrames * numAudioOutputs, 0.0f);

    // The engine is built for the host's rate, which an LV2 instance keeps
    // for its life: its delay lines are made here, once. Without the memory
    // for them the host is told the plug-in could not be made.
    struct LV2Wrapper
    {
        LV2Wrapper()  { juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_LV2); }
        ~LV2Wrapper() { juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined); }
    };

    {
        const LV2Wrapper wrapperType;
        processor = std::make_unique<Processor> (sampleRate);
    }

    // The bundle's one layout: stereo in, stereo out.
    processor->enableAllBuses();
    processor->setRateAndBufferSizeDetails (sampleRate, (int) scratchFrames);

    // The parameter tree copies the parameters' values into its own state
    // on a timer of the message thread, which nothing dispatches while no
    // editor is open: its timer would have the framework post messages
    // without end. Saving and loading copy the values themselves.
    ((juce::Timer&) processor->parameters).stopTimer();
}

Lv2Instance::~Lv2Instance() = default;

void Lv2Instance::connectPort (uint32_t port, void* data) noexcept
{
    if (port < numAudioInputs + numAudioOutputs)
    {
        audio[port] = static_cast<float*> (data);
        buffersChanged = true;
    }
    else if (const auto control = controlFor (port); control >= 0)
    {
        // A port the host leaves unconnected holds its default.
        controls[(size_t) control] = data != nullptr ? static_cast<const float*> (data)
                                                     : &Lv2ControlPortTable::ports[control].defaultValue;
    }
    else
    {
        switch (port)
        {
            case unusedIn:     unusedOutputs[0] = static_cast<float*> (data); break;
            case unusedOut:    unusedOutputs[1] = static_cast<float*> (data); break;
            case latency:      latencyOutput = static_cast<float*> (data); break;
            case freeWheeling: freeWheelingInput = static_cast<const float*> (data); break;
            case enabled:      enabledInput = static_cast<const float*> (data); break;
            default:           break;
        }
    }
}

void Lv2Instance::activate()
{
    const Exclusive exclusive (*this);

    // Whatever played before the host deactivated the plug-in is gone: a
    // host that switches it off and on again hears nothing of it. (Until
    // the first run there is nothing to empty.)
    processor->prepareToPlay (sampleRate, (int) scratchFrames);

    if (hasRun)
        processor->resetPlayback();
}

void Lv2Instance::deactivate()
{
    const Exclusive exclusive (*this);
    processor->releaseResources();
}

//==============================================================================
void Lv2Instance::run (uint32_t frames) noexcept
{
    if (busy.exchange (true, std::memory_order_acquire))
    {
        // A restore or an activation on another thread has the processor.
        silenceOutputs (frames);
    }
    else
    {
        applyControls();

        if (frames > 0)
        {
            processAudio (frames);
            hasRun = true;
        }

        busy.store (false, std::memory_order_release);
    }

    if (latencyOutput != nullptr)
        *latencyOutput = 0.0f;   // the chorus adds no latency

    for (auto* unused : unusedOutputs)
        if (unused != nullptr)
            *unused = 0.0f;
}

void Lv2Instance::applyControls() noexcept
{
    // Most runs find every port as it was: their bits are compared first,
    // and only a port whose bits changed is made legal and compared with
    // what was applied.
    const auto applyAll = applyAllControls.load (std::memory_order_relaxed);
    bool changed = applyAll;

    for (uint32_t c = 0; c < numControls; ++c)
        changed |= bitsOf (*controls[c]) != seenBits[c].load (std::memory_order_relaxed);

    if (! changed)
        return;

    for (uint32_t c = 0; c < numControls; ++c)
    {
        const auto bits = bitsOf (*controls[c]);

        if (bits == seenBits[c].load (std::memory_order_relaxed) && ! applyAll)
            continue;

        const auto value = Lv2ControlPortTable::ports[c].legalValue (floatOf (bits));

        if (value != appliedValues[c] || applyAll)
        {
            appliedValues[c] = value;
            processor->setParameterOnAudioThread ((int) c, value);
        }

        // Seen once the parameter holds it: a save that finds these bits
        // seen finds the value in the parameter.
        seenBits[c].store (bits, std::memory_order_release);
    }

    applyAllControls.store (false, std::memory_order_release);
}

void Lv2Instance::takePortsAsApplied() noexcept
{
    for (uint32_t c = 0; c < numControls; ++c)
    {
        seenBits[c].store (bitsOf (*controls[c]), std::memory_order_release);
        appliedValues[c] = Lv2ControlPortTable::ports[c].legalValue (*controls[c]);
    }

    applyAllControls.store (false, std::memory_order_release);
}

void Lv2Instance::processAudio (uint32_t frames) noexcept
{
    const auto wantsNonRealtime = freeWheelingInput != nullptr && *freeWheelingInput > 0.5f;

    if (wantsNonRealtime != nonRealtime)
    {
        nonRealtime = wantsNonRealtime;
        processor->setNonRealtime (nonRealtime);
    }

    // The buffers only change when the host connects them: checked again
    // after a connection, or for a longer run.
    if (buffersChanged || frames > checkedFrames)
    {
        inPlace = outputsMayBeWrittenInPlace (frames);
        checkedFrames = frames;
        buffersChanged = false;
    }

    if (inPlace)
        processInPlace (frames);
    else
        processThroughScratch (frames);
}

bool Lv2Instance::outputsMayBeWrittenInPlace (uint32_t frames) const noexcept
{
    // Each output takes its own channel's input before any channel is
    // processed: no output may share memory with another output, or with
    // another channel's input; it may be its own input, exactly.
    for (uint32_t o = 0; o < numAudioOutputs; ++o)
    {
        const auto* out = audio[numAudioInputs + o];

        if (out == nullptr || (o < numAudioInputs && audio[o] == nullptr))
            return false;

        for (uint32_t i = 0; i < numAudioInputs; ++i)
            if (overlap (out, audio[i], frames) && ! (i == o && out == audio[i]))
                return false;

        for (uint32_t other = o + 1; other < numAudioOutputs; ++other)
            if (overlap (out, audio[numAudioInputs + other], frames))
                return false;
    }

    return true;
}

void Lv2Instance::processInPlace (uint32_t frames) noexcept
{
    std::array<float*, numAudioOutputs> channels {};

    for (uint32_t c = 0; c < numAudioOutputs; ++c)
    {
        channels[c] = audio[numAudioInputs + c];

        if (c < numAudioInputs && channels[c] != audio[c])
            std::memcpy (channels[c], audio[c], sizeof (float) * frames);
    }

    for (uint32_t done = 0; done < frames;)
    {
        const auto length = std::min (frames - done, longestBlock);
        std::array<float*, numAudioOutputs> piece {};

        for (uint32_t c = 0; c < numAudioOutputs; ++c)
            piece[c] = channels[c] + done;

        processBlock (piece.data(), length);
        done += length;
    }
}

void Lv2Instance::processThroughScratch (uint32_t frames) noexcept
{
    // Outputs that share memory with each other or with another channel's
    // input (some hosts connect every output to one buffer), and ports left
    // unconnected: each piece is read into the scratch channels, processed
    // there and written out.
    std::array<float*, numAudioOutputs> channels {};

    for (uint32_t c = 0; c < numAudioOutputs; ++c)
        channels[c] = scratch.data() + (size_t) c * scratchFrames;

    for (uint32_t done = 0; done < frames;)
    {
        const auto length = std::min (frames - done, scratchFrames);

        for (uint32_t c = 0; c < numAudioOutputs; ++c)
        {
            if (c < numAudioInputs && audio[c] != nullptr)
                std::memcpy (channels[c], audio[c] + done, sizeof (float) * length);
            else
                std::fill (channels[c], channels[c] + length, 0.0f);
        }

        processBlock (channels.data(), length);

        for (uint32_t c = 0; c < numAudioOutputs; ++c)
            if (auto* out = audio[numAudioInputs + c])
                std::memcpy (out + done, channels[c], sizeof (float) * length);

        done += length;
    }
}

void Lv2Instance::processBlock (float* const* channels, uint32_t frames) noexcept
{
    // The enabled port is the host's bypass: on for any value above zero,
    // as a toggled port reads; unconnected, the plug-in is on. The
    // processor fades between the chorus and the dry signal at a switch.
    const auto bypassed = enabledInput != nullptr && ! (*enabledInput > 0.0f);
    processor->processChannels (channels, (int) numAudioOutputs, (int) frames, bypassed);
}

void Lv2Instance::silenceOutputs (uint32_t frames) noexcept
{
    for (uint32_t c = 0; c < numAudioOutputs; ++c)
        if (auto* out = audio[numAudioInputs + c])
            std::fill (out, out + frames, 0.0f);
}

//==============================================================================
LV2_State_Status Lv2Instance::save (LV2_State_Store_Function store, LV2_State_Handle handle)
{
    if (urids.stateKey == 0)
        return LV2_STATE_ERR_NO_FEATURE;

    // A value the host set on a control port that no run has applied yet
    // (the engine stopped, the plug-in deactivated, a save straight after
    // loading, ports set on an instance that never ran) is the value the
    // host shows and the user chose: it is saved in place of the one the
    // processor still holds, so that the project reopens with it whichever
    // the host restores first, its port values or this state. The port is
    // read as the host left it, bit for bit (the host writes it between
    // runs, on its own thread).
    std::array<std::optional<float>, numControls> pending;
    const auto applyAll = applyAllControls.load (std::memory_order_acquire);

    for (uint32_t c = 0; c < numControls; ++c)
    {
        const auto bits = __atomic_load_n (reinterpret_cast<const uint32_t*> (controls[c]), __ATOMIC_RELAXED);

        if (applyAll || bits != seenBits[c].load (std::memory_order_acquire))
            pending[c] = Lv2ControlPortTable::ports[c].legalValue (floatOf (bits));
    }

    juce::MemoryBlock block;
    processor->getStateInformation (block, pending.data(), pending.size());
    const auto text = block.toBase64Encoding();

    return store (handle, urids.stateKey, text.toRawUTF8(), text.getNumBytesAsUTF8() + 1, urids.atomString,
                  LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status Lv2Instance::restore (LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle)
{
    if (urids.stateKey == 0)
        return LV2_STATE_ERR_NO_FEATURE;

    size_t size = 0;
    uint32_t type = 0, flags = 0;
    const auto* data = retrieve (handle, urids.stateKey, &size, &type, &flags);

    // Hosts also restore empty states (jalv does, at start).
    if (data == nullptr)
        return LV2_STATE_ERR_NO_PROPERTY;

    if (type != urids.atomString)
        return LV2_STATE_ERR_BAD_TYPE;

    juce::MemoryBlock block;

    if (! decodeState (static_cast<const char*> (data), size, block))
        return LV2_STATE_ERR_UNKNOWN;

    const Exclusive exclusive (*this);

    // The plug-in's own state is the complete record and wins over the
    // values the ports hold now: hosts write their saved port values
    // before they restore (Ardour does), and projects saved before the
    // settings were ports have only this state. A port that changes
    // afterwards applies. A state the processor refuses leaves the ports in
    // charge: they apply at the next run as they would have.
    if (! processor->loadState (block.getData(), (int) block.getSize()))
        return LV2_STATE_ERR_UNKNOWN;

    takePortsAsApplied();
    return LV2_STATE_SUCCESS;
}

//==============================================================================
namespace
{
    Lv2Instance* asInstance (LV2_Handle handle) noexcept
    {
        return static_cast<Lv2Instance*> (handle);
    }

    LV2_Handle instantiate (const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const* features)
    {
        try
        {
            return new Lv2Instance (sampleRate, features);
        }
        catch (const std::bad_alloc&)
        {
            return nullptr;
        }
    }

    const void* extensionData (const char* uri)
    {
        static const LV2_State_Interface state {
            [] (LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle s, uint32_t, const LV2_Feature* const*)
            {
                return asInstance (h)->save (store, s);
            },
            [] (LV2_Handle h, LV2_State_Retrieve_Function retrieve, LV2_State_Handle s, uint32_t, const LV2_Feature* const*)
            {
                return asInstance (h)->restore (retrieve, s);
            }
        };

        return uri != nullptr && std::strcmp (uri, LV2_STATE__interface) == 0 ? &state : nullptr;
    }
}

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor (uint32_t index)
{
    static const LV2_Descriptor descriptor {
        TESSAMUNE_LV2_URI,
        instantiate,
        [] (LV2_Handle h, uint32_t port, void* data) { asInstance (h)->connectPort (port, data); },
        [] (LV2_Handle h) { asInstance (h)->activate(); },
        [] (LV2_Handle h, uint32_t frames) { asInstance (h)->run (frames); },
        [] (LV2_Handle h) { asInstance (h)->deactivate(); },
        [] (LV2_Handle h) { delete asInstance (h); },
        extensionData
    };

    return index == 0 ? &descriptor : nullptr;
}
