#pragma once

#include "Options.h"

namespace render
{
    /** Renders as the options ask: hosts the plug-in's processor, streams the
        input through it block by block, writes the outputs. On failure prints
        a one-line error to stderr and returns 1, or 128 + the signal's number
        when SIGINT, SIGTERM or SIGHUP stopped it; either way no file has
        changed and no temporary file is left. */
    int run (const Options&);
}
