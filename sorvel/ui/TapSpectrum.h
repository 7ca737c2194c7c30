// The spectrum analyser behind the EQ view: collects the processor's three spectrum taps and,
// once enough new samples have arrived, computes a smoothed third-octave spectrum (120 bands
// from 20 Hz to 20 kHz, 0.3 s smoothing) of the taps the view shows. Filled by the editor's
// refresh on the message thread; nothing is allocated after prepare.
#pragma once

#include "sorvel/engine/EditorFeed.h"

#include <juce_dsp/juce_dsp.h>

#include <array>
#include <vector>

class TapSpectrum
{
public:
    static constexpr int numTaps = 3;
    static constexpr int numBands = 120;
    static constexpr int fftOrder = 13;
    static constexpr int fftSize = 1 << fftOrder; // 8192
    static constexpr int hop = 1024;              // new samples per analysis
    static constexpr float silentDb = -120.0f;    // every level after a reset

    // One band in FFT bins: lower and upper edge, and the weight that scales a band widened to
    // 400 Hz back to the power of its third of an octave.
    struct Band
    {
        float low = 0, high = 0, weight = 0;
    };

    TapSpectrum();

    // Sizes the buffers and lays out the bands for the rate (48 kHz when it is not above 0).
    void prepare(double rate);

    // Forgets everything: silent rings, no smoothing history, nothing analysed.
    void reset();

    // Moves every frame waiting in the FIFO into the rings (the newest 8192 of each tap stay).
    // Returns the number of frames taken.
    std::uint32_t pull(sv2::TapFifo& fifo);

    // Empties the FIFO without keeping anything: stale taps from before the view was shown.
    static void drain(sv2::TapFifo& fifo);

    // Analyses the taps marked in `taps` when at least `hop` new samples have arrived since the
    // last analysis; true when it ran.
    bool analyse(const std::array<bool, numTaps>& taps);

    // The pull and analysis step of one refresh tick.
    bool pullAndAnalyse(sv2::TapFifo& fifo, const std::array<bool, numTaps>& taps)
    {
        pull(fifo);
        return analyse(taps);
    }

    // The centre of band k (Hz).
    static float bandHz(int k);

    std::array<std::array<float, numBands>, numTaps> levels{}; // dB
    std::array<bool, numTaps> analysed{};
    double sampleRate = 0.0;
    std::array<Band, numBands> bands{};

private:
    void analyseTap(int tap, float smoothing);

    std::vector<float> window;                                // periodic Hann
    std::vector<float> fftData;                               // 2 x fftSize: the transform's work buffer
    std::array<std::vector<float>, numTaps> rings;            // fftSize samples each
    std::array<std::array<float, numBands>, numTaps> power{}; // smoothed band powers
    int writePos = 0;                                         // shared by the three rings
    int fresh = 0;                                            // samples since the last analysis
    juce::dsp::FFT fft{fftOrder};
};
