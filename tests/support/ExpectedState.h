#pragma once

#include "plugin/DecimalText.h"
#include "plugin/Parameters.h"
#include "plugin/Processor.h"
#include "plugin/State.h"

#include <array>
#include <optional>

/**
    What a load must leave in the parameters, worked out from the document
    alone: a block the reader refuses, or one with another root, changes
    nothing; any other block sets every parameter from the last element with
    its ID, whatever its tag (the default when there is none or it has no value, and for
    "nan" and "inf"), clamped into the range and snapped to the interval.
*/
namespace ExpectedState
{
    using Values = std::array<float, 5>;   // plain values in creation order

    inline Values current (Processor& p)
    {
        Values v {};
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = p.parameters.getRawParameterValue (ParameterIDs::all[i])->load();
        return v;
    }

    inline std::optional<Values> afterLoading (Processor& p, const void* data, int size)
    {
        const auto xml = StateBlock::read (data, size);

        if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase ("ChorusID"))
            return std::nullopt;

        Values v {};

        for (size_t i = 0; i < v.size(); ++i)
        {
            auto& parameter = *dynamic_cast<ChorusParameter*> (p.parameters.getParameter (ParameterIDs::all[i]));
            v[i] = parameter.getDefaultPlainValue();

            for (auto* child : xml->getChildIterator())
            {
                if (child->getStringAttribute ("id") != ParameterIDs::all[i])
                    continue;

                v[i] = parameter.getDefaultPlainValue();

                if (child->hasAttribute ("value"))
                    v[i] = parameter.legalPlainValue (DecimalText::read (child->getStringAttribute ("value").toRawUTF8()));
            }
        }

        return v;
    }
}
