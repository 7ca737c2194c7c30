// sorvel-editor-bench: what Sorvel's editor costs on the message thread, measured as editor-bench
// measures Mirrel's (EditorBench.h): the demo phrase flowing with every module selected in turn
// (HIGH-PASS and EQ run the spectrum analysis), full repaints cold and warm, and ticks while the
// host is stopped and silent, at 100 % and 200 %.
//
// Usage: sorvel-editor-bench <demo folder> [--quick]
#include "EditorBench.h"

#include "sorvel/PluginEditor.h"

namespace
{
// The tick alone and with its repaint for each module selected, audio flowing.
void ticksPerModule(const juce::AudioBuffer<float>& phrase, int percent, int count)
{
    using namespace editorbench;
    Sorvel2Processor processor;
    Feeder<Sorvel2Processor> feeder(processor, phrase, true);
    Window<Sorvel2Editor> window(processor, percent);
    std::printf("  per module at %3d %% (tick alone; tick and its repaint, mean and p99):\n", percent);
    for (int m = 0; m < svui::numModules; ++m)
    {
        window.editor->select(m);
        window.paintAll();
        Stats tick, tickAndPaint;
        for (int i = 0; i < count; ++i)
        {
            feeder.play33ms(false);
            double t = cpuSeconds();
            window.tickAndPaint();
            tickAndPaint.add(cpuSeconds() - t);
            feeder.play33ms(false);
            t = cpuSeconds();
            window.editor->timerCallback();
            tick.add(cpuSeconds() - t);
        }
        std::printf("    %-10s tick %6.1f us; with its repaint %6.0f us, %6.0f us\n",
                    svui::blockNames[m].toRawUTF8(), tick.mean(), tickAndPaint.mean(),
                    tickAndPaint.percentile(0.99));
    }
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: sorvel-editor-bench <demo folder> [--quick]\n");
        return 2;
    }
    const bool quick = argc > 2 && juce::String(argv[2]) == "--quick";
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    // The editor opens at its stored scale; the bench sets the scale itself and never stores one.
    const auto loop = editorbench::readLoop(
        juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]).getChildFile("phrase.wav"));
    if (loop.getNumSamples() < 48000)
    {
        std::fprintf(stderr, "sorvel-editor-bench: no demo phrase in %s\n", argv[1]);
        return 1;
    }

    std::printf("Sorvel's editor, message thread, CPU time (the demo phrase at 48 kHz, transport playing)\n");
    for (const int percent : {100, 200})
    {
        editorbench::fullRepaints<Sorvel2Processor, Sorvel2Editor>(loop, percent, quick ? 3 : 10);
        editorbench::ticks<Sorvel2Processor, Sorvel2Editor>(loop, percent, quick ? 100 : 600,
                                                            [](Sorvel2Editor& editor, int i)
                                                            {
                                                                // Every module in turn, 25 ticks each.
                                                                if (i % 25 == 0)
                                                                    editor.select((i / 25) % 8);
                                                            });
        ticksPerModule(loop, percent, quick ? 20 : 100);
        editorbench::stoppedAndSilent<Sorvel2Processor, Sorvel2Editor>(loop, percent, quick ? 100 : 600);
    }
    return 0;
}
