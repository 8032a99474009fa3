#include "extension/ThraskVellParameterTree.h"

#include <vector>

namespace thraskvell {

std::shared_ptr<AUParameterTree> makeThraskVellParameterTree() {
    std::vector<std::shared_ptr<AUParameter>> children;
    children.reserve(kParameterCount);
    for (const auto& spec : allParameters()) {
        auto parameter = AUParameterTree::createParameter(
            spec.identifier, wordCapitalised(spec.identifier), spec.address, spec.minValue, spec.maxValue,
            spec.units, spec.unitName, spec.flags, std::nullopt, std::nullopt);
        // Not yet in a tree: this reaches no observer, and the bridge already holds the same default.
        parameter->setValue(spec.defaultValue);
        children.push_back(std::move(parameter));
    }
    return AUParameterTree::createTreeWithChildren(std::move(children));
}

} // namespace thraskvell
