#pragma once

#include <juce_events/juce_events.h>

#include <optional>

/**
    The zoom the user chose last, kept for the user across sessions and
    programs, so that a new editor opens at it.

    It lives in a settings file of the user's, where desktop applications
    keep theirs: $XDG_CONFIG_HOME/Quorvellin/Tessamune.settings, or
    ~/.config/Quorvellin/Tessamune.settings where that variable is not set,
    in the XML form of the framework's properties files:

        <PROPERTIES><VALUE name="zoom" val="200"/></PROPERTIES>

    (the zoom in per cent). Entries it does not know are kept.

    The editors of a process share one store. A choice is written a moment
    after it is made, so that a window dragged larger writes once rather than
    at every step, and at the latest when the last editor closes; until then
    the process recalls it from memory. A missing, unreadable or damaged file
    reads as no choice and is replaced by a good one at the next choice; a
    file that cannot be written only means the choice is forgotten when the
    process ends. The file is read with the same bounds as a saved state.

    Message thread only.
*/
class RememberedZoom
{
public:
    RememberedZoom();
    ~RememberedZoom();

    /** The zoom chosen last, in this process or in the settings file; nothing
        if none was, or the file cannot be read or makes no sense. */
    std::optional<double> recall();

    /** Keeps a zoom the user has just chosen. */
    void remember (double zoom);

    /** Writes a choice not written yet at once. */
    void flush();

    /** Where the setting is kept, from the environment as it is now. */
    static juce::File settingsFile();

    /** How long after a choice it is written, in milliseconds. */
    static constexpr int writeDelayMs = 500;

private:
    class Store;
    juce::SharedResourcePointer<Store> store;

    JUCE_DECLARE_NON_COPYABLE (RememberedZoom)
};
