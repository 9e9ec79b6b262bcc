/*
    The LV2 entry points of the plug-in, around the framework's.

    The build compiles the framework's LV2 entry points under other names
    (Formats.cmake) and this file exports the real ones. Between host and
    framework it

    - carries the parameters as control ports. The framework knows parameters
      only as patch:Set messages on its atom input, which it applies at the
      start of each run. On each run the bridge compares the control ports
      with what it last passed on and writes a patch:Set for each one that
      changed at the head of the atom sequence it hands the framework, so the
      framework applies port changes exactly where, and as, it applies its own
      messages. The first run after instantiation passes every port on. A port
      the host leaves unconnected reads as its default; every value is made
      legal first (Lv2ControlPort::legalValue).

    - lets the plug-in's saved state win over the ports. After a successful
      state restore the next run takes the ports' values at the time of the
      restore as already passed on instead of applying them; later changes
      apply. Ardour writes its saved port values before it restores the state,
      and projects saved before the parameters were ports have only the
      plug-in's state: applying ports at their defaults would undo it.

    - runs blocks of any length, with any block-length option. The framework
      is told a maximum of its own (Lv2Features.h) and a longer run is split
      into pieces no longer than that, each atom event going with the piece
      that holds its frame.

    - keeps the framework's atom output to itself: the events it writes there
      reach the host's output port, except its patch:Set reports of the
      parameters, which hosts now follow through the control ports.

    - gives the framework a buffer of its own for every audio or atom port
      that the host leaves unconnected (NULL): silence for an input, a scratch
      area for an output. The framework reads and writes those ports without
      checking them.

    - runs the processor itself when the framework's run would only pass the
      audio through it: a run that is not split, with no event for the
      framework to read and no notice for it to send. The framework's run
      copies the audio into a buffer of its own and out again, and looks at
      every parameter's change flags, which at small blocks cost as much as
      the chorus. Here the block is processed in place in the host's output
      buffers, under the processor's callback lock, with the framework's
      handling of the free-wheeling, enabled and latency ports. Every other
      run, the first one included, goes through the framework.

    On the audio thread nothing here allocates, locks or waits: run works in
    buffers made at instantiation, and what other threads hand it travels
    through atomics.
*/

#include "host/Lv2Bridge.h"

#include "host/Lv2Features.h"
#include "plugin/Processor.h"

#include <lv2/atom/atom.h>
#if defined (__GNUC__)
 #pragma GCC diagnostic push
 #pragma GCC diagnostic ignored "-Wparentheses"   // the header's own iteration macros
#endif
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#if defined (__GNUC__)
 #pragma GCC diagnostic pop
