// thraskvell-render from command line to exit code: parse, check, open, process, commit.
//
// Each step is its own small function so that new options (a preset applied before rendering, the
// state saved after it) join without reshaping the rest. Exit codes: 0 success, 1 the render
// failed (unreadable input or one that ends early, more than two channels, a sample rate the effect
// refuses, an unwritable output or preset, an interruption) and OUT was not touched, 2 the command
// line is wrong (including IN and OUT naming the same file, an OUT that is a FIFO, device or socket,
// and an output extension no writable file type has). The output appears only once complete.
//
// Threads: main only.
#pragma once

#include "app/render/RenderOptions.h"

#include <chrono>
#include <csignal>
#include <ostream>

namespace thraskvell::render {

struct RunEnvironment {
    bool stderrIsTerminal = false;                           // show a progress bar for long renders
    const volatile std::sig_atomic_t* interrupted = nullptr; // set by a signal handler: stop, keep nothing
    // The effect runs far faster than real time, so only the wall clock tells a long render: the bar
    // appears once a render has taken this long and stays away from quick ones.
    std::chrono::steady_clock::duration progressAfter = std::chrono::seconds(1);
};

// Main thread. `out` gets help text, `err` errors and progress.
int runRenderer(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                const RunEnvironment& env);

// Main thread. The two renders behind runRenderer; they return an exit code and report on `err`.
int renderFile(const RenderOptions& options, std::ostream& err, const RunEnvironment& env);
int renderDemo(const RenderOptions& options, std::ostream& err, const RunEnvironment& env);

} // namespace thraskvell::render
