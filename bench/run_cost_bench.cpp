/*
    run_cost_bench [--lv2 BINARY] [--floor BINARY] [--rounds N] [--seconds S] [--blocks B,B,...]
                   [--as-lv2bench 1] [--against BINARY]

    What a run of the LV2 costs on its own, apart from what each frame costs:
    the plug-in's binary loaded as hosts load it, stereo at 48 kHz, chorus
    on, depth 5, speed 5, mix 10, run over blocks of 16 to 1024 frames with
    its buffers connected three ways:

      in place   each port a buffer of its own (as most hosts connect them);
      aliased    both inputs on one buffer and both outputs on another (as
                 lilv's lv2bench connects them): the outputs overlap;
      crossed    each output on the other channel's input.

    With --as-lv2bench 1, the settings are the ports' defaults (depth 0,
    speed 0) and the input is silence, as lv2bench runs every plug-in.

    With --against, a second build of the LV2 (an earlier one, say) runs in
    the same passes too, each connection of it labelled with a '.

    With --floor, lv2host's plain C floor chorus (floor/bundles/floor.lv2/
    floor.so, depth 1, speed 0.5, mix 0.5) runs in the same passes, buffers
    of its own, and each figure is also given as a multiple of it.

    Every pass runs S seconds of audio through one instance at
    one block length (default 20, a few milliseconds of CPU); the host fills each input port from a fixed noise
    signal before each run, the same work for every connection. Passes are
    interleaved, every connection and block length once a round, the order
    rotated each round, for N rounds (default 31); the time is the
    process's CPU time. For each connection and round, the nanoseconds per
    frame at each block length are fitted as perRun / block + perFrame
    (least squares); the medians over rounds are printed, with the median
    nanoseconds per frame at each block length and the load of the machine.
*/

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace
{
    constexpr double rate = 48000.0;
    constexpr uint32_t longestBlock = 1024;

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

    const LV2_Descriptor* load (const std::string& path)
    {
        auto* library = dlopen (path.c_str(), RTLD_NOW | RTLD_LOCAL);

        if (library == nullptr)
        {
            std::fprintf (stderr, "%s\n", dlerror());
            return nullptr;
        }

        using Entry = const LV2_Descriptor* (*) (uint32_t);
        const auto entry = reinterpret_cast<Entry> (dlsym (library, "lv2_descriptor"));
        return entry != nullptr ? entry (0) : nullptr;
    }

    double wallSeconds()
    {
        timespec t {};
        clock_gettime (CLOCK_MONOTONIC, &t);
        return (double) t.tv_sec + 1e-9 * (double) t.tv_nsec;
    }

    double cpuSeconds()
    {
        timespec t {};
        clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &t);
        return (double) t.tv_sec + 1e-9 * (double) t.tv_nsec;
    }

    enum class Connection { inPlace, aliased, crossed };

    /** One instance and the buffers it is connected to. */
    struct Subject
    {
        std::string label;
        const LV2_Descriptor* descriptor = nullptr;
        LV2_Handle handle = nullptr;
        std::vector<std::pair<uint32_t, float>> controls;   // port, value
        std::vector<float> values;
        alignas (64) float buffers[4][longestBlock] {};
        float* inputs[2] {};
        volatile float sink = 0.0f;

        void connect (Connection how, uint32_t firstControl)
        {
            float* in0 = buffers[0];
            float* in1 = buffers[1];
            float* out0 = buffers[2];
            float* out1 = buffers[3];

            if (how == Connection::aliased)
            {
                in1 = in0;
                out1 = out0;
            }
            else if (how == Connection::crossed)
            {
                out0 = in1;
                out1 = in0;
            }

            inputs[0] = in0;
            inputs[1] = in1;
            const float* ports[] = { in0, in1, out0, out1 };

            for (uint32_t p = 0; p < 4; ++p)
                descriptor->connect_port (handle, p, const_cast<float*> (ports[p]));

            values.resize (controls.size());

            for (size_t c = 0; c < controls.size(); ++c)
            {
                values[c] = controls[c].second;
                descriptor->connect_port (handle, controls[c].first, &values[c]);
            }

            (void) firstControl;
        }
    };

    double median (std::vector<double> v)
    {
        std::sort (v.begin(), v.end());
        const auto n = v.size();
        return n == 0 ? 0.0 : n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
    }

    /** ns per frame = perRun / block + perFrame, by least squares. */
    std::pair<double, double> fit (const std::vector<uint32_t>& blocks, const std::vector<double>& nsPerFrame)
    {
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        const auto n = (double) blocks.size();

        for (size_t i = 0; i < blocks.size(); ++i)
        {
            const double x = 1.0 / blocks[i], y = nsPerFrame[i];
            sx += x; sy += y; sxx += x * x; sxy += x * y;
        }

        const double perRun = (n * sxy - sx * sy) / (n * sxx - sx * sx);
        return { perRun, (sy - perRun * sx) / n };
    }

    std::string loadAverage()
    {
        std::ifstream file ("/proc/loadavg");
        std::string a, b, c;
        file >> a >> b >> c;
        return a + " " + b + " " + c;
    }

    std::string processorModel()
    {
        std::ifstream cpuinfo ("/proc/cpuinfo");
        std::string line;

        while (std::getline (cpuinfo, line))
            if (line.rfind ("model name", 0) == 0 && line.find (':') != std::string::npos)
                return line.substr (line.find (':') + 2);

        return "unknown";
    }
}

