#include "Options.h"

#include "plugin/FactoryPresets.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace render
{
    namespace
    {
        // The whole text must be a finite number: "5x", "nan" and "" are not.
        bool toNumber (const juce::String& text, double& value)
        {
            const auto s = text.trim();

            if (s.isEmpty())
                return false;

            char* end = nullptr;
            errno = 0;
            value = std::strtod (s.toRawUTF8(), &end);
            return errno == 0 && end != nullptr && *end == '\0' && std::isfinite (value);
        }

        bool knob (const juce::String& name, const juce::String& text, std::optional<float>& into, juce::String& error)
        {
            double v = 0.0;

            if (! toNumber (text, v))
            {
                error = name + " needs a number from 0 to 10, not \"" + text + "\"";
                return false;
            }

            if (v < 0.0 || v > 10.0)
            {
                error = name + " " + text + " is outside 0 to 10 (the knob's range)";
                return false;
            }

            into = (float) v;
            return true;
        }

        bool wholeNumber (const juce::String& text, int lo, int hi, int& into)
        {
            double v = 0.0;

            if (! toNumber (text, v) || v != std::floor (v) || v < lo || v > hi)
                return false;

            into = (int) v;
            return true;
        }
    }

    const char* usage()
    {
        return "usage: tessamune-render [options] [--] [INPUT] OUTPUT\n"
               "\n"
               "Runs the Tessamune chorus over an audio file (WAV, AIFF, FLAC or Ogg Vorbis)\n"
               "and writes a WAV file at the input's sample rate. Without INPUT it renders a\n"
               "built-in demo: a few seconds of plucked-string arpeggios.\n"
               "A mono file comes out stereo (mono in, stereo out), a stereo file stereo.\n"
               "\n"
               "  --depth D             Depth knob, 0 to 10 (plug-in default 0)\n"
               "  --speed S             Speed knob, 0 to 10 (default 0)\n"
               "  --mix M               Mix knob, 0 to 10 (default 10)\n"
               "  --mode mono|stereo    Processing Mode (default stereo)\n"
               "  --preset NAME         start from a factory preset (\"Slow Deep Sweep\"; any\n"
               "                        letter case); --list-presets names them\n"
               "  --off                 chorus switched off (the footswitch)\n"
               "  --bypass              host bypass: the signal passes untouched\n"
               "  --mono-out            keep a mono input mono\n"
               "  --state FILE          load a saved plug-in state first (the bytes a DAW stores)\n"
               "  --save-state FILE     write the plug-in state after the settings are applied\n"
               "  --plot FILE.png       draw the input and output waveforms and the delay time\n"
               "                        of each voice (a 1200 x 800 picture)\n"
               "  --block N             block size in samples (default 512, at most 65536)\n"
               "  --format f32|s24|s16  output samples: 32-bit float (default), 24 or 16-bit\n"
               "  --quiet               print nothing but errors\n"
               "  --list-presets        print the factory presets' names, one a line\n"
               "  --help, --version\n"
               "  --                    end of the options: what follows are file names,\n"
               "                        even if they start with -\n"
               "\n"
               "Options may come before or after the file names, as --name VALUE or\n"
               "--name=VALUE; a VALUE cannot start with -- (write ./--file for such a file).\n"
               "Options override a --preset, and both override what --state loads.\n"
               "\n"
               "Every output (the WAV, the plot, the saved state) is written under a\n"
               "temporary name beside it and moved into place only when all of them are\n"
               "complete. A run that fails or is interrupted changes no file and removes its\n"
               "temporary files. An output that is a link is written where the link leads;\n"
               "a read-only file, a pipe or a device is refused.\n"
               "Exit status: 0 done, 1 the render failed, 2 a mistake on the command line,\n"
               "128 + the signal's number when interrupted (130 for Ctrl-C).\n"
               "\n"
               "Example:\n"
               "  tessamune-render guitar.wav guitar-chorus.wav --depth 6 --speed 3 --plot guitar.png\n";
    }

    bool parse (const juce::StringArray& args, Options& o, juce::String& error)
    {
        juce::StringArray positional;
        bool optionsEnded = false;

        for (int i = 0; i < args.size(); ++i)
        {
            auto arg = args[i];

            // After "--" every argument is a file name, whatever it starts with.
            if (optionsEnded || ! arg.startsWith ("-") || arg == "-")
            {
                positional.add (arg);
                continue;
            }

            if (arg == "--")
            {
                optionsEnded = true;
                continue;
            }

            // --name=value and --name value are both accepted.
            juce::String inlineValue;
            bool hasInlineValue = false;

            if (arg.startsWith ("--") && arg.containsChar ('='))
            {
                inlineValue = arg.fromFirstOccurrenceOf ("=", false, false);
                arg = arg.upToFirstOccurrenceOf ("=", false, false);
                hasInlineValue = true;
            }

            // A value that looks like an option is a forgotten value, as in
            // "--plot --quiet": taking it would write a file named "--quiet".
            // A file whose name starts with "--" can still be given as "./--name".
            const auto value = [&] (juce::String& into)
            {
                if (! hasInlineValue && i + 1 >= args.size())
                {
                    error = arg + " needs a value";
                    return false;
                }

                const auto given = hasInlineValue ? inlineValue : args[i + 1];

                if (given.startsWith ("--"))
                {
                    error = arg + " needs a value, not the option " + given
                            + " (for a file of that name write ./" + given + ")";
                    return false;
                }

                if (! hasInlineValue)
                    ++i;

                into = given;
                return true;
            };

            const auto flag = [&] (bool& into)
            {
                if (hasInlineValue)
                {
                    error = arg + " takes no value";
                    return false;
                }

                into = true;
                return true;
            };

            juce::String v;

            if (arg == "--depth" || arg == "--speed" || arg == "--mix")
            {
                auto& target = arg == "--depth" ? o.depth : arg == "--speed" ? o.speed : o.mix;

                if (! value (v) || ! knob (arg, v, target, error))
                    return false;
            }
            else if (arg == "--mode")
            {
                if (! value (v))
                    return false;

                if (v != "mono" && v != "stereo")
                {
                    error = "--mode must be mono or stereo, not \"" + v + "\"";
                    return false;
                }

                o.stereoMode = v == "stereo";
            }
            else if (arg == "--block")
            {
                if (! value (v))
                    return false;

                if (! wholeNumber (v, 1, maxBlock, o.block))
                {
                    error = "--block needs a whole number of samples from 1 to " + juce::String (maxBlock)
                            + ", not \"" + v + "\"";
                    return false;
                }
            }
            else if (arg == "--format")
            {
                if (! value (v))
                    return false;

                if (v == "f32")       o.format = Options::Format::f32;
                else if (v == "s24")  o.format = Options::Format::s24;
                else if (v == "s16")  o.format = Options::Format::s16;
                else
                {
                    error = "--format must be f32, s24 or s16, not \"" + v + "\"";
                    return false;
                }
            }
            else if (arg == "--state" || arg == "--save-state" || arg == "--plot")
            {
                auto& target = arg == "--state" ? o.stateIn : arg == "--save-state" ? o.stateOut : o.plot;

                if (! value (target))
                    return false;

                if (target.isEmpty())
                {
                    error = arg + " needs a file name";
                    return false;
                }
            }
            else if (arg == "--preset")
            {
                if (! value (v))
                    return false;

                const auto* preset = FactoryPresets::find (v);

                if (preset == nullptr)
                {
                    error = "unknown preset \"" + v + "\" (the presets: " + FactoryPresets::names() + ")";
                    return false;
                }

                o.preset = preset->name;
            }
            else if (arg == "--list-presets") { if (! flag (o.listPresets)) return false; }
            else if (arg == "--off")       { if (! flag (o.off)) return false; }
            else if (arg == "--bypass")    { if (! flag (o.bypass)) return false; }
            else if (arg == "--mono-out")  { if (! flag (o.monoOut)) return false; }
            else if (arg == "--quiet" || arg == "-q") { if (! flag (o.quiet)) return false; }
            else if (arg == "--help" || arg == "-h")  { if (! flag (o.help)) return false; }
            else if (arg == "--version")   { if (! flag (o.version)) return false; }
            else
            {
                error = "unknown option " + arg + " (see --help)";
                return false;
            }
        }

        if (o.help || o.version || o.listPresets)
            return true;

        if (positional.isEmpty())
        {
            error = "no OUTPUT file given (see --help)";
            return false;
        }

        if (positional.size() > 2)
        {
            error = "too many file names: " + positional.joinIntoString (" ") + " (expected [INPUT] OUTPUT)";
            return false;
        }

        o.output = positional[positional.size() - 1];
        o.input = positional.size() == 2 ? positional[0] : juce::String();

        if (o.output.isEmpty() || (positional.size() == 2 && o.input.isEmpty()))
        {
            error = "an empty file name was given";
            return false;
        }

        return true;
    }
}
