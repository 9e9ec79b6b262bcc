// The editor's zoom in the saved state: an element of its own after the
// parameters, which states without it, and releases that do not know it,
// are not disturbed by.

#include "plugin/Processor.h"
#include "support/StateBlocks.h"

#include <gtest/gtest.h>

namespace
{
    juce::MemoryBlock save (Processor& p)
    {
        juce::MemoryBlock block;
        p.getStateInformation (block);
        return block;
    }

    void load (Processor& p, const juce::MemoryBlock& block)
    {
        p.setStateInformation (block.getData(), (int) block.getSize());
    }

    juce::String documentOf (const juce::MemoryBlock& block)
    {
        return juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int) block.getSize() - 9);
    }

    juce::MemoryBlock blockFor (const juce::String& document)
    {
        return StateBlocks::around (document.toStdString());
    }

    float plainValue (Processor& p, const char* id)
    {
        auto* parameter = p.parameters.getParameter (id);
        return parameter->convertFrom0to1 (parameter->getValue());
    }

    const juce::String parametersAsSaved =
        "<PARAM id=\"chorus_on\" value=\"0.00000000000000000000\"/>"
        "<PARAM id=\"chorus_depth\" value=\"3.30000000000000000000\"/>"
        "<PARAM id=\"chorus_speed\" value=\"7.10000000000000000000\"/>"
        "<PARAM id=\"chorus_mix\" value=\"0.40000000000000000000\"/>"
        "<PARAM id=\"stereo_proc\" value=\"0.00000000000000000000\"/>";

    /** A state as a release before the zoom wrote it, and as this one writes
        it with a zoom of 150%. */
    const juce::String earlierDocument = "<ChorusID>" + parametersAsSaved + "</ChorusID>";
    const juce::String documentWithZoom = "<ChorusID>" + parametersAsSaved + "<EDITOR zoom=\"150\"/></ChorusID>";

    void expectParametersAsSaved (Processor& p)
    {
        EXPECT_EQ (plainValue (p, "chorus_on"), 0.0f);
        EXPECT_FLOAT_EQ (plainValue (p, "chorus_depth"), 3.3f);
        EXPECT_FLOAT_EQ (plainValue (p, "chorus_speed"), 7.1f);
        EXPECT_FLOAT_EQ (plainValue (p, "chorus_mix"), 0.4f);
        EXPECT_EQ (plainValue (p, "stereo_proc"), 0.0f);
    }
}

TEST (EditorZoomState, AChosenZoomIsSavedAfterTheParametersAndRestored)
{
    Processor a;
    load (a, blockFor (earlierDocument));
    a.editorZoom = 1.5;

    const auto block = save (a);
    EXPECT_EQ (documentOf (block), documentWithZoom);

    Processor b;
    load (b, block);
    EXPECT_EQ (b.editorZoom.load(), 1.5);
    expectParametersAsSaved (b);
}

TEST (EditorZoomState, WithoutAChosenZoomTheStateIsWhatEarlierReleasesWrote)
{
    Processor a;
    load (a, blockFor (earlierDocument));
    EXPECT_EQ (a.editorZoom.load(), 0.0);
    EXPECT_EQ (documentOf (save (a)), earlierDocument);
}

TEST (EditorZoomState, AStateWithoutAZoomLeavesTheInstancesAsItWas)
{
    Processor fresh;
    load (fresh, blockFor (earlierDocument));
    EXPECT_EQ (fresh.editorZoom.load(), 0.0);
    expectParametersAsSaved (fresh);

    Processor zoomed;
    zoomed.editorZoom = 2.5;
    load (zoomed, blockFor (earlierDocument));
    EXPECT_EQ (zoomed.editorZoom.load(), 2.5);
    expectParametersAsSaved (zoomed);

    // A damaged block changes nothing either.
    load (zoomed, blockFor ("<ChorusID><EDITOR zoom=\"150\"/>"));
    EXPECT_EQ (zoomed.editorZoom.load(), 2.5);
}

TEST (EditorZoomState, StoredZoomsAreReadIntoTheRange)
{
    struct Case { const char* element; double zoom; };
    const Case cases[] =
    {
        { "<EDITOR zoom=\"200\"/>",            2.0 },
        { "<EDITOR zoom=\"137.5\"/>",          1.375 },
        { "<EDITOR zoom=\"1000\"/>",           3.0 },
        { "<EDITOR zoom=\"50\"/>",             1.0 },
        { "<EDITOR zoom=\"1e999\"/>",          3.0 },
        { "<EDITOR zoom=\"large\"/>",          0.0 },
        { "<EDITOR zoom=\"-150\"/>",           0.0 },
        { "<EDITOR zoom=\"nan\"/>",            0.0 },
        { "<EDITOR zoom=\"\"/>",               0.0 },
        { "<EDITOR size=\"200\"/>",            0.0 },
        { "<editor zoom=\"200\"/>",            0.0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.element);
        Processor p;
        load (p, blockFor ("<ChorusID>" + parametersAsSaved + c.element + "</ChorusID>"));
        EXPECT_EQ (p.editorZoom.load(), c.zoom);
        expectParametersAsSaved (p);
    }
}

TEST (EditorZoomState, WhatTheElementHoldsBesidesAZoomIsWrittenBack)
{
    // A zoom it cannot read stays as it was; anything else the element
    // holds, from a later release say, is kept beside a new zoom.
    Processor p;
    load (p, blockFor ("<ChorusID>" + parametersAsSaved + "<EDITOR zoom=\"large\" theme=\"dark\"/></ChorusID>"));
    EXPECT_EQ (documentOf (save (p)), "<ChorusID>" + parametersAsSaved + "<EDITOR zoom=\"large\" theme=\"dark\"/></ChorusID>");

    p.editorZoom = 2.0;
    EXPECT_EQ (documentOf (save (p)), "<ChorusID>" + parametersAsSaved + "<EDITOR zoom=\"200\" theme=\"dark\"/></ChorusID>");
}

// What a release that knows nothing of the zoom does with a state saved now:
// it reads the parameters, keeps the element and saves it back unchanged.
// This test uses nothing but the state's own interface, so that it can be
// run, as it is, against the code of such a release.
TEST (EditorZoomState, AStateWithAZoomLoadsAndSavesBackUnchanged)
{
    Processor p;
    load (p, blockFor (documentWithZoom));
    expectParametersAsSaved (p);
    EXPECT_EQ (documentOf (save (p)), documentWithZoom);

    // A parameter changed afterwards is saved as ever, the zoom beside it.
    auto* mix = p.parameters.getParameter ("chorus_mix");
    mix->setValueNotifyingHost (mix->convertTo0to1 (5.0f));
    EXPECT_EQ (documentOf (save (p)),
               juce::String (documentWithZoom).replace ("value=\"0.40000000000000000000\"", "value=\"5.00000000000000000000\""));
}