#endif
#include <lv2/buf-size/buf-size.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace
{
    using namespace Lv2Bridge;
    using Lv2ControlPortTable::ports;

    // The longest block the framework is ever asked to run; longer runs are
    // split. A host's own maximum is used when it is no longer than this.
    constexpr int32_t longestBlock = 8192;

    // Room for the events of one piece on the framework's atom input (the
    // patch:Set messages of the control ports, then the host's events) and on
    // its atom output.
    constexpr uint32_t inputEventBytes = 65536;
    constexpr uint32_t outputEventBytes = 32768;

    // A patch:Set event with a URID property and a float value, as forged:
    // frame time 8, atom header 8, object body 8, two properties of 24 each.
    constexpr uint32_t patchSetEventBytes = 72;
    static_assert (numControlPorts * patchSetEventBytes + sizeof (LV2_Atom_Sequence) < inputEventBytes);

    static_assert (std::atomic<float>::is_always_lock_free && std::atomic<uint32_t>::is_always_lock_free
                   && std::atomic<std::thread::id>::is_always_lock_free);
    static_assert (numControlPorts <= 32, "the reapply requests are one bit per control port");

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

    struct Urids
    {
        explicit Urids (const LV2_URID_Map& m)
            : map (m)
        {
            const std::string pluginUri = framework()->URI;

            // The framework knows each parameter by the URI <plug-in URI>:<ID>
            // (the IDs are valid symbols, so it uses them unescaped).
            for (uint32_t i = 0; i < numControlPorts; ++i)
                parameters[i] = get ((pluginUri + ":" + ports[i].symbol).c_str());
        }

        LV2_URID get (const char* uri) const { return map.map (map.handle, uri); }

        const LV2_URID_Map map;
        const LV2_URID atomSequence = get (LV2_ATOM__Sequence);
        const LV2_URID atomObject = get (LV2_ATOM__Object);
        const LV2_URID patchSet = get (LV2_PATCH__Set);
        std::array<LV2_URID, numControlPorts> parameters {};
    };

    //==========================================================================
    // The control ports and what has been passed on of them.
    class Controls
    {
    public:
        void connect (int control, const float* data) noexcept { host[(size_t) control] = data; }

        // The port's legal value now. Reads the host's buffer: on the audio
        // thread, or where the host promises that no run is under way.
        float current (size_t control) const noexcept
        {
            return ports[control].legalValue (asFloat (rawBits (control)));
        }

        // Audio thread: calls pass (control, value) for each value that is
        // to reach the processor before this run's block.
        template <typename Pass>
        void collect (Pass&& pass) noexcept
        {
            auto recheckAll = passAll;

            // Each flag is looked at before it is taken: taking it is an
            // atomic exchange, which costs the run far more than a load.
            if (resyncPending.load (std::memory_order_relaxed) && resyncPending.exchange (false, std::memory_order_acquire))
            {
                for (size_t i = 0; i < numControlPorts; ++i)
                    passed[i] = atRestore[i].load (std::memory_order_relaxed);

                passAll = false;
                recheckAll = true;
            }

            const auto reapply = reapplyRequests.load (std::memory_order_relaxed) != 0
                                   ? reapplyRequests.exchange (0, std::memory_order_acquire)
                                   : 0u;

            for (size_t i = 0; i < numControlPorts; ++i)
            {
                // Most runs find every port as it was: the bits the host left
                // there are compared first, and only a port whose bits changed
                // is made legal and compared with what was passed on.
                const auto bits = rawBits (i);
                const auto isReapplied = (reapply & (1u << i)) != 0;

                if (bits == seen[i] && ! recheckAll && ! isReapplied)
                    continue;

                seen[i] = bits;
                const auto value = ports[i].legalValue (asFloat (bits));

                if (passAll || value != passed[i] || isReapplied)
                {
                    pass (i, value);
                    passed[i] = value;
                }
            }

            passAll = false;
        }

        // Audio thread: whether collect() would pass nothing on now.
        bool unchanged() const noexcept
        {
            if (passAll || resyncPending.load (std::memory_order_relaxed) || reapplyRequests.load (std::memory_order_relaxed) != 0)
                return false;

            for (size_t i = 0; i < numControlPorts; ++i)
                if (rawBits (i) != seen[i])
                    return false;

            return true;
        }

        // On the thread that restored the state, after the restore: the
        // ports' values at this moment count as passed on. (A port the host
        // connects or changes afterwards differs from them and applies.)
        void resync() noexcept
        {
            for (size_t i = 0; i < numControlPorts; ++i)
                atRestore[i].store (current (i), std::memory_order_relaxed);

            resyncPending.store (true, std::memory_order_release);
        }

        // Any thread.
        void reapply (int control) noexcept
        {
            reapplyRequests.fetch_or (1u << control, std::memory_order_release);
        }

    private:
        // What the port holds, as bits: a NaN compares equal to itself.
        uint32_t rawBits (size_t control) const noexcept
        {
            const auto* p = host[control];
            uint32_t bits;
            std::memcpy (&bits, p != nullptr ? p : &ports[control].defaultValue, sizeof bits);
            return bits;
        }

        static float asFloat (uint32_t bits) noexcept
        {
            float value;
            std::memcpy (&value, &bits, sizeof value);
            return value;
        }

        std::array<const float*, numControlPorts> host {};
        std::array<uint32_t, numControlPorts> seen {};    // the bits last made legal
        std::array<float, numControlPorts> passed {};
        bool passAll = true;

        std::array<std::atomic<float>, numControlPorts> atRestore {};
        std::atomic<bool> resyncPending { false };
        std::atomic<uint32_t> reapplyRequests { 0 };
    };

    //==========================================================================
    // Calls visit (event) for each event of a sequence, until it returns false.
    template <typename Visit>
    void forEachEvent (const LV2_Atom_Sequence& sequence, Visit&& visit) noexcept
    {
        for (auto* event = lv2_atom_sequence_begin (&sequence.body);
             ! lv2_atom_sequence_is_end (&sequence.body, sequence.atom.size, event);
             event = lv2_atom_sequence_next (event))
            if (! visit (*event))
                return;
    }

    // Appends an event to a sequence being forged, if it fits whole.
    bool append (LV2_Atom_Forge& forge, int64_t frames, const LV2_Atom& body) noexcept
    {
        const uint64_t bodyBytes = sizeof (LV2_Atom) + (uint64_t) body.size;
        const uint64_t needed = sizeof (int64_t) + ((bodyBytes + 7u) & ~(uint64_t) 7u);

        if ((uint64_t) forge.offset + needed > forge.size)
            return false;

        lv2_atom_forge_frame_time (&forge, frames);
        lv2_atom_forge_write (&forge, &body, (uint32_t) bodyBytes);
        return true;
    }

    // The framework's ports after the atom ports.
    constexpr uint32_t latencyPort = numAudioPorts + 2;
    constexpr uint32_t freeWheelingPort = numAudioPorts + 3;
    constexpr uint32_t enabledPort = numAudioPorts + 4;

    class Instance : private juce::AudioProcessorListener
    {
    public:
        Instance (const LV2_URID_Map& map, const LV2_Feature* const* hostFeatures)
            : urids (map),
              frameworkFeatures (map, hostFeatures, longestBlock),
              maxPiece ((uint32_t) frameworkFeatures.maxBlockLength()),
              audioScratch ((size_t) numAudioPorts * maxPiece, 0.0f),
              inputEvents (inputEventBytes / sizeof (uint64_t), 0),
              outputEvents (outputEventBytes / sizeof (uint64_t), 0)
        {
            // Forges map their URIs here, never on the audio thread.
            auto m = map;
            lv2_atom_forge_init (&inputForge, &m);
            lv2_atom_forge_init (&outputForge, &m);
        }

        bool instantiateFramework (double sampleRate, const char* bundlePath)
        {
            auto* const before = Processor::lastConstructedOnThisThread();
            inner = framework()->instantiate (framework(), sampleRate, bundlePath, frameworkFeatures.get());

            if (inner == nullptr)
                return false;

            // The processor the framework made, to run directly where the
            // framework's run would do nothing else (runsDirectly()): one
            // with the bundle's channels and no bypass parameter of its own,
            // which the framework's run would set from the enabled port.
            auto* const made = Processor::lastConstructedOnThisThread();

            if (made != nullptr && made != before && made->getBypassParameter() == nullptr
                && made->getTotalNumInputChannels() == (int) numAudioInputs
                && made->getTotalNumOutputChannels() == (int) numAudioOutputs)
            {
                processor = made;
                processor->addListener (this);
            }

            // The framework's atom ports are always ours; its audio ports are
            // set for each piece of a run.
            framework()->connect_port (inner, atomInputPort, inputEvents.data());
            framework()->connect_port (inner, atomOutputPort, outputEvents.data());

            for (uint32_t port = 0; port < numAudioPorts; ++port)
                connectFrameworkAudio (port, scratchFor (port));

            return true;
        }

        LV2_Handle frameworkHandle() const noexcept { return inner; }

        void connect (uint32_t port, void* data) noexcept
        {
            if (port < numAudioPorts)
            {
                hostAudio[port] = static_cast<float*> (data);
                buffersChecked = false;
            }
            else if (port == atomInputPort)
                hostInput = static_cast<const LV2_Atom_Sequence*> (data);
            else if (port == atomOutputPort)
                hostOutput = static_cast<LV2_Atom_Sequence*> (data);
            else if (const auto control = controlFor (port); control >= 0)
                controls.connect (control, static_cast<const float*> (data));
            else
            {
                if (port == latencyPort)
                    hostLatency = static_cast<float*> (data);
                else if (port == freeWheelingPort)
                    hostFreeWheeling = static_cast<const float*> (data);
                else if (port == enabledPort)
                    hostEnabled = static_cast<const float*> (data);

                framework()->connect_port (inner, port, data);
            }
        }

        void run (uint32_t numFrames) noexcept
        {
            runningThread.store (std::this_thread::get_id(), std::memory_order_relaxed);

            if (hasNothingForTheFramework (numFrames))
            {
                // The usual run: no event, no port change, nothing to split.
                connectAudio (0);
                writeEmptyHostOutput();
                processDirectly (numFrames);
            }
            else
            {
                runThroughTheFramework (numFrames);
            }

            runningThread.store ({}, std::memory_order_relaxed);
        }

        void runThroughTheFramework (uint32_t numFrames) noexcept
        {
            openHostOutput();

            uint32_t start = 0;

            do
            {
                const auto length = std::min (numFrames - start, maxPiece);
                const auto isLast = start + length >= numFrames;

                connectAudio (start);
                fillInput (start, length, isLast);

                if (start == 0 && isLast && inputIsEmpty() && runsDirectly (length))
                {
                    processDirectly (length);
                    break;
                }

                resetOutput();

                framework()->run (inner, length);

                forwardOutput (start);
                start += length;
            }
            while (start < numFrames);

            closeHostOutput();
        }

        bool isRunningOn (std::thread::id thread) const noexcept
        {
            return runningThread.load (std::memory_order_relaxed) == thread;
        }

        void cleanup() noexcept
        {
            if (processor != nullptr)
                processor->removeListener (this);

            framework()->cleanup (inner);
        }

        Controls controls;

    private:
        float* scratchFor (uint32_t port) noexcept
        {
            return audioScratch.data() + (size_t) port * maxPiece;
        }

        // Points the framework's audio ports at this piece; a port already
        // pointing there (every run that is not split, once the host's
        // buffers stay put) is left as it is.
        void connectAudio (uint32_t start) noexcept
        {
            for (uint32_t port = 0; port < numAudioPorts; ++port)
                connectFrameworkAudio (port, audioFor (port, start));
        }

        // The audio of a port from frame `start` on: the host's buffer, or
        // the stand-in for an unconnected port.
        float* audioFor (uint32_t port, uint32_t start) noexcept
        {
            return hostAudio[port] != nullptr ? hostAudio[port] + start : scratchFor (port);
        }

        void connectFrameworkAudio (uint32_t port, float* data) noexcept
        {
            if (frameworkAudio[port] == data)
                return;

            framework()->connect_port (inner, port, data);
            frameworkAudio[port] = data;
        }

        // The framework's input for one piece: at its head, on the first
        // piece, a patch:Set for each control port to pass on; then the
        // host's events whose frame lies in the piece (the first piece also
        // takes any before frame 0, the last any after the run), timed from
        // the piece's start.
        void fillInput (uint32_t start, uint32_t length, bool isLast) noexcept
        {
            lv2_atom_forge_set_buffer (&inputForge, reinterpret_cast<uint8_t*> (inputEvents.data()), inputEventBytes);
            LV2_Atom_Forge_Frame sequence;
            lv2_atom_forge_sequence_head (&inputForge, &sequence, 0);

            const auto isFirst = start == 0;

            if (isFirst)
            {
                controls.collect ([this] (size_t control, float value)
                {
                    lv2_atom_forge_frame_time (&inputForge, 0);
                    LV2_Atom_Forge_Frame object;
                    lv2_atom_forge_object (&inputForge, &object, 0, urids.patchSet);
                    lv2_atom_forge_key (&inputForge, patchProperty);
                    lv2_atom_forge_urid (&inputForge, urids.parameters[control]);
                    lv2_atom_forge_key (&inputForge, patchValue);
                    lv2_atom_forge_float (&inputForge, value);
                    lv2_atom_forge_pop (&inputForge, &object);
                });
            }

            if (hostInput != nullptr && hostInput->atom.type == urids.atomSequence)
            {
                // Event times are read as frames, as the framework reads them.
                // The sequence's unit field is not looked at: some hosts
                // (Ardour 7) never write it, and an input port that
                // does not ask for beat time gets frames.
                const auto end = (int64_t) start + length;

                forEachEvent (*hostInput, [&] (const LV2_Atom_Event& event)
                {
                    const auto frame = event.time.frames;

                    if ((frame < (int64_t) start && ! isFirst) || (frame >= end && ! isLast))
                        return true;

                    const auto local = std::clamp<int64_t> (frame - start, 0, length > 0 ? length - 1 : 0);
                    return append (inputForge, local, event.body);
                });
            }

            lv2_atom_forge_pop (&inputForge, &sequence);
        }

        // Whether a run can skip the framework's run before anything is
        // prepared for it: nothing from the host on the atom input, no
        // control port changed, and what runsDirectly() asks.
        bool hasNothingForTheFramework (uint32_t numFrames) noexcept
        {
            const auto hostSentNothing = hostInput == nullptr || hostInput->atom.type != urids.atomSequence
                                      || hostInput->atom.size <= sizeof (LV2_Atom_Sequence_Body);

            return processor != nullptr && numFrames <= maxPiece && hostSentNothing && controls.unchanged()
                && ! frameworkNotice.load (std::memory_order_relaxed) && buffersAllowInPlace (numFrames);
        }

        // Whether this run, unsplit, may skip the framework's run, once its
        // input holds nothing (no port change, no host event): no notice for
        // the framework to send, and no buffer that processing in place
        // could overwrite before it is read.
        bool runsDirectly (uint32_t numFrames) noexcept
        {
            if (processor == nullptr)
                return false;

            // The framework's run sends the notice. The flag goes before it
            // runs, so that one set meanwhile is sent by this run or the next.
            if (frameworkNotice.load (std::memory_order_relaxed) && frameworkNotice.exchange (false, std::memory_order_acquire))
                return false;

            return buffersAllowInPlace (numFrames);
        }

        // The buffers change only when the host connects them: checked again
        // after a connection, or for another length.
        bool buffersAllowInPlace (uint32_t numFrames) noexcept
        {
            if (! buffersChecked || numFrames != framesChecked)
            {
                buffersShareable = ! audioBuffersOverlap (numFrames);
                framesChecked = numFrames;
                buffersChecked = true;
            }

            return buffersShareable;
        }

        bool inputIsEmpty() const noexcept
        {
            const auto* input = reinterpret_cast<const LV2_Atom_Sequence*> (inputEvents.data());
            return input->atom.size <= sizeof (LV2_Atom_Sequence_Body);
        }

        // Any output sharing memory with another output, or with an input
        // other than its own channel's (which it may share whole), in a run
        // that is not split.
        bool audioBuffersOverlap (uint32_t numFrames) noexcept
        {
            const auto overlap = [] (const float* a, const float* b, uint32_t n)
            {
                const auto x = reinterpret_cast<uintptr_t> (a), y = reinterpret_cast<uintptr_t> (b);
                const auto bytes = sizeof (float) * (uintptr_t) n;
                return x < y + bytes && y < x + bytes;
            };

            for (uint32_t o = 0; o < numAudioOutputs; ++o)
            {
                const auto* out = audioFor (numAudioInputs + o, 0);

                for (uint32_t i = 0; i < numAudioInputs; ++i)
                    if (i != o && overlap (out, audioFor (i, 0), numFrames))
                        return true;

                if (o < numAudioInputs && out != audioFor (o, 0) && overlap (out, audioFor (o, 0), numFrames))
                    return true;

                for (uint32_t other = o + 1; other < numAudioOutputs; ++other)
                    if (overlap (out, audioFor (numAudioInputs + other, 0), numFrames))
                        return true;
            }

            return false;
        }

        // What the framework's run does with the audio, the same way, but in
        // the outputs themselves.
        void processDirectly (uint32_t numFrames) noexcept
        {
            processor->setNonRealtime (hostFreeWheeling != nullptr && *hostFreeWheeling > 0.5f);

            std::array<float*, numAudioOutputs> channels {};

            for (uint32_t c = 0; c < numAudioOutputs; ++c)
            {
                channels[c] = frameworkAudio[numAudioInputs + c];

                if (c < numAudioInputs && channels[c] != frameworkAudio[c])
                    std::memcpy (channels[c], frameworkAudio[c], sizeof (float) * numFrames);
            }

            {
                juce::AudioBuffer<float> buffer (channels.data(), (int) numAudioOutputs, (int) numFrames);
                const juce::ScopedLock lock (processor->getCallbackLock());

                if (processor->isSuspended())
                    buffer.clear();
                else if (hostEnabled != nullptr && ! (*hostEnabled > 0.5f))
                    processor->processBlockBypassed (buffer, noMidi);
                else
                    processor->processBlock (buffer, noMidi);
            }

            if (hostLatency != nullptr)
                *hostLatency = (float) processor->getLatencySamples();
        }

        // A notice the framework's run sends to the host: a change of the
        // processor's state that is not a parameter's.
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
        {
            if (details.nonParameterStateChanged)
                frameworkNotice.store (true, std::memory_order_release);
        }

        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}

        // The framework reads the atom output's size as the room it may write.
        void resetOutput() noexcept
        {
            auto* header = reinterpret_cast<LV2_Atom*> (outputEvents.data());
            header->size = outputEventBytes;
            header->type = 0;
        }

        // The host sets its output's atom size to the room there is, which
        // is all that is read of it, as the framework reads it.
        void openHostOutput() noexcept
        {
            hostOutputOpen = hostOutput != nullptr && hostOutput->atom.size >= sizeof (LV2_Atom_Sequence);

            if (! hostOutputOpen)
                return;

            lv2_atom_forge_set_buffer (&outputForge, reinterpret_cast<uint8_t*> (hostOutput), hostOutput->atom.size);
            lv2_atom_forge_sequence_head (&outputForge, &hostOutputFrame, 0);
        }

        void forwardOutput (uint32_t start) noexcept
        {
            const auto* written = reinterpret_cast<const LV2_Atom_Sequence*> (outputEvents.data());

            if (! hostOutputOpen || written->atom.type != urids.atomSequence)
                return;

            forEachEvent (*written, [&] (const LV2_Atom_Event& event)
            {
                const auto isParameterReport = event.body.type == urids.atomObject
                                            && reinterpret_cast<const LV2_Atom_Object*> (&event.body)->body.otype == urids.patchSet;

                return isParameterReport || append (outputForge, event.time.frames + start, event.body);
            });
        }

        // What openHostOutput() and closeHostOutput() leave with no event
        // between them.
        void writeEmptyHostOutput() noexcept
        {
            if (hostOutput == nullptr || hostOutput->atom.size < sizeof (LV2_Atom_Sequence))
                return;

            hostOutput->atom.size = sizeof (LV2_Atom_Sequence_Body);
            hostOutput->atom.type = urids.atomSequence;
            hostOutput->body.unit = 0;
            hostOutput->body.pad = 0;
        }

        void closeHostOutput() noexcept
        {
            if (hostOutputOpen)
                lv2_atom_forge_pop (&outputForge, &hostOutputFrame);
        }

        const Urids urids;
        const LV2_URID patchProperty = urids.get (LV2_PATCH__property);
        const LV2_URID patchValue = urids.get (LV2_PATCH__value);

        const Lv2FrameworkFeatures frameworkFeatures;
        const uint32_t maxPiece;
        LV2_Handle inner = nullptr;

        // What the host connected.
        std::array<float*, numAudioPorts> hostAudio {};

        // Where the framework's audio ports point.
        std::array<float*, numAudioPorts> frameworkAudio {};
        const LV2_Atom_Sequence* hostInput = nullptr;
        LV2_Atom_Sequence* hostOutput = nullptr;

        // Stand-ins for unconnected audio ports (inputs' are never written),
        // and the framework's atom ports, 64-bit aligned as atoms are.
        std::vector<float> audioScratch;
        std::vector<uint64_t> inputEvents, outputEvents;

        LV2_Atom_Forge inputForge {}, outputForge {};
        LV2_Atom_Forge_Frame hostOutputFrame {};
        bool hostOutputOpen = false;

        std::atomic<std::thread::id> runningThread {};

        // Run directly: the processor, the framework's ports it reads, and
        // whether the framework has a notice to send.
        Processor* processor = nullptr;
        juce::MidiBuffer noMidi;
        float* hostLatency = nullptr;
        const float* hostFreeWheeling = nullptr;
        const float* hostEnabled = nullptr;
        std::atomic<bool> frameworkNotice { false };

        // Whether the buffers connected now may be processed in place, for
        // runs of framesChecked frames.
        bool buffersChecked = false, buffersShareable = false;
        uint32_t framesChecked = 0;
    };

    Instance* asInstance (LV2_Handle handle) noexcept
    {
        return static_cast<Instance*> (handle);
    }

    //==========================================================================
    LV2_Handle instantiate (const LV2_Descriptor*, double sampleRate, const char* bundlePath,
                            const LV2_Feature* const* features)
    {
        const auto* map = static_cast<const LV2_URID_Map*> (findLv2Feature (features, LV2_URID__map));

        if (framework() == nullptr || map == nullptr || map->map == nullptr)
            return nullptr;

        std::unique_ptr<Instance> instance;

        try
        {
            instance = std::make_unique<Instance> (*map, features);
        }
        catch (const std::bad_alloc&)
        {
            return nullptr;
        }

        if (! instance->instantiateFramework (sampleRate, bundlePath))
            return nullptr;

        return instance.release();
    }

    void connectPort (LV2_Handle handle, uint32_t port, void* data)
    {
        asInstance (handle)->connect (port, data);
    }

    void activate (LV2_Handle handle)
    {
        if (framework()->activate != nullptr)
            framework()->activate (asInstance (handle)->frameworkHandle());
    }

    void run (LV2_Handle handle, uint32_t numFrames)
    {
        asInstance (handle)->run (numFrames);
    }

    void deactivate (LV2_Handle handle)
    {
        if (framework()->deactivate != nullptr)
            framework()->deactivate (asInstance (handle)->frameworkHandle());
    }

    void cleanup (LV2_Handle handle)
    {
        std::unique_ptr<Instance> instance (asInstance (handle));
        instance->cleanup();
    }

    LV2_State_Status saveState (LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state,
                                uint32_t flags, const LV2_Feature* const* features)
    {
        return frameworkState()->save (asInstance (handle)->frameworkHandle(), store, state, flags, features);
    }

    LV2_State_Status restoreState (LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state,
                                   uint32_t flags, const LV2_Feature* const* features)
    {
        auto* instance = asInstance (handle);
        const auto status = frameworkState()->restore (instance->frameworkHandle(), retrieve, state, flags, features);

        // Only a restore that set the processor's state decides over the
        // ports: hosts also restore empty states (jalv does, at start).
        if (status == LV2_STATE_SUCCESS)
            instance->controls.resync();

        return status;
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
}

namespace Lv2Bridge
{
    LV2_Handle frameworkInstance (LV2_Handle handle) noexcept
    {
        return asInstance (handle)->frameworkHandle();
    }

    void reapplyControl (LV2_Handle handle, int control) noexcept
    {
        if (control >= 0 && (uint32_t) control < numControlPorts)
            asInstance (handle)->controls.reapply (control);
    }

    bool isRunningOnThisThread (LV2_Handle handle) noexcept
    {
        return asInstance (handle)->isRunningOn (std::this_thread::get_id());
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
