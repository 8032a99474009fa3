// The stereo CLAP's editor in a minimal CLAP host on an X11 parent window (under with-xvfb.sh): the
// size it reports, a drag on the Sustain knob (xdotool) reaching the host as one gesture with the
// new value, a host change not echoed back, and fifty openings that do not grow the process.
#include <gtest/gtest.h>

#include "clap/entry.h"
#include "clap/ext/gui.h"
#include "clap/ext/params.h"
#include "clap/ext/timer-support.h"
#include "clap/plugin-factory.h"

// After gtest: Xlib defines macros (None, Bool) that gtest uses as names.
#include <X11/Xlib.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// DPF's CLAP wrapper allocates its queue of editor events with malloc and frees it with delete[]:
// harmless for plain records, but AddressSanitizer stops on it. Read by sanitized builds only.
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() {
    return "alloc_dealloc_mismatch=0";
}
// Process-lifetime caches of the font libraries, and Cairo's X11 per-window record that DGL's
// display teardown never releases (flat in RSS, as the open/close test shows in plain builds).
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libpango-1.0.so\nleak:libpangocairo-1.0.so\nleak:libpangoft2-1.0.so\n"
           "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libharfbuzz.so\nleak:libcairo.so\n";
}

namespace {

constexpr clap_id kSustain = 4;
using Event = std::pair<std::uint16_t, double>; // type, value (parameter values only)

// The host's side: gui, timer support and params; it only records the timers the editor asks for.
std::vector<clap_id> gTimers;
const clap_host_gui_t kGui{[](const clap_host_t*) {},
                           [](const clap_host_t*, std::uint32_t, std::uint32_t) { return true; },
                           [](const clap_host_t*) { return true; }, [](const clap_host_t*) { return true; },
                           [](const clap_host_t*, bool) {}};
const clap_host_timer_support_t kTimers{
    [](const clap_host_t*, std::uint32_t, clap_id* id) {
        gTimers.push_back(*id = static_cast<clap_id>(gTimers.size() + 1));
        return true;
    },
    [](const clap_host_t*, clap_id id) { return std::erase(gTimers, id) == 1; }};
const clap_host_params_t kParams{[](const clap_host_t*, clap_param_rescan_flags) {},
                                 [](const clap_host_t*, clap_id, clap_param_clear_flags) {},
                                 [](const clap_host_t*) {}};
const clap_host_t kHost{CLAP_VERSION,
                        nullptr,
                        "editor test",
                        "",
                        "",
                        "1",
                        [](const clap_host_t*, const char* id) -> const void* {
                            if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &kGui;
                            if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &kTimers;
                            return std::strcmp(id, CLAP_EXT_PARAMS) == 0 ? &kParams : nullptr;
                        },
                        [](const clap_host_t*) {},
                        [](const clap_host_t*) {},
                        [](const clap_host_t*) {}};

class ClapEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "run under with-xvfb.sh";
        parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1200, 1600, 0, 0, 0);
        XMapWindow(display, parent);
        XSync(display, False);
        ASSERT_NE(library, nullptr) << dlerror();
        const auto* entry = static_cast<const clap_plugin_entry_t*>(dlsym(library, "clap_entry"));
        ASSERT_TRUE(entry && entry->init(THRASKVELL_STEREO_CLAP));
        const auto* factory =
            static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
        plugin = factory->create_plugin(factory, &kHost, "org.thraskvell.fuzz.stereo");
        ASSERT_TRUE(plugin && plugin->init(plugin));
        gui = static_cast<const clap_plugin_gui_t*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
        timer = static_cast<const clap_plugin_timer_support_t*>(
            plugin->get_extension(plugin, CLAP_EXT_TIMER_SUPPORT));
        params = static_cast<const clap_plugin_params_t*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
        ASSERT_TRUE(gui && timer && params);
        ASSERT_TRUE(plugin->activate(plugin, 48000.0, 1, 256) && plugin->start_processing(plugin));
    }
    void TearDown() override {
        if (plugin) {
            plugin->stop_processing(plugin);
            plugin->deactivate(plugin);
            plugin->destroy(plugin);
        }
        if (display) XCloseDisplay(display);
    }

    // Opens the editor at `scale` and runs the host's timers until its window is mapped.
    bool openEditor(double scale = 1.0) {
        clap_window_t window{CLAP_WINDOW_API_X11, {}};
        window.x11 = parent;
        if (!gui->create(plugin, CLAP_WINDOW_API_X11, false) ||
            (scale != 1.0 && !gui->set_scale(plugin, scale)) || !gui->set_parent(plugin, &window) ||
            !gui->show(plugin))
            return false;
        return pumpUntil([&] {
            Window root = 0, up = 0, *children = nullptr;
            unsigned count = 0;
            XQueryTree(display, parent, &root, &up, &children, &count);
            XWindowAttributes attributes{};
            const bool mapped = count == 1 && XGetWindowAttributes(display, children[0], &attributes) &&
                                attributes.map_state == IsViewable;
            if (children) XFree(children);
            return mapped;
        });
    }
    // The host's main loop: timers fire (the editor handles its X events and idles) until `done`,
    // for ten seconds at most.
    bool pumpUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            for (const clap_id id : std::vector<clap_id>(gTimers))
                timer->on_timer(plugin, id);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // One audio block carrying `in`; appends what the plug-in sends to the host for Sustain.
    void process(std::vector<clap_event_param_value_t> in, std::vector<Event>& out) {
        std::vector<float> left(256), right(256);
        float* channels[2] = {left.data(), right.data()};
        clap_audio_buffer_t audio{channels, nullptr, 2, 0, 0};
        const clap_input_events_t inEvents{
            &in, [](const clap_input_events_t* l) { return static_cast<std::uint32_t>(list(l)->size()); },
            [](const clap_input_events_t* l, std::uint32_t i) -> const clap_event_header_t* {
                return &(*list(l))[i].header;
            }};
        const clap_output_events_t outEvents{
            &out, [](const clap_output_events_t* l, const clap_event_header_t* e) {
                const auto* v = reinterpret_cast<const clap_event_param_value_t*>(e);
                EXPECT_EQ(v->param_id, kSustain); // same offset in gestures
                static_cast<std::vector<Event>*>(l->ctx)->emplace_back(
                    e->type, e->type == CLAP_EVENT_PARAM_VALUE ? v->value : 0.0);
                return true;
            }};
        const clap_process_t data{-1, 256, nullptr, &audio, &audio, 1, 1, &inEvents, &outEvents};
        EXPECT_NE(plugin->process(plugin, &data), CLAP_PROCESS_ERROR);
    }
    static std::vector<clap_event_param_value_t>* list(const clap_input_events_t* l) {
        return static_cast<std::vector<clap_event_param_value_t>*>(l->ctx);
    }

    Display* display = nullptr;
    Window parent = 0;
    void* library = dlopen(THRASKVELL_STEREO_CLAP, RTLD_NOW | RTLD_LOCAL);
    const clap_plugin_t* plugin = nullptr;
    const clap_plugin_gui_t* gui = nullptr;
    const clap_plugin_timer_support_t* timer = nullptr;
    const clap_plugin_params_t* params = nullptr;
};

