// Sorvel's views in fixed states, compared with the pictures in tests/sorvelui/reference
// (MOSSLIGHT_REWRITE_REFERENCES=1 rewrites them). The states are written straight into the
// views, so a change of sound elsewhere never moves these pictures.
#include "ViewTestSupport.h"

#include "support/ReferenceImages.h"

#include "sorvel/ui/BlockFeed.h"
#include "sorvel/ui/EqView.h"
#include "sorvel/ui/WaveDisplay.h"

#include <cmath>

using viewtest::KitTest;

namespace
{
const juce::File referenceFolder(MOSSLIGHT_SORVEL_UI_REFERENCE_DIR);

void expectMatches(juce::Component& c, float scale, const juce::String& name)
{
    testsupport::expectMatchesReference(viewtest::render(c, scale), referenceFolder, name);
}

// Five seconds of made-up syllables: levels, reductions and cuts from simple formulas.
void fillHistory(WaveDisplay& wave)
{
    for (int i = 0; i < WaveDisplay::numColumns; ++i)
    {
        const float t = static_cast<float>(i) / 100.0f;     // seconds
        const float syllable = std::fmod(t, 0.42f) / 0.42f; // 0 .. 1 through each syllable
        const float voiced = syllable < 0.75f ? std::sin(syllable / 0.75f * 3.14159f) : 0.0f;
        WaveDisplay::Column c;
        c.inDb = voiced > 0.02f ? -40.0f + 34.0f * std::sqrt(voiced) : -60.0f;
        c.outPeakDb = voiced > 0.02f ? -36.0f + 32.0f * std::sqrt(voiced) : -60.0f;
        c.outDb = voiced > 0.02f ? -44.0f + 30.0f * std::sqrt(voiced) : -60.0f;
        c.levelGr = 2.0f + 3.0f * voiced;
        c.peakGr = 4.0f * voiced * voiced;
        const bool ess = i % 84 > 70;
        c.deessCut = ess ? 7.0f : 0.0f;
        c.deessOn = ess ? 1.0f : 0.0f;
        wave.append(c);
    }
}
} // namespace

TEST_F(KitTest, referenceWaveDisplay)
{
    WaveDisplay wave;
    wave.setSize(1012, 236);
    fillHistory(wave);
    expectMatches(wave, 1.0f, "wave-display@100");
}

TEST_F(KitTest, referenceEqView)
{
    EqView view;
    view.setSize(396, 166);
    view.hpfMode = true;
    const float values[2]{130.0f, 0.0f};
    const int indices[2]{0, 0};
    view.setCurve(values, indices);
    // A vocal-like tilt before the high-pass and the same cut by it after.
    for (int k = 0; k < TapSpectrum::numBands; ++k)
    {
        const float hz = TapSpectrum::bandHz(k);
        const float before =
            svui::interpLog(svui::guide, hz) - 45.0f + 4.0f * std::sin(static_cast<float>(k) * 0.7f);
        view.spectrum.levels[0][static_cast<size_t>(k)] = before;
        view.spectrum.levels[1][static_cast<size_t>(k)] =
            before + static_cast<float>(svui::responseDb(svui::highPassResponse, values, indices, hz));
    }
    view.spectrum.analysed = {true, true, false};
    view.guideOffset = -45.0f;
    expectMatches(view, 2.0f, "eq-view@200");
}

TEST_F(KitTest, referenceChainRow)
{
    ChainRow row;
    row.setSize(1012, 74);
    svui::BlockSources s;
    s.hpf = 3;
    s.deess = 5;
    s.deessCut = 4;
    s.bass = 6;
    s.bassChar = 0;
    s.treble = -4;
    s.trebleChar = 2;
    s.comp = 7;
    s.compChar = 2;
    s.compPeak = 2;
    s.compLevel = 3;
    s.shimmer = -5;
    s.tame = 2;
    s.reverb = 6;
    s.reverbChar = 1;
    s.reverbReturn = -24;
    s.duck = 5;
    s.delay = 3;
    s.delayReturn = -40;
    s.switches[6] = 0; // DELAY off
    s.width = 4;
    s.widthChar = 2;
    s.doubles = -30;
    s.listenIndex = 2;
    svui::fillBlocks(row.blocks, s);
    row.selected = 2;
    row.hovered = 5;
    expectMatches(row, 1.0f, "chain-row@100");
}
