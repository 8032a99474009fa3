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

namespace {

// A file by that name wins, so a user's own "doom-wall" file is never shadowed by the factory one.
std::string readPresetText(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        if (const FactoryPreset* preset = findFactoryPreset(path.string())) return std::string(preset->text);
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        const std::string reason = std::strerror(errno);
        std::string names;
        for (const FactoryPreset& preset : factoryPresets())
            names += (names.empty() ? "" : ", ") + std::string(preset.name);
        throw PresetError("cannot open preset " + path.string() + ": " + reason +
                          " (nor is it a factory preset: " + names + ")");
    }
    std::string text;
    // One byte past the limit is enough for the state reader to refuse an oversized file.
    text.resize(kMaxStateTextBytes + 1);
    file.read(text.data(), std::streamsize(text.size()));
    if (file.bad()) throw PresetError("cannot read preset " + path.string());
    text.resize(std::size_t(file.gcount()));
    return text;
}

} // namespace

RenderState::RenderState(const RenderOptions& options) {
    auto made = ThraskVellAudioUnit::create();
    if (!made) throw PresetError("the effect could not be created: " + made.error().localizedDescription);
    unit_ = made.value();
    if (options.preset) {
        const auto text = readPresetText(*options.preset);
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
    const std::string text = unit_->fullStateText();
    const TemporaryFile temporaryFile = createTemporaryBeside(path);
    const std::string& temporary = temporaryFile.path;
    const int fd = temporaryFile.descriptor;
    if (fd < 0) throw PresetError("cannot write preset " + path.string() + ": " + std::strerror(errno));
    bool written = true;
    for (std::size_t done = 0; done < text.size() && written;) {
        const auto n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += std::size_t(n);
    }
    written = ::close(fd) == 0 && written;
    if (!written || !commitTemporary(temporary, path, false)) {
        const std::string reason = std::strerror(errno);
        discardTemporary(temporary);
        throw PresetError("cannot write preset " + path.string() + ": " + reason);
    }
}

} // namespace thraskvell::render
