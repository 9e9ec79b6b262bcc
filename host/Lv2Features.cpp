#include "host/Lv2Features.h"

#include <lv2/atom/atom.h>

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

int64_t lv2BlockLengthOption (const LV2_URID_Map& map, const LV2_Options_Option* options, const char* option) noexcept
{
    if (options == nullptr || map.map == nullptr)
        return 0;

    const auto urid = [&map] (const char* uri) { return map.map (map.handle, uri); };
    const auto key = urid (option);
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
