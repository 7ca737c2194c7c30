// Test main for the JUCE test binaries: JUCE's message manager exists for the whole run, and no
// X display is needed.
#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
