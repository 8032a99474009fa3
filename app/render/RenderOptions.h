// Command line of thraskvell-render: what to render, where to, and with which settings.
//
// Parsing is kept apart from files and processing so that further options (a preset to apply, a
// state to save) slot in here without touching the rest of the renderer. Every mistake on the
// command line is a usage error with its own message; nothing here touches the file system.
//
// Threads: main only.
#pragma once

#include "parameters/ParameterAssignment.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace thraskvell::render {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1; // the render itself failed: unreadable, unsuitable or unwritable files
inline constexpr int kExitUsage = 2;   // the command line is wrong

inline constexpr int kDefaultBlockSize = 512;
inline constexpr int kMaxBlockSize = 1 << 16;
inline constexpr double kMaxDemoSeconds = 24.0 * 3600.0;

struct RenderOptions {
    enum class Mode { File, Demo };
    Mode mode = Mode::File;
    std::filesystem::path input; // File mode only
    std::filesystem::path output;
    double demoSeconds = 0.0; // Demo mode only
    int blockSize = kDefaultBlockSize;
    std::vector<ParameterAssignment> settings;       // applied in command-line order
    std::optional<std::filesystem::path> preset;     // saved state applied before the settings
    std::optional<std::filesystem::path> savePreset; // state written after a successful render
};

// Either options to run with, or an exit code and the text to print (help on stdout with code 0,
// an error on stderr otherwise).
struct ParseResult {
    std::optional<RenderOptions> options;
    int exitCode = kExitSuccess;
    std::string message;
};

// Main thread. argv[0] is the program name.
ParseResult parseRenderOptions(int argc, const char* const* argv);

// A message longer than 400 bytes keeps its first 200 and last 150 around " ... ", so no message
// echoes a huge argument or file entry whole.
std::string shortened(std::string_view message);

} // namespace thraskvell::render
