// The zoom the user chose last: which zoom a new window opens at, the
// settings file it is kept in, and files that are missing or damaged.

#include "plugin/Processor.h"
#include "ui/Editor.h"
#include "ui/RememberedZoom.h"
#include "ui/UiTestSupport.h"

namespace
{
    /** An editor on a processor of its own: a new instance's window. */
    struct Window
    {
        Window() : editor (processor, processor.parameters) {}

        Processor processor;
        Editor editor;
    };

    void write (const juce::File& file, const std::string& bytes)
    {
        file.getParentDirectory().createDirectory();
        file.replaceWithData (bytes.data(), bytes.size());
    }

    std::string repeated (const std::string& text, int times)
    {
        std::string result;

        for (int i = 0; i < times; ++i)
            result += text;

        return result;
    }

    std::string settingsWithZoom (const std::string& value)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>\n  <VALUE name=\"zoom\" val=\"" + value
             + "\"/>\n</PROPERTIES>\n";
    }
}

TEST (RememberedZoom, ANewWindowOpensAtTheZoomChosenLast)
{
    uitest::ScopedSettingsFolder settings;

    {
        Window first;
        EXPECT_EQ (first.editor.getZoom(), 1.0);
        first.editor.setZoom (1.5);

        // In the same process at once, before anything is written.
        Window second;
        EXPECT_EQ (second.editor.getZoom(), 1.5);
        second.editor.setZoom (2.0);

        Window third;
        EXPECT_EQ (third.editor.getZoom(), 2.0);
    }

    // Written when the last window closed, in the framework's properties form.
    const auto written = juce::parseXML (settings.settingsFile());
    ASSERT_NE (written, nullptr);
    EXPECT_TRUE (written->hasTagName ("PROPERTIES"));
    ASSERT_NE (written->getChildByAttribute ("name", "zoom"), nullptr);
    EXPECT_EQ (written->getChildByAttribute ("name", "zoom")->getStringAttribute ("val"), "200");

    // What a program started later reads.
    Window later;
    EXPECT_EQ (later.editor.getZoom(), 2.0);
}

TEST (RememberedZoom, IsWrittenAMomentAfterTheChoice)
{
    uitest::ScopedSettingsFolder settings;
    Window window;

    // A window dragged larger step by step.
    {
        const uitest::ScopedButtonHeldOutside dragging;

        for (int width = 400; width <= 555; width += 5)
            window.editor.setSize (width, 2000);
    }

    EXPECT_FALSE (settings.settingsFile().exists());
    uitest::pumpMessages (RememberedZoom::writeDelayMs + 300);
    ASSERT_TRUE (settings.settingsFile().existsAsFile());
    EXPECT_TRUE (settings.settingsFile().loadFileAsString().contains ("val=\"150\""));
}

TEST (RememberedZoom, TheInstancesOwnZoomComesFirst)
{
    uitest::ScopedSettingsFolder settings;
    write (settings.settingsFile(), settingsWithZoom ("200"));

    Processor processor;
    processor.editorZoom = 1.25;
    Editor editor (processor, processor.parameters);
    EXPECT_EQ (editor.getZoom(), 1.25);

    // Opening at the remembered zoom is not a choice for the instance.
    Window other;
    EXPECT_EQ (other.editor.getZoom(), 2.0);
    EXPECT_EQ (other.processor.editorZoom.load(), 0.0);
}

