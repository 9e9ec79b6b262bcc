#include "ui/Editor.h"

#include "plugin/EditorZoom.h"
#include "plugin/FactoryPresets.h"
#include "plugin/Processor.h"
#include "ui/DesktopScale.h"
#include "ui/Pictures.h"

namespace
{
    // Shown where the background picture is missing.
    const juce::Colour panelColour { 0xff323e44 };

    // The controls' places on the panel, in panel units; each is one frame
    // of its strip at scale 1.
    const juce::Rectangle<int> depthArea  { 91,  71, 76, 73 };
    const juce::Rectangle<int> speedArea  { 149, 168, 73, 73 };
    const juce::Rectangle<int> mixArea    { 206, 71, 73, 73 };
    const juce::Rectangle<int> lampArea   { 167, 296, 39, 41 };
    const juce::Rectangle<int> switchArea { 160, 349, 51, 50 };
    const juce::Rectangle<int> toggleArea { 32,  14, 31, 20 };

    // The corner of the window that drags it larger or smaller. It shows only
    // while the mouse is over it, so that the panel looks as it always has.
    class CornerGrip final : public juce::ResizableCornerComponent
    {
    public:
        using juce::ResizableCornerComponent::ResizableCornerComponent;

        static constexpr int size = 16;

        void paint (juce::Graphics& g) override
        {
            if (isMouseOverOrDragging())
                getLookAndFeel().drawCornerResizer (g, getWidth(), getHeight(), true, isMouseButtonDown());
        }

        void mouseEnter (const juce::MouseEvent&) override  { repaint(); }
        void mouseExit (const juce::MouseEvent&) override   { repaint(); }

        void mouseDrag (const juce::MouseEvent& e) override
        {
            const juce::ScopedValueSetter<bool> resizing (resizingTheEditor, true);
            juce::ResizableCornerComponent::mouseDrag (e);
        }

        /** True while a drag of the corner sets the editor's size. */
        bool isResizingTheEditor() const noexcept { return resizingTheEditor; }

    private:
        bool resizingTheEditor = false;
    };

    bool sameZoom (double a, double b) noexcept
    {
        return std::abs (a - b) < 1.0e-9;
    }
}

//==============================================================================
Editor::ZoomConstrainer::ZoomConstrainer()
{
    const auto smallest = sizeForZoom (EditorZoom::minimum);
    const auto largest = sizeForZoom (EditorZoom::maximum);
    setSizeLimits (smallest.getWidth(), smallest.getHeight(), largest.getWidth(), largest.getHeight());

    // What hosts that resize a plug-in's window themselves read.
    setFixedAspectRatio ((double) panelWidth / (double) panelHeight);
}

void Editor::ZoomConstrainer::checkBounds (juce::Rectangle<int>& bounds, const juce::Rectangle<int>&,
                                          const juce::Rectangle<int>&, bool isStretchingTop, bool isStretchingLeft,
                                          bool isStretchingBottom, bool isStretchingRight)
{
    const auto acrossOnly = (isStretchingLeft || isStretchingRight) && ! (isStretchingTop || isStretchingBottom);
    const auto downOnly = (isStretchingTop || isStretchingBottom) && ! (isStretchingLeft || isStretchingRight);

    // Dragging one edge, that edge sets the zoom; otherwise the panel fits.
    const auto zoom = acrossOnly ? zoomForSize (bounds.getWidth(), std::numeric_limits<int>::max())
                    : downOnly   ? zoomForSize (std::numeric_limits<int>::max(), bounds.getHeight())
                                 : zoomForSize (bounds.getWidth(), bounds.getHeight());
    const auto size = sizeForZoom (zoom);

    bounds = { isStretchingLeft ? bounds.getRight() - size.getWidth() : bounds.getX(),
               isStretchingTop ? bounds.getBottom() - size.getHeight() : bounds.getY(),
               size.getWidth(), size.getHeight() };
}

//==============================================================================
juce::Rectangle<int> Editor::sizeForZoom (double zoom) noexcept
{
    // Halves round up.
    zoom = juce::jlimit (EditorZoom::minimum, EditorZoom::maximum, zoom);
    return { (int) std::lround (panelWidth * zoom), (int) std::lround (panelHeight * zoom) };
}

