#include "SorvelSheets.h"

#include "Sheet.h"
#include "SorvelRun.h"

#include "sorvel/ui/BlockFeed.h"
#include "sorvel/ui/ChainRow.h"
#include "sorvel/ui/EqView.h"
#include "sorvel/ui/PowerButton.h"
#include "sorvel/ui/SegmentedChoice.h"
#include "sorvel/ui/SorvelLookAndFeel.h"
#include "sorvel/ui/WaveDisplay.h"

#include <cmath>

namespace gallery
{
namespace
{
using Settings = std::map<juce::String, float>;

// The processor of a sheet: a base of its own, so it is made before the editor and goes after it.
struct ProcessorHolder
{
    Sorvel2Processor sorvel;
};

// A sheet in Sorvel's look with its own processor, whose parameters the views are bound to.
class SorvelSheet : protected ProcessorHolder, public Sheet
{
public:
    SorvelSheet(const juce::String& sheetTitle, int width, int height)
        : Sheet(sorvel, sheetTitle, width, height)
    {
        setLookAndFeel(&sorvelLook);
    }

    ~SorvelSheet() override
    {
        for (auto* child : getChildren())
            child->setLookAndFeel(nullptr);
        setLookAndFeel(nullptr);
    }

protected:
    SorvelLookAndFeel sorvelLook;
};

// The wave history of a run of the phrase, as the refresh appends it.
void fillWave(WaveDisplay& wave, Sorvel2Processor& processor, const Settings& settings)
{
    setParameters(processor, settings);
    runPhrase(processor, 6.2, [&](const sv2::MeteringRecord& r) { wave.appendRecord(r); });
}

// What the refresh keeps for the blocks after a run: the newest records' peaks.
void fillReadouts(svui::BlockSources& s, Sorvel2Processor& processor, const Settings& settings)
{
    using R = sv2::MeteringRecord;
    setParameters(processor, settings);
    std::vector<R> records;
    runPhrase(processor, 1.9, [&](const R& r) { records.push_back(r); });
    s.reverbReturn = s.delayReturn = s.doubles = -120.0f;
    for (size_t i = records.size() > 12 ? records.size() - 12 : 0; i < records.size(); ++i)
    {
        const auto& r = records[i];
        s.deessCut = juce::jmax(s.deessCut, r[R::deessReductionDb]);
        s.compPeak = juce::jmax(s.compPeak, r[R::compStage1Db]);
        s.compLevel = juce::jmax(s.compLevel, r[R::compStage2Db]);
        s.tame = juce::jmax(s.tame, r[R::shimmerTamingDb]);
        s.lift = r[R::shimmerLiftDb];
        s.duck = juce::jmax(s.duck, r[R::duckingDb]);
        s.reverbReturn = juce::jmax(s.reverbReturn, r[R::reverbReturnDb]);
        s.delayReturn = juce::jmax(s.delayReturn, r[R::delayReturnDb]);
        s.doubles = juce::jmax(s.doubles, r[R::widthReturnDb]);
    }
    svui::BlockParameters(processor.apvts).read(s);
}

class WaveSheet : public SorvelSheet
{
public:
    WaveSheet() : SorvelSheet("SORVEL: WAVE DISPLAY", 1040, 818)
    {
        struct State
        {
            Settings settings;
            bool played;
            const char* text;
        };
        const State states[] = {
            {{{"comp", 6.0f}, {"deess", 6.0f}},
             true,
             "the phrase through the default chain with compress 6 and de-ess 6"},
            {{{"input", 6.0f}, {"comp", 10.0f}, {"compChar", 2.0f}, {"deess", 10.0f}, {"deessChar", 2.0f}},
             true,
             "6 dB hotter, compress 10 Hard, de-ess 10 Hard"},
            {{}, false, "before any audio"},
        };
        int y = 48;
        for (const auto& s : states)
        {
            auto& wave = add(std::make_unique<WaveDisplay>(), {14, y, 1012, 236});
            if (s.played)
                fillWave(wave, sorvel, s.settings);
            note({14, y + 238, 1012, 14}, s.text);
            y += 256;
        }
    }
};

class EqSheet : public SorvelSheet
{
public:
    EqSheet() : SorvelSheet("SORVEL: EQ VIEW", 850, 448)
    {
        panels = {{14, 48, 822, 386}};
        struct State
        {
            juce::Point<int> at;
            bool highPass, played;
            Settings settings;
            const char* text;
        };
        const State states[] = {
            {{26, 58}, true, false, {{"hpf", 2.0f}}, "HIGH-PASS 90 Hz, just shown: no spectrum yet"},
            {{428, 58}, true, true, {{"hpf", 4.0f}}, "HIGH-PASS 180 Hz over the phrase"},
            {{26, 246},
             false,
             true,
             {{"bass", 10.0f}, {"bassChar", 0.0f}, {"treble", 5.0f}, {"trebleChar", 0.0f}},
             "EQ: Sub +10, Bite +5"},
            {{428, 246},
             false,
             true,
             {{"bass", -6.0f}, {"bassChar", 2.0f}, {"treble", 8.0f}, {"trebleChar", 2.0f}},
             "EQ: Upper -6, Roof +8"},
        };
        for (const auto& s : states)
        {
            auto& view = add(std::make_unique<EqView>(), {s.at.x, s.at.y, 396, 166});
            view.hpfMode = s.highPass;
            view.spectrum.prepare(48000.0);
            view.guideFresh = true;
            setParameters(sorvel, s.settings);
            svui::BlockSources sources;
            svui::BlockParameters(sorvel.apvts).read(sources);
            std::array<ChainRow::Block, svui::numModules> blocks;
            svui::fillBlocks(blocks, sources);
            const auto& block = blocks[s.highPass ? svui::highPass : svui::eq];
            view.setCurve(block.curveValues, block.curveIndices);
            if (s.played)
                runPhrase(
                    sorvel, 3.0, [](const sv2::MeteringRecord&) {},
                    [&view](sv2::TapFifo& taps) { view.pullSpectrum(taps); });
            note({s.at.x, s.at.y + 166, 396, 14}, s.text);
        }
    }
};

class ChainSheet : public SorvelSheet
{
public:
    ChainSheet() : SorvelSheet("SORVEL: CHAIN ROW", 1040, 372)
    {
        struct State
        {
            Settings settings;
            int selected, hovered;
            const char* text;
        };
        const State states[] = {
            {{}, 3, -1, "the defaults over the phrase, COMPRESS selected"},
            {{{"hpf", 4.0f},
              {"bass", 8.0f},
              {"bassChar", 0.0f},
              {"treble", -6.0f},
              {"trebleChar", 1.0f},
              {"shimmer", -6.0f},
              {"reverb", 6.0f},
              {"reverbChar", 2.0f},
              {"duck", 8.0f},
              {"listen", 4.0f}},
             0,
             4,
             "HIGH-PASS selected, SHIMMER under the mouse, listening to REVERB, ducked 8 dB"},
            {{{"deessOn", 0.0f},
              {"delayOn", 0.0f},
              {"hpf", 0.0f},
              {"bass", 0.0f},
              {"treble", 0.0f},
              {"shimmer", 10.0f},
              {"shimmerChar", 2.0f},
              {"width", 10.0f},
              {"widthChar", 2.0f},
              {"listen", 1.0f}},
             7,
             -1,
             "DE-ESS and DELAY switched off (listening to DE-ESS), HIGH-PASS Off, EQ flat, SHIMMER +10, "
             "WIDTH 10"},
        };
        int y = 52;
        for (const auto& s : states)
        {
            setParameters(sorvel, defaults);
            auto& row = add(std::make_unique<ChainRow>(), {14, y, 1012, 74});
            svui::BlockSources sources;
            fillReadouts(sources, sorvel, s.settings);
            svui::fillBlocks(row.blocks, sources);
            row.selected = s.selected;
            row.hovered = s.hovered;
            note({14, y + 76, 1012, 14}, s.text);
            y += 104;
        }
    }

private:
    const Settings defaults{{"hpf", 2.0f},        {"bass", 0.0f},    {"bassChar", 1.0f},    {"treble", 2.0f},
                            {"trebleChar", 0.0f}, {"shimmer", 1.0f}, {"shimmerChar", 0.0f}, {"reverb", 2.0f},
                            {"reverbChar", 0.0f}, {"duck", 4.0f},    {"listen", 0.0f},      {"deessOn", 1.0f},
                            {"delayOn", 1.0f},    {"width", 2.0f},   {"widthChar", 0.0f}};
};

class ControlsSheet : public SorvelSheet
{
public:
    ControlsSheet() : SorvelSheet("SORVEL: CHOICES AND SWITCHES", 1040, 330)
    {
        panels = {{14, 48, 620, 268}, {644, 48, 382, 268}};
        setParameters(sorvel, {{"hpf", 3.0f},
                               {"reverbChar", 2.0f},
                               {"delayChar", 0.0f},
                               {"compChar", 1.0f},
                               {"bassChar", 0.0f},
                               {"trebleChar", 2.0f},
                               {"widthChar", 1.0f}});
        struct Choice
        {
            const char* id;
            juce::Colour colour;
            juce::Rectangle<int> bounds;
        };
        const Choice choices[] = {
            {"hpf", ui::text, {30, 70, 272, 26}},          {"compChar", ui::amber, {330, 70, 272, 26}},
            {"reverbChar", ui::green, {30, 130, 272, 26}}, {"delayChar", ui::green, {330, 130, 272, 26}},
            {"bassChar", ui::blue, {30, 190, 132, 24}},    {"trebleChar", ui::blue, {170, 190, 132, 24}},
            {"widthChar", ui::green, {330, 190, 272, 26}},
        };
        for (const auto& c : choices)
        {
            add(std::make_unique<SegmentedChoice>(*sorvel.apvts.getParameter(c.id), c.colour, nullptr),
                c.bounds);
            note({c.bounds.getX(), c.bounds.getBottom() + 2, c.bounds.getWidth(), 14},
                 juce::String("\"") + c.id + "\"");
        }
        auto& listenOn = add(std::make_unique<juce::TextButton>("LISTEN"), {30, 256, 78, 22});
        compactButton(listenOn, ui::red, true);
        auto& listenOff = add(std::make_unique<juce::TextButton>("LISTEN"), {116, 256, 78, 22});
        compactButton(listenOff, ui::red, false);
        auto& pingPong = add(std::make_unique<juce::TextButton>("PING-PONG"), {202, 254, 82, 26});
        compactButton(pingPong, ui::blue, true);
        auto& status = add(std::make_unique<juce::TextButton>("LISTEN: DE-ESS, what de-ess takes out"),
                           {330, 256, 272, 22});
        compactButton(status, ui::red, false);
        status.setColour(juce::TextButton::buttonColourId, ui::red);
        status.setColour(juce::TextButton::textColourOffId, juce::Colours::black);
        note({30, 282, 572, 14},
             "compact buttons: LISTEN on and off, PING-PONG on, the listen status while listening");

        // Power buttons: on in every module colour, then off, under the mouse and pressed.
        for (int j = 0; j < svui::numModules; ++j)
        {
            auto& button = add(std::make_unique<PowerButton>("on/off", svui::moduleColour(j)),
                               {664 + 44 * (j % 4), 76 + 40 * (j / 4), 28, 22});
            button.setToggleState(true, juce::dontSendNotification);
        }
        const juce::Button::ButtonState states[] = {juce::Button::buttonNormal, juce::Button::buttonOver,
                                                    juce::Button::buttonDown};
        for (int k = 0; k < 3; ++k)
        {
            auto& button =
                add(std::make_unique<PowerButton>("on/off", ui::amber), {664 + 44 * k, 176, 28, 22});
            button.setState(states[k]);
        }
        note({644, 202, 200, 14}, "off: plain, under the mouse, pressed");
        note({644, 156, 200, 14}, "on, in each module's colour");
    }

