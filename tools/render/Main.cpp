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

#ifdef _WIN32
 #ifndef NOMINMAX
  #define NOMINMAX
 #endif
 #include <windows.h>
 #include <shellapi.h>
#endif

int main (int argc, char** argv)
{
    juce::StringArray args;
#ifdef _WIN32
    // argv holds the arguments in the system's ANSI code page, which cannot
    // spell every file name: they are taken from the wide command line.
    (void) argc;
    (void) argv;
    int count = 0;
    if (auto** wide = ::CommandLineToArgvW (::GetCommandLineW(), &count))
    {
        for (int i = 1; i < count; ++i)
            args.add (juce::String (wide[i]));
        ::LocalFree (wide);
    }
#else
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));
#endif

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
