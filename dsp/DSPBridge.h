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

#include "dsp/AudioTypes.h"
#include "dsp/ThraskVellDSPKernel.h"

#include <array>
#include <memory>
#include <string_view>

namespace thraskvell {

class DSPBridge {
public:
    // Main thread. The slots start at the parameters' defaults.
    DSPBridge();
    // Main thread, never while a render block handed out by this bridge may still run.
    ~DSPBridge();
    DSPBridge(const DSPBridge&) = delete;
    DSPBridge& operator=(const DSPBridge&) = delete;

    // Any thread. Unknown identifiers (compared exactly, case-sensitively) are ignored by set and
    // read as 0. Values are stored as given: no clamping.
    void setParameter(std::string_view identifier, float value);
    float getParameter(std::string_view identifier) const;

    // Main thread, while nothing renders. Replaces both input buffers with room for maxFrames
    // samples and prepares the kernel. Returns false, leaving the bridge as it was, for a negative
    // maxFrames or channel count, a maxFrames whose byte size does not fit a buffer's 32-bit size
    // field, a sample rate the kernel refuses, or a failed allocation.
    bool prepare(int maxFrames, double sampleRate, int channels);

    // Audio thread. In-place processing of the first two buffers of a list, any frame count. A null
    // list or a negative frame count processes nothing (the kernel still refreshes its values).
    void processBufferList(AudioBufferList* bufferList, int frameCount);

    // Main thread. A new render block (called on the audio thread). It captures the kernel and the input
    // store, not the bridge, survives re-preparation, and must not be called after the bridge is destroyed.
    // Once prepared, a request for more frames than prepared is refused with
    // kAudioUnitErr_TooManyFramesToProcess and the output left untouched. Each pull starts with the input
    // list pointing at the bridge's own store.
    AUInternalRenderBlock internalRenderBlock();

    // Read-only views for tests and owners; any thread that does not race prepare.
    const ThraskVellDSPKernel& kernel() const { return *_kernel; }
    const AudioBufferList& inputBufferList() const { return *_inputBufferList; }
    int maxFrames() const { return _render->maxFrames; } // 0 until prepared
    bool isPrepared() const { return _render->prepared; }

private:
    // What the render block captures: stable for the bridge's lifetime. The fields below the two
    // pointers are written by prepare only, while nothing renders.
    struct RenderContext {
        ThraskVellDSPKernel* kernel = nullptr;
        AudioBufferList* inputBufferList = nullptr;
        std::array<float*, 2> inputData{};
        int maxFrames = 0;
        bool prepared = false;
    };

    std::unique_ptr<ThraskVellDSPKernel> _kernel;
    std::unique_ptr<AudioBufferList> _inputBufferList;
    std::array<std::unique_ptr<float[]>, 2> _inputData;
    std::unique_ptr<RenderContext> _render;
};

} // namespace thraskvell
