// The LV2 control ports drive the processor: what the built binary renders
// with given port values is what the processor renders in process with the
// same settings, and a restored state wins over the ports until they change.

#include "Hosting.h"
#include "Lv2TestHost.h"

#include <lv2/atom/atom.h>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using namespace Lv2TestHost;

namespace
{
    constexpr uint32_t blockSize = 256;
    constexpr int frames = 32 * (int) blockSize;

    using Settings = std::vector<std::pair<juce::String, float>>;   // parameter ID, plain value

    // The normalised value the reference program takes for a plain one.
    float normalised (const juce::String& id, float plain)
    {
        static const auto layout = Hosting::referenceParameters();

        for (const auto& p : layout)
            if (p.id == id)
                return (plain - p.start) / (p.end - p.start);

        ADD_FAILURE() << "no parameter " << id;
        return 0.0f;
    }

    Hosting::Channels reference (const Settings& settings)
    {
        Hosting::Render r;
        r.block = (int) blockSize;
        r.frames = frames;

        for (const auto& [id, plain] : settings)
            r.settings.emplace_back (id, normalised (id, plain));

        return Hosting::reference (r);
    }

    void runAll (Plugin& host)
    {
        for (int start = 0; start < frames; start += (int) blockSize)
            host.run (blockSize);
    }

    void expectIdentical (const Hosting::Channels& hosted, const Hosting::Channels& expected)
    {
        ASSERT_EQ (expected.size(), 2u) << "the reference program failed";
        ASSERT_EQ (hosted.size(), expected.size());

        for (size_t c = 0; c < hosted.size(); ++c)
        {
            const auto mismatch = std::mismatch (hosted[c].begin(), hosted[c].end(), expected[c].begin());
            EXPECT_TRUE (mismatch.first == hosted[c].end())
                << "channel " << c << " differs first at sample " << (mismatch.first - hosted[c].begin());
        }
    }

    struct Case
    {
        const char* label;
        Settings ports;      // what the host puts on the ports
        Settings meaning;    // the settings those values stand for
    };

    const float nan = std::numeric_limits<float>::quiet_NaN();

    const Case cases[] {
        { "knobs",                  { { "chorus_depth", 5.0f }, { "chorus_speed", 3.0f }, { "chorus_mix", 7.0f } },
                                    { { "chorus_depth", 5.0f }, { "chorus_speed", 3.0f }, { "chorus_mix", 7.0f } } },
        { "mono mode",              { { "chorus_depth", 8.0f }, { "chorus_speed", 6.5f }, { "stereo_proc", 0.0f } },
                                    { { "chorus_depth", 8.0f }, { "chorus_speed", 6.5f }, { "stereo_proc", 0.0f } } },
        { "chorus off",             { { "chorus_on", 0.0f }, { "chorus_depth", 5.0f } },
                                    { { "chorus_on", 0.0f }, { "chorus_depth", 5.0f } } },
        // Every port passed on in the first block, even where its value is
        // 0: none of these is the processor's default.
        { "all at zero",            { { "chorus_on", 0.0f }, { "chorus_depth", 0.0f }, { "chorus_speed", 0.0f },
                                      { "chorus_mix", 0.0f }, { "stereo_proc", 0.0f } },
                                    { { "chorus_on", 0.0f }, { "chorus_mix", 0.0f }, { "stereo_proc", 0.0f } } },
        { "values between steps",   { { "chorus_depth", 4.96f }, { "chorus_speed", 2.04f }, { "chorus_mix", 3.349f } },
                                    { { "chorus_depth", 5.0f }, { "chorus_speed", 2.0f }, { "chorus_mix", 3.3f } } },
        { "out of range, NaN",      { { "chorus_depth", 25.0f }, { "chorus_mix", -3.0f }, { "chorus_speed", nan } },
                                    { { "chorus_depth", 10.0f }, { "chorus_mix", 0.0f }, { "chorus_speed", 0.0f } } },
        // A toggled port is on for anything above 0.
        { "switches above zero",    { { "stereo_proc", 0.3f }, { "chorus_on", 0.001f }, { "chorus_depth", 6.0f } },
                                    { { "stereo_proc", 1.0f }, { "chorus_on", 1.0f }, { "chorus_depth", 6.0f } } },
        { "switches at or below zero", { { "stereo_proc", -0.5f }, { "chorus_depth", 6.0f } },
                                    { { "stereo_proc", 0.0f }, { "chorus_depth", 6.0f } } },
    };
}

