// The built binaries, a test signal and one instance as each format's host drives it; also the benchmark's.
// Threads: main, except process, which a real host calls on its audio thread.
#pragma once

#include "dsp/DSPBridge.h"
#include "dsp/ParameterSpec.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

namespace thraskvell::test {

struct PluginVariant {
    const char* name;
    std::uint32_t channels;
    const char *lv2Uri, *lv2Bundle, *clapId, *clapPath, *vst3Path; // bundle: a directory, with trailing slash
};

inline const std::array<PluginVariant, 2> kVariants{{
    {"mono", 1, "urn:thraskvell:fuzz:mono", THRASKVELL_MONO_LV2_BUNDLE, "org.thraskvell.fuzz.mono",
     THRASKVELL_MONO_CLAP, THRASKVELL_MONO_VST3},
    {"stereo", 2, "urn:thraskvell:fuzz:stereo", THRASKVELL_STEREO_LV2_BUNDLE, "org.thraskvell.fuzz.stereo",
     THRASKVELL_STEREO_CLAP, THRASKVELL_STEREO_VST3},
}};

using Channels = std::vector<std::vector<float>>;
using Settings = std::array<float, kParameterCount>;

// Every parameter away from its default, switches on, values that are not round numbers.
inline Settings distinctSettings() {
    Settings s{};
    for (std::size_t i = 0; i < kParameterCount; ++i)
        s[i] = isSwitchParameter(i) ? 100.0f : 3.25f + 7.75f * float(i) + 0.001f * float(i * i);
    return s;
}

// A bass-like tone, each channel different so swapped channels show.
inline Channels testSignal(std::uint32_t channels, std::size_t frames, double rate = 48000.0) {
    Channels out(channels, std::vector<float>(frames));
    for (std::uint32_t c = 0; c < channels; ++c)
        for (std::size_t n = 0; n < frames; ++n)
            out[c][n] =
                static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * (55.0 + 27.5 * c) * n / rate) +
                                   0.2 * std::sin(0.37 * static_cast<double>(n * (c + 2))));
    return out;
}

// What a host sees of one parameter. Formats without symbols leave it empty; LV2's steps are toggles.
struct HostParameter {
    std::string name, symbol;
    double min, max, defaultValue;
    bool automatable, stepped;
};

class PluginAdapter {
public:
    virtual ~PluginAdapter() = default;
    // A host's scan: the ids projects store, name, maker and channels in and out, as one line.
    std::string identity;
    std::vector<HostParameter> parameters;
    // Prepares for blocks of at most maxBlock frames; again at any time with other values.
    virtual bool activate(double rate, std::uint32_t maxBlock) = 0;
    // Whether every activation makes a new instance; the longest block hosts send, in prepared maximums.
    bool reinstantiates = false;
    std::uint32_t overrun = 4;
    // Heard from the next process call on.
    virtual void setParameter(std::uint32_t index, float value) = 0;
    // Hands what setParameter sent to a stopped plug-in, as hosts do; an LV2 port holds it already.
    virtual void flush() {}
    virtual bool process(float** in, float** out, std::uint32_t frames) = 0;
    virtual std::string saveState() = 0;
    virtual bool restoreState(const std::string& state) = 0;
};

} // namespace thraskvell::test