int main (int argc, char** argv)
{
#ifdef TESSAMUNE_LV2_BINARY
    std::string binary = TESSAMUNE_LV2_BINARY;
#else
    std::string binary;
#endif
    std::string floorBinary, against;
    int rounds = 31;
    double seconds = 20.0;
    std::vector<uint32_t> blocks { 16, 32, 64, 128, 256, 512, 1024 };
    bool asLv2bench = false;

    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string option = argv[i], value = argv[i + 1];

        if (option == "--lv2")           binary = value;
        else if (option == "--floor")    floorBinary = value;
        else if (option == "--against")  against = value;
        else if (option == "--rounds")   rounds = std::max (1, std::atoi (value.c_str()));
        else if (option == "--as-lv2bench") asLv2bench = value != "0";
        else if (option == "--seconds")  seconds = std::max (0.01, std::atof (value.c_str()));
        else if (option == "--blocks")
        {
            blocks.clear();
            for (size_t at = 0; at < value.size();)
            {
                const auto b = (uint32_t) std::strtoul (value.c_str() + at, nullptr, 10);
                if (b > 0 && b <= longestBlock)
                    blocks.push_back (b);
                const auto comma = value.find (',', at);
                at = comma == std::string::npos ? value.size() : comma + 1;
            }
        }
        else
        {
            std::fprintf (stderr, "usage: run_cost_bench [--lv2 BINARY] [--floor BINARY] [--rounds N] [--seconds S] [--blocks B,B,...] [--as-lv2bench 1] [--against BINARY]\n");
            return 2;
        }
    }

    if (blocks.size() < 2)
    {
        std::fprintf (stderr, "run_cost_bench: name at least two block lengths\n");
        return 2;
    }

    const auto* tessamune = load (binary);
    const auto* floor = floorBinary.empty() ? nullptr : load (floorBinary);
    const auto* earlier = against.empty() ? nullptr : load (against);

    if (tessamune == nullptr || (! floorBinary.empty() && floor == nullptr) || (! against.empty() && earlier == nullptr))
        return 1;

    UridMap urids;
    const int32_t maxBlock = (int32_t) longestBlock;
    const auto atomInt = UridMap::map (&urids, LV2_ATOM__Int);
    const LV2_Options_Option options[] {
        { LV2_OPTIONS_INSTANCE, 0, UridMap::map (&urids, LV2_BUF_SIZE__maxBlockLength), sizeof (int32_t), atomInt, &maxBlock },
        { LV2_OPTIONS_INSTANCE, 0, UridMap::map (&urids, LV2_BUF_SIZE__nominalBlockLength), sizeof (int32_t), atomInt, &maxBlock },
        { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr }
    };
    const LV2_Feature map { LV2_URID__map, &urids.feature };
    const LV2_Feature optionList { LV2_OPTIONS__options, const_cast<LV2_Options_Option*> (options) };
    const LV2_Feature bounded { LV2_BUF_SIZE__boundedBlockLength, nullptr };
    const LV2_Feature* const features[] { &map, &optionList, &bounded, nullptr };

    // Ports: chorus on, depth, speed, mix, processing mode from index 9.
    const std::vector<std::pair<uint32_t, float>> ours { { 9, 1.0f }, { 10, asLv2bench ? 0.0f : 5.0f }, { 11, asLv2bench ? 0.0f : 5.0f },
                                                         { 12, 10.0f }, { 13, 1.0f } };
    const std::pair<const char*, Connection> connections[] { { "in place", Connection::inPlace },
                                                             { "aliased", Connection::aliased },
                                                             { "crossed", Connection::crossed } };

    std::vector<std::unique_ptr<Subject>> subjects;

    const auto add = [&] (const std::string& label, const LV2_Descriptor* d, std::vector<std::pair<uint32_t, float>> controls, Connection how)
    {
        auto s = std::make_unique<Subject>();
        s->label = label;
        s->descriptor = d;
        s->handle = d->instantiate (d, rate, "", features);

        if (s->handle == nullptr)
        {
            std::fprintf (stderr, "run_cost_bench: %s could not be made\n", label.c_str());
            std::exit (1);
        }

        s->controls = std::move (controls);
        s->connect (how, 9);

        if (d->activate != nullptr)
            d->activate (s->handle);

        subjects.push_back (std::move (s));
    };

    if (floor != nullptr)
        add ("floor", floor, { { 4, 1.0f }, { 5, 0.5f }, { 6, 0.5f } }, Connection::inPlace);

    for (const auto& [label, how] : connections)
        add (label, tessamune, ours, how);

    if (earlier != nullptr)
        for (const auto& [label, how] : connections)
            add ((std::string (label) + "'").c_str(), earlier, ours, how);

    // The input: noise uniform in -0.5..0.5, one second of it per channel.
    const auto noiseFrames = (size_t) rate;
    std::vector<float> noise (2 * noiseFrames + longestBlock);
    uint32_t state = 2463534242u;

    for (auto& x : noise)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        x = asLv2bench ? 0.0f : (float) ((double) state / 4294967296.0 - 0.5);
    }

    const auto pass = [&] (Subject& s, uint32_t block)
    {
        const auto runs = (size_t) std::max (1.0, seconds * rate / block);
        size_t at = 0;
        const auto start = cpuSeconds();

        for (size_t r = 0; r < runs; ++r)
        {
            std::memcpy (s.inputs[0], noise.data() + at, sizeof (float) * block);
            std::memcpy (s.inputs[1], noise.data() + noiseFrames + at, sizeof (float) * block);
            s.descriptor->run (s.handle, block);

            at += block;
            if (at + block > noiseFrames)
                at = 0;
        }

        s.sink = s.sink + s.buffers[2][0] + s.buffers[3][block - 1];
        return (cpuSeconds() - start) * 1e9 / (double) (runs * block);
    };

    // ns per frame [subject][block][round]
    std::vector<std::vector<std::vector<double>>> times (subjects.size(), std::vector<std::vector<double>> (blocks.size()));

    // A warm-up pass of each.
    for (auto& s : subjects)
        for (auto b : blocks)
            pass (*s, b);

    const auto loadBefore = loadAverage();
    const auto wallStart = wallSeconds();
    const auto cpuStart = cpuSeconds();

    for (int r = 0; r < rounds; ++r)
    {
        for (size_t bi = 0; bi < blocks.size(); ++bi)
        {
            for (size_t k = 0; k < subjects.size(); ++k)
            {
                const auto si = (k + (size_t) r + bi) % subjects.size();
                times[si][bi].push_back (pass (*subjects[si], blocks[bi]));
            }
        }
    }

    const auto wall = wallSeconds() - wallStart;
    const auto busy = wall > 0 ? (cpuSeconds() - cpuStart) / wall : 1.0;

    std::printf ("processor: %s\n", processorModel().c_str());
    std::printf ("load before: %s; after: %s; this process had a CPU %.0f%% of the time\n", loadBefore.c_str(),
                 loadAverage().c_str(), 100.0 * busy);
    std::printf ("%d rounds of %.2f s of audio per pass, 48 kHz stereo; medians over rounds\n\n", rounds, seconds);

    std::printf ("%-10s %12s %12s", "", "ns/run", "ns/frame");
    for (auto b : blocks)
        std::printf (" %9u", b);
    std::printf ("\n");

    std::vector<double> floorAt (blocks.size(), 0.0);
    std::vector<double> inPlaceRun;

    for (size_t si = 0; si < subjects.size(); ++si)
    {
        std::vector<double> perRun, perFrame;

        for (int r = 0; r < rounds; ++r)
        {
            std::vector<double> y;
            for (size_t bi = 0; bi < blocks.size(); ++bi)
                y.push_back (times[si][bi][(size_t) r]);

            const auto [a, b] = fit (blocks, y);
            perRun.push_back (a);
            perFrame.push_back (b);
        }

        std::printf ("%-10s %12.1f %12.3f", subjects[si]->label.c_str(), median (perRun), median (perFrame));

        for (size_t bi = 0; bi < blocks.size(); ++bi)
            std::printf (" %9.3f", median (times[si][bi]));

        std::printf ("\n");

        if (subjects[si]->label == "floor")
        {
            for (size_t bi = 0; bi < blocks.size(); ++bi)
                floorAt[bi] = median (times[si][bi]);
        }
        else if (subjects[si]->label == "in place" || subjects[si]->label == "in place'")
        {
            inPlaceRun = perRun;
        }
        else if (! inPlaceRun.empty())
        {
            std::vector<double> ratio;
            for (int r = 0; r < rounds; ++r)
                ratio.push_back (perRun[(size_t) r] / inPlaceRun[(size_t) r]);

            std::printf ("%-10s per run, as a multiple of in place's (median over rounds): %.2f\n", "", median (ratio));
        }
    }

    if (floor != nullptr)
    {
        std::printf ("\nas a multiple of the floor (median over rounds of each round's ratio)\n%-10s", "");
        for (auto b : blocks)
            std::printf (" %9u", b);
        std::printf ("\n");

        for (size_t si = 1; si < subjects.size(); ++si)
        {
            std::printf ("%-10s", subjects[si]->label.c_str());

            for (size_t bi = 0; bi < blocks.size(); ++bi)
            {
                std::vector<double> ratio;
                for (int r = 0; r < rounds; ++r)
                    ratio.push_back (times[si][bi][(size_t) r] / times[0][bi][(size_t) r]);

                std::printf (" %8.3fx", median (ratio));
            }

            std::printf ("\n");
        }
    }

    for (auto& s : subjects)
    {
        if (s->descriptor->deactivate != nullptr)
            s->descriptor->deactivate (s->handle);

        s->descriptor->cleanup (s->handle);
    }

    return 0;
}
