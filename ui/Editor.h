#pragma once

#include "ui/FilmStrip.h"
#include "ui/RememberedZoom.h"
#include "ui/ValueReadout.h"

#include <juce_audio_processors/juce_audio_processors.h>

class Processor;

/**
    The front panel: a picture of the pedal with three knobs (depth, speed,
    mix), the chorus lamp, the foot switch and the input-mode switch drawn
    over it from film strips.

    The knobs, the lamp and the input-mode switch are attached to their
    parameters. The foot switch has no parameter of its own: each click of it
    flips the lamp, whose attachment then writes chorus_on. The lamp itself
    only shows the state and cannot be clicked. While a knob turns, its value
    shows over its printed name.

    Zoom. The panel is 370 x 476 units, shown at a zoom from 100% to 300% at
    that aspect ratio: the window may be dragged larger at its corner (or by
    the host's or the window system's frame), and a right click on the panel
    offers the factory presets and 100, 125, 150, 200, 250 and 300%. The controls keep their panel
    units, so a drag, a double click or a press does the same at every zoom,
    and a drag of the same fraction of a knob's size turns it as far. The
    editor keeps its size to the zoom itself: given any size, it takes the
    largest zoom that fits and sets its size to that zoom's (the editor never
    carries a transform of its own).

    Pictures come at scales 1, 2 and 3 (ui/Pictures.h); the editor draws from
    the set that matches the zoom times the scale the window system draws
    the window at, decoding it only when first needed.

    Which zoom a window opens at: the one chosen for this instance (kept in
    its saved state), otherwise the one the user chose last anywhere (kept in
    the user's settings), otherwise the scale the host or the desktop asks
    for (the host's content scale, through setScaleFactor, or the desktop's,
    ui/DesktopScale.h). A zoom chosen from the menu or by dragging the window
    larger or smaller is kept for the instance and remembered for the user. A
    size the host gives the window by itself only shows, and only while no
    zoom was chosen for it or by the user: once one was, the panel keeps it,
    as hosts may answer a new zoom with their window's old size for a while.
    Opening, the window is made no larger than the screen.
*/
class Editor : public juce::AudioProcessorEditor,
               public juce::Slider::Listener,
               public juce::Button::Listener,
               private juce::Timer,
               private juce::AsyncUpdater
{
public:
    Editor (Processor& processor, juce::AudioProcessorValueTreeState& parameters);
    ~Editor() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void mouseDown (const juce::MouseEvent&) override;
    void parentHierarchyChanged() override;

    /** The host's scale for the window (a VST3 host's content scale, or an
        LV2 host's ui:scaleFactor). It becomes the zoom if no zoom was chosen
        for this instance or by the user; the editor is resized to it shortly
        after, not given a transform. */
    void setScaleFactor (float newScale) override;

    void sliderValueChanged (juce::Slider*) override;
    void sliderDragStarted (juce::Slider*) override;
    void sliderDragEnded (juce::Slider*) override;
    void buttonClicked (juce::Button*) override;

    //==============================================================================
    static constexpr int panelWidth = 370;
    static constexpr int panelHeight = 476;

    /** The zooms the menu offers. */
    static constexpr double menuZooms[] { 1.0, 1.25, 1.5, 2.0, 2.5, 3.0 };

    /** The editor's size at a zoom (clamped into the zoom's range). */
    static juce::Rectangle<int> sizeForZoom (double zoom) noexcept;

    /** The largest zoom, within the range, at which the panel fits a size. */
    static double zoomForSize (int width, int height) noexcept;

    double getZoom() const noexcept { return zoom; }

    /** Zooms to a zoom the user chose: the editor takes its size, and the
        zoom is kept for this instance and remembered for the user. */
    void setZoom (double newZoom);

    /** The right-click menu of the panel: the factory presets (the one the
        settings match ticked), then the zooms (createZoomMenu). */
    juce::PopupMenu createPanelMenu();

    /** The preset items' IDs follow this one, clear of the zooms'. */
    static constexpr int presetMenuIds = 100;

    /** The zooms whose window fits the screen, and the current one. */
    juce::PopupMenu createZoomMenu();

    /** The scale of the pictures drawn from (1, 2 or 3). */
    int getPictureScale() const noexcept { return pictureScale; }

    /** The label that shows a turning knob's value. */
    const ValueReadout& getValueReadout() const noexcept { return *valueReadout; }

    /** How long a knob's value stays shown after it stops turning, in
        milliseconds. */
    static constexpr int readoutHoldMs = 800;

private:
    enum class ZoomOrigin { instance, user, screen };

    void timerCallback() override;
    void handleAsyncUpdate() override;

    void keepChosenZoom();
    /** What a size given from outside means: a zoom the user chooses (a
        drag of the panel's corner or of a window's edge), a size the panel
        only shows, or one it sets aside and keeps its zoom. */
    enum class SizeFromOutside { chosen, shown, setAside };
    SizeFromOutside judgeSizeFromOutside() const;
    void applyZoom (double newZoom);
    void layOut();
    void usePictures (int scale);
    double windowScale() const;

    /** Keeps whatever size the window is dragged to at a zoom's size, the
        edges not being dragged staying where they are. */
    class ZoomConstrainer : public juce::ComponentBoundsConstrainer
    {
    public:
        ZoomConstrainer();

        void checkBounds (juce::Rectangle<int>& bounds, const juce::Rectangle<int>& previousBounds,
                          const juce::Rectangle<int>& limits, bool isStretchingTop, bool isStretchingLeft,
                          bool isStretchingBottom, bool isStretchingRight) override;
    };

    double openingZoom();
    static bool fitsOnScreen (double zoom);
    static double fitOnScreen (double wanted);

    Processor& processor;
    RememberedZoom rememberedZoom;
    ZoomConstrainer zoomConstrainer;

    double zoom = 1.0;
    ZoomOrigin zoomOrigin = ZoomOrigin::screen;
    double hostScale = 1.0;
    bool settingOwnSize = false;
    int pictureScale = 0;

    juce::Image background;

    std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment> stereoAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment> chorusOnAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> depthAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> speedAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> mixAttachment;

    std::unique_ptr<Knob_frames> depthKnob;
    std::unique_ptr<Knob_frames> speedKnob;
    std::unique_ptr<Knob_frames> mixKnob;
    std::unique_ptr<Toggle_frames> chorusLed;
    std::unique_ptr<ToggleClick_frames> chorusSwitch;
    std::unique_ptr<Toggle_frames> stereoToggle;

    std::unique_ptr<ValueReadout> valueReadout;
    juce::Slider* readoutKnob = nullptr;
    std::unique_ptr<juce::ResizableCornerComponent> cornerGrip;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Editor)
};
