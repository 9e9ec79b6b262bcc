#pragma once

#include "Options.h"

namespace render
{
    /** Renders as the options ask: hosts the plug-in's processor, streams the
        input through it block by block, writes the outputs. Prints a one-line
        error to stderr and returns non-zero on failure, leaving no output
        file behind. */
    int run (const Options&);
}
