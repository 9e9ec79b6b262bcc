/*
    startup_bench: how fast instances of the built plug-in come up, as a host
    opening a session with many of them would see it.

    startup_bench [--runs N] [--instances K] [--lv2 BINARY]... [--vst3 MODULE]...

    For each binary given (several may be, for instance another maker's
    LV2 as a reference measured in the same run), N times over, a fresh process (forked before the
    plug-in's binary is touched) loads the binary, then brings up K
    instances one after the other, each ready to process: for the LV2,
    instantiate (with the URID map and the block-length options a typical
    host offers) and activate; for the VST3, the component and its edit
    controller created and initialised, the processing set up for 48 kHz and
    stereo, and the component activated. The process reports, in
    milliseconds of wall time:

      load     loading the binary and reaching its entry point
      first    the first instance (what the first insert costs, load included)
      further  the mean of each further instance (each insert after that)

    and the benchmark prints the median and the largest of each over the N
    processes, with the median number of page faults each took (memory the
    process touched for the first time: a large part of the cost, and a
    count that does not depend on how busy the machine is). The page cache
    is warm after the first run, as it is for a host that has scanned its
    plug-ins.

    The host here is the program's own, without the framework, so that the
    figures are the plug-in's: the VST3 through the SDK's interfaces only.
*/

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace Steinberg::Vst
{
    DEF_CLASS_IID (IComponent)
    DEF_CLASS_IID (IAudioProcessor)
    DEF_CLASS_IID (IEditController)
}

namespace
{
    using Clock = std::chrono::steady_clock;

    double millisecondsSince (Clock::time_point start)
    {
        return std::chrono::duration<double, std::milli> (Clock::now() - start).count();
    }

    struct Figures
    {
        double load = 0, first = 0, further = 0;
        double loadFaults = 0, firstFaults = 0, furtherFaults = 0;
    };

    long pageFaults()
    {
        rusage usage {};
        getrusage (RUSAGE_SELF, &usage);
        return usage.ru_minflt + usage.ru_majflt;
    }

    // The first instance counts with the load; each further one as a share
    // of their mean.
    void count (Figures& figures, int index, int instances, double milliseconds, double faults)
    {
        if (index == 0)
        {
            figures.first = figures.load + milliseconds;
            figures.firstFaults = figures.loadFaults + faults;
        }
        else
        {
            figures.further += milliseconds / (instances - 1);
            figures.furtherFaults += faults / (instances - 1);
        }
    }

    //==========================================================================
    class UridMap
    {
    public:
        static LV2_URID map (LV2_URID_Map_Handle handle, const char* uri)
        {
            auto& uris = static_cast<UridMap*> (handle)->uris;

            for (size_t i = 0; i < uris.size(); ++i)
                if (uris[i] == uri)
                    return (LV2_URID) i + 1;

            uris.emplace_back (uri);
            return (LV2_URID) uris.size();
        }

        LV2_URID_Map feature { this, map };

    private:
        std::vector<std::string> uris;
    };

    // The plug-in's binary loaded as hosts load it, or nullptr (and why).
    void* openLibrary (const char* path)
    {
        auto* library = dlopen (path, RTLD_NOW | RTLD_LOCAL);

        if (library == nullptr)
            std::fprintf (stderr, "%s\n", dlerror());

        return library;
    }

