// thraskvell-live's settings: where they start from and where they are kept between runs.
//
// They are the effect's full state in the JSON text of presets, kept in
// $XDG_CONFIG_HOME/thraskvell/live.json (~/.config/thraskvell/live.json without it). A program run
// starts from --preset when given, else from that file, else from the defaults; it saves the state
// there when it closes. Problems are reported in one line each on the given stream, prefixed
// "thraskvell-live: ".
//
// Threads: main only.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace thraskvell::live {

// From XDG_CONFIG_HOME when it is an absolute path, else from HOME.
std::filesystem::path settingsPath();

// The saved text, or nothing to start from the defaults: no file (silently), a file that cannot be
// read (reported), or a damaged one, whose text the effect refuses (reported, then renamed to
// live.json.bad beside it so the next save does not destroy it).
std::optional<std::string> loadSettings(const std::filesystem::path& path, std::ostream& log);

// Writes the text to a temporary file beside `path`, making its folder first, and renames it over
// the file, so a crash never leaves half a file. Returns false after reporting a failure.
bool saveSettings(const std::filesystem::path& path, std::string_view text, std::ostream& log);

// A preset file's text, or a factory preset's when no file has that name (as thraskvell-render
// reads --preset), checked as the effect would read it. Nothing, after reporting why, when the file
// cannot be read, no preset has that name, or the text is refused.
std::optional<std::string> readPreset(const std::string& nameOrFile, std::ostream& log);

} // namespace thraskvell::live
