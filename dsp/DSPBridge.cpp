#include "dsp/DSPBridge.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

namespace thraskvell {

namespace {

constexpr std::uint32_t kMaxChannels = 2;

std::atomic<float>* slotFor(ThraskVellDSPKernel& kernel, std::string_view identifier) {
    const ParameterSpec* definition = findParameter(identifier);
    return definition ? &kernel.params[definition->address] : nullptr;
}

std::uint32_t byteSize(std::uint32_t frames) {
    return frames * static_cast<std::uint32_t>(sizeof(float));
}

} // namespace

DSPBridge::DSPBridge()
    : _kernel(std::make_unique<ThraskVellDSPKernel>()), _inputBufferList(std::make_unique<AudioBufferList>()),
      _render(std::make_unique<RenderContext>()) {
    _inputBufferList->mNumberBuffers = kMaxChannels;
    for (std::uint32_t i = 0; i < kMaxChannels; ++i)
        _inputBufferList->mBuffers[i] = AudioBuffer{1, 0, nullptr};
    _render->kernel = _kernel.get();
    _render->inputBufferList = _inputBufferList.get();
}

DSPBridge::~DSPBridge() = default;

void DSPBridge::setParameter(std::string_view identifier, float value) {
    if (auto* slot = slotFor(*_kernel, identifier)) slot->store(value, std::memory_order_seq_cst);
}

float DSPBridge::getParameter(std::string_view identifier) const {
    const auto* slot = slotFor(*_kernel, identifier);
    return slot ? slot->load(std::memory_order_seq_cst) : 0.0f;
}

bool DSPBridge::prepare(int maxFrames, double sampleRate, int channels) {
    if (maxFrames < 0 || channels < 0) return false;
    // mDataByteSize is 32-bit: a larger store could not be described to an upstream.
    if (static_cast<std::uint64_t>(maxFrames) * sizeof(float) > std::numeric_limits<std::uint32_t>::max())
        return false;

    // Everything that can fail happens before anything is replaced, so a refusal changes nothing.
    // Reserving the kernel's records up front means its own prepare has nothing left to allocate.
    try {
        _kernel->channelStates.reserve(static_cast<std::size_t>(channels));
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    std::array<std::unique_ptr<float[]>, 2> fresh;
    for (auto& buffer : fresh) {
        buffer.reset(new (std::nothrow) float[static_cast<std::size_t>(maxFrames)]);
        if (!buffer) return false;
    }
    if (!_kernel->prepare(sampleRate, maxFrames, channels)) return false;

    const auto frames = static_cast<std::uint32_t>(maxFrames);
    for (std::uint32_t i = 0; i < kMaxChannels; ++i) {
        _inputData[i] = std::move(fresh[i]);
        _inputBufferList->mBuffers[i].mData = _inputData[i].get();
        _inputBufferList->mBuffers[i].mDataByteSize = byteSize(frames);
        _render->inputData[i] = _inputData[i].get();
    }
    _render->maxFrames = maxFrames;
    _render->prepared = true;
    return true;
}

void DSPBridge::processBufferList(AudioBufferList* bufferList, int frameCount) {
    std::array<float*, kMaxChannels> channels{};
    std::uint32_t count = 0;
    if (bufferList) {
        count = std::min(bufferList->mNumberBuffers, kMaxChannels);
        for (std::uint32_t i = 0; i < count; ++i)
            channels[i] = bufferList->mBuffers[i].mData;
    }
    _kernel->processBlock(channels.data(), channels.data(), static_cast<int>(count), std::max(frameCount, 0));
}

AUInternalRenderBlock DSPBridge::internalRenderBlock() {
    RenderContext* context = _render.get();
    return [context](AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp,
                     AUAudioFrameCount frameCount, NSInteger /*outputBusNumber*/, AudioBufferList* outputData,
                     const AURenderEvent* /*realtimeEventListHead*/,
                     const AURenderPullInputBlock* pullInputBlock) -> AUAudioUnitStatus {
        // The input store holds maxFrames samples per channel; a longer pull would overrun it.
        if (context->prepared && frameCount > static_cast<AUAudioFrameCount>(context->maxFrames))
            return kAudioUnitErr_TooManyFramesToProcess;

        const std::uint32_t count = outputData ? std::min(outputData->mNumberBuffers, kMaxChannels) : 0;
        const bool pulls = pullInputBlock && *pullInputBlock;
        AudioBufferList* input = context->inputBufferList;
        if (pulls) {
            input->mNumberBuffers = count;
            for (std::uint32_t i = 0; i < count; ++i) {
                // An upstream may have pointed a buffer at storage of its own last time; that storage
                // is not ours to hand out again, so every pull starts from the bridge's own store.
                input->mBuffers[i].mData = context->inputData[i];
                input->mBuffers[i].mDataByteSize = byteSize(frameCount);
            }
            const AUAudioUnitStatus status = (*pullInputBlock)(actionFlags, timestamp, frameCount, 0, input);
            if (status != 0) return status;
        }

        std::array<const float*, kMaxChannels> inputs{};
        std::array<float*, kMaxChannels> outputs{};
        for (std::uint32_t i = 0; i < count; ++i) {
            outputs[i] = outputData->mBuffers[i].mData;
            inputs[i] = pulls ? input->mBuffers[i].mData : outputs[i];
        }
        // Unprepared, no channel is processed, so the count only has to stay representable.
        const int frames = static_cast<int>(std::min<AUAudioFrameCount>(
            frameCount, static_cast<AUAudioFrameCount>(std::numeric_limits<int>::max())));
        context->kernel->processBlock(inputs.data(), outputs.data(), static_cast<int>(count), frames);
        return 0;
    };
}

} // namespace thraskvell
