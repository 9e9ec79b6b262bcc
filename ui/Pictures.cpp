#include "ui/Pictures.h"

#include <BinaryData.h>

#include <future>
#include <mutex>
#include <system_error>
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

    // The decoded pictures, by picture and scale; an invalid image where a
    // picture has not been decoded (or has been released since).
    std::mutex storeLock;
    juce::Image store[Pictures::numIds][Pictures::maximumScale];

    juce::Image stored (int id, int scale)
    {
        const std::lock_guard<std::mutex> lock (storeLock);
        return store[id][column (scale)];
    }

    // Keeps a decoded picture, or gives back the one another thread kept
    // meanwhile, so that every window draws from the same pixels.
    juce::Image keep (int id, int scale, const juce::Image& decoded)
    {
        const std::lock_guard<std::mutex> lock (storeLock);
        auto& slot = store[id][column (scale)];

        if (! slot.isValid())
            slot = decoded;

        return slot;
    }

    juce::Image decode (const Data& data)
    {
        return juce::ImageFileFormat::loadFrom (data.bytes, (size_t) data.size);
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

    if (auto picture = stored (id, scale); picture.isValid())
        return picture;

    return keep (id, scale, decode (table[id][column (scale)]));
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
        pictures[(size_t) id] = stored (id, scale);

        if (pictures[(size_t) id].isValid())
            continue;

        if (data.size >= largeBytes)
        {
            try
            {
                decoding.emplace_back (id, std::async (std::launch::async, [data] { return decode (data); }));
                continue;
            }
            catch (const std::system_error&)
            {
                // No thread to be had (the system's or the user's limit on
                // threads): decoded here, as a small picture is.
            }
        }

        pictures[(size_t) id] = keep (id, scale, decode (data));
    }

    for (auto& [id, picture] : decoding)
        pictures[(size_t) id] = keep (id, scale, picture.get());

    return pictures;
}

void Pictures::releaseUnused()
{
    const std::lock_guard<std::mutex> lock (storeLock);

    for (auto& row : store)
        for (auto& picture : row)
            if (picture.isValid() && picture.getReferenceCount() <= 1)
                picture = {};
}

bool Pictures::framesAcross (Id id, int scale) noexcept
{
    return (id == knobDepth || id == knobSpeed || id == knobMix) && column (scale) > 0;
}