TEST (Lv2ControlPorts, PortValuesDriveTheProcessor)
{
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);

        Plugin host ({ 48000.0, BlockLength::int32, blockSize, true, frames });
        ASSERT_TRUE (host.isReady());
        host.connectAll();

        for (const auto& [id, value] : c.ports)
            host.setControl (id, value);

        host.activate();
        runAll (host);
        expectIdentical (host.output(), reference (c.meaning));
    }
}

// A port the host leaves unconnected reads as its default: once the ports
// are disconnected the processor runs at the defaults. At depth 0 the output
// does not depend on the oscillator's phase, and once the delay lines hold
// only what came in after the change it is the defaults' output.
TEST (Lv2ControlPorts, UnconnectedPortsReadAsTheirDefaults)
{
    Plugin host ({ 48000.0, BlockLength::int32, blockSize, true, frames });
    ASSERT_TRUE (host.isReady());
    host.connectAll();

    const Settings away { { "chorus_on", 0.0f }, { "chorus_depth", 6.0f }, { "chorus_speed", 7.0f },
                          { "chorus_mix", 3.0f }, { "stereo_proc", 0.0f } };

    for (const auto& [id, value] : away)
        host.setControl (id, value);

    host.activate();

    for (int block = 0; block < 4; ++block)
        host.run (blockSize);

    for (const auto& [id, value] : away)
        host.disconnectControl (id);

    for (int block = 4; block < 32; ++block)
        host.run (blockSize);

    for (const auto& p : Hosting::referenceParameters())
        EXPECT_DOUBLE_EQ (host.savedValue (p.id), p.defaultValue) << p.id;

    const auto atDefaults = reference ({});
    ASSERT_EQ (atDefaults.size(), 2u);

    // 100 ms: longer than the longest delay at depth 0.
    const auto from = (long) (4 * blockSize) + 4800;

    for (size_t c = 0; c < 2; ++c)
        EXPECT_TRUE (std::equal (host.output()[c].begin() + from, host.output()[c].end(), atDefaults[c].begin() + from)) << "channel " << c;
}

namespace
{
    // Every parameter away from its default.
    const Settings saved { { "chorus_on", 1.0f }, { "chorus_depth", 7.0f }, { "chorus_speed", 4.0f },
                           { "chorus_mix", 3.0f }, { "stereo_proc", 0.0f } };

    SavedState stateWith (const Settings& settings)
    {
        Plugin source;
        source.connectAll();

        for (const auto& [id, value] : settings)
            source.setControl (id, value);

        source.activate();
        source.run (blockSize);
        return source.save();
    }

    struct RestoreCase
    {
        const char* label;
        Settings portsBefore;       // what the host writes to the ports before it restores
        bool emptyState;            // a state with nothing of the plug-in's in it
        Settings portsAfter;        // what the host writes after restoring, before the first run
        Settings expected;          // what the processor then runs with
    };

