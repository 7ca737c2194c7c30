// editor-bench: what Mirrel's editor costs on the message thread. With the drum loop flowing
// through the processor (transport playing), each 33 ms refresh tick is timed together with the
// repaint it asks for (the regions it dirtied, painted the way a window paints them); full
// repaints are timed cold (a fresh editor: backdrop, knob faces, grain tiles and logo rendered)
// and warm (everything cached); and the tick is timed while the host is stopped and silent.
// Window scales 100 % and 200 %. CPU time of this thread is measured.
//
// Usage: editor-bench <demo folder> [--quick]
#include "EditorBench.h"

#include "mirrel/PluginEditor.h"

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: editor-bench <demo folder> [--quick]\n");
        return 2;
    }
    const bool quick = argc > 2 && juce::String(argv[2]) == "--quick";
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    // The editor opens at its stored scale; the bench sets the scale itself and never stores one.
    const auto loop = editorbench::readLoop(
        juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]).getChildFile("drums.wav"));
    if (loop.getNumSamples() < 48000)
    {
        std::fprintf(stderr, "editor-bench: no drum loop in %s\n", argv[1]);
        return 1;
    }

    std::printf("Mirrel's editor, message thread, CPU time (the drum loop at 48 kHz, transport playing)\n");
    for (const int percent : {100, 200})
    {
        editorbench::fullRepaints<MirrelProcessor, MirrelEditor>(loop, percent, quick ? 3 : 10);
        editorbench::ticks<MirrelProcessor, MirrelEditor>(loop, percent, quick ? 100 : 600,
                                                          [](MirrelEditor&, int) {});
        editorbench::stoppedAndSilent<MirrelProcessor, MirrelEditor>(loop, percent, quick ? 100 : 600);
    }
    return 0;
}
