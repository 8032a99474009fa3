// Times one LV2 plug-in, ours or a peer's, through lilv the way a plain host runs it: every audio port
// on a buffer of its own, a 55 Hz sawtooth at -6 dBFS on each input, controls at their defaults unless
// set, warmed up, then the audio thread's own CPU time per repeat. bench/peer-cpu.sh compares the
// results; one line per run: URI, then the median, fastest and slowest repeat in ns per frame, then the
// output's peak in dBFS after the timing (-200 for silence).
//
// Usage: thraskvell_lilv_timing URI [symbol=value ...] [--block=256] [--rate=48000] [--seconds=2]
//        [--repeats=5] [--silent]
//
// Threads: single-threaded; the worker runs synchronously inside run(), as jalv does when it renders
// offline.
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

template <class T> using Owned = std::unique_ptr<T, void (*)(T*)>;

struct Settings {
    std::string uri;
    std::map<std::string, float> controls;
    std::uint32_t block = 256;
    double rate = 48000.0;
    double seconds = 2.0;
    int repeats = 5;
    bool silent = false;
};

template <class T> T number(std::string_view text, std::string_view what) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !(value > T{}))
        throw std::runtime_error("bad " + std::string(what) + " '" + std::string(text) + "'");
    return value;
}

Settings parse(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto equals = arg.find('=');
        const auto key = arg.substr(0, equals), value = arg.substr(equals + 1);
        if (key == "--silent") {
            s.silent = true;
        } else if (key.starts_with("--") && equals == std::string_view::npos) {
            throw std::runtime_error("option " + std::string(arg) + " needs =value");
        } else if (key == "--block") {
            s.block = number<std::uint32_t>(value, "block size");
        } else if (key == "--rate") {
            s.rate = number<double>(value, "rate");
        } else if (key == "--seconds") {
            s.seconds = number<double>(value, "seconds");
        } else if (key == "--repeats") {
            s.repeats = number<int>(value, "repeats");
        } else if (key.starts_with("--")) {
            throw std::runtime_error("unknown option " + std::string(key));
        } else if (equals != std::string_view::npos) {
            float v{};
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), v);
            if (error != std::errc{} || end != value.data() + value.size())
                throw std::runtime_error("bad value in " + std::string(arg));
            s.controls[std::string(key)] = v;
        } else if (s.uri.empty()) {
            s.uri = arg;
        } else {
            throw std::runtime_error("unexpected argument " + std::string(arg));
        }
    }
    if (s.uri.empty()) throw std::runtime_error("no plug-in URI given");
    return s;
}

std::uint64_t threadNanoseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::uint64_t(t.tv_sec) * 1'000'000'000u + std::uint64_t(t.tv_nsec);
}

class UridMap {
public:
    LV2_URID map(const char* uri) {
        const auto [it, added] = _ids.try_emplace(uri, LV2_URID(_uris.size() + 1));
        if (added) _uris.push_back(it->first.c_str());
        return it->second;
    }
    const char* unmap(LV2_URID id) const { return id >= 1 && id <= _uris.size() ? _uris[id - 1] : nullptr; }

    LV2_URID_Map mapFeature{this, [](LV2_URID_Map_Handle self, const char* uri) {
                                return static_cast<UridMap*>(self)->map(uri);
                            }};
    LV2_URID_Unmap unmapFeature{this, [](LV2_URID_Unmap_Handle self, LV2_URID id) {
                                    return static_cast<const UridMap*>(self)->unmap(id);
                                }};

private:
    std::map<std::string, LV2_URID> _ids;
    std::vector<const char*> _uris;
};

// work() runs at once inside schedule_work(); the responses wait for the end of run(), where the
// worker extension says they belong.
class Worker {
public:
    void attach(LilvInstance* instance) {
        _handle = lilv_instance_get_handle(instance);
        _interface = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(instance, LV2_WORKER__interface));
    }
    void afterRun() {
        if (!_interface) return;
        for (const auto& response : _responses)
            _interface->work_response(_handle, std::uint32_t(response.size()), response.data());
        _responses.clear();
        if (_interface->end_run) _interface->end_run(_handle);
    }

    LV2_Worker_Schedule scheduleFeature{
        this, [](LV2_Worker_Schedule_Handle self, std::uint32_t size, const void* data) {
            auto& w = *static_cast<Worker*>(self);
            if (!w._interface) return LV2_WORKER_ERR_UNKNOWN;
            return w._interface->work(w._handle, respond, self, size, data);
        }};

private:
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle self, std::uint32_t size, const void* data) {
        const auto* bytes = static_cast<const char*>(data);
        static_cast<Worker*>(self)->_responses.emplace_back(bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }

    LV2_Handle _handle = nullptr;
    const LV2_Worker_Interface* _interface = nullptr;
    std::vector<std::vector<char>> _responses;
};

