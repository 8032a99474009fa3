// Captures what a piece of code writes to file descriptor 2, for checking log lines.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>

namespace thraskvell::test {

inline std::string captureStderr(const std::function<void()>& action) {
    std::fflush(stderr);
    std::FILE* sink = std::tmpfile();
    if (!sink) return "<no temporary file>";
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(::fileno(sink), STDERR_FILENO);
    action();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::string text;
    std::rewind(sink);
    char chunk[256];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, sink)) > 0;)
        text.append(chunk, n);
    std::fclose(sink);
    return text;
}

} // namespace thraskvell::test
