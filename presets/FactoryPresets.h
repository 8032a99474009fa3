// The factory presets: saved-state texts compiled into the programs, in the order hosts list them.
//
// Each text is exactly the file in the presets folder, so a preset behaves the same whether it is
// picked by name or loaded as a file.
//
// Threads: immutable data; any thread.
#pragma once

#include <span>
#include <string_view>

namespace thraskvell {

struct FactoryPreset {
    std::string_view name; // as hosts show it: "Doom Wall"
    std::string_view slug; // the file's stem and the preset's URI part: "doom-wall"
    std::string_view text; // saved-state JSON
};

std::span<const FactoryPreset> factoryPresets();

// By name or slug, ignoring case and treating spaces, hyphens and underscores alike, so
// "doom wall", "Doom-Wall" and "doom_wall" all find "Doom Wall"; nullptr when none matches.
const FactoryPreset* findFactoryPreset(std::string_view name);

} // namespace thraskvell