double Editor::zoomForSize (int width, int height) noexcept
{
    const auto fitting = std::min ((double) width / panelWidth, (double) height / panelHeight);
    return juce::jlimit (EditorZoom::minimum, EditorZoom::maximum, fitting);
}

//==============================================================================
Editor::Editor (Processor& p, juce::AudioProcessorValueTreeState& parameters)
    : juce::AudioProcessorEditor (p), processor (p)
{
    zoom = openingZoom();

    // Only the pictures for this zoom are decoded; the window system's own
    // scale is known once the window is on the screen.
    pictureScale = Pictures::scaleFor (zoom * windowScale());
    const auto pictures = Pictures::getAll (pictureScale);
    background = pictures[Pictures::background];

    const auto makeKnob = [this, &pictures] (const char* name, Pictures::Id picture, juce::Rectangle<int> bounds)
    {
        auto knob = std::make_unique<Knob_frames> (name, pictures[picture], Pictures::framesAcross (picture, pictureScale));
        addAndMakeVisible (*knob);
        knob->setRange (0.0, 10.0, 0.0);
        knob->setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
        knob->setTextBoxStyle (juce::Slider::NoTextBox, false, 80, 20);
        knob->addListener (this);
        knob->setBounds (bounds);
        return knob;
    };

    depthKnob = makeKnob ("depth", Pictures::knobDepth, depthArea);
    speedKnob = makeKnob ("speed", Pictures::knobSpeed, speedArea);
    mixKnob   = makeKnob ("mix",   Pictures::knobMix,   mixArea);

    const auto setUpSwitch = [this] (FilmStripToggle& button, juce::Rectangle<int> bounds)
    {
        addAndMakeVisible (button);
        button.setButtonText ({});
        button.addListener (this);
        button.setBounds (bounds);
    };

    chorusLed = std::make_unique<Toggle_frames> ("chorus_led", pictures[Pictures::chorusLed], pictureScale);
    setUpSwitch (*chorusLed, lampArea);

    chorusSwitch = std::make_unique<ToggleClick_frames> ("chorus_on", pictures[Pictures::footswitch], pictureScale);
    setUpSwitch (*chorusSwitch, switchArea);

    stereoToggle = std::make_unique<Toggle_frames> ("toggle_stereo", pictures[Pictures::toggleStereo], pictureScale);
    setUpSwitch (*stereoToggle, toggleArea);

    valueReadout = std::make_unique<ValueReadout>();
    valueReadout->setPictures (pictures[Pictures::readoutDigits], pictureScale);
    addChildComponent (*valueReadout);
    valueReadout->setAlwaysOnTop (true);

    // Each attachment sets its control from the parameter at once. The slider
    // attachments also give the knobs the parameter's range, its text and its
    // default for a double-click.
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;

    stereoAttachment   = std::make_unique<ButtonAttachment> (parameters, "stereo_proc", *stereoToggle);
    chorusOnAttachment = std::make_unique<ButtonAttachment> (parameters, "chorus_on", *chorusLed);
    depthAttachment    = std::make_unique<SliderAttachment> (parameters, "chorus_depth", *depthKnob);
    speedAttachment    = std::make_unique<SliderAttachment> (parameters, "chorus_speed", *speedKnob);
    mixAttachment      = std::make_unique<SliderAttachment> (parameters, "chorus_mix", *mixKnob);

    // The lamp only shows chorus_on; the foot switch is what changes it.
    chorusLed->setEnabled (false);

    setConstrainer (&zoomConstrainer);
    setResizable (true, false);

    cornerGrip = std::make_unique<CornerGrip> (this, &zoomConstrainer);
    addAndMakeVisible (*cornerGrip);
    cornerGrip->setAlwaysOnTop (true);

    const juce::ScopedValueSetter<bool> ownSize (settingOwnSize, true);
    const auto size = sizeForZoom (zoom);
    setSize (size.getWidth(), size.getHeight());
}

