#include "ui/Editor.h"

#include "plugin/Processor.h"

#include <BinaryData.h>

namespace
{
    constexpr int panelWidth = 370;
    constexpr int panelHeight = 476;

    // Shown where the background picture is missing.
    const juce::Colour panelColour { 0xff323e44 };

    juce::Image decode (const void* data, int size)
    {
        return juce::ImageCache::getFromMemory (data, size);
    }
}

Editor::Editor (Processor& p, juce::AudioProcessorValueTreeState& parameters)
    : juce::AudioProcessorEditor (p)
{
    background = decode (BinaryData::background_png, BinaryData::background_pngSize);

    const auto makeKnob = [this] (const char* name, juce::Rectangle<int> bounds)
    {
        auto knob = std::make_unique<Knob_frames> (name);
        addAndMakeVisible (*knob);
        knob->setRange (0.0, 10.0, 0.0);
        knob->setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
        knob->setTextBoxStyle (juce::Slider::NoTextBox, false, 80, 20);
        knob->addListener (this);
        knob->setBounds (bounds);
        return knob;
    };

    depthKnob = makeKnob ("depth", { 91, 71, 76, 73 });
    speedKnob = makeKnob ("speed", { 149, 168, 73, 73 });
    mixKnob   = makeKnob ("mix",   { 206, 71, 73, 73 });

    const auto setUpSwitch = [this] (FilmStripToggle& button, juce::Rectangle<int> bounds)
    {
        addAndMakeVisible (button);
        button.setButtonText ({});
        button.addListener (this);
        button.setBounds (bounds);
    };

    chorusLed = std::make_unique<Toggle_frames> ("chorus_led");
    setUpSwitch (*chorusLed, { 167, 296, 39, 41 });

    chorusSwitch = std::make_unique<ToggleClick_frames> ("chorus_on");
    setUpSwitch (*chorusSwitch, { 160, 349, 51, 50 });

    stereoToggle = std::make_unique<Toggle_frames> ("toggle_stereo");
    setUpSwitch (*stereoToggle, { 32, 14, 31, 20 });

    // Each control gets its own picture.
    const auto giveStrip = [] (auto& control, const void* data, int size, int frames)
    {
        control.stripImage = decode (data, size);
        control.setFilmStrip (&control.stripImage, frames);
    };

    giveStrip (*depthKnob, BinaryData::knob_depth_png, BinaryData::knob_depth_pngSize, 65);
    giveStrip (*speedKnob, BinaryData::knob_speed_png, BinaryData::knob_speed_pngSize, 65);
    giveStrip (*mixKnob, BinaryData::knob_mix_png, BinaryData::knob_mix_pngSize, 65);
    giveStrip (*stereoToggle, BinaryData::toggle_stereo_png, BinaryData::toggle_stereo_pngSize, 2);
    giveStrip (*chorusLed, BinaryData::chorus_led_png, BinaryData::chorus_led_pngSize, 2);
    giveStrip (*chorusSwitch, BinaryData::footswitch_png, BinaryData::footswitch_pngSize, 2);

    // Each attachment sets its control from the parameter at once. The slider
    // attachments also give the knobs the parameter's range and its default
    // for a double-click.
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;

    stereoAttachment   = std::make_unique<ButtonAttachment> (parameters, "stereo_proc", *stereoToggle);
    chorusOnAttachment = std::make_unique<ButtonAttachment> (parameters, "chorus_on", *chorusLed);
    depthAttachment    = std::make_unique<SliderAttachment> (parameters, "chorus_depth", *depthKnob);
    speedAttachment    = std::make_unique<SliderAttachment> (parameters, "chorus_speed", *speedKnob);
    mixAttachment      = std::make_unique<SliderAttachment> (parameters, "chorus_mix", *mixKnob);

    // The lamp only shows chorus_on; the foot switch is what changes it.
    chorusLed->setEnabled (false);

    setSize (panelWidth, panelHeight);
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

    background = {};
}

void Editor::paint (juce::Graphics& g)
{
    g.fillAll (panelColour);
    g.drawImageAt (background, 0, 0);
}

void Editor::sliderValueChanged (juce::Slider*)
{
    // The attachments carry the knobs' values to the parameters.
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
