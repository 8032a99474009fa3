#include "app/render/Renderer.h"

#include <csignal>
#include <iostream>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void onSignal(int) {
    gInterrupted = 1;
}

} // namespace

int main(int argc, char** argv) {
    // Stop between blocks instead of dying mid-write, so the temporary output gets removed.
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    thraskvell::render::RunEnvironment env;
    env.stderrIsTerminal = isatty(STDERR_FILENO) == 1;
    env.interrupted = &gInterrupted;
    return thraskvell::render::runRenderer(argc, argv, std::cout, std::cerr, env);
}
