#include "presets/FactoryPresets.h"

namespace thraskvell {

namespace {

constexpr FactoryPreset kFactoryPresets[] = {
#include "FactoryPresetList.inc"
};

char folded(char c) {
    if (c == ' ' || c == '_') return '-';
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (folded(a[i]) != folded(b[i])) return false;
    return true;
}

} // namespace

std::span<const FactoryPreset> factoryPresets() {
    return kFactoryPresets;
}

const FactoryPreset* findFactoryPreset(std::string_view name) {
    for (const FactoryPreset& preset : kFactoryPresets)
        if (sameName(name, preset.name) || sameName(name, preset.slug)) return &preset;
    return nullptr;
}

} // namespace thraskvell
