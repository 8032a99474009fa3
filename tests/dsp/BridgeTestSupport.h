// Buffers and lists for driving a DSPBridge the way a host does.
#pragma once

#include "dsp/AudioTypes.h"

#include <cstdint>
#include <random>
#include <vector>

namespace thraskvell::test {

// Owns one vector per channel and a list pointing at them.
struct ChannelBuffers {
    std::vector<std::vector<float>> data;
    AudioBufferList list;

    ChannelBuffers(int channels, int frames, float fill = 0.0f)
        : data(static_cast<std::size_t>(channels),
               std::vector<float>(static_cast<std::size_t>(frames), fill)) {
        list.mNumberBuffers = static_cast<std::uint32_t>(channels);
        for (std::size_t i = 0; i < data.size(); ++i)
            list.mBuffers[i] =
                AudioBuffer{1, static_cast<std::uint32_t>(frames * sizeof(float)), data[i].data()};
    }
    ChannelBuffers(const ChannelBuffers&) = delete;
    ChannelBuffers& operator=(const ChannelBuffers&) = delete;
};

// Noise, different per seed.
inline std::vector<float> testSignal(int frames, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(-0.6f, 0.6f);
    std::vector<float> signal(static_cast<std::size_t>(frames));
    for (float& v : signal)
        v = noise(rng);
    return signal;
}

} // namespace thraskvell::test
