#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "Hosting.h"

#include <gtest/gtest.h>

// Hosting needs the framework's message manager on this (the main) thread,
// as in a host application.
int main (int argc, char** argv)
{
    Hosting::keepUserPluginsAway();
    testing::InitGoogleTest (&argc, argv);
    const juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