Editor::~Editor()
{
    // The attachments go first: they listen to the controls and to the
    // parameters.
    stereoAttachment.reset();
    chorusOnAttachment.reset();
    depthAttachment.reset();
    speedAttachment.reset();
    mixAttachment.reset();

    depthKnob.reset();
    speedKnob.reset();
    mixKnob.reset();
    chorusLed.reset();
    chorusSwitch.reset();
    stereoToggle.reset();

    cornerGrip.reset();
    valueReadout.reset();
    background = {};

    // The pictures no other window shows go now, not when the module is
    // unloaded: at 300% they are tens of megabytes.
    Pictures::releaseUnused();

    // The constrainer is about to go; a window of the editor's own must not
    // keep it.
    setConstrainer (nullptr);
}

//==============================================================================
double Editor::openingZoom()
{
    if (const auto kept = processor.editorZoom.load(); kept > 0.0)
    {
        zoomOrigin = ZoomOrigin::instance;
        return fitOnScreen (kept);
    }

    if (const auto chosen = rememberedZoom.recall())
    {
        zoomOrigin = ZoomOrigin::user;
        return fitOnScreen (*chosen);
    }

    zoomOrigin = ZoomOrigin::screen;
    return fitOnScreen (DesktopScale::unapplied());
}

bool Editor::fitsOnScreen (double zoom)
{
    const auto* screen = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay();

    if (screen == nullptr || screen->userArea.isEmpty())
        return true;

    // Room for what a host or the window system puts around the panel: a
    // title bar, a host's tool bar.
    constexpr int surroundings = 64;

    const auto size = sizeForZoom (zoom);
    return size.getWidth() <= screen->userArea.getWidth() && size.getHeight() <= screen->userArea.getHeight() - surroundings;
}

double Editor::fitOnScreen (double wanted)
{
    wanted = juce::jlimit (EditorZoom::minimum, EditorZoom::maximum, wanted);

    if (fitsOnScreen (wanted))
        return wanted;

    // Too large for this screen: the largest zoom of the menu that fits.
    for (auto i = std::size (menuZooms); i > 0; --i)
        if (menuZooms[i - 1] < wanted && fitsOnScreen (menuZooms[i - 1]))
            return menuZooms[i - 1];

    return EditorZoom::minimum;
}

double Editor::windowScale() const
{
    auto scale = (double) juce::Component::getApproximateScaleFactorForComponent (this);

    if (auto* peer = getPeer())
        scale *= peer->getPlatformScaleFactor();

    return scale;
}

void Editor::setZoom (double newZoom)
{
    applyZoom (newZoom);
    keepChosenZoom();
}

void Editor::applyZoom (double newZoom)
{
    zoom = juce::jlimit (EditorZoom::minimum, EditorZoom::maximum, newZoom);

    const juce::ScopedValueSetter<bool> ownSize (settingOwnSize, true);
    const auto size = sizeForZoom (zoom);
    setSize (size.getWidth(), size.getHeight());
    layOut();
}

void Editor::keepChosenZoom()
{
    zoomOrigin = ZoomOrigin::instance;
    processor.editorZoom = zoom;
    rememberedZoom.remember (zoom);
}

void Editor::setScaleFactor (float newScale)
{
    // Deliberately not the framework's transform: the scale is taken as the
    // zoom, so the editor's size is always the window's size. Resized a
    // moment later: a host's wrapper may set the editor's size back right
    // after telling it the scale.
    if (! (newScale > 0.0f) || ! std::isfinite (newScale))
        return;

    hostScale = newScale;

    if (zoomOrigin == ZoomOrigin::screen)
        triggerAsyncUpdate();
}

void Editor::handleAsyncUpdate()
{
    // A zoom chosen by the user or kept by the instance stays as it is.
    if (zoomOrigin == ZoomOrigin::screen && hostScale > 1.0 + 1.0e-3)
        applyZoom (fitOnScreen (hostScale));
}

//==============================================================================
void Editor::resized()
{
    const auto size = sizeForZoom (zoom);

    if (getLocalBounds() != size)
    {
        const auto kind = settingOwnSize ? SizeFromOutside::shown : judgeSizeFromOutside();

        if (kind == SizeFromOutside::setAside)
        {
            // The zoom stays, and the editor keeps its size: the window
            // around it may be larger or smaller for a while.
            setSize (size.getWidth(), size.getHeight());
            return;
        }

        // The panel takes the largest zoom that fits the size, and the
        // editor that zoom's size.
        const auto fitting = zoomForSize (getWidth(), getHeight());
        const auto changed = ! sameZoom (fitting, zoom);
        zoom = fitting;

        if (changed && kind == SizeFromOutside::chosen)
            keepChosenZoom();

        const auto fitted = sizeForZoom (zoom);

        if (getLocalBounds() != fitted)
        {
            setSize (fitted.getWidth(), fitted.getHeight());
            return;
        }
    }

    layOut();
}

