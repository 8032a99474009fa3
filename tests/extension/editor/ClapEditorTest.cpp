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
#include <string>
#include <thread>
#include <tuple>

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

constexpr clap_id kSustain = 4, kBassBoost = 7;
using Event = std::tuple<std::uint16_t, clap_id, double>; // type, parameter, value (of values only)

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
    bool openEditor(double scale) {
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
    template <typename Done> bool pumpUntil(Done done) {
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10); !done();) {
            if (std::chrono::steady_clock::now() > end) return false;
            for (const clap_id id : std::vector<clap_id>(gTimers))
                timer->on_timer(plugin, id);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // One audio block carrying Sustain at `in` (none when negative); appends what the plug-in sends the host.
    void process(double in, std::vector<Event>& out) {
        std::vector<float> left(256), right(256);
        float* channels[2] = {left.data(), right.data()};
        clap_audio_buffer_t audio{channels, nullptr, 2, 0, 0};
        clap_event_param_value_t event{};
        event.header = {sizeof(event), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        event.param_id = kSustain;
        event.value = in;
        event.note_id = event.port_index = event.channel = event.key = -1;
        const clap_input_events_t events{
            in < 0 ? nullptr : &event, [](auto l) { return l->ctx ? 1u : 0u; },
            [](auto l, auto) { return static_cast<const clap_event_header_t*>(l->ctx); }};
        const clap_output_events_t outEvents{
            &out, [](auto l, auto e) {
                const auto* v =
                    reinterpret_cast<const clap_event_param_value_t*>(e); // param_id: as in gestures
                static_cast<std::vector<Event>*>(l->ctx)->emplace_back(
                    e->type, v->param_id, e->type == CLAP_EVENT_PARAM_VALUE ? v->value : 0.0);
                return true;
            }};
        const clap_process_t data{-1, 256, nullptr, &audio, &audio, 1, 1, &events, &outEvents};
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

// Fifty openings report the size at the host's scale and keep the process flat; in the last, a drag and a tap
// are one host gesture each, automation moves the editor without coming back, and a click that does not
// move leaves the host's value alone.
TEST_F(ClapEditorTest, OpeningsKeepTheProcessFlatEditsAreHostGesturesAndAHostChangeIsNotSentBack) {
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
        if (i < 49) gui->destroy(plugin);
        if (i == 9) afterWarmUp = peakKilobytes();
    }
#if !defined(__SANITIZE_ADDRESS__) // AddressSanitizer's quarantine grows RSS; LeakSanitizer judges there
    EXPECT_LT(peakKilobytes() - afterWarmUp, 4096);
#endif
    // The Sustain knob's centre in the editor dragged 30 points up; the panel's header clicked and the BASS
    // switch below it tapped: each is one host gesture.
    const auto gesture = [&](const std::string& pointer) {
        std::vector<Event> events;
        EXPECT_EQ(std::system(("timeout 10 xdotool " + pointer).c_str()), 0);
        EXPECT_TRUE(pumpUntil([&] {
            process(-1, events);
            return !events.empty() && std::get<0>(events.back()) == CLAP_EVENT_PARAM_GESTURE_END;
        }));
        return events;
    };
    auto events = gesture("mousemove 97 369 mousedown 1 mousemove 97 354 mousemove 97 339 mouseup 1");
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](auto& e) { return std::get<0>(e) != CLAP_EVENT_PARAM_VALUE; }),
              2);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front(), (Event{CLAP_EVENT_PARAM_GESTURE_BEGIN, kSustain, 0.0}));
    EXPECT_EQ(events[events.size() - 2], (Event{CLAP_EVENT_PARAM_VALUE, kSustain, 80.0}));
    EXPECT_EQ(sustain(), 80.0);
    events.clear(); // a hundred host ticks after the automation, nothing has come back
    process(20.0, events);
    int ticks = 0;
    pumpUntil([&] { return process(-1, events), ++ticks == 100; });
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(sustain(), 20.0);
    // A click on the knob the host moved leaves the host's value and sends nothing; a double-click restores
    // the default and a wheel notch adds 1, each as one gesture.
    EXPECT_EQ(std::system("timeout 10 xdotool mousemove 97 369 click 1"), 0);
    pumpUntil([&] { return process(-1, events), ++ticks == 200; });
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(sustain(), 20.0);
    for (const auto& [pointer, value] : {std::pair{"click --repeat 2 --delay 80 1", 50.0}, {"click 4", 51.0}})
        EXPECT_EQ(gesture(pointer), (std::vector<Event>{{CLAP_EVENT_PARAM_GESTURE_BEGIN, kSustain, 0.0},
                                                        {CLAP_EVENT_PARAM_VALUE, kSustain, value},
                                                        {CLAP_EVENT_PARAM_GESTURE_END, kSustain, 0.0}}))
            << pointer;
    EXPECT_EQ(gesture("mousemove 275 717 click 1 mousemove 240 569 click 1"),
              (std::vector<Event>{{CLAP_EVENT_PARAM_GESTURE_BEGIN, kBassBoost, 0.0},
                                  {CLAP_EVENT_PARAM_VALUE, kBassBoost, 1.0},
                                  {CLAP_EVENT_PARAM_GESTURE_END, kBassBoost, 0.0}}));
    gui->destroy(plugin);
}

} // namespace
