// The plug-in object a host instantiates: one input and one output bus (float32, non-interleaved,
// at most two channels), the twelve parameters in a tree, the render block, and saved state.
//
// Ownership: created by create() and held by std::shared_ptr (host adapter, editor). The unit owns
// its DSPBridge, its parameter tree and its buses; the tree's blocks hold the unit weakly, so no
// cycle forms and a block that outlives the unit does nothing (writes) or answers 0 (reads).
//
// Threads:
//  - create, allocateRenderResources, bus and state operations: the host's ordinary threads ("main"),
//    one at a time.
//  - parameter reads and writes through the tree: any thread (see AUParameterTree).
//  - the block from internalRenderBlock: the audio thread only, after a successful allocation,
//    never while allocation runs.
#pragma once

#include "dsp/DSPBridge.h"
#include "extension/SavedState.h"
#include "parameters/ThraskVellParameterSource.h"
#include "platform/AUAudioUnit.h"
#include "platform/AUParameterTree.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace thraskvell {

// The identity hosts find the effect under: an effect ("aufx") by its maker.
inline constexpr AudioComponentDescription kThraskVellComponentDescription{
    fourCharCode("aufx"), fourCharCode("Thvl"), fourCharCode("Thrk"), 0, 0};

class ThraskVellAudioUnit final : public AUAudioUnit, public ThraskVellParameterSource {
public:
    // Main. The initialised unit, or the error that stopped it: kAudioUnitErr_FailedInitialization
    // in NSOSStatusErrorDomain when the initial format cannot be made, else the failing bus's or
    // base's own error. Any description is accepted.
    static NSResult<std::shared_ptr<ThraskVellAudioUnit>>
    create(const AudioComponentDescription& description = kThraskVellComponentDescription,
           AudioComponentInstantiationOptions options = 0);
    ~ThraskVellAudioUnit() override;

    // Main. 1, 1, 2, 2: mono to mono, stereo to stereo.
    std::vector<int> channelCapabilities() const override;

    // Main. Present once creation has succeeded; each holds exactly one bus.
    AUAudioUnitBusArray* inputBusses() const override { return _inputBusses.get(); }
    AUAudioUnitBusArray* outputBusses() const override { return _outputBusses.get(); }
    AUAudioUnitBus& inputBus() const { return *_inputBus; }
    AUAudioUnitBus& outputBus() const { return *_outputBus; }

    // Any thread. The tree built at creation, unless another one was stored since.
    std::shared_ptr<AUParameterTree> parameterTree() const override { return _parameterTree; }
    // Main, never while the tree is in use on another thread. Stores the tree as it is: no
    // observer or provider is installed on a tree that comes from outside.
    void setParameterTree(std::shared_ptr<AUParameterTree> tree) override {
        _parameterTree = std::move(tree);
    }

    // Main, never while the host renders. Runs the base's allocation, writes
    // "ThraskVell: in=%d ch @ %.0f Hz, out=%d ch @ %.0f Hz" and a newline to standard error in one
    // write, and prepares the bridge for maximumFramesToRender frames at the output format's rate
    // and channel count. On the base's failure nothing is logged and the bridge is untouched; if the
    // bridge cannot be prepared, kAudioUnitErr_FailedInitialization and resources stay unallocated.
    NSErrorOrSuccess allocateRenderResources() override;

    // Main. The bridge's render block, unchanged: it holds the bridge's kernel and buffers, not the
    // unit, and must not be called after the unit is destroyed.
    AUInternalRenderBlock internalRenderBlock() override { return _dspBridge->internalRenderBlock(); }

    // Main. The base's entries, "thraskVellVersion": "1.0.0", and every parameter's current value
    // under its identifier. Always a dictionary.
    std::optional<StateDictionary> fullState() const override;
    // Main. Hands the state to the base, then sets each parameter the state holds a finite number
    // for, in address order, with a plain setValue (every observer hears it). Missing entries,
    // text, non-finite numbers and numbers outside the float range are skipped one by one. Values
    // are not clamped; parameters the state does not mention keep their values.
    void setFullState(const std::optional<StateDictionary>& state) override;

    // Main. fullState() as JSON text: an object with "thraskVellVersion" and one number per
    // identifier; every finite value restores bit-exactly.
    std::string fullStateText() const;
    // Main. Parses such text and applies it as setFullState does. Text that is not a JSON object,
    // too large, nested too deeply or otherwise malformed is refused with
    // kAudioUnitErr_InvalidPropertyValue and a description of the fault; nothing is applied then.
    NSErrorOrSuccess setFullStateText(std::string_view text);

    // Any thread (its own rules apply).
    DSPBridge& dspBridge() const { return *_dspBridge; }

private:
    ThraskVellAudioUnit();
    NSErrorOrSuccess initialise(const std::weak_ptr<ThraskVellAudioUnit>& self,
                                const AudioComponentDescription& description,
                                AudioComponentInstantiationOptions options);
    void buildParameterTree(const std::weak_ptr<ThraskVellAudioUnit>& self);

    // Released in declaration order.
    std::unique_ptr<DSPBridge> _dspBridge;
    std::shared_ptr<AUParameterTree> _parameterTree;
    std::shared_ptr<AUAudioUnitBus> _inputBus;
    std::shared_ptr<AUAudioUnitBus> _outputBus;
    std::unique_ptr<AUAudioUnitBusArray> _inputBusses;
    std::unique_ptr<AUAudioUnitBusArray> _outputBusses;
};

} // namespace thraskvell
