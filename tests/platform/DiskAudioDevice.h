// Points SDL at its disk audio driver so the real engine runs without a sound card, and reads back
// what it "played": interleaved float frames at the rate and channel count the engine opened with.
//
// Threads: main. Environment changes take effect at the engine's next start (SDL is initialised
// per run).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace thraskvell::test {

class DiskAudioDevice {
public:
    explicit DiskAudioDevice(const std::string& name)
        : _path(std::filesystem::temp_directory_path() /
                ("thraskvell-" + name + "-" + std::to_string(::getpid()) + ".raw")) {
        std::filesystem::remove(_path);
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", _path.c_str(), 1);
        // Milliseconds per 512-frame device buffer: about four times faster than real time, which
        // leaves the tap thread (it polls) slack on a loaded machine.
        ::setenv("SDL_DISKAUDIODELAY", "3", 1);
    }
    ~DiskAudioDevice() {
        std::error_code ignored;
        std::filesystem::remove(_path, ignored);
        ::unsetenv("SDL_AUDIODRIVER");
        ::unsetenv("SDL_DISKAUDIOFILE");
        ::unsetenv("SDL_DISKAUDIODELAY");
    }
    DiskAudioDevice(const DiskAudioDevice&) = delete;
    DiskAudioDevice& operator=(const DiskAudioDevice&) = delete;

    std::size_t framesWritten(int channels) const {
        std::error_code error;
        const auto bytes = std::filesystem::file_size(_path, error);
        return error ? 0
                     : static_cast<std::size_t>(bytes) / (sizeof(float) * static_cast<std::size_t>(channels));
    }

    // Polls until at least `frames` rendered frames (leading silence excluded) are on disk, calling
    // `idle` meanwhile (drain a queue, say). False after the timeout.
    template <typename Idle>
    bool waitForFrames(std::size_t frames, int channels, Idle&& idle,
                       std::chrono::seconds timeout = std::chrono::seconds(60)) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (framesWritten(channels) < frames || read(channels)[0].size() < frames) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            idle();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    bool waitForFrames(std::size_t frames, int channels) const {
        return waitForFrames(frames, channels, [] {});
    }

    // Every frame the engine rendered, de-interleaved: result[channel][frame]. SDL writes silence
    // while the device is open but still paused, before the engine's first callback; those leading
    // all-zero device buffers are skipped.
    std::vector<std::vector<float>> read(int channels, std::size_t deviceBufferFrames = 512) const {
        std::ifstream in(_path, std::ios::binary);
        std::vector<float> interleaved(framesWritten(channels) * static_cast<std::size_t>(channels));
        in.read(reinterpret_cast<char*>(interleaved.data()),
                static_cast<std::streamsize>(interleaved.size() * sizeof(float)));
        interleaved.resize(static_cast<std::size_t>(in.gcount()) / sizeof(float));
        const std::size_t blockSamples = deviceBufferFrames * static_cast<std::size_t>(channels);
        std::size_t skip = 0;
        while (skip + blockSamples <= interleaved.size() &&
               std::all_of(interleaved.begin() + static_cast<std::ptrdiff_t>(skip),
                           interleaved.begin() + static_cast<std::ptrdiff_t>(skip + blockSamples),
                           [](float s) { return s == 0.0f; }))
            skip += blockSamples;
        interleaved.erase(interleaved.begin(), interleaved.begin() + static_cast<std::ptrdiff_t>(skip));

        std::vector<std::vector<float>> result(static_cast<std::size_t>(channels));
        const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
        for (auto& channel : result)
            channel.resize(frames);
        for (std::size_t f = 0; f < frames; ++f)
            for (int c = 0; c < channels; ++c)
                result[static_cast<std::size_t>(c)][f] =
                    interleaved[f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
        return result;
    }

    const std::filesystem::path& path() const { return _path; }

private:
    std::filesystem::path _path;
};

} // namespace thraskvell::test
