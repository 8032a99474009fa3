// The two ways thraskvell-render runs audio through the effect, over interleaved frames.
//
// HostedEffect drives a DSPBridge exactly as a plug-in host does: the bridge is prepared for the
// file's rate, channel count and block size, the input reaches it through the pull block, and the
// output comes back in the host's own buffers. DemoRiff plays the demo riff the way the standalone
// app does: the riff duplicated to two channels at 44100 Hz, processed in place with
// processBufferList. Both own their bridge and all buffers, sized on construction.
//
// Failures throw ProcessingError with a message meant for the user. Threads: main only (offline).
#pragma once

#include "app/BassRiffGenerator.h"
#include "app/render/RenderOptions.h"
#include "dsp/DSPBridge.h"

#include <span>
#include <stdexcept>
#include <vector>

namespace thraskvell::render {

class ProcessingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Applies --set values in command-line order.
void applySettings(DSPBridge& bridge, std::span<const ParameterAssignment> settings);

class HostedEffect {
public:
    // The kernel refuses lower rates.
    static constexpr double kMinSampleRate = 8000.0;

    HostedEffect(double sampleRate, int channels, int maxFrames);
    // The pull block refers to this object.
    HostedEffect(const HostedEffect&) = delete;
    HostedEffect& operator=(const HostedEffect&) = delete;

    DSPBridge& bridge() { return bridge_; }
    int channels() const { return channels_; }
    int maxFrames() const { return maxFrames_; }

    // Processes `frames` (at most maxFrames) interleaved frames; `in` and `out` may be the same.
    void process(const float* in, float* out, int frames);

private:
    DSPBridge bridge_;
    int channels_;
    int maxFrames_;
    AUInternalRenderBlock renderBlock_;
    AURenderPullInputBlock pull_;
    std::vector<std::vector<float>> input_;
    std::vector<std::vector<float>> output_;
    AudioBufferList outputList_;
};

class DemoRiff {
public:
    static constexpr int kChannels = 2;
    static constexpr double kSampleRate = BassRiffGenerator::sampleRate;
    // The standalone app prepares its bridge with this many frames.
    static constexpr int kEngineMaxFrames = 4096;

    explicit DemoRiff(int blockSize);
    DemoRiff(const DemoRiff&) = delete;
    DemoRiff& operator=(const DemoRiff&) = delete;

    DSPBridge& bridge() { return bridge_; }

    // Produces `frames` (at most blockSize) interleaved stereo frames of the processed riff.
    void render(float* out, int frames);

private:
    DSPBridge bridge_;
    BassRiffGenerator riff_;
    std::vector<std::vector<float>> channels_;
    AudioBufferList list_;
};

} // namespace thraskvell::render
