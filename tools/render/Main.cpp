/*
    tessamune-render: the Tessamune chorus without a DAW. Hosts the plug-in's
    processor as a host does and runs an audio file (or a built-in demo)
    through it; see --help.
*/

#include "Options.h"
#include "Render.h"

#include "plugin/FactoryPresets.h"

#include <juce_events/juce_events.h>

#include <iostream>

int main (int argc, char** argv)
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    render::Options options;
    juce::String error;

    if (! render::parse (args, options, error))
    {
        std::cerr << "tessamune-render: " << error << "\n";
        return 2;
    }

    if (options.help)
    {
        std::cout << render::usage();
        return 0;
    }

    if (options.listPresets)
    {
        for (const auto& preset : FactoryPresets::all())
            std::cout << preset.name << "\n";

        return 0;
    }

    if (options.version)
    {
        std::cout << "tessamune-render " << JucePlugin_VersionString << "\n";
        return 0;
    }

    // The processor's parameter tree needs the framework's message support.
    const juce::ScopedJuceInitialiser_GUI framework;
    return render::run (options);
}
