#include "app/render/Processing.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace thraskvell::render {

void applySettings(DSPBridge& bridge, std::span<const ParameterAssignment> settings) {
    for (const auto& setting : settings)
        bridge.setParameter(setting.identifier, setting.value);
}

namespace {

int checkedChannels(int channels) {
    if (channels < 1 || channels > 2)
        throw ProcessingError("the effect processes 1 or 2 channels, not " + std::to_string(channels));
    return channels;
}

int checkedBlockSize(int frames) {
    if (frames < 1 || frames > kMaxBlockSize)
        throw ProcessingError("unusable block size " + std::to_string(frames));
    return frames;
}

} // namespace

HostedEffect::HostedEffect(double sampleRate, int channels, int maxFrames)
    : channels_(checkedChannels(channels)), maxFrames_(checkedBlockSize(maxFrames)),
      input_(static_cast<std::size_t>(channels_), std::vector<float>(static_cast<std::size_t>(maxFrames_))),
      output_(static_cast<std::size_t>(channels_), std::vector<float>(static_cast<std::size_t>(maxFrames_))) {
    const std::string rate = std::to_string(static_cast<long long>(sampleRate)) + " Hz";
    if (!(sampleRate >= kMinSampleRate))
        throw ProcessingError("the sample rate " + rate + " is too low: the effect needs at least " +
                              std::to_string(static_cast<int>(kMinSampleRate)) + " Hz");
    if (!bridge_.prepare(maxFrames, sampleRate, channels))
        throw ProcessingError("the effect cannot run at " + rate + " with blocks of " +
                              std::to_string(maxFrames) + " frames");
    renderBlock_ = bridge_.internalRenderBlock();
    pull_ = [this](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount frames, NSInteger,
                   AudioBufferList* list) -> AUAudioUnitStatus {
        for (std::uint32_t c = 0; c < list->mNumberBuffers && c < input_.size(); ++c) {
            // The platform's convention: a null buffer asks the upstream to lend its own.
            if (!list->mBuffers[c].mData)
                list->mBuffers[c].mData = input_[c].data();
            else
                std::memcpy(list->mBuffers[c].mData, input_[c].data(), frames * sizeof(float));
        }
        return 0;
    };
    outputList_.mNumberBuffers = static_cast<std::uint32_t>(channels);
    for (int c = 0; c < channels; ++c)
        outputList_.mBuffers[static_cast<std::size_t>(c)] =
            AudioBuffer{1, static_cast<std::uint32_t>(maxFrames * sizeof(float)), output_[c].data()};
}

void HostedEffect::process(const float* in, float* out, int frames) {
    if (frames < 0 || frames > maxFrames_) throw ProcessingError("block larger than prepared");
    const auto n = static_cast<std::size_t>(frames);
    const auto channels = static_cast<std::size_t>(channels_);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < channels; ++c)
            input_[c][i] = in[i * channels + c];

    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp timestamp{};
    for (std::size_t c = 0; c < channels; ++c)
        outputList_.mBuffers[c].mDataByteSize = static_cast<std::uint32_t>(n * sizeof(float));
    const AUAudioUnitStatus status = renderBlock_(&flags, &timestamp, static_cast<AUAudioFrameCount>(frames),
                                                  0, &outputList_, nullptr, &pull_);
    if (status != 0)
        throw ProcessingError("the effect refused a block (status " + std::to_string(status) + ")");

    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < channels; ++c)
            out[i * channels + c] = output_[c][i];
}

DemoRiff::DemoRiff(int blockSize)
    : channels_(kChannels, std::vector<float>(static_cast<std::size_t>(checkedBlockSize(blockSize)))) {
    if (!bridge_.prepare(kEngineMaxFrames, kSampleRate, kChannels))
        throw ProcessingError("the effect could not be prepared for the demo");
    list_.mNumberBuffers = kChannels;
    for (std::size_t c = 0; c < kChannels; ++c)
        list_.mBuffers[c] = AudioBuffer{1, static_cast<std::uint32_t>(channels_[c].size() * sizeof(float)),
                                        channels_[c].data()};
}

void DemoRiff::render(float* out, int frames) {
    const auto n =
        static_cast<std::size_t>(std::clamp<int>(frames, 0, static_cast<int>(channels_[0].size())));
    for (std::size_t i = 0; i < n; ++i) {
        const float sample = riff_.nextSample();
        channels_[0][i] = sample;
        channels_[1][i] = sample;
    }
    bridge_.processBufferList(&list_, static_cast<int>(n));
    for (std::size_t i = 0; i < n; ++i) {
        out[2 * i] = channels_[0][i];
        out[2 * i + 1] = channels_[1][i];
    }
}

} // namespace thraskvell::render
