#include "app/live/LiveSettings.h"
#include "app/render/TemporaryFile.h"

#include "extension/SavedState.h"
#include "presets/FactoryPresets.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>

namespace thraskvell::live {

namespace {

constexpr const char* kPrefix = "thraskvell-live: ";

// One byte past the limit is enough for the state reader to refuse an oversized file.
std::optional<std::string> readText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string text(kMaxStateTextBytes + 1, '\0');
    file.read(text.data(), std::streamsize(text.size()));
    if (file.bad()) return std::nullopt;
    text.resize(std::size_t(file.gcount()));
    return text;
}

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
    auto text = readText(path);
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
    const render::TemporaryFile temporary = render::createTemporaryBeside(path);
    bool written = temporary.descriptor >= 0;
    for (std::size_t done = 0; written && done < text.size();) {
        const auto n = ::write(temporary.descriptor, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += std::size_t(n);
    }
    if (temporary.descriptor >= 0) written = ::close(temporary.descriptor) == 0 && written;
    if (written && render::commitTemporary(temporary.path, path, true)) return true;
    const int reason = errno;
    if (temporary.descriptor >= 0) render::discardTemporary(temporary.path);
    log << kPrefix << "cannot save the settings to " << path.string() << ": " << std::strerror(reason)
        << "\n";
    return false;
}

std::optional<std::string> readPreset(const std::string& nameOrFile, std::ostream& log) {
    std::error_code error;
    std::optional<std::string> text;
    const FactoryPreset* factory = nullptr;
    if (!std::filesystem::exists(nameOrFile, error)) factory = findFactoryPreset(nameOrFile);
    if (factory)
        text = std::string(factory->text);
    else
        text = readText(nameOrFile);
    if (!text) {
        std::string names;
        for (const FactoryPreset& preset : factoryPresets())
            names += (names.empty() ? "" : ", ") + std::string(preset.name);
        log << kPrefix << "cannot open preset " << nameOrFile << ": " << std::strerror(errno)
            << " (nor is it a factory preset: " << names << ")\n";
        return std::nullopt;
    }
    if (const auto state = stateFromText(*text); !state) {
        log << kPrefix << "preset " << nameOrFile
            << " was not applied: " << state.error().localizedDescription << "\n";
        return std::nullopt;
    }
    return text;
}

} // namespace thraskvell::live
