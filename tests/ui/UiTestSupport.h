#pragma once

// Shared helpers for the editor and film-strip tests: made-up strips whose
// every pixel tells its frame and position, painting a component into an
// image, comparing pixel regions, and synthesised mouse gestures. Everything
// runs on the test thread, which is the message thread, without a display.

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace juce
{
    // The framework's own message loop step (juce_events, Linux).
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace uitest
{
    /** Delivers the framework's messages (timers, asynchronous updates) for
        a while, as a host's idle calls do. */
    inline void pumpMessages (int milliseconds)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;

        do
        {
            while (juce::dispatchNextMessageOnSystemQueue (true)) {}
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
        }
        while (juce::Time::getMillisecondCounter() < end);
    }

    /** Sets an environment variable for its lifetime, then restores it. */
    class ScopedEnvironment
    {
    public:
        ScopedEnvironment (const char* variableName, const juce::String& value) : name (variableName)
        {
            if (const auto* old = std::getenv (name))
                previous = juce::String (old);

            setenv (name, value.toRawUTF8(), 1);
        }

        ~ScopedEnvironment()
        {
            if (previous.has_value())
                setenv (name, previous->toRawUTF8(), 1);
            else
                unsetenv (name);
        }

    private:
        const char* name;
        std::optional<juce::String> previous;
    };

    /** For its lifetime, the mouse's left button is down as far as a query
        of the pointer's state tells: as while the user drags the edge of a
        window, which the window's components see nothing of. */
    class ScopedButtonHeldOutside
    {
    public:
        ScopedButtonHeldOutside()
            : previous (PointerQuery::hook())
        {
            PointerQuery::hook() = []
            {
                return juce::ModifierKeys::currentModifiers.withFlags (juce::ModifierKeys::leftButtonModifier);
            };
        }

        ~ScopedButtonHeldOutside()
        {
            PointerQuery::hook() = previous;
        }

    private:
        // The window system's query, which the framework keeps for its peers.
        struct PointerQuery : juce::ComponentPeer
        {
            static std::function<juce::ModifierKeys()>& hook() { return getNativeRealtimeModifiers; }
        };

        std::function<juce::ModifierKeys()> previous;
    };

    /** A settings folder of its own (XDG_CONFIG_HOME) for as long as it
        exists: no zoom remembered by another test is seen, and none chosen
        here reaches another. Must outlive the editors made meanwhile, which
        write what they remember when the last one closes. */
    class ScopedSettingsFolder
    {
    public:
        ScopedSettingsFolder()
            : folder (juce::File::createTempFile ("-settings")),
              environment ("XDG_CONFIG_HOME", folder.getFullPathName())
        {
            folder.createDirectory();
        }

        ~ScopedSettingsFolder()
        {
            folder.deleteRecursively();
        }

        /** The settings file the editor uses under this folder. */
        juce::File settingsFile() const { return folder.getChildFile ("Quorvellin").getChildFile ("Tessamune.settings"); }

        const juce::File folder;

    private:
        ScopedEnvironment environment;
    };

    /** An opaque strip of `frames` frames of width x frameHeight. Every pixel
        is different from every other, within and across frames, so a wrong
        frame, offset or size cannot go unnoticed. */
    inline juce::Image makeStrip (int width, int frameHeight, int frames)
    {
        juce::Image strip (juce::Image::ARGB, width, frameHeight * frames, true);

        for (int frame = 0; frame < frames; ++frame)
            for (int y = 0; y < frameHeight; ++y)
                for (int x = 0; x < width; ++x)
                    strip.setPixelAt (x, frame * frameHeight + y,
                                      juce::Colour ((juce::uint8) (1 + frame * 3),
                                                    (juce::uint8) (x * 3),
                                                    (juce::uint8) (y * 3),
                                                    (juce::uint8) 255));
        return strip;
    }

    /** A strip whose frames are each one plain colour, for checks on scaled
        drawing where the exact pixels depend on resampling. */
    inline juce::Colour plainFrameColour (int frame)
    {
        return juce::Colour ((juce::uint8) (10 + frame * 3), (juce::uint8) 200, (juce::uint8) (250 - frame * 3));
    }

    inline juce::Image makePlainStrip (int width, int frameHeight, int frames)
    {
        juce::Image strip (juce::Image::ARGB, width, frameHeight * frames, true);
        juce::Graphics g (strip);

        for (int frame = 0; frame < frames; ++frame)
        {
            g.setColour (plainFrameColour (frame));
            g.fillRect (0, frame * frameHeight, width, frameHeight);
        }

        return strip;
    }

    /** The component and its children painted into a transparent image of
        its size. */
    inline juce::Image paint (juce::Component& component)
    {
        juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);
        juce::Graphics g (image);
        component.paintEntireComponent (g, false);
        return image;
    }

    /** Compares two equally sized regions pixel by pixel and names the first
        difference. */
    inline testing::AssertionResult sameRegion (const juce::Image& actual, juce::Rectangle<int> actualArea,
                                                const juce::Image& expected, juce::Rectangle<int> expectedArea)
    {
        if (! actual.isValid() || ! expected.isValid())
            return testing::AssertionFailure() << "invalid image";

        if (actualArea.getWidth() != expectedArea.getWidth() || actualArea.getHeight() != expectedArea.getHeight())
            return testing::AssertionFailure() << "region sizes differ: " << actualArea.toString()
                                               << " vs " << expectedArea.toString();

        if (! actual.getBounds().contains (actualArea) || ! expected.getBounds().contains (expectedArea))
            return testing::AssertionFailure() << "region outside its image";

        int differences = 0;
        std::ostringstream first;

        for (int y = 0; y < actualArea.getHeight(); ++y)
        {
            for (int x = 0; x < actualArea.getWidth(); ++x)
            {
                const auto a = actual.getPixelAt (actualArea.getX() + x, actualArea.getY() + y).getARGB();
                const auto e = expected.getPixelAt (expectedArea.getX() + x, expectedArea.getY() + y).getARGB();

                if (a != e && differences++ == 0)
                    first << "first at (" << x << ", " << y << "): 0x" << std::hex << a << " instead of 0x" << e;
            }
        }

        if (differences == 0)
            return testing::AssertionSuccess();

        return testing::AssertionFailure() << differences << " pixels differ; " << first.str();
    }

    /** Frame `index` of a strip cut into frames of frameHeight. */
    inline juce::Rectangle<int> frameArea (const juce::Image& strip, int frameHeight, int index)
    {
        return { 0, index * frameHeight, strip.getWidth(), frameHeight };
    }

    /** True when no pixel of the region has any coverage. */
    inline testing::AssertionResult isBlank (const juce::Image& image, juce::Rectangle<int> area)
    {
        area = area.getIntersection (image.getBounds());

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                if (image.getPixelAt (x, y).getAlpha() != 0)
                    return testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is drawn";

        return testing::AssertionSuccess();
    }

    /** The highest alpha found in a region. */
    inline int maxAlpha (const juce::Image& image, juce::Rectangle<int> area)
    {
        int highest = 0;

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                highest = juce::jmax (highest, (int) image.getPixelAt (x, y).getAlpha());

        return highest;
    }

    /** Notches of a wheel as the framework reports them on Linux: 50/256 of
        a unit each, up for positive counts. */
    inline juce::MouseWheelDetails wheelNotches (float notches)
    {
        juce::MouseWheelDetails details;
        details.deltaX = 0.0f;
        details.deltaY = notches * 50.0f / 256.0f;
        details.isReversed = false;
        details.isSmooth = false;
        details.isInertial = false;
        return details;
    }

    //==============================================================================
    /** One left-button gesture on one component, delivered by calling its
        mouse callbacks directly (there is no window to route real events). */
    class Mouse
    {
    public:
        explicit Mouse (juce::Component& target) : component (target) {}

        void press (juce::Point<float> position)
        {
            downPosition = position;
            downTime = juce::Time::getCurrentTime();
            dragged = false;
            component.mouseDown (event (position, juce::ModifierKeys::leftButtonModifier, 1));
        }

        void drag (juce::Point<float> position, int extraModifiers = juce::ModifierKeys::noModifiers)
        {
            dragged = true;
            component.mouseDrag (event (position, juce::ModifierKeys::leftButtonModifier | extraModifiers, 1));
        }

        /** Turns a wheel by notches (see wheelNotches), each event at a time
            of its own. */
        void wheel (juce::Point<float> position, float notches, int modifiers = juce::ModifierKeys::noModifiers)
        {
            wheelTime += juce::RelativeTime::milliseconds (10);
            component.mouseWheelMove (juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(),
                                                        position, juce::ModifierKeys (modifiers),
                                                        juce::MouseInputSource::defaultPressure,
                                                        juce::MouseInputSource::defaultOrientation,
                                                        juce::MouseInputSource::defaultRotation,
                                                        juce::MouseInputSource::defaultTiltX,
                                                        juce::MouseInputSource::defaultTiltY,
                                                        &component, &component, wheelTime,
                                                        position, wheelTime, 0, false),
                                      wheelNotches (notches));
        }

        void release (juce::Point<float> position)
        {
            component.mouseUp (event (position, juce::ModifierKeys::noModifiers, 1));
        }

        void click (juce::Point<float> position)
        {
            press (position);
            release (position);
        }

        /** As the framework delivers it: two clicks, then the double-click
            after the second release. */
        void doubleClick (juce::Point<float> position)
        {
            click (position);
            click (position);
            component.mouseDoubleClick (event (position, juce::ModifierKeys::noModifiers, 2));
        }

        juce::Point<float> centre() const { return component.getLocalBounds().getCentre().toFloat(); }

    private:
        juce::MouseEvent event (juce::Point<float> position, int buttons, int clicks) const
        {
            return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(),
                                     position, juce::ModifierKeys (buttons),
                                     juce::MouseInputSource::defaultPressure,
                                     juce::MouseInputSource::defaultOrientation,
                                     juce::MouseInputSource::defaultRotation,
                                     juce::MouseInputSource::defaultTiltX,
                                     juce::MouseInputSource::defaultTiltY,
                                     &component, &component,
                                     juce::Time::getCurrentTime(),
                                     downPosition, downTime, clicks, dragged);
        }

        juce::Component& component;
        juce::Point<float> downPosition;
        juce::Time downTime;
        juce::Time wheelTime = juce::Time::getCurrentTime();
        bool dragged = false;
    };

    //==============================================================================
    /** A component in a window of its own on the test display, with the mouse
        driven through the window as the window system drives it: each event
        goes to whatever is under the pointer, in that component's own
        coordinates (through any transform), and clicks count towards double
        clicks. Positions are in the window's coordinates. Without a display
        the window does not open (isOpen() is false). */
    class DesktopWindow
    {
    public:
        explicit DesktopWindow (juce::Component& c) : component (c)
        {
            if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() == nullptr)
                return;

            component.setVisible (true);
            component.addToDesktop (0);
            peer = component.getPeer();
        }

        ~DesktopWindow()
        {
            if (peer != nullptr)
                component.removeFromDesktop();
        }

        bool isOpen() const { return peer != nullptr; }

        void press (juce::Point<float> position, juce::ModifierKeys::Flags extra = juce::ModifierKeys::noModifiers)
        {
            send (position, juce::ModifierKeys::leftButtonModifier | extra);
        }

        void drag (juce::Point<float> position, juce::ModifierKeys::Flags extra = juce::ModifierKeys::noModifiers)
        {
            send (position, juce::ModifierKeys::leftButtonModifier | extra);
        }

        void release (juce::Point<float> position)
        {
            send (position, juce::ModifierKeys::noModifiers);
        }

        void click (juce::Point<float> position)
        {
            press (position);
            release (position);
        }

        void doubleClick (juce::Point<float> position)
        {
            click (position);
            click (position);
        }

        /** Turns a wheel by notches (see wheelNotches). */
        void wheel (juce::Point<float> position, float notches, juce::ModifierKeys::Flags extra = juce::ModifierKeys::noModifiers)
        {
            send (position, extra);
            const juce::ScopedValueSetter<juce::ModifierKeys> held (juce::ModifierKeys::currentModifiers, juce::ModifierKeys (extra));

            peer->handleMouseWheel (juce::MouseInputSource::InputSourceType::mouse, position, time += 100, wheelNotches (notches));
        }

        /** Moves the pointer away, so the next gesture starts afresh. */
        void leave()
        {
            send ({ -1000.0f, -1000.0f }, juce::ModifierKeys::noModifiers);
            time += 1000;
        }

    private:
        void send (juce::Point<float> position, int modifiers)
        {
            // The keys held come from the framework's record of the keyboard,
            // which the window system's key events keep.
            const juce::ModifierKeys keys (modifiers & ~juce::ModifierKeys::allMouseButtonModifiers);
            const juce::ScopedValueSetter<juce::ModifierKeys> held (juce::ModifierKeys::currentModifiers, keys);

            peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, position,
                                    juce::ModifierKeys (modifiers), juce::MouseInputSource::defaultPressure,
                                    juce::MouseInputSource::defaultOrientation, time += 20);
        }

        juce::Component& component;
        juce::ComponentPeer* peer = nullptr;
        juce::int64 time = juce::Time::currentTimeMillis();
    };

    //==============================================================================
    /** Counts the clicks a button reports to its listeners. */
    struct ClickCounter : juce::Button::Listener
    {
        explicit ClickCounter (juce::Button& b) : button (b)   { button.addListener (this); }
        ~ClickCounter() override                               { button.removeListener (this); }

        void buttonClicked (juce::Button*) override            { ++clicks; }

        juce::Button& button;
        int clicks = 0;
    };

    //==============================================================================
    /** Records what a parameter tells its listeners: gesture starts and ends
        and value changes, in order. */
    struct ParameterRecorder : juce::AudioProcessorParameter::Listener
    {
        struct Event
        {
            enum Kind { begin, value, end } kind;
            float normalisedValue = 0.0f;
        };

        explicit ParameterRecorder (juce::AudioProcessorParameter& p) : parameter (p) { parameter.addListener (this); }
        ~ParameterRecorder() override                                                  { parameter.removeListener (this); }

        void parameterValueChanged (int, float newValue) override
        {
            events.push_back ({ Event::value, newValue });
        }

        void parameterGestureChanged (int, bool starting) override
        {
            events.push_back ({ starting ? Event::begin : Event::end, 0.0f });
        }

        int count (Event::Kind kind) const
        {
            int n = 0;

            for (auto& e : events)
                n += e.kind == kind ? 1 : 0;

            return n;
        }

        /** At least one value change, every one of them inside a gesture,
            and every gesture closed again. */
        testing::AssertionResult changesInsideGestures() const
        {
            if (count (Event::value) == 0)
                return testing::AssertionFailure() << "no value change";

            int depth = 0;

            for (auto& e : events)
            {
                if (e.kind == Event::begin)
                    ++depth;
                else if (e.kind == Event::end && --depth < 0)
                    return testing::AssertionFailure() << "a gesture ended without starting";
                else if (e.kind == Event::value && depth == 0)
                    return testing::AssertionFailure() << "a value change outside any gesture";
            }

            if (depth != 0)
                return testing::AssertionFailure() << "a gesture was left open";

            return testing::AssertionSuccess();
        }

        /** As above, in exactly one gesture. */
        testing::AssertionResult oneGestureAroundChanges() const
        {
            if (count (Event::begin) != 1)
                return testing::AssertionFailure() << count (Event::begin) << " gestures instead of one";

            return changesInsideGestures();
        }

        /** The value of the last change, or -1 without any. */
        float lastValue() const
        {
            for (auto e = events.rbegin(); e != events.rend(); ++e)
                if (e->kind == Event::value)
                    return e->normalisedValue;

            return -1.0f;
        }

        juce::AudioProcessorParameter& parameter;
        std::vector<Event> events;
    };

    //==============================================================================
    /** The child of `parent` with the given component name, as a T. */
    template <typename T>
    T* findChild (juce::Component& parent, const juce::String& name)
    {
        for (auto* child : parent.getChildren())
            if (child->getName() == name)
                if (auto* typed = dynamic_cast<T*> (child))
                    return typed;

        return nullptr;
    }
}
