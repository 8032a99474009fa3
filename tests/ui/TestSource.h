// A parameter source for tests: optionally a real parameter tree built from the parameter table,
// with no bridge behind it, so values written to it are simply stored.
#pragma once

#include "parameters/ThraskVellParameterSource.h"
#include "parameters/ThraskVellParameterTree.h"

#include <memory>

namespace thraskvell::test {

class TestParameterSource : public ThraskVellParameterSource {
public:
    explicit TestParameterSource(bool withTree) : _tree(withTree ? makeThraskVellParameterTree() : nullptr) {}
    std::shared_ptr<AUParameterTree> parameterTree() const override { return _tree; }
    void dropTree() { _tree.reset(); }

private:
    std::shared_ptr<AUParameterTree> _tree;
};

} // namespace thraskvell::test