Editor::SizeFromOutside Editor::judgeSizeFromOutside() const
{
    const auto& grip = static_cast<const CornerGrip&> (*cornerGrip);

    // The user drags the panel's corner.
    if (grip.isResizingTheEditor())
        return SizeFromOutside::chosen;

    // While the corner is held, any other size is the host answering the
    // corner's with its window's size as it was (GTK 2 keeps a window that
    // would shrink, and a window manager follows a moment later).
    if (grip.isMouseButtonDown())
        return SizeFromOutside::setAside;

    // The user drags the edge of a window around the panel (a mouse button
    // is down then, wherever the pointer is).
    if (juce::ModifierKeys::getCurrentModifiersRealtime().isAnyMouseButtonDown())
        return SizeFromOutside::chosen;

    // A host or the window system setting up or fitting its window, which
    // some do with a few sizes in turn, or answering a zoom chosen from the
    // menu with its window's old size: a zoom the user or the instance has
    // chosen stays; otherwise the panel shows the size.
    return zoomOrigin == ZoomOrigin::screen ? SizeFromOutside::shown : SizeFromOutside::setAside;
}

void Editor::layOut()
{
    // The controls keep their bounds in panel units; the zoom is theirs.
    const auto transform = juce::AffineTransform::scale ((float) zoom);

    for (auto* control : std::initializer_list<juce::Component*> { depthKnob.get(), speedKnob.get(), mixKnob.get(),
                                                                   chorusLed.get(), chorusSwitch.get(), stereoToggle.get(),
                                                                   valueReadout.get() })
        control->setTransform (transform);

    cornerGrip->setBounds (getLocalBounds().removeFromBottom (CornerGrip::size).removeFromRight (CornerGrip::size));

    usePictures (Pictures::scaleFor (zoom * windowScale()));
    repaint();
}

void Editor::parentHierarchyChanged()
{
    // On the screen now, or on another: the window system's scale is known.
    usePictures (Pictures::scaleFor (zoom * windowScale()));
}

void Editor::usePictures (int scale)
{
    // (Not while the controls are being made or taken down.)
    if (scale == pictureScale || valueReadout == nullptr || depthKnob == nullptr)
        return;

    pictureScale = scale;
    const auto pictures = Pictures::getAll (scale);
    background = pictures[Pictures::background];

    for (const auto& [knob, picture] : { std::pair { depthKnob.get(), Pictures::knobDepth },
                                         std::pair { speedKnob.get(), Pictures::knobSpeed },
                                         std::pair { mixKnob.get(), Pictures::knobMix } })
    {
        knob->stripImage = pictures[picture];
        knob->setFilmStrip (&knob->stripImage, 65, Pictures::framesAcross (picture, scale));
    }

    for (const auto& [toggle, picture] : { std::pair<Toggle_frames*, Pictures::Id> { chorusLed.get(), Pictures::chorusLed },
                                           std::pair<Toggle_frames*, Pictures::Id> { chorusSwitch.get(), Pictures::footswitch },
                                           std::pair<Toggle_frames*, Pictures::Id> { stereoToggle.get(), Pictures::toggleStereo } })
    {
        toggle->stripImage = pictures[picture];
        toggle->setFilmStrip (&toggle->stripImage, 2, scale);
    }

    valueReadout->setPictures (pictures[Pictures::readoutDigits], scale);
    repaint();
}

