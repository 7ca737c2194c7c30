// Mirrel's take picture: where every hit was placed over the whole take (a dot per hit at its
// place, left at the top, right at the bottom), the place as it glides (a line), the zones where
// a hit can land, and while the transport plays the bars of the song position the places are
// keyed to; the short-term loudness of the output beneath; the hits, their sides and spread, the
// output's loudness and whether the places followed the song.
#pragma once

#include "TakePicture.h"

#include "mirrel/engine/MirrelEngine.h"

namespace timeline
{
struct MirrelTake
{
    struct Hit
    {
        double seconds = 0;
        float pan = 0;
    };
    struct Place
    {
        double seconds = 0; // the place at the end of a block
        float pan = 0;
    };
    struct Bar
    {
        double seconds = 0;
        juce::int64 number = 1; // counted from 1 at song position 0
    };

    TakeInfo info;
    double seconds = 0;
    std::vector<Hit> hits;
    std::vector<Place> places;
    std::vector<Bar> bars;        // only while the places follow the song position
    double followedSeconds = 0;   // how long they did
    double bpm = 0;               // the tempo they followed
    float width = 1, hole = 0.3f; // fractions, at the end of the take
    bool bypassed = false;
    LoudnessTrack output;
};

struct MirrelFigures
{
    int hits = 0;
    float perSecond = 0;
    float leftShare = 0, rightShare = 0; // of the hits, 0 .. 1
    float meanDistance = 0;              // from the centre, 0 .. 1
    float integratedOut = -100;
    std::optional<float> rangeOut;
    float followedShare = 0; // of the take
    double bpm = 0;
};

MirrelFigures figuresOf(const MirrelTake& take);
std::vector<Figure> figureRow(const MirrelFigures& f);
juce::String figuresLine(const MirrelFigures& f);

class MirrelPicture : public TakePicture
{
public:
    explicit MirrelPicture(const MirrelTake& take);

protected:
    void paintMain(juce::Graphics& g, float width, float height) override;

private:
    const MirrelTake& take;
};

// Gathers the take from Mirrel's feed and meter after every block. `parameter` reads a
// parameter's plain value by ID (width, hole, bypass at the end of the take).
class MirrelRecorder : public Recorder
{
public:
    MirrelRecorder(const TakeInfo& info, mr::Feed& feed, const sv::LoudnessMeter& meter,
                   std::function<float(const char* id)> parameter);

    void afterBlock(const Block& block) override;
    void finish(juce::int64 length) override;
    juce::Image picture(int width, int height) override;
    juce::String figuresLine() const override;

    const MirrelTake& take() const { return data; }

private:
    mr::Feed& feed;
    const sv::LoudnessMeter& meter;
    std::function<float(const char*)> parameter;
    MirrelTake data;
    int hitsRead = 0;
    LoudnessSampler sampler;
};
} // namespace timeline
