#pragma once

#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <vector>

/**
    What the framework's LV2 instantiate is handed instead of the host's own
    features.

    The framework insists on a bounded block length and reads the maximum
    block length only as a 4-byte atom:Int (or an 8-byte atom:Long). Hosts
    differ: Audacity sends an 8-byte atom:Int, lv2file does not offer the
    bounded-block-length feature, and some hosts name no maximum at all. The
    plug-in itself only needs the URID map: it splits any run longer than the
    maximum it hands the framework (Lv2Bridge.cpp). So the framework gets a
    copy of the host's features and options in which:
      - the maximum block length is a 4-byte atom:Int: the host's own value
        when it is clear and no longer than longestBlock, otherwise
        longestBlock;
      - the bounded-block-length feature is present;
      - every other feature and option is the host's, unchanged and in order.
*/
class Lv2FrameworkFeatures
{
public:
    Lv2FrameworkFeatures (const LV2_URID_Map& map, const LV2_Feature* const* hostFeatures, int32_t longestBlock);

    Lv2FrameworkFeatures (const Lv2FrameworkFeatures&) = delete;
    Lv2FrameworkFeatures& operator= (const Lv2FrameworkFeatures&) = delete;

    /** The null-terminated list for the framework. */
    const LV2_Feature* const* get() const noexcept { return pointers.data(); }

    /** The maximum block length the framework was told: every block it runs
        must be at most this long. */
    int32_t maxBlockLength() const noexcept { return blockLength; }

private:
    int32_t blockLength = 0;
    std::vector<LV2_Options_Option> options;
    LV2_Feature optionsFeature {}, boundedFeature {};
    std::vector<const LV2_Feature*> pointers;
};

/** The data of the host's feature with this URI, or null. */
const void* findLv2Feature (const LV2_Feature* const* features, const char* uri) noexcept;

/** The maximum block length among the host's options, or 0 when it gives
    none whose value is clear: an atom:Int or atom:Long of 4 or 8 bytes, or a
    finite atom:Float or atom:Double. */
int64_t lv2MaxBlockLength (const LV2_URID_Map& map, const LV2_Options_Option* options) noexcept;
