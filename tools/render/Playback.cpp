#include "Playback.h"

#include "host/PluginHost.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>

namespace
{
bool isPlainNumber(const juce::String& text)
{
    return text.isNotEmpty() && text.containsOnly("-+0123456789.eE") && text.containsAnyOf("0123456789");
}
} // namespace

juce::AudioProcessorParameter* findParameterByIdOrName(juce::AudioProcessor& p, const juce::String& idOrName)
{
    if (auto* prm = host::findParameter(p, idOrName))
        return prm;
    for (auto* prm : p.getParameters())
        if (prm->getName(1024) == idOrName)
            return prm;
    return nullptr;
}

std::optional<float> normalisedValue(juce::AudioProcessorParameter& prm, const juce::String& text,
                                     bool plainNumbersOnly, juce::String& error)
{
    error = "'" + text + "' is not a value of " + prm.getName(1024);
    const int steps = prm.getNumSteps();
    if (prm.isDiscrete() && steps >= 2 && steps <= 1024)
    {
        // Choices and switches: by label, or by index.
        for (int i = 0; i < steps; ++i)
        {
            const auto v = static_cast<float>(i) / static_cast<float>(steps - 1);
            if (prm.getText(v, 1024).equalsIgnoreCase(text))
                return v;
        }
        if (text.containsOnly("0123456789") && text.isNotEmpty() && text.getIntValue() < steps)
            return static_cast<float>(text.getIntValue()) / static_cast<float>(steps - 1);
        return std::nullopt;
    }
    if (plainNumbersOnly)
    {
        if (!isPlainNumber(text))
        {
            error += " (an LV2 plug-in takes plain numbers)";
            return std::nullopt;
        }
        return prm.getValueForText(text);
    }
    // The plug-in's own text-to-value. Text without digits must read back as itself ("auto"),
    // so that words the parameter does not know are refused rather than read as 0.
    const float v = prm.getValueForText(text);
    if (!text.containsAnyOf("0123456789") && !prm.getText(v, 1024).equalsIgnoreCase(text))
        return std::nullopt;
    return v;
}

juce::String ParameterPlan::resolve(juce::AudioProcessor& p, const PlaybackOptions& options,
                                    double sampleRate, bool plainNumbersOnly)
{
    juce::String error;
    for (const auto& s : options.settings)
    {
        auto* prm = findParameterByIdOrName(p, s.id);
        if (prm == nullptr)
            return "unknown parameter " + s.id;
        const auto v = normalisedValue(*prm, s.value, plainNumbersOnly, error);
        if (!v)
            return error;
        values.emplace_back(prm, *v);
    }
    if (options.automation)
    {
        automated = findParameterByIdOrName(p, options.automation->setting.id);
        if (automated == nullptr)
            return "unknown parameter " + options.automation->setting.id;
        const auto v =
            normalisedValue(*automated, options.automation->setting.value, plainNumbersOnly, error);
        if (!v)
            return error;
        automatedValue = *v;
        automationSample = static_cast<juce::int64>(std::llround(options.automation->atSeconds * sampleRate));
    }
    return {};
}

juce::String readAudioFile(const juce::File& file, juce::AudioBuffer<float>& audio, double& sampleRate)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader(formats.createReaderFor(file));
    if (reader == nullptr)
        return "cannot read " + file.getFullPathName() + " (not a readable audio file)";
    const int channels = static_cast<int>(reader->numChannels);
    if (channels < 1 || channels > 2)
        return file.getFullPathName() + " has " + juce::String(channels) + " channels; mono or stereo only";
    sampleRate = reader->sampleRate;
    const auto length = static_cast<int>(reader->lengthInSamples);
    audio.setSize(channels, length);
    if (!reader->read(&audio, 0, length, 0, true, channels > 1))
        return "cannot read " + file.getFullPathName();
    return {};
}

juce::String setUpForPlayback(juce::AudioProcessor& p, const PlaybackOptions& options, int inputChannels,
                              double sampleRate, bool plainNumbersOnly, ParameterPlan& plan)
{
    if (inputChannels == 1)
    {
        // A mono file goes to a mono input where the plug-in takes one; otherwise to both inputs.
        juce::AudioProcessor::BusesLayout monoIn;
        monoIn.inputBuses.add(juce::AudioChannelSet::mono());
        monoIn.outputBuses.add(juce::AudioChannelSet::stereo());
        p.setBusesLayout(monoIn);
    }

    // Every setting is checked before anything is played.
    if (const auto error = plan.resolve(p, options, sampleRate, plainNumbersOnly); error.isNotEmpty())
        return error;

    if (options.loadState != juce::File())
    {
        juce::MemoryBlock state;
        if (!options.loadState.loadFileAsData(state))
            return "cannot read state file " + options.loadState.getFullPathName();
        p.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    }
    return {};
}

Playback::Playback(juce::AudioProcessor& p, const PlaybackOptions& options,
                   const ParameterPlan& parameterPlan, double sampleRate,
                   const std::function<void()>& prepare)
    : processor(p), plan(parameterPlan), transport(options.transportAt(sampleRate), sampleRate),
      sizes(options.blockMin, options.blockMax, options.seed),
      channels(juce::jmax(2, p.getTotalNumInputChannels(), p.getTotalNumOutputChannels()))
{
    buffer.setSize(channels, options.blockMax);
    {
        Transport settle(options.transportAt(sampleRate), sampleRate);
        p.setPlayHead(&settle);
        for (const auto& [prm, v] : plan.values)
            prm->setValueNotifyingHost(v);
        prepare();
        buffer.clear();
        p.processBlock(buffer, midi);
        p.releaseResources();
    }
    p.setPlayHead(&transport);
    prepare();
}

Playback::~Playback()
{
    processor.setPlayHead(nullptr);
}

int Playback::processNext(const juce::AudioBuffer<float>& input, juce::int64 total)
{
    auto n = static_cast<int>(juce::jmin<juce::int64>(sizes.next(), total - pos));
    // Blocks end where the automation or the jump falls, so both land on their sample.
    for (const auto until :
         {plan.automationSample >= 0 ? plan.automationSample - pos : -1, transport.samplesUntilJump()})
        if (until > 0 && until < n)
            n = static_cast<int>(until);

    if (plan.automated != nullptr && pos == plan.automationSample)
        plan.automated->setValueNotifyingHost(plan.automatedValue);

    const int inChannels = input.getNumChannels();
    const auto inputLength = static_cast<juce::int64>(input.getNumSamples());
    buffer.setSize(channels, n, false, false, true);
    buffer.clear();
    for (int c = 0; c < channels; ++c)
    {
        const int from = juce::jmin(c, inChannels - 1);
        const auto available = juce::jlimit<juce::int64>(0, n, inputLength - pos);
        if (c < juce::jmax(processor.getTotalNumInputChannels(), 1) || inChannels == 1)
            buffer.copyFrom(c, 0, input, from, static_cast<int>(pos), static_cast<int>(available));
    }
    if (processor.getTotalNumInputChannels() == 1)
        buffer.clear(1, 0, n); // the output-only channel starts silent, as in a host

    processor.processBlock(buffer, midi);
    transport.advance(n);
    pos += n;
    return n;
}
