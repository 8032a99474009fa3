// Shared by the plug-in host tests and the benchmark: the built binaries, a test signal, and the
// reference rendering (a DSPBridge driven the way the plug-in's unit drives its own).
//
// Threads: main.
#pragma once

#include "dsp/DSPBridge.h"
#include "dsp/ParameterSpec.h"
#include "tests/extension/plugin/PluginAdapter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace thraskvell::test {

struct PluginVariant {
    const char* name;
    std::uint32_t channels;
    const char* lv2Uri;
    const char* lv2Bundle; // directory, with trailing slash
    const char* clapId;
    const char* clapPath;
    const char* vst3Path;
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
        s[i] = 3.25f + 7.75f * static_cast<float>(i) + 0.001f * static_cast<float>(i * i);
    return s;
}

// A bass-like tone with a deterministic rasp; each channel different so swapped channels show.
inline Channels testSignal(std::uint32_t channels, std::size_t frames, double rate = 48000.0) {
    Channels out(channels, std::vector<float>(frames));
    std::uint32_t noise = 12345u;
    for (std::uint32_t c = 0; c < channels; ++c)
        for (std::size_t n = 0; n < frames; ++n) {
            noise = noise * 1664525u + 1013904223u;
            const double t = static_cast<double>(n) / rate;
            const double tone = 0.5 * std::sin(2.0 * std::numbers::pi * (55.0 + 27.5 * c) * t) +
                                0.2 * std::sin(2.0 * std::numbers::pi * 220.0 * t + c);
            out[c][n] =
                static_cast<float>(tone) + 0.02f * (static_cast<float>(noise >> 8) / 16777216.0f - 0.5f);
        }
    return out;
}

std::unique_ptr<PluginAdapter> makeLv2Adapter(const PluginVariant& variant);
std::unique_ptr<PluginAdapter> makeVst3Adapter(const PluginVariant& variant);

// What the plug-in must produce: a bridge fed through its render block and a pull block, host
// blocks split into chunks of at most the prepared maximum. It lives across re-preparations, as
// the unit's bridge does.
class ReferenceBridge {
public:
    void set(std::uint32_t index, float value) {
        _bridge.setParameter(allParameters()[index].identifier, value);
    }
    bool prepare(std::uint32_t maxFrames, double rate, std::uint32_t channels) {
        _maxFrames = maxFrames;
        return _bridge.prepare(static_cast<int>(maxFrames), rate, static_cast<int>(channels));
    }
    // Renders the host block starting at `position` of input into output.
    void render(const Channels& input, Channels& output, std::size_t position, std::size_t block) {
        const float* source[2] = {};
        const AURenderPullInputBlock pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                                AUAudioFrameCount frames, NSInteger, AudioBufferList* list) {
            for (std::uint32_t c = 0; c < list->mNumberBuffers; ++c)
                std::copy_n(source[c], frames, static_cast<float*>(list->mBuffers[c].mData));
            return AUAudioUnitStatus{0};
        };
        for (std::size_t done = 0; done < block;) {
            const std::size_t chunk = std::min<std::size_t>(block - done, _maxFrames);
            AudioBufferList list;
            list.mNumberBuffers = static_cast<std::uint32_t>(input.size());
            for (std::size_t c = 0; c < input.size(); ++c) {
                source[c] = input[c].data() + position + done;
                list.mBuffers[c].mData = output[c].data() + position + done;
            }
            AudioUnitRenderActionFlags flags = 0;
            const AudioTimeStamp stamp{};
            _render(&flags, &stamp, static_cast<AUAudioFrameCount>(chunk), 0, &list, nullptr, &pull);
            done += chunk;
        }
    }

private:
    DSPBridge _bridge;
    AUInternalRenderBlock _render = _bridge.internalRenderBlock();
    std::uint32_t _maxFrames = 0;
};

inline bool bitIdentical(const Channels& a, const Channels& b) {
    const auto bits = [](float x) { return std::bit_cast<std::uint32_t>(x); };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](const auto& x, const auto& y) { return std::ranges::equal(x, y, {}, bits, bits); });
}

// The number under "key" in JSON text, also where that text sits escaped inside another format
// (a Turtle string). No std::regex: GCC 12 warns inside it under sanitizers.
inline std::optional<float> jsonNumber(const std::string& text, std::string_view key) {
    const auto skipSpace = [&](std::size_t p) { return text.find_first_not_of(" \n\t\r", p); };
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        std::size_t p = at + key.size();
        if (at == 0 || text[at - 1] != '"') continue;
        if (p < text.size() && text[p] == '\\') ++p;
        if (p >= text.size() || text[p] != '"' || (p = skipSpace(p + 1)) == std::string::npos ||
            text[p] != ':')
            continue;
        if ((p = skipSpace(p + 1)) == std::string::npos) continue;
        char* end = nullptr;
        const float value = std::strtof(text.c_str() + p, &end);
        if (end != text.c_str() + p) return value;
    }
    return std::nullopt;
}

} // namespace thraskvell::test