    const RestoreCase restoreCases[] {
        // A project saved before the parameters were ports: the host has
        // only the plug-in's state and leaves the ports at their defaults.
        { "ports at their defaults",      {},      false, {},                                saved },
        // Ardour writes the saved port values, then restores.
        { "ports written before restore", saved,   false, {},                                saved },
        // A host that restores and then sets a port (jalv -l ... -c ...).
        { "a port changed after restore", {},      false, { { "chorus_depth", 2.0f } },
          { { "chorus_on", 1.0f }, { "chorus_depth", 2.0f }, { "chorus_speed", 4.0f }, { "chorus_mix", 3.0f }, { "stereo_proc", 0.0f } } },
        // jalv restores an empty state at start: the ports decide.
        { "empty state",                  { { "chorus_depth", 4.0f }, { "chorus_mix", 6.0f } }, true, {},
          { { "chorus_on", 1.0f }, { "chorus_depth", 4.0f }, { "chorus_speed", 0.0f }, { "chorus_mix", 6.0f }, { "stereo_proc", 1.0f } } },
    };
}

TEST (Lv2State, RestoredStateWinsOverThePortsUntilTheyChange)
{
    const auto state = stateWith (saved);
    ASSERT_FALSE (state.properties.empty());

    for (const auto& c : restoreCases)
    {
        SCOPED_TRACE (c.label);

        Plugin host;
        ASSERT_TRUE (host.isReady());
        host.connectAll();

        for (const auto& [id, value] : c.portsBefore)
            host.setControl (id, value);

        host.activate();
        const auto status = host.restore (c.emptyState ? SavedState {} : state);
        EXPECT_EQ (status == LV2_STATE_SUCCESS, ! c.emptyState);

        for (const auto& [id, value] : c.portsAfter)
            host.setControl (id, value);

        host.run (blockSize);

        for (const auto& [id, value] : c.expected)
            EXPECT_DOUBLE_EQ (host.savedValue (id), value) << id;

        // A later change on a port applies.
        host.setControl ("chorus_mix", 9.0f);
        host.run (blockSize);
        EXPECT_DOUBLE_EQ (host.savedValue ("chorus_mix"), 9.0);
    }
}

// A value the host set on a port is saved even when no run has applied it
// yet: the engine stopped, the plug-in deactivated, a save straight after
// loading, an instance that never ran. Reloaded as Ardour reloads (its
// saved port values first, then the state) or the other way round, the
// project plays what the host last set.
TEST (Lv2State, SaveHoldsPortValuesNoRunHasApplied)
{
    const Settings changed { { "chorus_depth", 2.0f }, { "chorus_mix", 6.0f }, { "stereo_proc", 1.0f } };
    const Settings expected { { "chorus_on", 1.0f }, { "chorus_depth", 2.0f }, { "chorus_speed", 4.0f },
                              { "chorus_mix", 6.0f }, { "stereo_proc", 1.0f } };
    const auto loaded = stateWith (saved);

    struct SaveCase
    {
        const char* label;
        std::function<void (Plugin&)> before;   // what the host does before it changes the ports
    };

    const auto setPorts = [] (Plugin& host, const Settings& settings)
    {
        for (const auto& [id, value] : settings)
            host.setControl (id, value);
    };

    const SaveCase saveCases[] {
        { "an instance that never ran",       [&] (Plugin& h) { setPorts (h, saved); } },
        { "an active one that never ran",     [&] (Plugin& h) { setPorts (h, saved); h.activate(); } },
        { "the engine stopped",               [&] (Plugin& h) { setPorts (h, saved); h.activate(); h.run (blockSize); } },
        { "deactivated",                      [&] (Plugin& h) { setPorts (h, saved); h.activate(); h.run (blockSize); h.deactivate(); } },
        // Loaded as Ardour loads: the saved port values, then the state.
        { "straight after loading a project", [&] (Plugin& h) { setPorts (h, saved); h.activate();
                                                                ASSERT_EQ (h.restore (loaded), LV2_STATE_SUCCESS); } },
    };

    for (const auto& c : saveCases)
    {
        SCOPED_TRACE (c.label);

        Plugin host;
        ASSERT_TRUE (host.isReady());
        host.connectAll();
        c.before (host);
        setPorts (host, changed);
        const auto state = host.save();

        for (const auto& [id, value] : expected)
            EXPECT_DOUBLE_EQ (plainValueIn (state, host.uridMap(), id), value) << id;

        // The host saved its ports' values beside the state.
        for (const bool portsFirst : { true, false })
        {
            SCOPED_TRACE (portsFirst ? "reloaded ports first" : "reloaded state first");
            Plugin reloaded;
            ASSERT_TRUE (reloaded.isReady());
            reloaded.connectAll();
            reloaded.activate();

            if (portsFirst)
                setPorts (reloaded, expected);

            ASSERT_EQ (reloaded.restore (state), LV2_STATE_SUCCESS);

            if (! portsFirst)
                setPorts (reloaded, expected);

            reloaded.run (blockSize);

            for (const auto& [id, value] : expected)
                EXPECT_DOUBLE_EQ (reloaded.savedValue (id), value) << id;
        }
    }

    // With nothing changed after loading, the loaded state is what is saved,
    // whatever the ports held before it.
    Plugin host;
    ASSERT_TRUE (host.isReady());
    host.connectAll();
    setPorts (host, changed);
    host.activate();
    ASSERT_EQ (host.restore (loaded), LV2_STATE_SUCCESS);

    for (const auto& [id, value] : saved)
        EXPECT_DOUBLE_EQ (host.savedValue (id), value) << id;
}

