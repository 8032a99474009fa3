#include "parameters/ThraskVellParameterTree.h"

#include <vector>

namespace thraskvell {

std::shared_ptr<AUParameterTree> makeThraskVellParameterTree() {
    std::vector<std::shared_ptr<AUParameter>> children;
    children.reserve(kParameterCount);
    for (const auto& definition : allParameters()) {
        auto parameter = AUParameterTree::createParameter(
            definition.identifier, wordCapitalised(definition.identifier), definition.address,
            definition.minValue, definition.maxValue, definition.units, definition.unitName, definition.flags,
            std::nullopt, std::nullopt);
        // Not yet in a tree: this reaches no observer, and the bridge already holds the same default.
        parameter->setValue(definition.defaultValue);
        children.push_back(std::move(parameter));
    }
    return AUParameterTree::createTreeWithChildren(std::move(children));
}

} // namespace thraskvell
