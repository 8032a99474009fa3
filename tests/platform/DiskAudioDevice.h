// Points SDL at its disk audio driver so the real engine runs without a sound card, and reads back
// what it "played": interleaved float frames at the rate and channel count the engine opened with.
//
// Threads: main. Environment changes take effect at the engine's next start (SDL is initialised
// per run).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace thraskvell::test {

class DiskAudioDevice {
public:
    explicit DiskAudioDevice(const std::string& name) {
        std::string dir =
            (std::filesystem::temp_directory_path() / ("thraskvell-" + name + "-XXXXXX")).string();
        if (::mkdtemp(dir.data())) _dir = dir;
        _path = _dir / "device.raw";
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", _path.c_str(), 1);
        // Milliseconds per 512-frame device buffer: about four times faster than real time, which
        // leaves the tap thread (it polls) slack on a loaded machine.
        ::setenv("SDL_DISKAUDIODELAY", "3", 1);
    }
    ~DiskAudioDevice() {
        std::error_code ignored;
        std::filesystem::remove_all(_dir, ignored);
        for (const char* name : {"SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE", "SDL_DISKAUDIODELAY"})
            ::unsetenv(name);
    }
    DiskAudioDevice(const DiskAudioDevice&) = delete;
    DiskAudioDevice& operator=(const DiskAudioDevice&) = delete;

    std::size_t framesWritten(int channels) const {
        std::error_code error;
        const auto bytes = std::filesystem::file_size(_path, error);
        return error ? 0 : std::size_t(bytes) / (sizeof(float) * std::size_t(channels));
    }

    // Polls until at least `frames` rendered frames are on disk, calling `idle` meanwhile (drain a
    // queue, say). False after 20 s, which stays below a test's own timeout.
    bool waitForFrames(
        std::size_t frames, int channels, const std::function<void()>& idle = [] {}) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (read(channels)[0].size() < frames) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            idle();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Every frame the engine rendered: result[channel][frame]. SDL writes silence while the device is
    // open but still paused, before the engine's first callback; those all-zero 512-frame device
    // buffers are skipped.
    std::vector<std::vector<float>> read(int channels) const {
        const auto n = std::size_t(channels);
        std::vector<float> interleaved(framesWritten(channels) * n);
        std::ifstream(_path, std::ios::binary)
            .read(reinterpret_cast<char*>(interleaved.data()),
                  std::streamsize(interleaved.size() * sizeof(float)));
        auto start = interleaved.begin();
        while (interleaved.end() - start >= std::ptrdiff_t(512 * n) &&
               std::all_of(start, start + std::ptrdiff_t(512 * n), [](float s) { return s == 0.0f; }))
            start += std::ptrdiff_t(512 * n);
        std::vector<std::vector<float>> result(n);
        for (auto i = start; i != interleaved.end(); ++i)
            result[std::size_t(i - start) % n].push_back(*i);
        return result;
    }

private:
    std::filesystem::path _dir, _path;
};

} // namespace thraskvell::test