TEST (RememberedZoom, AMissingUnreadableOrDamagedFileIsNoChoice)
{
    struct Case { const char* name; std::string contents; bool isFolder = false; };
    const Case cases[] =
    {
        { "missing",                 {} },
        { "empty",                   "" },
        { "not XML",                 "zoom=200\n" },
        { "cut short",               settingsWithZoom ("200").substr (0, 60) },
        { "another root",            "<SETTINGS><VALUE name=\"zoom\" val=\"200\"/></SETTINGS>" },
        { "no zoom in it",           "<PROPERTIES><VALUE name=\"other\" val=\"200\"/></PROPERTIES>" },
        { "zoom not a number",       settingsWithZoom ("large") },
        { "zoom negative",           settingsWithZoom ("-200") },
        { "zoom NaN",                settingsWithZoom ("nan") },
        { "zoom empty",              settingsWithZoom ("") },
        { "not UTF-8",               "<PROPERTIES><VALUE name=\"zoom\" val=\"2\xff\xfe\"/></PROPERTIES>" },
        { "a document type",         "<!DOCTYPE PROPERTIES [<!ENTITY z \"200\">]><PROPERTIES><VALUE name=\"zoom\" val=\"&z;\"/></PROPERTIES>" },
        { "nested too deep",         "<PROPERTIES>" + repeated ("<VALUE>", 200) },
        { "larger than any setting", "<PROPERTIES>" + std::string (70 * 1024, ' ') + "<VALUE name=\"zoom\" val=\"200\"/></PROPERTIES>" },
        { "a folder in its place",   {}, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        uitest::ScopedSettingsFolder settings;
        const auto file = settings.settingsFile();

        if (c.isFolder)
            write (file.getChildFile ("something"), "x");
        else if (juce::String (c.name) != "missing")
            write (file, c.contents);

        EXPECT_FALSE (RememberedZoom().recall().has_value());

        {
            Window window;
            EXPECT_EQ (window.editor.getZoom(), 1.0);

            // The next choice replaces a damaged file with a good one.
            window.editor.setZoom (1.5);
        }

        const auto written = c.isFolder ? file.getChildFile ("something").existsAsFile()
                                        : file.loadFileAsString().contains ("val=\"150\"");
        EXPECT_TRUE (written);

        // Where nothing could be written, the choice went with the windows.
        Window next;
        EXPECT_EQ (next.editor.getZoom(), c.isFolder ? 1.0 : 1.5);
    }
}

TEST (RememberedZoom, ReadsAnyPositiveNumberIntoTheZoomsRange)
{
    struct Case { const char* text; double zoom; };
    const Case cases[] =
    {
        { "150",    1.5 },
        { "137.5",  1.375 },
        { " 250 ",  2.5 },
        { "50",     1.0 },
        { "1000",   3.0 },
        { "1e999",  3.0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text);
        uitest::ScopedSettingsFolder settings;
        write (settings.settingsFile(), settingsWithZoom (c.text));
        EXPECT_EQ (RememberedZoom().recall(), c.zoom);
    }
}

TEST (RememberedZoom, KeepsTheFilesOtherSettings)
{
    uitest::ScopedSettingsFolder settings;
    write (settings.settingsFile(),
           "<PROPERTIES><VALUE name=\"theme\" val=\"dark\"/><VALUE name=\"zoom\" val=\"125\"/></PROPERTIES>");

    RememberedZoom zoom;
    zoom.remember (3.0);
    zoom.flush();

    const auto written = juce::parseXML (settings.settingsFile());
    ASSERT_NE (written, nullptr);
    EXPECT_EQ (written->getChildByAttribute ("name", "theme")->getStringAttribute ("val"), "dark");
    EXPECT_EQ (written->getChildByAttribute ("name", "zoom")->getStringAttribute ("val"), "300");
    EXPECT_EQ (written->getNumChildElements(), 2);
}

TEST (RememberedZoom, WithoutAWritableFolderTheChoiceLastsAsLongAsTheProcess)
{
    uitest::ScopedSettingsFolder settings;

    // The settings folder's place is taken by a file.
    const auto blocked = settings.folder.getChildFile ("not-a-folder");
    blocked.replaceWithText ("x");
    const uitest::ScopedEnvironment environment ("XDG_CONFIG_HOME", blocked.getFullPathName());

    Window first;
    first.editor.setZoom (2.0);

    Window second;
    EXPECT_EQ (second.editor.getZoom(), 2.0);

    RememberedZoom().flush();
    EXPECT_TRUE (blocked.existsAsFile());
}

TEST (RememberedZoom, LivesWhereTheDesktopKeepsSettings)
{
    {
        const uitest::ScopedEnvironment environment ("XDG_CONFIG_HOME", "/somewhere/config");
        EXPECT_EQ (RememberedZoom::settingsFile().getFullPathName(), "/somewhere/config/Quorvellin/Tessamune.settings");
    }

    // Without the variable, or with one that is not an absolute path.
    for (const auto* value : { "", "relative/config" })
    {
        SCOPED_TRACE (value);
        const uitest::ScopedEnvironment environment ("XDG_CONFIG_HOME", value);
        EXPECT_EQ (RememberedZoom::settingsFile(),
                   juce::File::getSpecialLocation (juce::File::userHomeDirectory)
                       .getChildFile (".config/Quorvellin/Tessamune.settings"));
    }
}
