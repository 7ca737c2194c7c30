// render: a command-line host. Loads a built plug-in bundle (VST3 or LV2) through JUCE's own
// plug-in hosting and renders WAV files through it, with parameters, automation, a simulated
// transport and saved states. Also prints what a host sees of a plug-in (--info).
#include "Options.h"
#include "Playback.h"
#include "Progress.h"
#include "host/PluginHost.h"

#include "common/dsp/LoudnessMeter.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <chrono>
#include <iostream>
#include <optional>
#include <climits>
#include <cstdlib>

namespace
{
// Integrated loudness (BS.1770) of the first two channels of a buffer, LUFS; -100 for silence.
float integratedLoudness(const juce::AudioBuffer<float>& audio, double rate)
{
    sv::LoudnessMeter meter;
    meter.prepare(rate);
    const float* right = audio.getNumChannels() > 1 ? audio.getReadPointer(1) : nullptr;
    meter.process(audio.getReadPointer(0), right, audio.getNumSamples());
    return meter.integrated();
}

juce::String lufs(float value)
{
    return value <= -99.0f ? juce::String("silent") : juce::String(value, 1) + " LUFS";
}

int fail(const juce::String& message)
{
    std::cerr << "render: " << message << "\n";
    return 1;
}

bool sameFile(const juce::File& a, const juce::File& b)
{
    auto canonical = [](const juce::File& f)
    {
        char resolved[PATH_MAX];
        if (realpath(f.getParentDirectory().getFullPathName().toRawUTF8(), resolved) != nullptr)
            return juce::File(juce::String::fromUTF8(resolved))
                .getChildFile(f.getFileName())
                .getLinkedTarget();
        return f.getLinkedTarget();
    };
    return canonical(a) == canonical(b);
}

juce::String describeLayout(const juce::AudioChannelSet& in, const juce::AudioChannelSet& out)
{
    return in.getDescription() + " -> " + out.getDescription();
}

int showInfo(const RenderOptions& opt)
{
    juce::String error;
    auto plugin = host::HostedPlugin::load(opt.plugin, opt.infoRate, 512, error);
    if (plugin == nullptr)
        return fail(error);
    auto& p = plugin->processor();

    using Set = juce::AudioChannelSet;
    juce::StringArray layouts;
    for (const auto& [in, out] :
         {std::pair{Set::mono(), Set::stereo()}, std::pair{Set::stereo(), Set::stereo()},
          std::pair{Set::mono(), Set::mono()}, std::pair{Set::stereo(), Set::mono()}})
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add(in);
        layout.outputBuses.add(out);
        const bool ok = p.checkBusesLayoutSupported(layout);
        layouts.add(describeLayout(in, out) + (ok ? ": yes" : ": no"));
    }

    plugin->prepare(opt.infoRate, 512);
    juce::AudioBuffer<float> silence(juce::jmax(p.getTotalNumInputChannels(), p.getTotalNumOutputChannels()),
                                     512);
    silence.clear();
    juce::MidiBuffer midi;
    p.processBlock(silence, midi); // LV2 reports its latency while running

    std::cout << "plugin:     " << p.getName() << " (" << plugin->formatName() << ") "
              << opt.plugin.getFullPathName() << "\n"
              << "latency:    " << p.getLatencySamples() << " samples at " << opt.infoRate << " Hz\n"
              << "tail:       " << p.getTailLengthSeconds() << " s\n"
              << "layouts:    " << layouts.joinIntoString("; ") << "\n"
              << "parameters: " << p.getParameters().size() << "\n";

#define ROW_FORMAT "  %-15s %-24s %-12s %-12s %s\n"
    std::printf(ROW_FORMAT, "id", "name", "default", "value", "range");
    for (auto* prm : p.getParameters())
    {
        const auto range = prm->getText(0.0f, 64) + " .. " + prm->getText(1.0f, 64);
        std::printf(ROW_FORMAT, host::pluginParameterId(*prm).toRawUTF8(), prm->getName(64).toRawUTF8(),
                    prm->getText(prm->getDefaultValue(), 64).toRawUTF8(),
                    prm->getText(prm->getValue(), 64).toRawUTF8(), range.toRawUTF8());
    }
#undef ROW_FORMAT
    std::fflush(stdout);
    return 0;
}

