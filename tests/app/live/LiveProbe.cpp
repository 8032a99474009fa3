// A JACK client pair of the live test: checks how thraskvell-live's ports are connected, then plays a
// bass note into its input and records both outputs, and compares them with the renderer's effect
// (HostedEffect, blocks of the server's period, settings of PRESET) on the same samples.
//
// The note starts at a period boundary after about a second of silence, and the reference runs two
// seconds of silence first: from silence, every state of the effect settles to the same fixed point
// (the gate fully shut, filters flushed to 0), so both meet the note in the same state. Source and
// sink are separate clients, so the server runs source, effect, sink in one cycle: the output of a
// frame comes back in the same frame, and any latency shows as a mismatch.
// Usage: live-probe PRESET connected|unconnected
#include "app/render/Preset.h"

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace thraskvell;
constexpr int kRate = 48000, kSilence = kRate, kLength = 144 * 256; // whole periods of 64 to 256
const std::string kLive = "Thrask Vell Live:";

std::vector<float> gNote(kLength);
std::vector<float> gRecorded[2] = {std::vector<float>(kLength), std::vector<float>(kLength)};
jack_port_t *gOut, *gIn[2];
std::atomic<std::int64_t> gStart{-1}; // frame time of the note's first sample, set by the source
std::atomic<int> gDone{0};

int fail(const std::string& why) {
    std::printf("FAIL: %s\n", why.c_str());
    return 1;
}

bool connectedTo(jack_client_t* client, const std::string& port, const char* peer) {
    const char** peers = jack_port_get_all_connections(client, jack_port_by_name(client, port.c_str()));
    const bool found = peers && peers[0] && (peer ? std::string(peers[0]) == peer && !peers[1] : true);
    jack_free(peers);
    return found;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return fail("usage: live-probe PRESET connected|unconnected");
    jack_client_t* source = jack_client_open("thraskvell-probe-source", JackNoStartServer, nullptr);
    jack_client_t* sink = jack_client_open("thraskvell-probe-sink", JackNoStartServer, nullptr);
    if (!source || !sink || jack_get_sample_rate(source) != kRate) return fail("no JACK server at 48 kHz");
    for (int i = 0; i < kLength; ++i) // an open A string, plucked
        gNote[i] = 0.6f * std::exp(-3.0f * i / kRate) * std::sin(2.0f * 3.14159265f * 55.0f * i / kRate);
    gOut = jack_port_register(source, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    for (int c = 0; c < 2; ++c)
        gIn[c] = jack_port_register(sink, ("in" + std::to_string(c + 1)).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                    JackPortIsInput, 0);
    jack_set_process_callback(
        source,
        [](jack_nframes_t frames, void* client) {
            const std::int64_t now = jack_last_frame_time(static_cast<jack_client_t*>(client));
            std::int64_t start = gStart.load();
            if (start < 0) gStart = start = now + kSilence / frames * frames;
            auto* out = static_cast<float*>(jack_port_get_buffer(gOut, frames));
            for (std::int64_t i = 0, n = now - start; i < frames; ++i, ++n)
                out[i] = n >= 0 && n < kLength ? gNote[n] : 0.0f;
            return 0;
        },
        source);
    jack_set_process_callback(
        sink,
        [](jack_nframes_t frames, void* client) {
            const std::int64_t start = gStart.load();
            const std::int64_t n = jack_last_frame_time(static_cast<jack_client_t*>(client)) - start;
            for (int c = 0; start >= 0 && c < 2; ++c) {
                const auto* in = static_cast<const float*>(jack_port_get_buffer(gIn[c], frames));
                for (std::int64_t i = 0; i < frames; ++i)
                    if (n + i >= 0 && n + i < kLength) gRecorded[c][n + i] = in[i];
            }
            if (start >= 0 && n + frames >= kLength) gDone = 1;
            return 0;
        },
        sink);

    const bool connected = std::string(argv[2]) == "connected";
    if (connectedTo(source, kLive + "audio_in_1", connected ? "system:capture_1" : nullptr) != connected ||
        connectedTo(source, kLive + "audio_out_1", connected ? "system:playback_1" : nullptr) != connected ||
        connectedTo(source, kLive + "audio_out_2", connected ? "system:playback_2" : nullptr) != connected)
        return fail(std::string("thraskvell-live's ports are not ") + argv[2] + " as expected");
    if (jack_activate(sink) || jack_activate(source) ||
        jack_connect(source, "thraskvell-probe-source:out", (kLive + "audio_in_1").c_str()) ||
        jack_connect(sink, (kLive + "audio_out_1").c_str(), "thraskvell-probe-sink:in1") ||
        jack_connect(sink, (kLive + "audio_out_2").c_str(), "thraskvell-probe-sink:in2"))
        return fail("cannot connect to thraskvell-live");
    for (int i = 0; i < 200 && !gDone; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int period = static_cast<int>(jack_get_buffer_size(source));
    jack_client_close(source);
    jack_client_close(sink);
    if (!gDone) return fail("nothing recorded in 10 s");

    render::RenderOptions options;
    options.preset = argv[1];
    render::HostedEffect effect(kRate, 1, period);
    render::applySettings(effect.bridge(), render::RenderState(options).settings());
    std::vector<float> silence(period), discarded(period), reference(kLength);
    for (int i = 0; i < 2 * kSilence; i += period)
        effect.process(silence.data(), discarded.data(), period);
    for (int i = 0; i < kLength; i += period)
        effect.process(&gNote[i], &reference[i], period);
    float peak = 0.0f;
    for (int i = 0; i < kLength; ++i) {
        peak = std::max(peak, std::fabs(reference[i]));
        for (int c = 0; c < 2; ++c)
            if (gRecorded[c][i] != reference[i]) {
                std::printf("FAIL: output %d frame %d is %.9g, the renderer's %.9g\n", c + 1, i,
                            gRecorded[c][i], reference[i]);
                return 1;
            }
    }
    if (peak < 0.01f) return fail("the renderer's output is silent: nothing was compared");
    std::printf("both outputs equal the renderer's on all %d frames (peak %.3f)\n", kLength, peak);
    return 0;
}