    bool measureLv2 (const char* binary, int instances, Figures& figures)
    {
        const auto faultsAtStart = pageFaults();
        const auto start = Clock::now();
        auto* library = openLibrary (binary);

        if (library == nullptr)
            return false;

        using Entry = const LV2_Descriptor* (*) (uint32_t);
        const auto entry = reinterpret_cast<Entry> (dlsym (library, "lv2_descriptor"));
        const auto* descriptor = entry != nullptr ? entry (0) : nullptr;

        if (descriptor == nullptr)
            return false;

        figures.load = millisecondsSince (start);
        figures.loadFaults = (double) (pageFaults() - faultsAtStart);

        UridMap urids;
        int32_t maxBlock = 1024, nominal = 256;
        const auto atomInt = UridMap::map (&urids, LV2_ATOM__Int);
        const LV2_Options_Option options[] {
            { LV2_OPTIONS_INSTANCE, 0, UridMap::map (&urids, LV2_BUF_SIZE__maxBlockLength), sizeof (int32_t), atomInt, &maxBlock },
            { LV2_OPTIONS_INSTANCE, 0, UridMap::map (&urids, LV2_BUF_SIZE__nominalBlockLength), sizeof (int32_t), atomInt, &nominal },
            { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr }
        };
        const LV2_Feature map { LV2_URID__map, &urids.feature };
        const LV2_Feature optionList { LV2_OPTIONS__options, const_cast<LV2_Options_Option*> (options) };
        const LV2_Feature bounded { LV2_BUF_SIZE__boundedBlockLength, nullptr };
        const LV2_Feature* const features[] { &map, &optionList, &bounded, nullptr };

        std::vector<LV2_Handle> handles;

        for (int i = 0; i < instances; ++i)
        {
            const auto faultsBefore = pageFaults();
            const auto begin = Clock::now();
            auto* handle = descriptor->instantiate (descriptor, 48000.0, "", features);

            if (handle == nullptr)
                return false;

            if (descriptor->activate != nullptr)
                descriptor->activate (handle);

            const auto took = millisecondsSince (begin);
            const auto faults = (double) (pageFaults() - faultsBefore);
            handles.push_back (handle);
            count (figures, i, instances, took, faults);
        }

        for (auto* handle : handles)
        {
            if (descriptor->deactivate != nullptr)
                descriptor->deactivate (handle);

            descriptor->cleanup (handle);
        }

        return true;
    }

    //==========================================================================
    using namespace Steinberg;

    bool measureVst3 (const char* module, int instances, Figures& figures)
    {
        const auto faultsAtStart = pageFaults();
        const auto start = Clock::now();
        auto* library = openLibrary (module);

        if (library == nullptr)
            return false;

        using ModuleEntry = bool (*) (void*);
        using GetFactory = IPluginFactory* (*)();

        if (auto entry = reinterpret_cast<ModuleEntry> (dlsym (library, "ModuleEntry")); entry == nullptr || ! entry (library))
            return false;

        const auto getFactory = reinterpret_cast<GetFactory> (dlsym (library, "GetPluginFactory"));
        auto* factory = getFactory != nullptr ? getFactory() : nullptr;

        if (factory == nullptr)
            return false;

        PClassInfo effect {};
        bool found = false;

        for (int32 i = 0; i < factory->countClasses() && ! found; ++i)
            if (factory->getClassInfo (i, &effect) == kResultOk && std::strcmp (effect.category, kVstAudioEffectClass) == 0)
                found = true;

        if (! found)
            return false;

        figures.load = millisecondsSince (start);
        figures.loadFaults = (double) (pageFaults() - faultsAtStart);

        struct Instance
        {
            Vst::IComponent* component = nullptr;
            Vst::IAudioProcessor* processor = nullptr;
            Vst::IEditController* controller = nullptr;
        };

        std::vector<Instance> made;

        for (int i = 0; i < instances; ++i)
        {
            const auto faultsBefore = pageFaults();
            const auto begin = Clock::now();
            Instance instance;

            if (factory->createInstance (effect.cid, Vst::IComponent::iid, (void**) &instance.component) != kResultOk
                || instance.component->initialize (nullptr) != kResultOk
                || instance.component->queryInterface (Vst::IAudioProcessor::iid, (void**) &instance.processor) != kResultOk)
                return false;

            TUID controllerId {};

            if (instance.component->getControllerClassId (controllerId) == kResultOk
                && factory->createInstance (controllerId, Vst::IEditController::iid, (void**) &instance.controller) == kResultOk)
                instance.controller->initialize (nullptr);

            Vst::SpeakerArrangement stereo = Vst::SpeakerArr::kStereo;
            instance.processor->setBusArrangements (&stereo, 1, &stereo, 1);
            instance.component->activateBus (Vst::kAudio, Vst::kInput, 0, true);
            instance.component->activateBus (Vst::kAudio, Vst::kOutput, 0, true);

            Vst::ProcessSetup setup { Vst::kRealtime, Vst::kSample32, 1024, 48000.0 };
            instance.processor->setupProcessing (setup);
            instance.component->setActive (true);

            const auto took = millisecondsSince (begin);
            const auto faults = (double) (pageFaults() - faultsBefore);
            made.push_back (instance);
            count (figures, i, instances, took, faults);
        }

        for (auto& instance : made)
        {
            instance.component->setActive (false);

            if (instance.controller != nullptr)
            {
                instance.controller->terminate();
                instance.controller->release();
            }

            instance.processor->release();
            instance.component->terminate();
            instance.component->release();
        }

        return true;
    }

