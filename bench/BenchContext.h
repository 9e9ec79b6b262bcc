#pragma once

#include "dsp/ChorusKernels.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

/** Adds to every benchmark program's report the processor's model and the
    instruction set the signal path's kernels chose on it: timings mean
    little without them. */
inline void addMachineContext()
{
    std::ifstream cpuinfo ("/proc/cpuinfo");
    std::string line, model = "unknown";

    while (std::getline (cpuinfo, line))
    {
        if (line.rfind ("model name", 0) == 0 && line.find (':') != std::string::npos)
        {
            model = line.substr (line.find (':') + 2);
            break;
        }
    }

    benchmark::AddCustomContext ("processor", model);
    benchmark::AddCustomContext ("kernels", ChorusKernels::activeTarget());
}

/** BENCHMARK_MAIN with the machine context. */
#define TESSAMUNE_BENCHMARK_MAIN()                                   \
    int main (int argc, char** argv)                                 \
    {                                                                \
        benchmark::Initialize (&argc, argv);                         \
        if (benchmark::ReportUnrecognizedArguments (argc, argv))     \
            return 1;                                                \
        addMachineContext();                                         \
        benchmark::RunSpecifiedBenchmarks();                         \
        benchmark::Shutdown();                                       \
        return 0;                                                    \
    }
