#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

// The parameter tree and the editor need the framework's message-thread
// support to exist; the tests drive it from this thread.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
