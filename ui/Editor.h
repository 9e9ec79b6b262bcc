#pragma once

#include "ui/FilmStrip.h"

#include <juce_audio_processors/juce_audio_processors.h>

class Processor;

/**
    The front panel: a fixed 370 x 476 picture of the pedal with three knobs
    (depth, speed, mix), the chorus lamp, the foot switch and the input-mode
    switch drawn over it from film strips.

    The knobs, the lamp and the input-mode switch are attached to their
    parameters. The foot switch has no parameter of its own: each click of it
    flips the lamp, whose attachment then writes chorus_on. The lamp itself
    only shows the state and cannot be clicked.
*/
class Editor : public juce::AudioProcessorEditor,
               public juce::Slider::Listener,
               public juce::Button::Listener
{
public:
    Editor (Processor& processor, juce::AudioProcessorValueTreeState& parameters);
    ~Editor() override;

    void paint (juce::Graphics&) override;

    void sliderValueChanged (juce::Slider*) override;
    void buttonClicked (juce::Button*) override;

private:
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

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Editor)
};