class Host {
public:
    explicit Host(const Settings& s) : _settings(s) {
        lilv_world_load_all(_world.get());
        const Owned<LilvNode> uri{lilv_new_uri(_world.get(), s.uri.c_str()), lilv_node_free};
        _plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(_world.get()), uri.get());
        if (!_plugin) {
            const char* path = std::getenv("LV2_PATH");
            throw std::runtime_error("no LV2 plug-in " + s.uri + " in " +
                                     (path ? "LV2_PATH=" + std::string(path) : "the default LV2 path") +
                                     " (lv2ls lists what is installed)");
        }
        for (const auto& [symbol, value] : s.controls) {
            const Owned<LilvNode> name{lilv_new_string(_world.get(), symbol.c_str()), lilv_node_free};
            const LilvPort* port = lilv_plugin_get_port_by_symbol(_plugin, name.get());
            if (!port || !is(lilv_port_get_index(_plugin, port), LV2_CORE__InputPort) ||
                !is(lilv_port_get_index(_plugin, port), LV2_CORE__ControlPort))
                throw std::runtime_error("no input control port '" + symbol + "' on " + s.uri);
        }
        instantiate();
        connect();
    }

    // Runs at least `frames` frames in whole blocks; returns how many it ran.
    std::uint64_t run(std::uint64_t frames) {
        std::uint64_t done = 0;
        for (; done < frames; done += _settings.block) {
            for (std::size_t c = 0; c < _audioIn.size(); ++c)
                lilv_instance_connect_port(_instance.get(), _audioIn[c], _input[c].data() + _offset);
            for (auto& [index, buffer] : _atomOut) {
                auto* atom = reinterpret_cast<LV2_Atom*>(buffer.data());
                atom->type = _chunk;
                atom->size = std::uint32_t(buffer.size() * sizeof(buffer[0]) - sizeof(LV2_Atom));
            }
            lilv_instance_run(_instance.get(), _settings.block);
            _worker.afterRun();
            _offset = (_offset + _settings.block) % _period;
        }
        return done;
    }

    // The loudest output sample over one more cycle of the input, in dBFS: a plug-in that does no work
    // (or a gate that stays open on silence) shows here.
    double peakDb() {
        float peak = 0.0f;
        for (double frames = 0.0; frames < _settings.rate / 55.0; frames += _settings.block) {
            run(_settings.block);
            for (const auto& output : _output)
                for (float v : output)
                    peak = std::max(peak, std::fabs(v));
        }
        return std::max(-200.0, 20.0 * std::log10(double(peak)));
    }