    //==========================================================================
    // Runs measure in a fresh child process and reads its figures back.
    template <typename Measure>
    bool inFreshProcess (Measure&& measure, Figures& figures)
    {
        int pipeEnds[2];

        if (pipe (pipeEnds) != 0)
            return false;

        const auto child = fork();

        if (child == 0)
        {
            close (pipeEnds[0]);
            Figures mine;
            const auto ok = measure (mine);
            const auto written = ok ? write (pipeEnds[1], &mine, sizeof mine) : 0;
            _exit (written == (ssize_t) sizeof mine ? 0 : 1);
        }

        close (pipeEnds[1]);
        const auto got = read (pipeEnds[0], &figures, sizeof figures);
        close (pipeEnds[0]);

        int status = 0;
        waitpid (child, &status, 0);
        return child > 0 && got == (ssize_t) sizeof figures && WIFEXITED (status) && WEXITSTATUS (status) == 0;
    }

    void report (const char* format, std::vector<Figures> runs)
    {
        const auto sorted = [&] (double Figures::*field)
        {
            std::vector<double> values;

            for (const auto& r : runs)
                values.push_back (r.*field);

            std::sort (values.begin(), values.end());
            return values;
        };

        const auto line = [&] (const char* label, double Figures::*time, double Figures::*faults)
        {
            const auto times = sorted (time);
            std::printf ("%-5s %-8s median %7.3f ms   largest %7.3f ms   page faults %6.0f\n",
                         format, label, times[times.size() / 2], times.back(), sorted (faults)[times.size() / 2]);
        };

        line ("load", &Figures::load, &Figures::loadFaults);
        line ("first", &Figures::first, &Figures::firstFaults);
        line ("further", &Figures::further, &Figures::furtherFaults);
    }
}

int main (int argc, char** argv)
{
    int runs = 21, instances = 8;
    std::vector<std::pair<std::string, std::string>> binaries;   // format, path

    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string option = argv[i];

        if (option == "--runs")            runs = std::max (1, std::atoi (argv[i + 1]));
        else if (option == "--instances")  instances = std::max (2, std::atoi (argv[i + 1]));
        else if (option == "--lv2")        binaries.emplace_back ("LV2", argv[i + 1]);
        else if (option == "--vst3")       binaries.emplace_back ("VST3", argv[i + 1]);
        else
        {
            std::fprintf (stderr, "usage: startup_bench [--runs N] [--instances K] [--lv2 BINARY]... [--vst3 MODULE]...\n");
            return 2;
        }
    }

    if (binaries.empty())
    {
        std::fprintf (stderr, "startup_bench: name an LV2 binary (--lv2) or a VST3 module (--vst3)\n");
        return 2;
    }

    std::printf ("%d fresh processes per binary, %d instances in each\n", runs, instances);

    for (const auto& [format, binary] : binaries)
    {
        const auto measure = format == "LV2" ? measureLv2 : measureVst3;
        std::vector<Figures> results;

        for (int r = 0; r < runs; ++r)
        {
            Figures figures;

            if (! inFreshProcess ([&] (Figures& f) { return measure (binary.c_str(), instances, f); }, figures))
            {
                std::fprintf (stderr, "startup_bench: %s did not come up\n", binary.c_str());
                return 1;
            }

            results.push_back (figures);
        }

        std::printf ("%s\n", binary.c_str());
        report (format.c_str(), results);
    }

    return 0;
}
