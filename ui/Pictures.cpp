#include "ui/Pictures.h"

#include <BinaryData.h>

#include <future>
#include <utility>
#include <vector>

namespace
{
    struct Data
    {
        const char* bytes;
        int size;
    };

    // Rows: the pictures, in the order of Pictures::Id. Columns: scales 1 to 3.
    const Data table[Pictures::numIds][Pictures::maximumScale]
    {
        { { BinaryData::background_png,     BinaryData::background_pngSize },
          { BinaryData::background2x_png,   BinaryData::background2x_pngSize },
          { BinaryData::background3x_png,   BinaryData::background3x_pngSize } },
        { { BinaryData::knob_depth_png,     BinaryData::knob_depth_pngSize },
          { BinaryData::knob_depth2x_png,   BinaryData::knob_depth2x_pngSize },
          { BinaryData::knob_depth3x_png,   BinaryData::knob_depth3x_pngSize } },
        { { BinaryData::knob_speed_png,     BinaryData::knob_speed_pngSize },
          { BinaryData::knob_speed2x_png,   BinaryData::knob_speed2x_pngSize },
          { BinaryData::knob_speed3x_png,   BinaryData::knob_speed3x_pngSize } },
        { { BinaryData::knob_mix_png,       BinaryData::knob_mix_pngSize },
          { BinaryData::knob_mix2x_png,     BinaryData::knob_mix2x_pngSize },
          { BinaryData::knob_mix3x_png,     BinaryData::knob_mix3x_pngSize } },
        { { BinaryData::chorus_led_png,     BinaryData::chorus_led_pngSize },
          { BinaryData::chorus_led2x_png,   BinaryData::chorus_led2x_pngSize },
          { BinaryData::chorus_led3x_png,   BinaryData::chorus_led3x_pngSize } },
        { { BinaryData::footswitch_png,     BinaryData::footswitch_pngSize },
          { BinaryData::footswitch2x_png,   BinaryData::footswitch2x_pngSize },
          { BinaryData::footswitch3x_png,   BinaryData::footswitch3x_pngSize } },
        { { BinaryData::toggle_stereo_png,   BinaryData::toggle_stereo_pngSize },
          { BinaryData::toggle_stereo2x_png, BinaryData::toggle_stereo2x_pngSize },
          { BinaryData::toggle_stereo3x_png, BinaryData::toggle_stereo3x_pngSize } },
        { { BinaryData::readout_digits_png,   BinaryData::readout_digits_pngSize },
          { BinaryData::readout_digits2x_png, BinaryData::readout_digits2x_pngSize },
          { BinaryData::readout_digits3x_png, BinaryData::readout_digits3x_pngSize } },
    };

    int column (int scale) noexcept
    {
        return juce::jlimit (1, Pictures::maximumScale, scale) - 1;
    }

    juce::int64 keyOf (const Data& data) noexcept
    {
        return (juce::int64) (juce::pointer_sized_int) data.bytes;
    }
}

int Pictures::scaleFor (double effectiveScale) noexcept
{
    // A hair over a whole scale (rounding in a host's or the window system's
    // scale) still counts as that scale: the set below it then draws pixel
    // for pixel instead of the next one being shrunk by a few per cent.
    constexpr double slack = 1.0e-3;

    for (const auto scale : scales)
        if (effectiveScale <= scale + slack)
            return scale;

    return maximumScale;
}

juce::Image Pictures::get (Id id, int scale)
{
    if (id < 0 || id >= numIds)
        return {};

    const auto& data = table[id][column (scale)];
    return juce::ImageCache::getFromMemory (data.bytes, data.size);
}

std::array<juce::Image, Pictures::numIds> Pictures::getAll (int scale)
{
    // Pictures smaller than this are quicker decoded than a thread is made.
    constexpr int largeBytes = 64 * 1024;

    std::array<juce::Image, numIds> pictures;
    std::vector<std::pair<int, std::future<juce::Image>>> decoding;

    for (int id = 0; id < numIds; ++id)
    {
        const auto& data = table[id][column (scale)];

        // The image cache's key for a picture in memory, as getFromMemory
        // uses it: where a picture is cached already, nothing is decoded.
        pictures[(size_t) id] = juce::ImageCache::getFromHashCode (keyOf (data));

        if (pictures[(size_t) id].isValid())
            continue;

        if (data.size < largeBytes)
            pictures[(size_t) id] = get ((Id) id, scale);
        else
            decoding.emplace_back (id, std::async (std::launch::async, [data]
            {
                return juce::ImageFileFormat::loadFrom (data.bytes, (size_t) data.size);
            }));
    }

    // The cache is filled here, on the calling thread, as for get().
    for (auto& [id, picture] : decoding)
    {
        pictures[(size_t) id] = picture.get();
        juce::ImageCache::addImageToCache (pictures[(size_t) id], keyOf (table[id][column (scale)]));
    }

    return pictures;
}

bool Pictures::framesAcross (Id id, int scale) noexcept
{
    return (id == knobDepth || id == knobSpeed || id == knobMix) && column (scale) > 0;
}
