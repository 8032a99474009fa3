#include "app/render/Preset.h"
#include "app/render/TemporaryFile.h"

#include "extension/SavedState.h"
#include "presets/FactoryPresets.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace thraskvell::render {

std::optional<std::string> readStateFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    // One byte past the limit is enough for the state reader to refuse an oversized file.
    std::string text(kMaxStateTextBytes + 1, '\0');
    file.read(text.data(), std::streamsize(text.size()));
    if (file.bad()) return std::nullopt;
    text.resize(std::size_t(file.gcount()));
    return text;
}

// A file by that name wins, so a user's own "doom-wall" file is never shadowed by the factory one.
std::string readPresetText(const std::string& nameOrFile) {
    std::error_code error;
    if (!std::filesystem::exists(nameOrFile, error))
        if (const FactoryPreset* preset = findFactoryPreset(nameOrFile)) return std::string(preset->text);
    if (auto text = readStateFile(nameOrFile)) return std::move(*text);
    const std::string reason = std::strerror(errno);
    std::string names;
    for (const FactoryPreset& preset : factoryPresets())
        names += (names.empty() ? "" : ", ") + std::string(preset.name);
    throw PresetError("cannot open preset " + nameOrFile + ": " + reason +
                      " (nor is it a factory preset: " + names + ")");
}

RenderState::RenderState(const RenderOptions& options) {
    auto made = ThraskVellAudioUnit::create();
    if (!made) throw PresetError("the effect could not be created: " + made.error().localizedDescription);
    unit_ = made.value();
    if (options.preset) {
        const auto text = readPresetText(options.preset->string());
        if (auto error = unit_->setFullStateText(text))
            throw PresetError("preset " + options.preset->string() +
                              " was not applied: " + error->localizedDescription);
    }
    const auto tree = unit_->parameterTree();
    for (const auto& setting : options.settings)
        if (const auto parameter = tree->valueForKey(setting.identifier)) parameter->setValue(setting.value);
}

std::vector<ParameterAssignment> RenderState::settings() const {
    std::vector<ParameterAssignment> all;
    for (const auto& parameter : unit_->parameterTree()->allParameters())
        all.push_back({parameter->identifier(), parameter->value()});
    return all;
}

void RenderState::save(const std::filesystem::path& path) const {
    if (!writeWholeFile(path, unit_->fullStateText(), false))
        throw PresetError("cannot write preset " + path.string() + ": " + std::strerror(errno));
}

} // namespace thraskvell::render
