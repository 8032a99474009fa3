// The one object through which a plug-in or the demo app drives the effect.
//
// Owns the kernel and a two-channel input store for pulling upstream audio, addresses parameters
// by identifier, and hands out the render block a host calls once per block. Built once per
// plug-in instance or engine; owned by its audio unit or engine.
//
// Threads:
//  - setParameter / getParameter: any thread, any time (atomic slots, no lock, no allocation).
//  - prepare: the owner's thread while nothing renders. Allocates.
//  - internalRenderBlock: the owner's thread. Allocates the callable.
//  - the render block and processBufferList: the audio thread, one block at a time. No allocation,
//    lock, system call or exception.
#pragma once

#include "dsp/ThraskVellDSPKernel.h"
#include "platform/AudioTypes.h"

#include <array>
#include <memory>
#include <string_view>

namespace thraskvell {

class DSPBridge {
public:
    DSPBridge();
    ~DSPBridge();
    DSPBridge(const DSPBridge&) = delete;
    DSPBridge& operator=(const DSPBridge&) = delete;

    // Unknown identifiers (compared exactly, case-sensitively) are ignored by set and read as 0.
    void setParameter(std::string_view identifier, float value);
    float getParameter(std::string_view identifier) const;

    // Replaces both input buffers with room for maxFrames samples and prepares the kernel.
    // Returns false, leaving the bridge as it was, for a negative maxFrames or channel count or a
    // failed allocation.
    bool prepare(int maxFrames, double sampleRate, int channels);

    // In-place processing of the first two buffers of a list, any frame count.
    void processBufferList(AudioBufferList* bufferList, int frameCount);

    // A new render block. It captures the kernel and the input store, not the bridge, survives
    // re-preparation, and must not be called after the bridge is destroyed. Once prepared, a request
    // for more frames than prepared is refused with kAudioUnitErr_TooManyFramesToProcess and the
    // output left untouched.
    AUInternalRenderBlock internalRenderBlock();

    // Read-only views for tests and owners.
    const ThraskVellDSPKernel& kernel() const { return *_kernel; }
    const AudioBufferList& inputBufferList() const { return *_inputBufferList; }
    int maxFrames() const { return _render->maxFrames; }

private:
    // What the render block captures: stable for the bridge's lifetime.
    struct RenderContext {
        ThraskVellDSPKernel* kernel = nullptr;
        AudioBufferList* inputBufferList = nullptr;
        int maxFrames = 0; // 0 until prepared; written only while nothing renders
    };

    std::unique_ptr<ThraskVellDSPKernel> _kernel;
    std::unique_ptr<AudioBufferList> _inputBufferList;
    std::array<std::unique_ptr<float[]>, 2> _inputData;
    std::unique_ptr<RenderContext> _render;
};

} // namespace thraskvell
