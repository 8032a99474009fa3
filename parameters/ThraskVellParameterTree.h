// The effect's parameter tree, built from the one parameter table and tied to a DSPBridge.
//
// The bridge keeps the single live copy of every value: the installed observer forwards each write
// to it by identifier and the provider answers each read from it, neither clamping nor converting.
// Both hold their owner weakly; once the owner is gone, writes do nothing and reads answer 0.
//
// Threads: build and connect on the owner's thread before the tree is shared; the installed blocks
// then run on whichever thread writes or reads a value, without lock or allocation.
#pragma once

#include "dsp/DSPBridge.h"
#include "dsp/ParameterSpec.h"
#include "platform/AUParameterTree.h"

#include <memory>

namespace thraskvell {

// Main. Twelve parameters in address order, each at its default, no blocks installed; nullptr if
// the platform refuses the tree.
std::shared_ptr<AUParameterTree> makeThraskVellParameterTree();

// Main, before the tree is shared. Owner is anything with `DSPBridge& dspBridge() const`.
template <class Owner> void connectParameterTree(AUParameterTree& tree, std::weak_ptr<Owner> owner) {
    tree.setImplementorValueObserver([owner](AUParameter& parameter, AUValue value) {
        if (const auto strong = owner.lock()) strong->dspBridge().setParameter(parameter.identifier(), value);
    });
    tree.setImplementorValueProvider([owner](const AUParameter& parameter) -> AUValue {
        if (const auto strong = owner.lock()) return strong->dspBridge().getParameter(parameter.identifier());
        return 0.0f;
    });
}

} // namespace thraskvell