TEST_F(ClapEditorTest, ADragIsOneHostGestureAndAHostChangeIsNotSentBack) {
    ASSERT_TRUE(openEditor());
    // The Sustain knob's centre in the editor, dragged 30 points up.
    ASSERT_EQ(std::system("timeout 10 xdotool mousemove 97 369 mousedown 1 mousemove 97 354 mousemove 97 339 "
                          "mouseup 1"),
              0);
    std::vector<Event> events;
    ASSERT_TRUE(pumpUntil([&] {
        process({}, events);
        return !events.empty() && events.back().first == CLAP_EVENT_PARAM_GESTURE_END;
    }));
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front().first, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](auto& e) { return e.first != CLAP_EVENT_PARAM_VALUE; }),
              2);
    EXPECT_EQ(events[events.size() - 2], (Event{CLAP_EVENT_PARAM_VALUE, 80.0}));
    double value = 0.0;
    ASSERT_TRUE(params->get_value(plugin, kSustain, &value));
    EXPECT_EQ(value, 80.0);

    // Automation moves the editor; a hundred host ticks later nothing has come back.
    clap_event_param_value_t automation{};
    automation.header = {sizeof(automation), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    automation.param_id = kSustain;
    automation.note_id = automation.port_index = automation.channel = automation.key = -1;
    automation.value = 20.0;
    events.clear();
    process({automation}, events);
    int ticks = 0;
    pumpUntil([&] {
        process({}, events);
        return ++ticks == 100;
    });
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(params->get_value(plugin, kSustain, &value));
    EXPECT_EQ(value, 20.0);
    gui->destroy(plugin);
}

TEST_F(ClapEditorTest, ReportsItsSizeInPixelsAtTheHostsScale) {
    for (const double scale : {1.0, 2.0}) {
        ASSERT_TRUE(openEditor(scale));
        std::uint32_t width = 0, height = 0;
        ASSERT_TRUE(gui->get_size(plugin, &width, &height));
        EXPECT_EQ(width, 550 * scale);
        EXPECT_EQ(height, 750 * scale);
        gui->destroy(plugin);
    }
}

TEST_F(ClapEditorTest, OpeningAndClosingFiftyTimesKeepsTheProcessFlat) {
    const auto residentKilobytes = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
        return 0L;
    };
    [[maybe_unused]] long afterWarmUp = 0;
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(openEditor()) << "round " << i;
        gui->destroy(plugin);
        if (i == 9) afterWarmUp = residentKilobytes();
    }
#if !defined(__SANITIZE_ADDRESS__) // AddressSanitizer's quarantine grows RSS; LeakSanitizer judges there
    EXPECT_LT(residentKilobytes() - afterWarmUp, 4096);
#endif
}

} // namespace
