#include "app/live/LiveSettings.h"
#include "app/render/Preset.h"
#include "app/render/TemporaryFile.h"

#include "extension/SavedState.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace thraskvell::live {

namespace {

constexpr const char* kPrefix = "thraskvell-live: ";

} // namespace

std::filesystem::path settingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path folder;
    if (config && std::filesystem::path(config).is_absolute())
        folder = config;
    else if (const char* home = std::getenv("HOME"))
        folder = std::filesystem::path(home) / ".config";
    return folder / "thraskvell" / "live.json";
}

std::optional<std::string> loadSettings(const std::filesystem::path& path, std::ostream& log) {
    auto text = render::readStateFile(path);
    if (!text) {
        if (errno != ENOENT)
            log << kPrefix << "cannot read the settings " << path.string() << " (" << std::strerror(errno)
                << "); starting from the defaults\n";
        return std::nullopt;
    }
    const auto state = stateFromText(*text);
    if (state) return text;
    std::filesystem::path bad = path;
    bad += ".bad";
    std::error_code error;
    std::filesystem::rename(path, bad, error);
    log << kPrefix << "ignoring damaged settings " << path.string() << " ("
        << state.error().localizedDescription << "); "
        << (error ? "it could not be kept aside: " + error.message() : "kept as " + bad.string())
        << "; starting from the defaults\n";
    return std::nullopt;
}

bool saveSettings(const std::filesystem::path& path, std::string_view text, std::ostream& log) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (render::writeWholeFile(path, text, true)) return true;
    log << kPrefix << "cannot save the settings to " << path.string() << ": " << std::strerror(errno) << "\n";
    return false;
}

std::optional<std::string> readPreset(const std::string& nameOrFile, std::ostream& log) {
    std::string text;
    try {
        text = render::readPresetText(nameOrFile);
    } catch (const render::PresetError& error) {
        log << kPrefix << error.what() << "\n";
        return std::nullopt;
    }
    if (const auto state = stateFromText(text); !state) {
        log << kPrefix << "preset " << nameOrFile
            << " was not applied: " << state.error().localizedDescription << "\n";
        return std::nullopt;
    }
    return text;
}

} // namespace thraskvell::live
