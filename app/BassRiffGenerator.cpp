#include "app/BassRiffGenerator.h"

#include <cmath>

namespace thraskvell {

static_assert(BassRiffGenerator::samplesPerNote == 14380.434782608696);

float BassRiffGenerator::nextSample() {
    if (samplesRemainingInNote <= 0.0) {
        samplesRemainingInNote = samplesPerNote;
        noteIndex = (noteIndex + 1) % static_cast<std::int64_t>(pattern.size());
    }
    samplesRemainingInNote -= 1.0;

    const auto noteCount = static_cast<std::int64_t>(notes.size());
    const double frequency =
        notes[static_cast<std::size_t>(pattern[static_cast<std::size_t>(noteIndex)] % noteCount)];
    phase += frequency / sampleRate;
    if (phase >= 1.0) phase -= 1.0;

    const double saw = 2.0 * phase - 1.0;
    const double envelope = currentEnvelope();
    // The product is rounded to single precision before the level: the sound is defined that way.
    return static_cast<float>(envelope * saw) * 0.35f;
}

double BassRiffGenerator::currentEnvelope() const {
    const double elapsed = samplesPerNote - samplesRemainingInNote;
    if (elapsed < attackSamples) return elapsed / attackSamples;
    const double decay = std::exp(-2.0 * elapsed / sampleRate);
    // Unclamped on purpose: the overshooting countdown makes the last sample of a step dip just
    // below zero, and that tiny sign flip is part of the riff's defined output.
    if (samplesRemainingInNote < releaseSamples) return decay * (samplesRemainingInNote / releaseSamples);
    return decay;
}

} // namespace thraskvell
