// Outputs are written to a temporary file beside their destination and renamed over it once complete,
// so a failed or interrupted run never leaves a half-written file behind. The temporary files are also
// listed where a signal handler finds them: a catchable signal removes them and ends the process with
// status 1, even while a read blocks (a stalled FIFO as input or preset).
//
// Threads: main only (the list is shared with the signal handler).
#pragma once

#include <csignal>
#include <filesystem>
#include <string>
#include <string_view>

namespace thraskvell::render {

struct TemporaryFile {
    int descriptor = -1; // -1 when it could not be created; errno says why
    std::string path;
};

// A new file named .thraskvell-XXXXXX (short, so any legal destination name works) in destination's
// directory. It takes the permission bits, owner and group of an existing regular destination where
// the process may set them, else those a new file gets under the umask. Until released it is removed
// on a signal.
TemporaryFile createTemporaryBeside(const std::filesystem::path& destination);

// Renames the temporary file over its destination with signals held off, so the outcome is either the
// old destination and no temporary file, or the new destination. `last` marks the final commit of the
// run: a signal after it no longer ends the process. Returns false with errno set on failure.
bool commitTemporary(const std::string& temporary, const std::filesystem::path& destination, bool last);

// Removes a temporary file that will not be committed.
void discardTemporary(const std::string& temporary);

// Writes `text` to a temporary file beside `destination` and commits it (see commitTemporary for
// `last`). Returns false with errno set, leaving the destination as it was and no temporary file.
bool writeWholeFile(const std::filesystem::path& destination, std::string_view text, bool last);

// SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGUSR1 and SIGUSR2 remove the temporary files, report
// on stderr and exit with status 1; after the last commit they only set `interrupted`.
void removeTemporaryFilesOnSignals(volatile std::sig_atomic_t* interrupted);

} // namespace thraskvell::render
