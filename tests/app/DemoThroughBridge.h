// The effect applied as a caller of the bridge applies it, computed without the renderer or the
// engine: the reference their output must equal.
#pragma once

#include "app/BassRiffGenerator.h"
#include "dsp/DSPBridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace thraskvell::test {

using Sets = std::vector<std::pair<const char*, float>>;

// Interleaved samples through a prepared bridge, `block` frames at a time, as a host runs it.
inline std::vector<float> processInterleaved(DSPBridge& bridge, std::vector<float> samples, int channels,
                                             int block) {
    const std::size_t n = std::size_t(channels), frames = samples.size() / n;
    std::vector<std::vector<float>> planar(n, std::vector<float>(frames, 0.0f));
    for (std::size_t i = 0; i < samples.size(); ++i)
        planar[i % n][i / n] = samples[i];
    for (std::size_t start = 0; start < frames; start += std::size_t(block)) {
        AudioBufferList list;
        list.mNumberBuffers = std::uint32_t(n);
        for (std::size_t c = 0; c < n; ++c)
            list.mBuffers[c].mData = planar[c].data() + start;
        bridge.processBufferList(&list, int(std::min(std::size_t(block), frames - start)));
    }
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = planar[i % n][i / n];
    return samples;
}

// The demo as the standalone app plays it: the riff in both channels at 44100 Hz, 512 frames at a
// time, through one bridge prepared for 4096 frames at the start of each run (as every start of the
// engine prepares it) while the riff goes on. Returns the last run, interleaved.
inline std::vector<float> demoThroughBridge(const std::vector<std::size_t>& runs, const Sets& sets = {}) {
    BassRiffGenerator riff;
    DSPBridge bridge;
    for (const auto& [id, value] : sets)
        bridge.setParameter(id, value);
    std::vector<float> stereo;
    for (const std::size_t frames : runs) {
        EXPECT_TRUE(bridge.prepare(4096, 44100.0, 2));
        stereo.clear();
        for (std::size_t i = 0; i < frames; ++i)
            stereo.insert(stereo.end(), 2, riff.nextSample());
        stereo = processInterleaved(bridge, std::move(stereo), 2, 512);
    }
    return stereo;
}

} // namespace thraskvell::test
