// A parameter source for tests: optionally a real parameter tree built from the parameter table, with no
// bridge behind it, so values written to it are simply stored.
#pragma once

#include "parameters/ThraskVellParameterSource.h"
#include "parameters/ThraskVellParameterTree.h"

namespace thraskvell::test {

struct TestParameterSource : ThraskVellParameterSource {
    explicit TestParameterSource(bool withTree) : tree(withTree ? makeThraskVellParameterTree() : nullptr) {}
    std::shared_ptr<AUParameterTree> parameterTree() const override { return tree; }
    std::shared_ptr<AUParameterTree> tree;
};

} // namespace thraskvell::test
