/*
    The LV2 entry points of the plug-in.

    The framework's LV2 wrapper reads every audio input port and writes the
    atom output port without checking that the host connected them, so a host
    that leaves one of them unconnected (NULL) would crash the plug-in in its
    first block. The build compiles the framework's entry points under other
    names (Formats.cmake) and this file exports the real ones: they hand each
    framework instance a buffer of its own for every audio or atom output port
    that the host leaves unconnected - silence for an input, a scratch area
    for an output - and forward everything else unchanged.

    Port order is the framework's: audio inputs, audio outputs, then the atom
    input, the atom output, latency, free-wheeling and enabled. The first two
    counts are fixed by the build (TESSAMUNE_LV2_AUDIO_INPUTS/OUTPUTS); the
    build checks them against the generated description. The framework
    already copes with the unconnected control and atom input ports.

    Nothing here runs on the audio thread but plain pointer stores and, for an
    unconnected atom output, resetting its header.
*/

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if ! defined (TESSAMUNE_LV2_AUDIO_INPUTS) || ! defined (TESSAMUNE_LV2_AUDIO_OUTPUTS)
 #error "The build defines TESSAMUNE_LV2_AUDIO_INPUTS and TESSAMUNE_LV2_AUDIO_OUTPUTS"
#endif

// The framework's entry points, renamed by the build.
extern "C" const LV2_Descriptor* tessamune_framework_lv2_descriptor (uint32_t index);
extern "C" const LV2UI_Descriptor* tessamune_framework_lv2ui_descriptor (uint32_t index);

namespace
{
    constexpr uint32_t numAudioInputs = TESSAMUNE_LV2_AUDIO_INPUTS;
    constexpr uint32_t numAudioOutputs = TESSAMUNE_LV2_AUDIO_OUTPUTS;
    constexpr uint32_t numAudioPorts = numAudioInputs + numAudioOutputs;
    constexpr uint32_t atomOutputPort = numAudioPorts + 1;

    // Frames per scratch buffer when the host names no maximum block length
    // that we can read (the framework then refuses to instantiate anyway).
    constexpr int64_t defaultScratchFrames = 8192;
    // Bytes of the stand-in atom output: the framework writes at most one
    // patch:Set per parameter into it.
    constexpr uint32_t atomScratchBytes = 65536;

    const LV2_Descriptor* framework()
    {
        static const LV2_Descriptor* const descriptor = tessamune_framework_lv2_descriptor (0);
        return descriptor;
    }

    const LV2_State_Interface* frameworkState()
    {
        static const auto* const state = framework() != nullptr && framework()->extension_data != nullptr
                                           ? static_cast<const LV2_State_Interface*> (framework()->extension_data (LV2_STATE__interface))
                                           : nullptr;
        return state;
    }

    const void* findFeature (const LV2_Feature* const* features, const char* uri)
    {
        if (features != nullptr)
            for (auto* const* f = features; *f != nullptr; ++f)
                if ((*f)->URI != nullptr && std::strcmp ((*f)->URI, uri) == 0)
                    return (*f)->data;

        return nullptr;
    }

    // The host's maximum block length, from the options feature.
    int64_t maxBlockLength (const LV2_Feature* const* features)
    {
        const auto* map = static_cast<const LV2_URID_Map*> (findFeature (features, LV2_URID__map));
        const auto* options = static_cast<const LV2_Options_Option*> (findFeature (features, LV2_OPTIONS__options));

        if (map == nullptr || map->map == nullptr || options == nullptr)
            return 0;

        const auto urid = [map] (const char* uri) { return map->map (map->handle, uri); };
        const auto key = urid (LV2_BUF_SIZE__maxBlockLength);

        for (auto* o = options; o->key != 0 || o->value != nullptr; ++o)
        {
            if (o->key != key || o->value == nullptr)
                continue;

            if (o->type == urid (LV2_ATOM__Int) && o->size >= sizeof (int32_t))
                return *static_cast<const int32_t*> (o->value);

            if (o->type == urid (LV2_ATOM__Long) && o->size >= sizeof (int64_t))
                return *static_cast<const int64_t*> (o->value);

            if (o->type == urid (LV2_ATOM__Float) && o->size >= sizeof (float))
                return (int64_t) *static_cast<const float*> (o->value);

            if (o->type == urid (LV2_ATOM__Double) && o->size >= sizeof (double))
                return (int64_t) *static_cast<const double*> (o->value);
        }

        return 0;
    }