// What a restored state sounds like does not depend on the ports it was
// restored over.
TEST (Lv2State, RestoredInstanceRendersTheSavedSettings)
{
    const auto state = stateWith (saved);

    Plugin host ({ 48000.0, BlockLength::int32, blockSize, true, frames });
    ASSERT_TRUE (host.isReady());
    host.connectAll();
    host.activate();
    ASSERT_EQ (host.restore (state), LV2_STATE_SUCCESS);

    runAll (host);
    expectIdentical (host.output(), reference (saved));
}

// A state the plug-in refuses (damaged, or not its own) leaves the ports in
// charge: the values the host put on them apply, and the next save holds
// them. Taking the refused state as applied would leave the defaults playing
// while the host shows the saved values, and save the defaults over them.
TEST (Lv2State, RefusedStateLeavesThePortsInCharge)
{
    const Settings ports { { "chorus_depth", 6.0f }, { "chorus_mix", 3.0f }, { "stereo_proc", 0.0f } };

    const auto text = [] (const juce::MemoryBlock& block) { return block.toBase64Encoding().toStdString(); };
    const auto block = [] (const char* bytes, size_t size) { return juce::MemoryBlock (bytes, size); };
    const char brokenXml[] = "VC2!\x10\0\0\0<ChorusID><PARAM";

    struct Refused { const char* label; std::string value; const char* type; };
    const Refused refused[] {
        { "not a state block",            text (block ("hello", 5)),                       LV2_ATOM__String },
        { "a block of broken XML",        text (block (brokenXml, sizeof (brokenXml))),    LV2_ATOM__String },
        { "a byte count beyond any state", "2000000000.ABCDEFGH",                          LV2_ATOM__String },
        { "a byte count below zero",       "-5.ABCDEFGH",                                  LV2_ATOM__String },
        { "no text at all",               "",                                              LV2_ATOM__String },
        { "another type",                 text (block ("VC2!", 4)),                        LV2_ATOM__Int },
    };

    for (const auto& r : refused)
    {
        SCOPED_TRACE (r.label);

        Plugin host;
        ASSERT_TRUE (host.isReady());
        host.connectAll();

        for (const auto& [id, value] : ports)
            host.setControl (id, value);

        host.activate();

        SavedState state;
        auto& property = state.properties[host.uridMap().map (TESSAMUNE_LV2_URI ":StateString")];
        property.value.assign (r.value.begin(), r.value.end());
        property.value.push_back ('\0');
        property.type = host.uridMap().map (r.type);

        EXPECT_NE (host.restore (state), LV2_STATE_SUCCESS);

        host.run (blockSize);

        for (const auto& [id, value] : ports)
            EXPECT_DOUBLE_EQ (host.savedValue (id), value) << id;
    }
}