int render(const RenderOptions& opt)
{
    if (!opt.input.existsAsFile())
        return fail("no input file " + opt.input.getFullPathName());
    if (sameFile(opt.input, opt.output))
        return fail("the output would overwrite the input " + opt.input.getFullPathName());
    if (opt.loadState != juce::File() && !opt.loadState.existsAsFile())
        return fail("no state file " + opt.loadState.getFullPathName());

    juce::AudioBuffer<float> input;
    double rate = 0.0;
    if (const auto readError = readAudioFile(opt.input, input, rate); readError.isNotEmpty())
        return fail(readError);
    const int inChannels = input.getNumChannels();
    const int inputLength = input.getNumSamples();

    juce::String error;
    auto plugin = host::HostedPlugin::load(opt.plugin, rate, opt.blockMax, error);
    if (plugin == nullptr)
        return fail(error);
    auto& p = plugin->processor();
    const bool isLv2 = plugin->formatName() == "LV2";

    ParameterPlan plan;
    if (const auto setUpError = setUpForPlayback(p, opt, inChannels, rate, isLv2, plan);
        setUpError.isNotEmpty())
        return fail(setUpError);

    Playback playback(p, opt, plan, rate, [&] { plugin->prepare(rate, opt.blockMax); });

    const auto total = static_cast<juce::int64>(inputLength) +
                       static_cast<juce::int64>(std::llround(opt.tailSeconds * rate));
    juce::AudioBuffer<float> output(2, static_cast<int>(total));
    const int outChannels = juce::jmin(2, p.getTotalNumOutputChannels());
    Progress progress(opt.progress, total > static_cast<juce::int64>(5.0 * rate));

    const auto started = std::chrono::steady_clock::now();
    while (playback.position() < total)
    {
        const auto pos = playback.position();
        const int n = playback.processNext(input, total);
        for (int c = 0; c < 2; ++c)
            output.copyFrom(c, static_cast<int>(pos), playback.block(), juce::jmin(c, outChannels - 1), 0, n);
        progress.show(playback.position(), total);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    // Written next to the output first and moved into place, so a failure leaves no half file.
    const auto temp = opt.output.getSiblingFile("." + opt.output.getFileName() + ".render-tmp");
    {
        temp.deleteFile();
        auto stream = std::make_unique<juce::FileOutputStream>(temp);
        if (!stream->openedOk())
            return fail("cannot write " + opt.output.getFullPathName());
        juce::WavAudioFormat wavFormat;
        std::unique_ptr<juce::AudioFormatWriter> writer(
            wavFormat.createWriterFor(stream.get(), rate, 2, opt.bits, {}, 0));
        if (writer == nullptr)
        {
            temp.deleteFile();
            return fail("cannot write " + opt.output.getFullPathName());
        }
        stream.release(); // the writer owns it now
        const bool written = writer->writeFromAudioSampleBuffer(output, 0, output.getNumSamples());
        writer.reset();
        if (!written)
        {
            temp.deleteFile();
            return fail("cannot write " + opt.output.getFullPathName());
        }
    }
    if (!temp.moveFileTo(opt.output))
    {
        temp.deleteFile();
        return fail("cannot write " + opt.output.getFullPathName());
    }

    if (opt.saveState != juce::File())
    {
        juce::MemoryBlock state;
        p.getStateInformation(state);
        if (!opt.saveState.replaceWithData(state.getData(), state.getSize()))
            return fail("cannot write state file " + opt.saveState.getFullPathName());
    }

    const double audioSeconds = static_cast<double>(total) / rate;
    std::cout << "rendered " << juce::String(audioSeconds, 2) << " s of audio at " << rate << " Hz through "
              << p.getName() << " (" << plugin->formatName() << ") in " << juce::String(seconds, 3) << " s, "
              << juce::String(seconds > 0.0 ? audioSeconds / seconds : 0.0, 1) << "x real time -> "
              << opt.output.getFullPathName() << std::endl;
    // A mono file counts on both sides, as it plays on both.
    juce::AudioBuffer<float> stereoInput(2, input.getNumSamples());
    for (int c = 0; c < 2; ++c)
        stereoInput.copyFrom(c, 0, input, juce::jmin(c, inChannels - 1), 0, input.getNumSamples());
    std::cout << "loudness: input " << lufs(integratedLoudness(stereoInput, rate)) << ", output "
              << lufs(integratedLoudness(output, rate)) << " (integrated)" << std::endl;
    return 0;
}
} // namespace

int main(int argc, char* argv[])
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add(juce::String::fromUTF8(argv[i]));
    if (args.isEmpty() || args.contains("--help") || args.contains("-h"))
    {
        std::cout << RenderOptions::usage();
        return args.isEmpty() ? 2 : 0;
    }

    RenderOptions opt;
    if (const auto error = opt.parse(args); error.isNotEmpty())
    {
        std::cerr << "render: " << error << " (render --help shows the options)\n";
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    return opt.info ? showInfo(opt) : render(opt);
}
