#include "app/render/TemporaryFile.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace thraskvell::render {

namespace {

constexpr std::array kSignals{SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGUSR1, SIGUSR2};

// Read by the signal handler: fixed storage, whole paths written while signals are held off.
std::array<std::array<char, 4096>, 2> gTemporaries{};
volatile std::sig_atomic_t gCommitted = 0;
volatile std::sig_atomic_t* gInterrupted = nullptr;

extern "C" void onSignal(int) {
    if (gCommitted) {
        if (gInterrupted) *gInterrupted = 1;
        return;
    }
    for (const auto& path : gTemporaries)
        if (path[0] != '\0') ::unlink(path.data());
    static constexpr char kMessage[] = "thraskvell-render: interrupted; nothing written\n";
    [[maybe_unused]] const auto ignored = ::write(STDERR_FILENO, kMessage, sizeof(kMessage) - 1);
    ::_exit(1);
}

// Holds the handled signals off for its lifetime.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (const int s : kSignals)
            sigaddset(&set, s);
        ::sigprocmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

void forget(const std::string& temporary) {
    for (auto& path : gTemporaries)
        if (temporary == path.data()) path[0] = '\0';
}

} // namespace

TemporaryFile createTemporaryBeside(const std::filesystem::path& destination) {
    const auto directory =
        destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
    TemporaryFile file;
    file.path = (directory / ".thraskvell-XXXXXX").string();
    const SignalsHeld held;
    file.descriptor = ::mkstemp(file.path.data());
    if (file.descriptor < 0) return file;
    for (auto& slot : gTemporaries)
        if (slot[0] == '\0' && file.path.size() < slot.size()) {
            std::memcpy(slot.data(), file.path.c_str(), file.path.size() + 1);
            break;
        }
    struct stat existing {};
    if (::stat(destination.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        // Either may be refused to an ordinary user; the permission bits are set after, as chown clears some.
        if (::fchown(file.descriptor, existing.st_uid, existing.st_gid) != 0) {
            [[maybe_unused]] const int ignored =
                ::fchown(file.descriptor, static_cast<uid_t>(-1), existing.st_gid);
        }
        ::fchmod(file.descriptor, existing.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(file.descriptor, 0666 & ~mask);
    }
    return file;
}

bool commitTemporary(const std::string& temporary, const std::filesystem::path& destination, bool last) {
    const SignalsHeld held;
    if (std::rename(temporary.c_str(), destination.c_str()) != 0) return false;
    forget(temporary);
    if (last) gCommitted = 1;
    return true;
}

void discardTemporary(const std::string& temporary) {
    const SignalsHeld held;
    ::unlink(temporary.c_str());
    forget(temporary);
}

void removeTemporaryFilesOnSignals(volatile std::sig_atomic_t* interrupted) {
    gInterrupted = interrupted;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int s : kSignals)
        sigaddset(&action.sa_mask, s);
    for (const int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

bool writeWholeFile(const std::filesystem::path& destination, std::string_view text, bool last) {
    const TemporaryFile temporary = createTemporaryBeside(destination);
    if (temporary.descriptor < 0) return false;
    bool written = true;
    for (std::size_t done = 0; written && done < text.size();) {
        const auto n = ::write(temporary.descriptor, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += std::size_t(n);
    }
    written = ::close(temporary.descriptor) == 0 && written;
    if (written && commitTemporary(temporary.path, destination, last)) return true;
    const int reason = errno;
    discardTemporary(temporary.path);
    errno = reason;
    return false;
}

} // namespace thraskvell::render
