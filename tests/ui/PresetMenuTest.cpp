// The factory presets in the panel's right-click menu: listed as the table
// lists them, the current one ticked, and one chosen set as a change the host
// records as one gesture per parameter, with the audio running on.

#include "plugin/FactoryPresets.h"
#include "plugin/Parameters.h"
#include "plugin/Processor.h"
#include "ui/Editor.h"
#include "ui/UiTestSupport.h"

#include <map>
#include <vector>

namespace
{
    /** What the host hears from the processor while a preset is applied. */
    struct HostRecord : juce::AudioProcessorListener
    {
        explicit HostRecord (juce::AudioProcessor& p) : processor (p) { processor.addListener (this); }
        ~HostRecord() override { processor.removeListener (this); }

        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float) override
        {
            events.push_back ("change " + juce::String (index));
            changedWhileSuspended |= processor.isSuspended();
            changedOutsideGesture |= open[index] == 0;
        }

        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index) override
        {
            events.push_back ("begin " + juce::String (index));
            ++open[index];
        }

        void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index) override
        {
            events.push_back ("end " + juce::String (index));
            --open[index];
        }

        juce::AudioProcessor& processor;
        std::vector<juce::String> events;
        std::map<int, int> open;
        bool changedWhileSuspended = false, changedOutsideGesture = false;
    };

    class PresetMenuTest : public testing::Test
    {
    protected:
        PresetMenuTest()
        {
            processor.prepareToPlay (48000.0, 512);
            editor = std::make_unique<Editor> (processor, processor.parameters);
        }

        /** The menu's preset items: their texts, the ticked ones, and the
            action of each by text. */
        struct Presets
        {
            juce::StringArray texts, ticked;
            std::map<juce::String, std::function<void()>> actions;
            juce::StringArray headers;
        };

        Presets presetItems()
        {
            Presets found;
            const auto menu = editor->createPanelMenu();
            bool inPresets = false;

            for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
            {
                const auto& item = it.getItem();

                if (item.isSectionHeader)
                {
                    found.headers.add (item.text);
                    inPresets = item.text == "Presets";
                    continue;
                }

                if (! inPresets)
                    continue;

                found.texts.add (item.text);
                found.actions[item.text] = item.action;

                if (item.isTicked)
                    found.ticked.add (item.text);
            }

            return found;
        }

        float plainValue (const char* id)
        {
            auto* p = processor.parameters.getParameter (id);
            return p->convertFrom0to1 (p->getValue());
        }

        uitest::ScopedSettingsFolder settings;
        Processor processor;
        std::unique_ptr<Editor> editor;
    };
}

TEST_F (PresetMenuTest, ListsTheTableBeforeTheZoomsAndTicksTheMatchingPreset)
{
    auto items = presetItems();

    juce::StringArray table;
    for (const auto& preset : FactoryPresets::all())
        table.add (preset.name);

    EXPECT_EQ (items.headers, juce::StringArray ({ "Presets", "Zoom" }));
    EXPECT_EQ (items.texts, table);
    // The plug-in opens at its defaults, the first preset.
    EXPECT_EQ (items.ticked, juce::StringArray ({ FactoryPresets::all()[0].name }));

    // Settings that are no preset tick none; a preset's settings, however
    // they were reached, tick it.
    auto* depth = processor.parameters.getParameter (ParameterIDs::chorusDepth);
    depth->setValueNotifyingHost (depth->convertTo0to1 (3.3f));
    EXPECT_TRUE (presetItems().ticked.isEmpty());

    const auto& other = FactoryPresets::all()[4];
    for (size_t i = 0; i < other.values.size(); ++i)
    {
        auto* p = processor.parameters.getParameter (ParameterIDs::all[i]);
        p->setValueNotifyingHost (p->convertTo0to1 (other.values[i]));
    }
    EXPECT_EQ (presetItems().ticked, juce::StringArray ({ other.name }));
}

TEST_F (PresetMenuTest, ChoosingEachPresetSetsItsValuesInOneGesturePerParameterWithoutSuspending)
{
    // From the last preset back to the first, so that every value changes
    // at least once along the way.
    for (auto i = FactoryPresets::all().size(); i > 0; --i)
    {
        const auto& preset = FactoryPresets::all()[i - 1];
        SCOPED_TRACE (preset.name);

        auto action = presetItems().actions[preset.name];
        ASSERT_TRUE (action != nullptr);

        HostRecord record (processor);
        action();

        for (size_t p = 0; p < preset.values.size(); ++p)
            EXPECT_EQ (plainValue (ParameterIDs::all[p]), preset.values[p]) << ParameterIDs::all[p];

        // Every parameter's gesture opened and closed once, every change
        // inside its gesture, none while the processor held the audio.
        std::map<int, int> begins, ends;
        for (const auto& e : record.events)
        {
            if (e.startsWith ("begin")) ++begins[e.getTrailingIntValue()];
            if (e.startsWith ("end"))   ++ends[e.getTrailingIntValue()];
        }

        EXPECT_EQ (begins, (std::map<int, int> { { 0, 1 }, { 1, 1 }, { 2, 1 }, { 3, 1 }, { 4, 1 } }));
        EXPECT_EQ (ends, begins);
        EXPECT_FALSE (record.changedOutsideGesture);
        EXPECT_FALSE (record.changedWhileSuspended);
        EXPECT_EQ (presetItems().ticked, juce::StringArray ({ preset.name }));
    }
}
