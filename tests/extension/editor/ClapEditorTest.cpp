// The stereo CLAP's editor in a minimal CLAP host of our own, on an X11 parent window under xsession.sh.
#include <gtest/gtest.h>

#include "clap/entry.h"
#include "clap/ext/gui.h"
#include "clap/ext/params.h"
#include "clap/ext/timer-support.h"
#include "clap/plugin-factory.h"

// After gtest: Xlib defines macros (None, Bool) that gtest uses as names.
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

// DPF's CLAP wrapper frees its malloc'ed editor event queue with delete[]; the font libraries cache
// for the process's life, and DGL never releases Cairo's X11 per-window record (flat, as shown below).
extern "C" const char* __asan_default_options() {
    return "alloc_dealloc_mismatch=0";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libpango-1.0.so\nleak:libpangocairo-1.0.so\nleak:libpangoft2-1.0.so\n"
           "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libharfbuzz.so\nleak:libcairo.so\n";
}

namespace {

constexpr clap_id kSustain = 4;
using Event = std::pair<std::uint16_t, double>; // type, value (parameter values only)
using Events = std::vector<clap_event_param_value_t>;

// The host's side: gui, timer support and params; it only records the timers the editor asks for.
std::vector<clap_id> gTimers;
const clap_host_gui_t kGui{[](auto) {}, [](auto, auto, auto) { return true; }, [](auto) { return true; },
                           [](auto) { return true; }, [](auto, auto) {}};
const clap_host_timer_support_t kTimers{[](auto, auto, clap_id* id) {
                                            gTimers.push_back(*id = static_cast<clap_id>(gTimers.size() + 1));
                                            return true;
                                        },
                                        [](auto, clap_id id) { return std::erase(gTimers, id) == 1; }};
const clap_host_params_t kParams{[](auto, auto) {}, [](auto, auto, auto) {}, [](auto) {}};
const void* hostExtension(const clap_host_t*, const char* id) {
    if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &kGui;
    if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &kTimers;
    return std::strcmp(id, CLAP_EXT_PARAMS) == 0 ? &kParams : nullptr;
}
const clap_host_t kHost{CLAP_VERSION, nullptr,       "editor test", "",          "",
                        "1",          hostExtension, [](auto) {},   [](auto) {}, [](auto) {}};

class ClapEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display) << "run under xsession.sh";
        XMapWindow(display, parent);
        XSync(display, False);
        ASSERT_NE(library, nullptr) << dlerror();
        const auto* entry = static_cast<const clap_plugin_entry_t*>(dlsym(library, "clap_entry"));
        ASSERT_TRUE(entry && entry->init(THRASKVELL_STEREO_CLAP));
        const auto* factory =
            static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
        plugin = factory->create_plugin(factory, &kHost, "org.thraskvell.fuzz.stereo");
        ASSERT_TRUE(plugin && plugin->init(plugin));
        gui = static_cast<decltype(gui)>(plugin->get_extension(plugin, CLAP_EXT_GUI));
        timer = static_cast<decltype(timer)>(plugin->get_extension(plugin, CLAP_EXT_TIMER_SUPPORT));
        params = static_cast<decltype(params)>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
        ASSERT_TRUE(gui && timer && params && plugin->activate(plugin, 48000.0, 1, 256) &&
                    plugin->start_processing(plugin));
    }
    void TearDown() override {
        if (plugin) plugin->stop_processing(plugin), plugin->deactivate(plugin), plugin->destroy(plugin);
        if (display) XCloseDisplay(display);
    }

    // Opens the editor at `scale` and runs the host's timers until its window is mapped.
    bool openEditor(double scale = 1.0) {
        clap_window_t window{CLAP_WINDOW_API_X11, {}};
        window.x11 = parent;
        return gui->create(plugin, CLAP_WINDOW_API_X11, false) &&
               (scale == 1.0 || gui->set_scale(plugin, scale)) && gui->set_parent(plugin, &window) &&
               gui->show(plugin) && pumpUntil([&] {
                   Window root = 0, up = 0, *children = nullptr;
                   unsigned count = 0;
                   XWindowAttributes attributes{};
                   XQueryTree(display, parent, &root, &up, &children, &count);
                   const bool mapped = count == 1 &&
                                       XGetWindowAttributes(display, children[0], &attributes) &&
                                       attributes.map_state == IsViewable;
                   return XFree(children), mapped;
               });
    }
    // The host's main loop: timers fire (the editor handles its X events and idles) until `done`,
    // for ten seconds at most.
    bool pumpUntil(const std::function<bool()>& done) {
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10); !done();) {
            if (std::chrono::steady_clock::now() > end) return false;
            for (const clap_id id : std::vector<clap_id>(gTimers))
                timer->on_timer(plugin, id);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // One audio block carrying `in`; appends what the plug-in sends to the host for Sustain.
    void process(Events in, std::vector<Event>& out) {
        std::vector<float> left(256), right(256);
        float* channels[2] = {left.data(), right.data()};
        clap_audio_buffer_t audio{channels, nullptr, 2, 0, 0};
        const clap_input_events_t inEvents{
            &in, [](auto l) { return static_cast<std::uint32_t>(static_cast<Events*>(l->ctx)->size()); },
            [](auto l, auto i) -> const clap_event_header_t* {
                return &(*static_cast<Events*>(l->ctx))[i].header;
            }};
        const clap_output_events_t outEvents{
            &out, [](auto l, auto e) {
                const auto* v = reinterpret_cast<const clap_event_param_value_t*>(e);
                EXPECT_EQ(v->param_id, kSustain); // same offset in gestures
                static_cast<std::vector<Event>*>(l->ctx)->emplace_back(
                    e->type, e->type == CLAP_EVENT_PARAM_VALUE ? v->value : 0.0);
                return true;
            }};
        const clap_process_t data{-1, 256, nullptr, &audio, &audio, 1, 1, &inEvents, &outEvents};
        EXPECT_NE(plugin->process(plugin, &data), CLAP_PROCESS_ERROR);
    }
    double sustain() const {
        double value = -1.0;
        return params->get_value(plugin, kSustain, &value), value;
    }

    Display* display = XOpenDisplay(nullptr);
    Window parent =
        display ? XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1200, 1600, 0, 0, 0) : 0;
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
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](auto& e) { return e.first != CLAP_EVENT_PARAM_VALUE; }),
              2);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front().first, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(events[events.size() - 2], (Event{CLAP_EVENT_PARAM_VALUE, 80.0}));
    EXPECT_EQ(sustain(), 80.0);

    // Automation moves the editor; a hundred host ticks later nothing has come back.
    clap_event_param_value_t automation{
        {sizeof(automation), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0},
        kSustain,
        nullptr,
        -1,
        -1,
        -1,
        -1,
        20.0};
    events.clear();
    process({automation}, events);
    int ticks = 0;
    pumpUntil([&] { return process({}, events), ++ticks == 100; });
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(sustain(), 20.0);
    gui->destroy(plugin);
}

TEST_F(ClapEditorTest, FiftyOpeningsReportTheSizeAtTheHostsScaleAndKeepTheProcessFlat) {
    const auto peakKilobytes = [] {
        rusage usage{};
        return getrusage(RUSAGE_SELF, &usage), usage.ru_maxrss;
    };
    [[maybe_unused]] long afterWarmUp = 0;
    for (int i = 0; i < 50; ++i) {
        const unsigned scale = i == 1 ? 2 : 1; // once at twice the size, well before the warm-up ends
        std::uint32_t width = 0, height = 0;
        ASSERT_TRUE(openEditor(scale) && gui->get_size(plugin, &width, &height)) << "round " << i;
        EXPECT_TRUE(width == 550 * scale && height == 750 * scale)
            << width << " x " << height << " at " << scale;
        gui->destroy(plugin);
        if (i == 9) afterWarmUp = peakKilobytes();
    }
#if !defined(__SANITIZE_ADDRESS__) // AddressSanitizer's quarantine grows RSS; LeakSanitizer judges there
    EXPECT_LT(peakKilobytes() - afterWarmUp, 4096);
#endif
}

} // namespace
