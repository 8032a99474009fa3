// The demo's bass part: an endless eight-step sawtooth riff at 92 bpm, one mono sample per call.
//
// The demo engine owns one and calls nextSample() once per output frame; duplicating the sample into
// channels is the engine's business. The rate is fixed at 44100 Hz and step lengths stay fractional,
// so the output is sample-exact whatever device runs it. There is no reset: stopping and restarting
// playback resumes mid-note with the same phase.
//
// Threads: construct and destroy on the main thread; nextSample() on the audio thread only (no
// allocation, lock, system call or exception). Nothing else touches the state, so nothing is atomic.
#pragma once

#include <array>
#include <cstdint>

namespace thraskvell {

class BassRiffGenerator {
public:
    static constexpr double sampleRate = 44100.0;
    static constexpr double bpm = 92.0;
    static constexpr std::array<double, 5> notes{41.2, 49.0, 55.0, 61.74, 82.41}; // E1 G1 A1 B1 E2
    static constexpr std::array<std::int64_t, 8> pattern{0, 0, 1, 2, 0, 0, 3, 4};
    // An eighth note, deliberately fractional: the countdown decides where steps actually fall.
    static constexpr double samplesPerNote = sampleRate * 60.0 / bpm / 2.0;

    // Main thread.
    BassRiffGenerator() = default;

    // Audio thread. Advances by one sample and returns it; magnitude never above 0.35.
    float nextSample();

private:
    double currentEnvelope() const;

    double phase = 0.0;
    std::int64_t noteIndex = 0;
    double samplesRemainingInNote = 0.0;
    double attackSamples = 220.5;  // 5 ms
    double releaseSamples = 882.0; // 20 ms
};

} // namespace thraskvell