//==============================================================================
void Editor::paint (juce::Graphics& g)
{
    // Where the window system draws at a scale of its own, the pictures for
    // that scale; normally they are in use already.
    usePictures (Pictures::scaleFor (zoom * (double) g.getInternalContext().getPhysicalPixelScaleFactor()));

    g.fillAll (panelColour);

    // At zooms whose size is not a whole number of pixels, the window is a
    // fraction of a pixel larger than the panel: that last column or row
    // shows the picture's edge, stretched, rather than the plain colour.
    const auto panelArea = juce::Rectangle<float> ((float) (panelWidth * zoom), (float) (panelHeight * zoom));
    const auto wholePixels = juce::Rectangle<int> ((int) panelArea.getWidth(), (int) panelArea.getHeight());

    if (wholePixels != getLocalBounds())
    {
        const juce::Graphics::ScopedSaveState state (g);
        g.excludeClipRegion (wholePixels);
        g.drawImage (background, getLocalBounds().toFloat());
    }

    // At 100% with the pictures at scale 1 this is a plain copy of the
    // background, pixel for pixel.
    g.drawImageTransformed (background, juce::AffineTransform::scale ((float) (zoom / pictureScale)));
}

void Editor::mouseDown (const juce::MouseEvent& e)
{
    if (! e.mods.isPopupMenu())
        return;

    createPanelMenu().showMenuAsync (juce::PopupMenu::Options()
                                        .withParentComponent (this)
                                        .withTargetScreenArea ({ e.getScreenX(), e.getScreenY(), 1, 1 }));
}

juce::PopupMenu Editor::createPanelMenu()
{
    juce::PopupMenu menu;
    menu.addSectionHeader ("Presets");

    const auto* current = FactoryPresets::matching (processor);
    int id = presetMenuIds;

    for (const auto& preset : FactoryPresets::all())
    {
        juce::PopupMenu::Item item (preset.name);
        item.setID (++id);
        item.setTicked (&preset == current);
        // Only the parameters change, as one gesture the host can record
        // and undo; the audio plays on.
        item.setAction ([editor = juce::Component::SafePointer<Editor> (this), &preset]
        {
            if (editor != nullptr)
                FactoryPresets::apply (preset, editor->processor);
        });
        menu.addItem (std::move (item));
    }

    const auto zoomMenu = createZoomMenu();

    for (juce::PopupMenu::MenuItemIterator zoomItems (zoomMenu); zoomItems.next();)
        menu.addItem (zoomItems.getItem());

    return menu;
}

juce::PopupMenu Editor::createZoomMenu()
{
    juce::PopupMenu menu;
    menu.addSectionHeader ("Zoom");

    int id = 0;

    for (const auto menuZoom : menuZooms)
    {
        juce::PopupMenu::Item item (EditorZoom::toText (menuZoom) + "%");
        item.setID (++id);
        item.setTicked (std::abs (zoom - menuZoom) < 0.0005);
        // A zoom whose window would not fit the screen is not offered.
        item.setEnabled (item.isTicked || fitsOnScreen (menuZoom));
        item.setAction ([editor = juce::Component::SafePointer<Editor> (this), menuZoom]
        {
            if (editor != nullptr)
                editor->setZoom (menuZoom);
        });
        menu.addItem (std::move (item));
    }

    return menu;
}

//==============================================================================
void Editor::sliderDragStarted (juce::Slider* slider)
{
    const auto* knob = dynamic_cast<Knob_frames*> (slider);
    const auto area = knob == depthKnob.get() ? depthArea
                    : knob == speedKnob.get() ? speedArea
                    : knob == mixKnob.get() ? mixArea
                                            : juce::Rectangle<int>();

    if (area.isEmpty())
        return;

    stopTimer();
    readoutKnob = slider;
    valueReadout->showUnder (slider->getTextFromValue (slider->getValue()), area);
}

void Editor::sliderValueChanged (juce::Slider* slider)
{
    if (slider == readoutKnob && valueReadout->isVisible())
        valueReadout->setText (slider->getTextFromValue (slider->getValue()));
}

void Editor::sliderDragEnded (juce::Slider* slider)
{
    if (slider == readoutKnob)
        startTimer (readoutHoldMs);
}

void Editor::timerCallback()
{
    stopTimer();
    valueReadout->setVisible (false);
    readoutKnob = nullptr;
}

void Editor::buttonClicked (juce::Button* button)
{
    if (button == chorusSwitch.get() && button != chorusLed.get())
    {
        // Goes through the lamp's attachment, which writes chorus_on as one
        // complete change gesture.
        chorusLed->setToggleState (! chorusLed->getToggleState(), juce::sendNotificationSync);
    }
}