    struct Instance
    {
        LV2_Handle inner = nullptr;
        uint32_t scratchFrames = 0;

        // What the host connected, per guarded port (audio ports, atom output).
        std::array<void*, numAudioPorts> hostAudio {};
        void* hostAtomOutput = nullptr;

        // Stand-ins, one per guarded port. Input stand-ins are never written.
        std::vector<float> audioScratch;
        std::vector<uint64_t> atomScratch;   // 64-bit aligned, as atoms are

        float* scratchFor (uint32_t port) noexcept
        {
            return audioScratch.data() + (size_t) port * scratchFrames;
        }

        LV2_Atom* atomScratchHeader() noexcept
        {
            return reinterpret_cast<LV2_Atom*> (atomScratch.data());
        }

        bool anyAudioUnconnected() const noexcept
        {
            return std::any_of (hostAudio.begin(), hostAudio.end(), [] (void* p) { return p == nullptr; });
        }

        void connectInner (uint32_t port) noexcept
        {
            if (port < numAudioPorts)
                framework()->connect_port (inner, port, hostAudio[port] != nullptr ? hostAudio[port] : scratchFor (port));
            else if (port == atomOutputPort)
                framework()->connect_port (inner, port, hostAtomOutput != nullptr ? hostAtomOutput : atomScratch.data());
        }
    };

    Instance* asInstance (LV2_Handle handle) noexcept
    {
        return static_cast<Instance*> (handle);
    }

    LV2_Handle instantiate (const LV2_Descriptor*, double sampleRate, const char* bundlePath,
                            const LV2_Feature* const* features)
    {
        auto* inner = framework();

        if (inner == nullptr)
            return nullptr;

        std::unique_ptr<Instance> instance;

        try
        {
            instance = std::make_unique<Instance>();
            const auto frames = std::clamp<int64_t> (maxBlockLength (features), defaultScratchFrames, (int64_t) 1 << 20);
            instance->scratchFrames = (uint32_t) frames;
            instance->audioScratch.assign ((size_t) numAudioPorts * (size_t) frames, 0.0f);
            instance->atomScratch.assign (atomScratchBytes / sizeof (uint64_t), 0);
        }
        catch (const std::bad_alloc&)
        {
            return nullptr;
        }

        instance->inner = inner->instantiate (inner, sampleRate, bundlePath, features);

        if (instance->inner == nullptr)
            return nullptr;

        // Until the host connects them, the guarded ports use the stand-ins.
        for (uint32_t port = 0; port < numAudioPorts; ++port)
            instance->connectInner (port);

        instance->connectInner (atomOutputPort);
        return instance.release();
    }

    void connectPort (LV2_Handle handle, uint32_t port, void* data)
    {
        auto* instance = asInstance (handle);

        if (port < numAudioPorts)
            instance->hostAudio[port] = data;
        else if (port == atomOutputPort)
            instance->hostAtomOutput = data;
        else
            return framework()->connect_port (instance->inner, port, data);

        instance->connectInner (port);
    }

    void activate (LV2_Handle handle)
    {
        if (framework()->activate != nullptr)
            framework()->activate (asInstance (handle)->inner);
    }

