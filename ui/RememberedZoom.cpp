#include "ui/RememberedZoom.h"

#include "plugin/EditorZoom.h"
#include "plugin/State.h"

namespace
{
    // The framework's properties-file form, so that the file stays readable
    // by anything that reads those.
    constexpr const char* fileTag = "PROPERTIES";
    constexpr const char* valueTag = "VALUE";
    constexpr const char* nameAttribute = "name";
    constexpr const char* valueAttribute = "val";
    constexpr const char* zoomName = "zoom";

    // Far more than the file ever holds; anything larger is not ours.
    constexpr juce::int64 maximumFileBytes = 64 * 1024;

    std::unique_ptr<juce::XmlElement> readSettings (const juce::File& file)
    {
        if (! file.existsAsFile() || file.getSize() > maximumFileBytes)
            return {};

        juce::MemoryBlock data;

        if (! file.loadFileAsData (data))
            return {};

        auto settings = StateBlock::readDocument (static_cast<const char*> (data.getData()), data.getSize());

        if (settings == nullptr || ! settings->hasTagName (fileTag))
            return {};

        return settings;
    }

    juce::XmlElement* zoomEntry (juce::XmlElement& settings)
    {
        for (auto* entry : settings.getChildWithTagNameIterator (valueTag))
            if (entry->getStringAttribute (nameAttribute) == zoomName)
                return entry;

        return nullptr;
    }

    std::optional<double> zoomIn (juce::XmlElement& settings)
    {
        if (const auto* entry = zoomEntry (settings))
            return EditorZoom::fromText (entry->getStringAttribute (valueAttribute));

        return {};
    }

    // Replaces the file whole, through a temporary file beside it: another
    // program reading it meanwhile sees the old one or the new one.
    void writeSettings (const juce::File& file, double zoom)
    {
        auto settings = readSettings (file);

        if (settings == nullptr)
            settings = std::make_unique<juce::XmlElement> (fileTag);

        auto* entry = zoomEntry (*settings);

        if (entry == nullptr)
        {
            entry = settings->createNewChildElement (valueTag);
            entry->setAttribute (nameAttribute, zoomName);
        }

        entry->setAttribute (valueAttribute, EditorZoom::toText (zoom));

        // Something else in its place is left alone.
        if (file.isDirectory() || ! file.getParentDirectory().createDirectory())
            return;

        juce::TemporaryFile temporary (file);

        {
            juce::FileOutputStream out (temporary.getFile());

            if (! out.openedOk())
                return;

            settings->writeTo (out, {});
            out.flush();

            if (out.getStatus().failed())
                return;
        }

        temporary.overwriteTargetFileWithTemporary();
    }
}

//==============================================================================
class RememberedZoom::Store : private juce::Timer
{
public:
    ~Store() override
    {
        flush();
    }

    std::optional<double> recall()
    {
        JUCE_ASSERT_MESSAGE_THREAD

        if (pending.has_value())
            return pending;

        // Read each time: another program may have chosen since.
        if (auto settings = readSettings (settingsFile()))
            return zoomIn (*settings);

        return {};
    }

    void remember (double zoom)
    {
        JUCE_ASSERT_MESSAGE_THREAD

        pending = juce::jlimit (EditorZoom::minimum, EditorZoom::maximum, zoom);
        startTimer (writeDelayMs);
    }

    void flush()
    {
        JUCE_ASSERT_MESSAGE_THREAD

        stopTimer();

        if (const auto zoom = std::exchange (pending, std::nullopt))
            writeSettings (settingsFile(), *zoom);
    }

private:
    void timerCallback() override
    {
        flush();
    }

    std::optional<double> pending;
};

//==============================================================================
RememberedZoom::RememberedZoom() = default;
RememberedZoom::~RememberedZoom() = default;

std::optional<double> RememberedZoom::recall()
{
    return store->recall();
}

void RememberedZoom::remember (double zoom)
{
    store->remember (zoom);
}

void RememberedZoom::flush()
{
    store->flush();
}

juce::File RememberedZoom::settingsFile()
{
    // The base directory specification takes an absolute path only.
    const auto configured = juce::SystemStats::getEnvironmentVariable ("XDG_CONFIG_HOME", {});
    const auto base = juce::File::isAbsolutePath (configured)
                          ? juce::File (configured)
                          : juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile (".config");

    return base.getChildFile ("Quorvellin").getChildFile ("Tessamune.settings");
}
