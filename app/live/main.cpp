// thraskvell-live: the mono effect and its editor as a JACK client, to play a bass through live.
//
// The program is DPF's JACK standalone (DistrhoPluginJACK.cpp with the ThraskVellLive plug-in, 1 in
// and 2 out) with this main in front. DPF's main is compiled as thraskvellDpfJackMain, and its calls
// to jack_client_open and jack_activate as the two functions at the end of this file: so this main
// checks the display and the server, opens the one client, and hands it over; and the ports are
// connected as soon as DPF has activated them. Settings reach the unit through the adapter's hooks,
// when DPF's plug-in creates it, and are saved when DPF destroys it: on closing the window, on
// SIGINT or SIGTERM, and when the server goes away.
//
// Threads: main only (the JACK calls here are made from DPF's main thread too).
#include "app/live/LiveSettings.h"
#include "extension/ThraskVellAudioUnit.h"
#include "extension/plugin/PluginUnitHooks.h"

#include <CLI/CLI.hpp>
#include <X11/Xlib.h>
#include <jack/jack.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

int thraskvellDpfJackMain(int argc, char* argv[]);

namespace {

using namespace thraskvell;

// The plug-in's name (extension/plugin/live/DistrhoPluginInfo.h), as DPF would name the client.
constexpr const char* kClientName = "Thrask Vell Live";

jack_client_t* gClient = nullptr; // opened here, handed to DPF once
bool gConnect = true;

void say(const std::string& line) {
    std::cerr << "thraskvell-live: " << line << std::endl;
}

// DPF's standalone cannot run without a window.
std::optional<std::string> displayProblem() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return std::string("no display to open the window on (DISPLAY is not set); it needs X11, or "
                           "XWayland under Wayland");
    // The window's toolkit turns on Xlib's thread support, which has to come before any connection.
    XInitThreads();
    Display* connection = XOpenDisplay(nullptr);
    if (!connection) return "cannot open display \"" + std::string(display) + "\"";
    XCloseDisplay(connection);
    return std::nullopt;
}

// libjack explains a missing server, and a server that goes away, in several lines of its own about
// sockets and channels; one of ours (or DPF's "jack has shutdown") says what matters.
jack_client_t* openClient() {
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    jack_status_t status{};
    jack_client_t* client = jack_client_open(kClientName, JackNoStartServer, &status);
    if (!client && (status & JackServerFailed))
        say("no JACK server is running; start one (jackd, qjackctl, or PipeWire's pw-jack) and try again");
    else if (!client) {
        char code[16];
        std::snprintf(code, sizeof code, "%#x", static_cast<unsigned>(status));
        say(std::string("the JACK server refused the client (status ") + code + ")");
    }
    return client;
}

std::vector<std::string> audioPorts(jack_client_t* client, unsigned long flags, bool ours) {
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, flags);
    for (std::size_t i = 0; ports && ports[i]; ++i)
        if (const jack_port_t* port = jack_port_by_name(client, ports[i]);
            port && (jack_port_is_mine(client, port) != 0) == ours)
            names.emplace_back(ports[i]);
    jack_free(ports);
    return names;
}

// The first physical capture port into the input, the outputs to the first two playback ports.
void connectToPhysicalPorts(jack_client_t* client) {
    const auto capture = audioPorts(client, JackPortIsPhysical | JackPortIsOutput, false);
    const auto playback = audioPorts(client, JackPortIsPhysical | JackPortIsInput, false);
    auto inputs = audioPorts(client, JackPortIsInput, true);
    auto outputs = audioPorts(client, JackPortIsOutput, true);
    std::sort(inputs.begin(), inputs.end());
    std::sort(outputs.begin(), outputs.end());
    const auto link = [&](const std::string& from, const std::string& to) {
        const int result = jack_connect(client, from.c_str(), to.c_str());
        if (result != 0 && result != EEXIST) say("cannot connect " + from + " to " + to);
    };
    if (capture.empty()) say("no physical capture port to play from; connect the input yourself");
    if (playback.empty()) say("no physical playback port to play to; connect the outputs yourself");
    if (!capture.empty() && !inputs.empty()) link(capture[0], inputs[0]);
    for (std::size_t i = 0; i < std::min({outputs.size(), playback.size(), std::size_t{2}}); ++i)
        link(outputs[i], playback[i]);
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Plays a bass through the Thrask Vell fuzz as it is played: a JACK client with one "
                 "input and two outputs (the mono result on both, for both sides of headphones) and "
                 "the effect's editor in a window. It adds no latency of its own.",
                 "thraskvell-live"};
    std::string preset;
    bool noConnect = false;
    app.add_flag("--no-connect", noConnect,
                 "leave all connections to you (qjackctl, Carla, pw-link ...); by default the first "
                 "physical capture port feeds the input and the outputs go to the first two physical "
                 "playback ports");
    app.add_option("--preset", preset,
                   "start from a factory preset (by name, e.g. \"Doom Wall\") or a preset file instead "
                   "of the saved settings")
        ->type_name("NAME|FILE");
    app.footer("Settings are saved to $XDG_CONFIG_HOME/thraskvell/live.json (~/.config/thraskvell/live.json) "
               "when the program closes and restored when it starts.\nExit status: 0 closed, 1 no display, "
               "no JACK server or an unreadable preset, 2 wrong command line.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        say(std::string(e.what()) + " (see thraskvell-live --help)");
        return 2;
    }

    std::optional<std::string> start;
    if (!preset.empty() && !(start = live::readPreset(preset, std::cerr))) return 1;
    if (const auto problem = displayProblem()) {
        say(*problem);
        return 1;
    }
    gClient = openClient();
    if (!gClient) return 1;
    gConnect = !noConnect;

    const std::filesystem::path settings = live::settingsPath();
    if (preset.empty()) start = live::loadSettings(settings, std::cerr);
    setPluginUnitHooks(
        {[&](ThraskVellAudioUnit& unit) {
             if (!start) return;
             if (const auto error = unit.setFullStateText(*start))
                 say("settings not applied: " + error->localizedDescription);
         },
         [&](ThraskVellAudioUnit& unit) { live::saveSettings(settings, unit.fullStateText(), std::cerr); }});
    // DPF's main reads its own options ("selftest", "embed ID"): it gets none.
    char* dpfArguments[] = {argv[0], nullptr};
    return thraskvellDpfJackMain(1, dpfArguments);
}

// DPF's jack_client_open: the client opened above.
extern "C" jack_client_t* thraskvellLiveClientOpen(const char*, jack_options_t, jack_status_t* status, ...) {
    if (status) *status = jack_status_t{};
    return std::exchange(gClient, nullptr);
}

// DPF's jack_activate: its ports are registered by now, and live once activated.
extern "C" int thraskvellLiveActivate(jack_client_t* client) {
    const int result = jack_activate(client);
    if (result == 0 && gConnect) connectToPhysicalPorts(client);
    return result;
}
