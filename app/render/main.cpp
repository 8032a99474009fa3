#include "app/render/Renderer.h"
#include "app/render/TemporaryFile.h"

#include <csignal>
#include <iostream>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

} // namespace

int main(int argc, char** argv) {
    thraskvell::render::removeTemporaryFilesOnSignals(&gInterrupted);
    thraskvell::render::RunEnvironment env;
    env.stderrIsTerminal = isatty(STDERR_FILENO) == 1;
    env.interrupted = &gInterrupted;
    return thraskvell::render::runRenderer(argc, argv, std::cout, std::cerr, env);
}