private:
    bool is(std::uint32_t index, const char* classUri) const {
        const Owned<LilvNode> node{lilv_new_uri(_world.get(), classUri), lilv_node_free};
        return lilv_port_is_a(_plugin, lilv_plugin_get_port_by_index(_plugin, index), node.get());
    }

    void instantiate() {
        _blockLength = std::int32_t(_settings.block);
        _sampleRate = float(_settings.rate);
        const LV2_URID intType = _urids.map(LV2_ATOM__Int);
        _options = {{LV2_OPTIONS_INSTANCE, 0, _urids.map(LV2_BUF_SIZE__nominalBlockLength),
                     sizeof(std::int32_t), intType, &_blockLength},
                    {LV2_OPTIONS_INSTANCE, 0, _urids.map(LV2_BUF_SIZE__maxBlockLength), sizeof(std::int32_t),
                     intType, &_blockLength},
                    {LV2_OPTIONS_INSTANCE, 0, _urids.map(LV2_BUF_SIZE__minBlockLength), sizeof(std::int32_t),
                     intType, &_blockLength},
                    {LV2_OPTIONS_INSTANCE, 0, _urids.map(LV2_PARAMETERS__sampleRate), sizeof(float),
                     _urids.map(LV2_ATOM__Float), &_sampleRate},
                    {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
        _chunk = _urids.map(LV2_ATOM__Chunk);
        _sequence = _urids.map(LV2_ATOM__Sequence);
        const LV2_Feature map{LV2_URID__map, &_urids.mapFeature},
            unmap{LV2_URID__unmap, &_urids.unmapFeature}, options{LV2_OPTIONS__options, _options.data()},
            bounded{LV2_BUF_SIZE__boundedBlockLength, nullptr},
            fixed{LV2_BUF_SIZE__fixedBlockLength, nullptr},
            worker{LV2_WORKER__schedule, &_worker.scheduleFeature};
        const LV2_Feature* features[] = {&map, &unmap, &options, &bounded, &fixed, &worker, nullptr};
        _instance.reset(lilv_plugin_instantiate(_plugin, _settings.rate, features));
        if (!_instance) {
            std::string required;
            const Owned<LilvNodes> needs{lilv_plugin_get_required_features(_plugin), lilv_nodes_free};
            LILV_FOREACH(nodes, i, needs.get()) {
                required += std::string(" ") + lilv_node_as_uri(lilv_nodes_get(needs.get(), i));
            }
            throw std::runtime_error(_settings.uri + " did not instantiate; it requires:" +
                                     (required.empty() ? std::string(" nothing") : required));
        }
        _worker.attach(_instance.get());
    }

    void connect() {
        const std::uint32_t ports = lilv_plugin_get_num_ports(_plugin);
        std::vector<float> min(ports), max(ports), init(ports);
        lilv_plugin_get_port_ranges_float(_plugin, min.data(), max.data(), init.data());
        _controls.resize(ports);
        for (std::uint32_t i = 0; i < ports; ++i) {
            const bool input = is(i, LV2_CORE__InputPort);
            if (is(i, LV2_CORE__AudioPort)) {
                (input ? _audioIn : _audioOut).push_back(i);
            } else if (is(i, LV2_CORE__ControlPort)) {
                const char* symbol = lilv_node_as_string(
                    lilv_port_get_symbol(_plugin, lilv_plugin_get_port_by_index(_plugin, i)));
                _controls[i] = std::isnan(init[i]) ? (std::isnan(min[i]) ? 0.0f : min[i]) : init[i];
                if (const auto given = _settings.controls.find(symbol);
                    input && given != _settings.controls.end())
                    _controls[i] = given->second;
                lilv_instance_connect_port(_instance.get(), i, &_controls[i]);
            } else if (is(i, LV2_ATOM__AtomPort)) {
                auto& buffer =
                    (input ? _atomIn : _atomOut).emplace_back(i, std::vector<std::uint64_t>(1024)).second;
                auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(buffer.data());
                sequence->atom = {sizeof(LV2_Atom_Sequence_Body), _sequence};
                lilv_instance_connect_port(_instance.get(), i, buffer.data());
            } else {
                // CV and any other kind of port: a block of zeros of its own.
                _other.emplace_back(_settings.block);
                lilv_instance_connect_port(_instance.get(), i, _other.back().data());
            }
        }

        // 55 Hz repeats exactly every rate / gcd(rate, 55) frames: the input loops over that many, each
        // block's port pointing into a copy long enough that no block wraps.
        const auto rate = std::uint64_t(std::llround(_settings.rate));
        _period = std::uint32_t(rate / std::gcd(rate, std::uint64_t(55)));
        std::vector<float> saw(_period + _settings.block);
        for (std::size_t n = 0; n < saw.size() && !_settings.silent; ++n) {
            const double phase = std::fmod(double(n) * 55.0 / _settings.rate, 1.0);
            saw[n] = float(0.5 * (2.0 * phase - 1.0));
        }
        _input.assign(_audioIn.size(), saw);
        _output.assign(_audioOut.size(), std::vector<float>(_settings.block));
        for (std::size_t c = 0; c < _audioOut.size(); ++c)
            lilv_instance_connect_port(_instance.get(), _audioOut[c], _output[c].data());
        lilv_instance_activate(_instance.get());
    }

    const Settings& _settings;
    const Owned<LilvWorld> _world{lilv_world_new(), lilv_world_free};
    const LilvPlugin* _plugin = nullptr;
    UridMap _urids;
    Worker _worker;
    std::int32_t _blockLength = 0;
    float _sampleRate = 0.0f;
    LV2_URID _chunk = 0, _sequence = 0;
    std::vector<LV2_Options_Option> _options;
    std::vector<float> _controls;
    std::vector<std::uint32_t> _audioIn, _audioOut;
    std::vector<std::vector<float>> _input, _output, _other;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint64_t>>> _atomIn, _atomOut;
    std::uint32_t _period = 1, _offset = 0;
    // Declared last, so the instance goes before the buffers and the world it was connected to.
    Owned<LilvInstance> _instance{nullptr, [](LilvInstance* instance) {
                                      lilv_instance_deactivate(instance);
                                      lilv_instance_free(instance);
                                  }};
};

} // namespace

int main(int argc, char** argv) {
    try {
        const Settings settings = parse(argc, argv);
        Host host(settings);
        host.run(std::uint64_t(std::max(1.0, settings.seconds) * settings.rate));
        const auto frames = std::uint64_t(std::ceil(settings.seconds * settings.rate));
        std::vector<double> nsPerFrame;
        for (int r = 0; r < settings.repeats; ++r) {
            const std::uint64_t start = threadNanoseconds();
            const std::uint64_t ran = host.run(frames);
            nsPerFrame.push_back(double(threadNanoseconds() - start) / double(ran));
        }
        std::sort(nsPerFrame.begin(), nsPerFrame.end());
        const std::size_t n = nsPerFrame.size();
        const double median = (nsPerFrame[(n - 1) / 2] + nsPerFrame[n / 2]) / 2.0;
        std::printf("%s %.2f %.2f %.2f %.1f\n", settings.uri.c_str(), median, nsPerFrame.front(),
                    nsPerFrame.back(), host.peakDb());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "thraskvell_lilv_timing: %s\n", e.what());
        return 2;
    }
}
