#include "Lv2TestHost.h"

#include "TestSignal.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace Lv2TestHost
{
    namespace
    {
        juce::String unquote (const juce::String& text)
        {
            return text.trim().trimCharactersAtEnd (" ;").trim().unquoted();
        }

        // The value after a key on a line "<tabs>key value ;".
        juce::String valueAfter (const juce::String& line, const juce::String& key)
        {
            return line.fromFirstOccurrenceOf (key, false, false).trimCharactersAtEnd (" ;").trim();
        }
    }

    std::vector<PortDescription> describedPorts()
    {
        // The port list ends the plug-in's statement or goes on with another
        // predicate.
        const auto dsp = Hosting::lv2Bundle().getChildFile ("dsp.ttl").loadFileAsString().replace ("\n\t] .\n", "\n\t] ;\n");
        const auto list = dsp.fromFirstOccurrenceOf ("\tlv2:port [\n", false, false)
                             .upToFirstOccurrenceOf ("\n\t] ;\n", false, false);

        std::vector<PortDescription> ports;

        for (const auto& block : juce::StringArray::fromTokens (list.replace ("\n\t] , [\n", "\x01"), "\x01", ""))
        {
            PortDescription port;
            juce::String label;

            for (const auto& line : juce::StringArray::fromLines (block))
            {
                if (line.startsWith ("\t\ta "))
                    port.types = juce::StringArray::fromTokens (valueAfter (line, "\t\ta "), " ,", "");
                else if (line.startsWith ("\t\tlv2:index "))
                    port.index = valueAfter (line, "lv2:index ").getIntValue();
                else if (line.startsWith ("\t\tlv2:symbol "))
                    port.symbol = unquote (valueAfter (line, "lv2:symbol "));
                else if (line.startsWith ("\t\tlv2:name "))
                    port.name = unquote (valueAfter (line, "lv2:name "));
                else if (line.startsWith ("\t\tlv2:default "))
                    port.defaultValue = valueAfter (line, "lv2:default ").getFloatValue();
                else if (line.startsWith ("\t\tlv2:minimum "))
                    port.minimum = valueAfter (line, "lv2:minimum ").getFloatValue();
                else if (line.startsWith ("\t\tlv2:maximum "))
                    port.maximum = valueAfter (line, "lv2:maximum ").getFloatValue();
                else if (line.startsWith ("\t\tlv2:portProperty "))
                    port.properties.addTokens (valueAfter (line, "lv2:portProperty "), " ,", "");
                else if (line.startsWith ("\t\tpprop:rangeSteps "))
                    port.rangeSteps = valueAfter (line, "pprop:rangeSteps ").getIntValue();
                else if (line.startsWith ("\t\t\trdfs:label "))
                    label = unquote (valueAfter (line, "rdfs:label "));
                else if (line.startsWith ("\t\t\trdf:value "))
                    port.scalePoints.emplace_back (label, valueAfter (line, "rdf:value ").getFloatValue());
            }

            port.types.removeEmptyStrings();
            port.properties.removeEmptyStrings();
            ports.push_back (port);
        }

        return ports;
    }

    int portIndex (const juce::String& symbol)
    {
        static const auto ports = describedPorts();

        for (const auto& p : ports)
            if (p.symbol == symbol)
                return p.index;

        return -1;
    }

    //==========================================================================
    UridMap::UridMap()
    {
        mapFeature = { this, callback };
    }

    LV2_URID UridMap::map (const char* uri)
    {
        const auto it = std::find (uris.begin(), uris.end(), uri);

        if (it != uris.end())
            return (LV2_URID) (it - uris.begin()) + 1;

        uris.emplace_back (uri);
        return (LV2_URID) uris.size();
    }

    LV2_URID UridMap::callback (LV2_URID_Map_Handle handle, const char* uri)
    {
        return static_cast<UridMap*> (handle)->map (uri);
    }

    //==========================================================================
    namespace
    {
        LV2_State_Status store (LV2_State_Handle handle, uint32_t key, const void* value, size_t size, uint32_t type, uint32_t)
        {
            auto& state = *static_cast<SavedState*> (handle);
            const auto* bytes = static_cast<const char*> (value);
            state.properties[key] = { std::vector<char> (bytes, bytes + size), type };
            return LV2_STATE_SUCCESS;
        }

        const void* retrieve (LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
        {
            const auto& state = *static_cast<const SavedState*> (handle);
            const auto it = state.properties.find (key);

            if (it == state.properties.end())
                return nullptr;

            *size = it->second.value.size();
            *type = it->second.type;
            *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
            return it->second.value.data();
        }
    }

    Plugin::Plugin (Setup s)
        : setup (s),
          signal (TestSignal::make (2, s.totalFrames, s.rate)),
          rendered (2, std::vector<float> ((size_t) s.totalFrames))
    {
        for (auto& buffer : audio)
            buffer.assign ((size_t) s.totalFrames, 0.0f);

        if (! library.open (TESSAMUNE_LV2_BINARY))
            return;

        using Entry = const LV2_Descriptor* (*) (uint32_t);

        if (auto entry = reinterpret_cast<Entry> (library.getFunction ("lv2_descriptor")))
            descriptor = entry (0);

        if (descriptor == nullptr)
            return;

        maxBlock32 = (int32_t) s.maxBlock;
        maxBlock64 = s.maxBlock;
        maxBlockFloat = (float) s.maxBlock;

        const auto maxKey = urids.map (LV2_BUF_SIZE__maxBlockLength);
        const auto atomInt = urids.map (LV2_ATOM__Int);

        switch (s.blockLength)
        {
            case BlockLength::int32:   options.push_back ({ LV2_OPTIONS_INSTANCE, 0, maxKey, 4, atomInt, &maxBlock32 }); break;
            case BlockLength::int64:   options.push_back ({ LV2_OPTIONS_INSTANCE, 0, maxKey, 8, atomInt, &maxBlock64 }); break;
            case BlockLength::long64:  options.push_back ({ LV2_OPTIONS_INSTANCE, 0, maxKey, 8, urids.map (LV2_ATOM__Long), &maxBlock64 }); break;
            case BlockLength::asFloat: options.push_back ({ LV2_OPTIONS_INSTANCE, 0, maxKey, 4, urids.map (LV2_ATOM__Float), &maxBlockFloat }); break;
            case BlockLength::notGiven:
            case BlockLength::noOptions: break;
        }

        // An option the plug-in does not read, which must reach it unchanged.
        options.push_back ({ LV2_OPTIONS_INSTANCE, 0, urids.map (LV2_BUF_SIZE__nominalBlockLength), 4, atomInt, &nominal });
        options.push_back ({ LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr });

        featureList.reserve (3);

        if (s.withFeatures)
        {
            featureList.push_back ({ LV2_URID__map, const_cast<LV2_URID_Map*> (urids.feature()) });

            if (s.blockLength != BlockLength::noOptions)
                featureList.push_back ({ LV2_OPTIONS__options, options.data() });

            if (s.boundedBlockLength)
                featureList.push_back ({ LV2_BUF_SIZE__boundedBlockLength, nullptr });
        }

        for (auto& f : featureList)
            features.push_back (&f);

        features.push_back (nullptr);

        // A host without features may pass no list at all (lv2apply does).
        const auto bundle = Hosting::lv2Bundle().getFullPathName() + "/";
        handle = descriptor->instantiate (descriptor, s.rate, bundle.toRawUTF8(), s.withFeatures ? features.data() : nullptr);
    }

    Plugin::~Plugin()
    {
        if (handle != nullptr)
            descriptor->cleanup (handle);
    }

    void* Plugin::bufferFor (uint32_t port)
    {
        switch (port)
        {
            case inL: case inR: case outL: case outR:   return audio[port].data();
            case unusedIn:                              return &unusedValues[0];
            case unusedOut:                             return &unusedValues[1];
            case latency:                               return &latencyValue;
            case freeWheeling:                          return &freeWheelingValue;
            case enabled:                               return &enabledValue;
            default:                                    break;
        }

        for (const auto& p : describedPorts())
            if (p.index == (int) port && p.defaultValue.has_value())
                return &controls.emplace (port, *p.defaultValue).first->second;

        return nullptr;
    }

    void Plugin::connect (uint32_t port, bool connected)
    {
        if (port == outL || port == outR)
            outputs[port - outL] = nullptr;

        descriptor->connect_port (handle, port, connected ? bufferFor (port) : nullptr);
    }

    void Plugin::connectOutputs (Outputs where)
    {
        for (const auto port : { outL, outR })
        {
            const auto channel = port - outL;
            const auto input = where == Outputs::crossed ? 1 - channel : channel;
            outputs[channel] = where == Outputs::separate ? audio[port].data()
                             : where == Outputs::oneBuffer ? audio[outL].data()
                                                           : audio[inL + input].data();
            descriptor->connect_port (handle, port, outputs[channel]);
        }
    }

    float& Plugin::frameworkPort (Port port)
    {
        return port == latency ? latencyValue : (port == freeWheeling ? freeWheelingValue : enabledValue);
    }

    void Plugin::connectAll()
    {
        for (const auto& p : describedPorts())
            connect ((uint32_t) p.index, true);
    }

    void Plugin::setControl (const juce::String& symbol, float value)
    {
        const auto port = portIndex (symbol);
        ASSERT_GE (port, (int) numFrameworkPorts) << symbol;

        if (controls.count ((uint32_t) port) == 0)
            connect ((uint32_t) port, true);

        controls[(uint32_t) port] = value;
    }

    void Plugin::disconnectControl (const juce::String& symbol)
    {
        descriptor->connect_port (handle, (uint32_t) portIndex (symbol), nullptr);
    }

    void Plugin::activate()     { descriptor->activate (handle); }
    void Plugin::deactivate()   { descriptor->deactivate (handle); }

    void Plugin::run (uint32_t frames)
    {
        ASSERT_LE (position + frames, (size_t) setup.totalFrames);

        for (const auto port : { inL, inR })
            std::copy (signal[port].begin() + (long) position, signal[port].begin() + (long) (position + frames), audio[port].begin());

        descriptor->run (handle, frames);

        for (const size_t channel : { 0, 1 })
        {
            const auto* out = outputs[channel] != nullptr ? outputs[channel] : audio[outL + channel].data();
            std::copy (out, out + frames, rendered[channel].begin() + (long) position);
        }

        position += frames;
    }

    void Plugin::skip (uint32_t frames)
    {
        ASSERT_LE (position + frames, (size_t) setup.totalFrames);
        position += frames;
    }

    SavedState Plugin::save()
    {
        SavedState state;
        auto* iface = static_cast<const LV2_State_Interface*> (descriptor->extension_data (LV2_STATE__interface));
        EXPECT_NE (iface, nullptr);

        if (iface != nullptr)
            iface->save (handle, store, &state, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features.data());

        return state;
    }

    LV2_State_Status Plugin::restore (const SavedState& state)
    {
        auto* iface = static_cast<const LV2_State_Interface*> (descriptor->extension_data (LV2_STATE__interface));
        EXPECT_NE (iface, nullptr);

        if (iface == nullptr)
            return LV2_STATE_ERR_UNKNOWN;

        return iface->restore (handle, retrieve, const_cast<SavedState*> (&state), 0, features.data());
    }

    double Plugin::savedValue (const juce::String& parameterId)
    {
        return plainValueIn (save(), urids, parameterId);
    }

    juce::String Plugin::savedStateText()
    {
        return stateTextIn (save(), urids);
    }

    juce::String stateTextIn (const SavedState& state, UridMap& urids)
    {
        const auto key = urids.map ((juce::String (TESSAMUNE_LV2_URI) + ":StateString").toRawUTF8());
        const auto it = state.properties.find (key);

        if (it == state.properties.end())
            return {};

        juce::MemoryBlock block;
        block.fromBase64Encoding (juce::String::fromUTF8 (it->second.value.data(), (int) it->second.value.size()));

        // The framework's binary wrapping: a magic number and a length, then
        // the text and its terminating zero.
        if (block.getSize() <= 9)
            return {};

        return juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int) block.getSize() - 9);
    }

    double plainValueIn (const SavedState& state, UridMap& urids, const juce::String& parameterId)
    {
        const auto text = stateTextIn (state, urids);
        const auto attribute = "id=\"" + parameterId + "\" value=\"";
        return text.contains (attribute) ? text.fromFirstOccurrenceOf (attribute, false, false).getDoubleValue() : -1.0;
    }
}