    void run (LV2_Handle handle, uint32_t numFrames)
    {
        auto* instance = asInstance (handle);

        if (numFrames > instance->scratchFrames && instance->anyAudioUnconnected())
        {
            // A longer block than the host announced, with a port left
            // unconnected: the stand-ins are too short. Silence is all we can
            // give without allocating here.
            for (uint32_t port = numAudioInputs; port < numAudioPorts; ++port)
                if (auto* out = static_cast<float*> (instance->hostAudio[port]))
                    std::fill (out, out + numFrames, 0.0f);

            return;
        }

        if (instance->hostAtomOutput == nullptr)
        {
            // A host resets an atom output to its capacity before each block.
            auto* header = instance->atomScratchHeader();
            header->size = atomScratchBytes - (uint32_t) sizeof (LV2_Atom);
            header->type = 0;
        }

        framework()->run (instance->inner, numFrames);
    }

    void deactivate (LV2_Handle handle)
    {
        if (framework()->deactivate != nullptr)
            framework()->deactivate (asInstance (handle)->inner);
    }

    void cleanup (LV2_Handle handle)
    {
        std::unique_ptr<Instance> instance (asInstance (handle));
        framework()->cleanup (instance->inner);
    }

    LV2_State_Status saveState (LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state,
                                uint32_t flags, const LV2_Feature* const* features)
    {
        return frameworkState()->save (asInstance (handle)->inner, store, state, flags, features);
    }

    LV2_State_Status restoreState (LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state,
                                   uint32_t flags, const LV2_Feature* const* features)
    {
        return frameworkState()->restore (asInstance (handle)->inner, retrieve, state, flags, features);
    }

    const void* extensionData (const char* uri)
    {
        if (uri == nullptr || framework()->extension_data == nullptr)
            return nullptr;

        if (std::strcmp (uri, LV2_STATE__interface) == 0)
        {
            static const LV2_State_Interface state { saveState, restoreState };
            return frameworkState() != nullptr ? &state : nullptr;
        }

        // Interfaces that take no instance handle pass through unchanged; the
        // framework's build step fetches its description writer this way.
        // Anything taking a handle would need translating, so only the ones
        // known to take none are forwarded.
        static constexpr const char* handleFree[] { "https://lv2-extensions.juce.com/turtle_recall" };

        for (auto* known : handleFree)
            if (std::strcmp (uri, known) == 0)
                return framework()->extension_data (uri);

        return nullptr;
    }

    //==========================================================================
    // The editor reaches its plug-in instance through instance-access: give it
    // the framework's instance, not ours.
    const LV2UI_Descriptor* frameworkUi()
    {
        static const LV2UI_Descriptor* const descriptor = tessamune_framework_lv2ui_descriptor (0);
        return descriptor;
    }

    LV2UI_Handle instantiateUi (const LV2UI_Descriptor*, const char* pluginUri, const char* bundlePath,
                                LV2UI_Write_Function writeFunction, LV2UI_Controller controller,
                                LV2UI_Widget* widget, const LV2_Feature* const* features)
    {
        std::vector<LV2_Feature> copies;
        std::vector<const LV2_Feature*> pointers;

        try
        {
            if (features != nullptr)
                for (auto* const* f = features; *f != nullptr; ++f)
                    copies.push_back (**f);

            for (auto& f : copies)
            {
                if (f.URI != nullptr && std::strcmp (f.URI, LV2_INSTANCE_ACCESS_URI) == 0 && f.data != nullptr)
                    f.data = asInstance (f.data)->inner;

                pointers.push_back (&f);
            }

            pointers.push_back (nullptr);
        }
        catch (const std::bad_alloc&)
        {
            return nullptr;
        }

        auto* inner = frameworkUi();
        return inner->instantiate (inner, pluginUri, bundlePath, writeFunction, controller, widget, pointers.data());
    }
}

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor (uint32_t index)
{
    if (index != 0 || framework() == nullptr)
        return nullptr;

    static const LV2_Descriptor descriptor { framework()->URI, instantiate, connectPort, activate,
                                             run, deactivate, cleanup, extensionData };
    return &descriptor;
}

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor (uint32_t index)
{
    if (index != 0 || frameworkUi() == nullptr)
        return nullptr;

    static const LV2UI_Descriptor descriptor = []
    {
        auto copy = *frameworkUi();
        copy.instantiate = instantiateUi;
        return copy;
    }();

    return &descriptor;
}