    void paintExtras(juce::Graphics& g) override
    {
        // The power symbol at the chain row's size and larger.
        float x = 680;
        for (const float size : {11.0f, 16.0f, 24.0f, 36.0f})
        {
            svui::drawPower(g, {x, 250 - size / 2, size, size}, ui::green, size * 0.13f);
            x += size + 24;
        }
        g.setColour(ui::dim);
        g.setFont(juce::FontOptions(10.0f, juce::Font::plain));
        g.drawText("svui::drawPower at 11, 16, 24 and 36 units", 644, 282, 382, 14,
                   juce::Justification::centred);
    }

private:
    static void compactButton(juce::TextButton& b, juce::Colour on, bool lit)
    {
        b.getProperties().set(SorvelLookAndFeel::compact(), true);
        b.setColour(juce::TextButton::buttonOnColourId, on);
        b.setColour(juce::TextButton::textColourOnId, juce::Colours::black);
        b.setToggleState(lit, juce::dontSendNotification);
    }
};
} // namespace

const std::vector<SheetInfo>& sorvelSheets()
{
    static const std::vector<SheetInfo> all{
        {"sorvel-wave", [](StubProcessor&) { return std::make_unique<WaveSheet>(); }},
        {"sorvel-eq", [](StubProcessor&) { return std::make_unique<EqSheet>(); }},
        {"sorvel-chain", [](StubProcessor&) { return std::make_unique<ChainSheet>(); }},
        {"sorvel-controls", [](StubProcessor&) { return std::make_unique<ControlsSheet>(); }},
    };
    return all;
}
} // namespace gallery
