#pragma once

#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <cstdint>

/** The data of the host's feature with this URI, or null (also for a host
    that passes no feature list at all). */
const void* findLv2Feature (const LV2_Feature* const* features, const char* uri) noexcept;

/** A block length among the host's options (the option's URI, such as
    buf-size's maxBlockLength), or 0 when it gives none whose value is clear:
    an atom:Int or atom:Long of 4 or 8 bytes (Audacity sends an 8-byte
    atom:Int), or a finite atom:Float or atom:Double. */
int64_t lv2BlockLengthOption (const LV2_URID_Map& map, const LV2_Options_Option* options, const char* key) noexcept;
