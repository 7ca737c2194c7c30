#pragma once

#include "sorvel/engine/primitives/DelayLine.h"
#include "sorvel/engine/primitives/FilterDesign.h"
#include "sorvel/engine/primitives/Ramp.h"
#include "sorvel/engine/Tune.h"
#include "common/dsp/XorShift32.h"

#include <array>
#include <cstdint>

namespace eng::vocal
{

// The Width return: two doubles of the vocal, one each side, like a second take. Their delays
// drift in slow raised-cosine glides between random holds, jump (crossfaded, inside the pause)
// to new delays and levels at every new phrase, and carry no low end and a softened top.
// prepare() runs on the message thread (it allocates); set() and process() on the audio thread
// once per piece.
class Width
{
public:
    static constexpr std::uint32_t seed = 0x51ED2701u;

    void prepare(double sampleRate);

    struct Settings
    {
        float amount = 2.0f; // 0..10; 0 while the module is off
        int character = 0;   // 0 "Stereo", 1 "Wide", 2 "Spreader"
    };

    // Once per piece. The first call after prepare() sets everything directly and places the
    // doubles at 30 % and 70 % of the character's delay range.
    void set(const Settings& settings) noexcept;

    // Mono send in, the left and right sums of the doubles out (overwritten). While not running
    // the outputs are silent and nothing else happens.
    void process(const float* in, float* outLeft, float* outRight, int n) noexcept;

    // Runs while the send is open or still fading.
    bool isRunning() const noexcept { return send.getValue() > 0.0f || send.getTarget() > 0.0f; }

    // The delay each double (0 left, 1 right) read at its last sample, in samples.
    double getDelaySamples(int index) const noexcept { return voices[static_cast<size_t>(index & 1)].delay; }
    // A double's level target (linear), drawn at every phrase start.
    float getLevelTarget(int index) const noexcept
    {
        return voices[static_cast<size_t>(index & 1)].levelTarget;
    }
    // Phrase starts seen since prepare().
    std::int64_t getPhraseStarts() const noexcept { return phraseStarts; }

private:
    // One double: where it reads, how it glides, its level and its output filter.
    struct Voice
    {
        double glideStart = 0.0;
        double glideEnd = 0.0;
        double delay = 0.0;
        double previousRead = 0.0;
        // cos(pi progress / length) of the raised-cosine glide, as a rotating phasor.
        double cosine = 1.0, sine = 0.0, rotateCos = 1.0, rotateSin = 0.0;
        float levelTarget = 1.0f;
        // The smoothed level is levelTarget + levelOffset.
        float levelOffset = 0.0f;
        int progress = 0;
        int length = 0;
        int hold = 0;
        int jumpCountdown = 0;
        md::RunningSection lowPass;
        Ramp ownSide, otherSide;
    };

    static constexpr int chunk = 256;

    void clearState() noexcept;
    void startGlide(Voice& v) noexcept;
    void startPhrase() noexcept;
    int holdSamples() noexcept;
    int detectAndAdvance(const float* in, int n) noexcept;
    template <bool Steady>
    void mixDoubles(float* outLeft, float* outRight, int n, int split,
                    const std::array<float, 2>& carriedTarget) noexcept;
    void run(const float* in, float* outLeft, float* outRight, int n) noexcept;

    double rate = 48000.0;
    tune::WidthRow row = tune::widthChars[0];
    double shortest = 0.0, longest = 0.0;

    // The high-passed send.
    sv::DelayLine ring;
    double readLimit = 2.0;

    md::RunningSection highPass1, highPass2;

    // Phrase detection: power envelope, its reference and the gap counter.
    float envelope = 0.0f, reference = 0.0f;
    float attack = 0.0f, release = 0.0f, referenceRise = 0.0f, referenceFall = 0.0f;
    int gapSamples = 0, gapNeeded = 1;
    bool triggered = false;
    std::int64_t phraseStarts = 0;
    int chunkLength = chunk;

    sv::XorShift32 random{seed};
    Ramp send;
    std::array<Voice, 2> voices{};
    float levelCoeff = 0.0f;
    int jumpLength = 1;

    // Work space for one chunk.
    std::array<float, chunk> filtered{}, sendValues{};
    std::array<std::array<float, chunk>, 2> reads{}, ownValues{}, otherValues{};
    std::array<std::array<double, chunk>, 2> delays{};

    bool initialised = false;
    bool wasRunning = false;
};

} // namespace eng::vocal
