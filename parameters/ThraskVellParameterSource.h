// What the editor's view model is built on: something that may offer a parameter tree.
//
// Adopted by the plug-in's audio unit and by the demo app's engine; the view model holds its source
// strongly and reaches the tree through it.
//
// Threads: parameterTree may be called on any thread; the tree's own rules apply to what follows.
#pragma once

#include "platform/AUParameterTree.h"

#include <memory>

namespace thraskvell {

class ThraskVellParameterSource {
public:
    virtual ~ThraskVellParameterSource() = default;
    // nullptr when the source has no tree.
    virtual std::shared_ptr<AUParameterTree> parameterTree() const = 0;
};

} // namespace thraskvell
