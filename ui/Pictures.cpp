#include "ui/Pictures.h"

#include <BinaryData.h>

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

bool Pictures::framesAcross (Id id, int scale) noexcept
{
    return (id == knobDepth || id == knobSpeed || id == knobMix) && column (scale) > 0;
}
