// The plug-in's window in a host, through each format's own way of showing
// it (the VST3's view, the LV2's X11 UI): it opens at the panel's proportions
// and at least the panel's size, and closes again, several times over, with
// the host's message loop running as it does in a DAW.

#include "Hosting.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace juce
{
    // The framework's message pump on Linux (juce_events).
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace
{
    // What a host's message loop does for a while.
    void runMessages (int milliseconds)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds (milliseconds);

        while (std::chrono::steady_clock::now() < end)
        {
            while (juce::dispatchNextMessageOnSystemQueue (true))
                continue;

            std::this_thread::sleep_for (std::chrono::milliseconds (5));
        }
    }
}

TEST (HostedEditor, OpensAndClosesInEitherFormat)
{
    if (juce::Desktop::getInstance().getDisplays().displays.isEmpty())
        GTEST_SKIP() << "needs an X display";

    for (const auto format : { Hosting::Format::vst3, Hosting::Format::lv2 })
    {
        SCOPED_TRACE (Hosting::name (format));
        auto instance = Hosting::load (format);
        ASSERT_NE (instance, nullptr);

        for (int opening = 0; opening < 3; ++opening)
        {
            std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());
            ASSERT_NE (editor, nullptr) << "opening " << opening;

            editor->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
            editor->setVisible (true);
            runMessages (300);

            EXPECT_GE (editor->getWidth(), 370);
            EXPECT_GE (editor->getHeight(), 476);
            EXPECT_NEAR ((double) editor->getWidth() / editor->getHeight(), 370.0 / 476.0, 0.01);

            editor.reset();
            runMessages (50);
        }
    }
}
