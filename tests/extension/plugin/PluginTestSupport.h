// Shared by the plug-in host tests: the built binaries, a test signal, and the reference rendering
// that drives a DSPBridge directly the way a plug-in instance should.
//
// Threads: main (tests run single-threaded).
#pragma once

#include "dsp/DSPBridge.h"
#include "dsp/ParameterSpec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <optional>
#include <ostream>
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

inline void PrintTo(const PluginVariant& variant, std::ostream* os) {
    *os << variant.name;
}

using Channels = std::vector<std::vector<float>>;
using Settings = std::array<float, kParameterCount>;

inline Settings defaultSettings() {
    Settings s{};
    for (const auto& definition : allParameters())
        s[definition.address] = definition.defaultValue;
    return s;
}

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

// What the plug-in must produce: a bridge prepared like the plug-in's unit, fed through its render
// block and a pull block, host blocks split into chunks of at most the prepared maximum. It lives
// across re-preparations, as the unit's bridge does.
class ReferenceBridge {
public:
    explicit ReferenceBridge(const Settings& settings) {
        for (const auto& definition : allParameters())
            _bridge.setParameter(definition.identifier, settings[definition.address]);
        _render = _bridge.internalRenderBlock();
    }

    bool prepare(int maxFrames, double rate, std::uint32_t channels) {
        _maxFrames = maxFrames;
        return _bridge.prepare(maxFrames, rate, static_cast<int>(channels));
    }

    Channels render(const Channels& input, const std::vector<std::size_t>& hostBlocks) {
        const auto channels = static_cast<std::uint32_t>(input.size());
        Channels output(channels, std::vector<float>(input[0].size()));
        std::size_t position = 0;
        const float* source[2] = {};
        const AURenderPullInputBlock pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                                AUAudioFrameCount frames, NSInteger, AudioBufferList* list) {
            for (std::uint32_t c = 0; c < list->mNumberBuffers; ++c)
                std::copy_n(source[c], frames, list->mBuffers[c].mData);
            return AUAudioUnitStatus{0};
        };
        for (const std::size_t block : hostBlocks)
            for (std::size_t done = 0; done < block;) {
                const std::size_t chunk = std::min(block - done, static_cast<std::size_t>(_maxFrames));
                AudioBufferList list;
                list.mNumberBuffers = channels;
                for (std::uint32_t c = 0; c < channels; ++c) {
                    source[c] = input[c].data() + position;
                    list.mBuffers[c].mData = output[c].data() + position;
                }
                AudioUnitRenderActionFlags flags = 0;
                const AudioTimeStamp stamp{};
                _render(&flags, &stamp, static_cast<AUAudioFrameCount>(chunk), 0, &list, nullptr, &pull);
                position += chunk;
                done += chunk;
            }
        return output;
    }

private:
    DSPBridge _bridge;
    AUInternalRenderBlock _render;
    int _maxFrames = 0;
};

inline Channels renderWithBridge(const Settings& settings, const Channels& input, double rate, int maxFrames,
                                 const std::vector<std::size_t>& hostBlocks) {
    ReferenceBridge reference(settings);
    if (!reference.prepare(maxFrames, rate, static_cast<std::uint32_t>(input.size()))) return {};
    return reference.render(input, hostBlocks);
}

// Block sizes that cover a signal: a ragged pattern including the 1-frame and 0-frame cases.
inline std::vector<std::size_t> raggedBlocks(std::size_t total, std::size_t maxBlock) {
    const std::size_t pattern[] = {maxBlock, 1, 0, 17, maxBlock / 2, maxBlock - 1, 64};
    std::vector<std::size_t> blocks;
    std::size_t sum = 0;
    for (std::size_t i = 0; sum < total; ++i) {
        const std::size_t b = std::min(pattern[i % std::size(pattern)], total - sum);
        blocks.push_back(b);
        sum += b;
    }
    return blocks;
}

inline bool bitIdentical(const Channels& a, const Channels& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
               return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [](float p, float q) {
                          return std::bit_cast<std::uint32_t>(p) == std::bit_cast<std::uint32_t>(q);
                      });
           });
}

// The number under "key" in JSON text, also where that text sits escaped inside another format
// (a Turtle string). No std::regex: GCC 12 warns inside it under sanitizers.
inline std::optional<float> jsonNumber(const std::string& text, std::string_view key) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; };
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        std::size_t p = at + key.size();
        if (at == 0 || text[at - 1] != '"') continue;
        if (p < text.size() && text[p] == '\\') ++p;
        if (p >= text.size() || text[p] != '"') continue;
        for (++p; p < text.size() && isSpace(text[p]);)
            ++p;
        if (p >= text.size() || text[p] != ':') continue;
        for (++p; p < text.size() && isSpace(text[p]);)
            ++p;
        const char* begin = text.c_str() + p;
        char* end = nullptr;
        const float value = std::strtof(begin, &end);
        if (end != begin) return value;
    }
    return std::nullopt;
}

inline double rms(const std::vector<float>& x) {
    double sum = 0.0;
    for (float v : x)
        sum += static_cast<double>(v) * v;
    return x.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(x.size()));
}

} // namespace thraskvell::test
