// ThraskVellApp: the demo application — one DGL window (Cairo backend) showing a ContentView, and
// the run loop that drives it.
//
// The window owns its ContentView. A window timer (kFrameIntervalMs, well above 30 fps) drains the
// main-thread queue, asks the content what changed and repaints only that; the content is drawn
// into the window's BackingStore, so an exposure the content did not ask for is
// answered by copying rather than redrawing. Closing the window stops the engine; the loop ends
// when the window is gone.
//
// Threads: main. run() must be called on the thread that will be main for the process-wide
// MainThreadQueue (the one that drains it).
#pragma once

#include <memory>
#include <string>

namespace thraskvell {

class ThraskVellApp {
public:
    static constexpr unsigned kFrameIntervalMs = 20;

    // Main. A connection to the display, or null with `problem` saying why there is none. run()
    // holds it until the window has its own, as an X server with no other client resets when its
    // last one leaves and would refuse the window's connection meanwhile.
    static std::shared_ptr<void> connectToDisplay(std::string& problem);

    // Main. Opens the window and runs until it is closed (or SIGINT / SIGTERM close it). Returns
    // the process exit status: 0 after a normal close, 1 when no display could be opened (after one
    // line on standard error).
    static int run();
};

} // namespace thraskvell
