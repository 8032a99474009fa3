// Outputs are written to a temporary file beside their destination and renamed over it once complete,
// so a failed or interrupted run never leaves a half-written file behind.
//
// Threads: any (ordinary file-system calls).
#pragma once

#include <filesystem>
#include <string>

namespace thraskvell::render {

struct TemporaryFile {
    int descriptor = -1; // -1 when it could not be created; errno says why
    std::string path;
};

// A new file in destination's directory, with the permissions a newly created file would get under
// the umask (mkstemp alone would make it private to its owner).
TemporaryFile createTemporaryBeside(const std::filesystem::path& destination);

} // namespace thraskvell::render
