// Presets for thraskvell-render: the plug-in's saved state as a JSON file.
//
// RenderState resolves what a render runs with exactly as a host would: a fresh audio unit, the
// preset's state restored into it (--preset), then each --set written to its parameter tree in
// command-line order. Its twelve values then go to whatever effect renders, and the same state can
// be written back out (--save-preset) in the form the plug-in itself saves.
//
// Failures throw PresetError (a ProcessingError) with a message meant for the user.
// Threads: main only.
#pragma once

#include "app/render/Processing.h"
#include "app/render/RenderOptions.h"
#include "extension/ThraskVellAudioUnit.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace thraskvell::render {

class PresetError : public ProcessingError {
public:
    using ProcessingError::ProcessingError;
};

// A state file's text, read up to one byte past the state text limit (so the state reader refuses an
// oversized file); nothing, with errno set, when it cannot be opened or read.
std::optional<std::string> readStateFile(const std::filesystem::path& path);

// The text of a factory preset, or of a preset file (a file of that name wins). Throws PresetError,
// listing the factory presets, when neither exists.
std::string readPresetText(const std::string& nameOrFile);

class RenderState {
public:
    // Loads options.preset (if any) and applies options.settings on top.
    explicit RenderState(const RenderOptions& options);

    // All twelve parameters in address order, with their resolved values.
    std::vector<ParameterAssignment> settings() const;

    // Writes the state as JSON text: to a temporary file beside `path`, then renamed into place,
    // so an existing preset is replaced only by a complete one. Renders save it before committing
    // their audio, so a preset that cannot be written leaves the audio file untouched.
    void save(const std::filesystem::path& path) const;

private:
    std::shared_ptr<ThraskVellAudioUnit> unit_;
};

} // namespace thraskvell::render
