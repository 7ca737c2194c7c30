// Sorvel's take picture: the wave display's envelopes, both compressor reductions from the top
// and the de-esser's cuts from the bottom over the whole take, each column the maxima of the
// metering records it covers; the short-term loudness of the input and the output beneath; the
// integrated loudness and loudness range in and out, the largest reduction of each stage and the
// share of the take it worked.
#pragma once

#include "TakePicture.h"

#include "sorvel/engine/EditorFeed.h"
#include "sorvel/ui/WavePainter.h"

#include "common/dsp/LoudnessMeter.h"

namespace timeline
{
// Everything the picture is drawn from.
struct SorvelTake
{
    struct Record
    {
        double endSeconds = 0; // the record covers the metering interval before this
        sv2::MeteringRecord values;
    };

    TakeInfo info;
    double seconds = 0;            // the take's length
    double intervalSeconds = 0.01; // one metering interval
    std::vector<Record> records;   // in time order; none while the chain sleeps
    LoudnessTrack input, output;   // the plug-in's own meters
};

// A reduction counts as work from this many dB on (where the wave display draws a de-ess cut).
constexpr float workingDb = 0.3f;

struct SorvelFigures
{
    float integratedIn = -100, integratedOut = -100;
    std::optional<float> rangeIn, rangeOut;
    struct Stage
    {
        float largestDb = 0;
        float share = 0; // of the take's length, 0 .. 1
    } deess, peaks, level;
};

SorvelFigures figuresOf(const SorvelTake& take);
std::vector<Figure> figureRow(const SorvelFigures& f);
juce::String figuresLine(const SorvelFigures& f);

// `count` columns over the whole take: column i spans i / count to (i + 1) / count of its length
// and holds the maxima of the records overlapping it (levels in dB, at least -60; a de-ess cut
// only from records that show one).
std::vector<svui::WaveColumn> columnsOf(const SorvelTake& take, int count);

class SorvelPicture : public TakePicture
{
public:
    explicit SorvelPicture(const SorvelTake& take);

protected:
    void paintMain(juce::Graphics& g, float width, float height) override;

private:
    const SorvelTake& take;
    std::vector<svui::WaveColumn> columns;
    std::unique_ptr<svui::WavePainter> painter;
};

// Gathers the take from Sorvel's editor feed and meters after every block.
class SorvelRecorder : public Recorder
{
public:
    SorvelRecorder(const TakeInfo& info, sv2::EditorFeed& feed, const sv::LoudnessMeter& inputMeter,
                   const sv::LoudnessMeter& outputMeter);

    void afterBlock(const Block& block) override;
    void finish(juce::int64 length) override;
    juce::Image picture(int width, int height) override;
    juce::String figuresLine() const override;

    const SorvelTake& take() const { return data; }

private:
    sv2::EditorFeed& feed;
    const sv::LoudnessMeter &inputMeter, &outputMeter;
    SorvelTake data;
    std::uint32_t recordsRead = 0;
    int intervalSamples = 480;
    int phase = 0; // samples into the chain's current metering interval
    LoudnessSampler inputSampler, outputSampler;
};
} // namespace timeline
