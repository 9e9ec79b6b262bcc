#include "host/Lv2Features.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>

#include <cmath>
#include <cstring>

const void* findLv2Feature (const LV2_Feature* const* features, const char* uri) noexcept
{
    if (features != nullptr)
        for (auto* const* f = features; *f != nullptr; ++f)
            if ((*f)->URI != nullptr && std::strcmp ((*f)->URI, uri) == 0)
                return (*f)->data;

    return nullptr;
}

namespace
{
    bool isTerminator (const LV2_Options_Option& o) noexcept
    {
        return o.key == 0 && o.value == nullptr;
    }
}

int64_t lv2MaxBlockLength (const LV2_URID_Map& map, const LV2_Options_Option* options) noexcept
{
    if (options == nullptr || map.map == nullptr)
        return 0;

    const auto urid = [&map] (const char* uri) { return map.map (map.handle, uri); };
    const auto key = urid (LV2_BUF_SIZE__maxBlockLength);
    const auto atomInt = urid (LV2_ATOM__Int), atomLong = urid (LV2_ATOM__Long);
    const auto atomFloat = urid (LV2_ATOM__Float), atomDouble = urid (LV2_ATOM__Double);

    for (auto* o = options; ! isTerminator (*o); ++o)
    {
        if (o->key != key || o->value == nullptr)
            continue;

        if (o->type == atomInt || o->type == atomLong)
        {
            // An integer of either width: Audacity sends its size_t as an
            // 8-byte atom:Int.
            if (o->size == sizeof (int32_t))
            {
                int32_t value;
                std::memcpy (&value, o->value, sizeof (value));
                return value;
            }

            if (o->size == sizeof (int64_t))
            {
                int64_t value;
                std::memcpy (&value, o->value, sizeof (value));
                return value;
            }
        }

        const auto fromFloat = [] (double value) -> int64_t
        {
            return std::isfinite (value) && value >= 1.0 && value < 9.0e18 ? (int64_t) value : 0;
        };

        if (o->type == atomFloat && o->size == sizeof (float))
        {
            float value;
            std::memcpy (&value, o->value, sizeof (value));
            return fromFloat (value);
        }

        if (o->type == atomDouble && o->size == sizeof (double))
        {
            double value;
            std::memcpy (&value, o->value, sizeof (value));
            return fromFloat (value);
        }
    }

    return 0;
}

Lv2FrameworkFeatures::Lv2FrameworkFeatures (const LV2_URID_Map& map, const LV2_Feature* const* hostFeatures, int32_t longestBlock)
{
    const auto* hostOptions = static_cast<const LV2_Options_Option*> (findLv2Feature (hostFeatures, LV2_OPTIONS__options));
    const auto hostMax = lv2MaxBlockLength (map, hostOptions);
    blockLength = hostMax >= 1 && hostMax <= longestBlock ? (int32_t) hostMax : longestBlock;

    const auto maxKey = map.map (map.handle, LV2_BUF_SIZE__maxBlockLength);
    options.push_back ({ LV2_OPTIONS_INSTANCE, 0, maxKey, (uint32_t) sizeof (int32_t),
                         map.map (map.handle, LV2_ATOM__Int), &blockLength });

    if (hostOptions != nullptr)
        for (auto* o = hostOptions; ! isTerminator (*o); ++o)
            if (o->key != maxKey)
                options.push_back (*o);

    options.push_back ({ LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr });

    optionsFeature = { LV2_OPTIONS__options, options.data() };
    boundedFeature = { LV2_BUF_SIZE__boundedBlockLength, nullptr };

    if (hostFeatures != nullptr)
        for (auto* const* f = hostFeatures; *f != nullptr; ++f)
            if ((*f)->URI != nullptr && std::strcmp ((*f)->URI, LV2_OPTIONS__options) != 0
                && std::strcmp ((*f)->URI, LV2_BUF_SIZE__boundedBlockLength) != 0)
                pointers.push_back (*f);

    pointers.push_back (&optionsFeature);
    pointers.push_back (&boundedFeature);
    pointers.push_back (nullptr);
}
