#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "Hosting.h"

#include <gtest/gtest.h>

#include <cstdlib>

// Hosting needs the framework's message manager on this (the main) thread,
// as in a host application.
int main (int argc, char** argv)
{
    Hosting::keepUserPluginsAway();
    testing::InitGoogleTest (&argc, argv);
    const juce::ScopedJuceInitialiser_GUI framework;

    // The plug-in's editor keeps the zoom the user chose in a settings
    // folder: the run's own, not the user's. And the desktop's scale is 1.
    const auto settings = juce::File::createTempFile ("-settings");
    settings.createDirectory();
    setenv ("XDG_CONFIG_HOME", settings.getFullPathName().toRawUTF8(), 1);
    setenv ("GDK_SCALE", "1", 1);

    const auto result = RUN_ALL_TESTS();
    settings.deleteRecursively();
    return result;
}
