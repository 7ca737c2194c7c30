#pragma once

#include <juce_core/juce_core.h>

#include <iostream>
#include <string>
#include <unistd.h>

// A progress bar on stderr for the tools that play a whole file: shown when asked, or on a
// terminal when the file is long enough to be worth watching. Redrawn only when the percentage
// moves.
class Progress
{
public:
    Progress(bool asked, bool longOnATerminal)
        : enabled(asked || (longOnATerminal && isatty(STDERR_FILENO) != 0))
    {
    }

    void show(juce::int64 done, juce::int64 total)
    {
        if (!enabled || total <= 0)
            return;
        const int percent = static_cast<int>(done * 100 / total);
        if (percent == last)
            return;
        last = percent;
        const int filled = percent * 30 / 100;
        std::cerr << "\r[" << std::string(static_cast<size_t>(filled), '#')
                  << std::string(static_cast<size_t>(30 - filled), '.') << "] " << percent << " %"
                  << std::flush;
        if (done >= total)
            std::cerr << "\n";
    }

private:
    bool enabled;
    int last = -1;
};
