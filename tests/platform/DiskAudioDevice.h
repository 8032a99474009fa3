// Points SDL at its disk driver, so the real engine plays without a sound card into a temporary file,
// and reads back the stereo frames. Threads: main; takes effect at the engine's next start.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace thraskvell::test {

class DiskAudioDevice {
public:
    DiskAudioDevice() {
        std::string dir = (std::filesystem::temp_directory_path() / "thraskvell-disk-XXXXXX").string();
        if (::mkdtemp(dir.data())) _dir = dir;
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", (_dir / "device.raw").c_str(), 1);
        // Milliseconds per 512-frame buffer: four times real time leaves the polling tap thread slack.
        ::setenv("SDL_DISKAUDIODELAY", "3", 1);
    }
    ~DiskAudioDevice() {
        std::error_code ignored;
        std::filesystem::remove_all(_dir, ignored);
        for (const char* name : {"SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE", "SDL_DISKAUDIODELAY"})
            ::unsetenv(name);
    }

    // Polls until at least `frames` frames are on disk; false after 20 s, below a test's own timeout.
    bool waitForFrames(std::size_t frames) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (read()[0].size() < frames) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // result[channel][frame], without SDL's silence before the first callback (tests start with sound).
    std::vector<std::vector<float>> read() const {
        std::ifstream file(_dir / "device.raw", std::ios::binary | std::ios::ate);
        std::vector<float> all(std::size_t(std::max<std::streamoff>(file.tellg(), 0)) / sizeof(float) / 2 *
                               2);
        file.seekg(0).read(reinterpret_cast<char*>(all.data()), std::streamsize(all.size() * sizeof(float)));
        const auto sound = std::find_if(all.begin(), all.end(), [](float s) { return s != 0.0f; });
        std::vector<std::vector<float>> result(2);
        for (auto i = sound - (sound - all.begin()) % 2; i != all.end(); ++i)
            result[std::size_t(i - all.begin()) % 2].push_back(*i);
        return result;
    }

private:
    std::filesystem::path _dir;
};

} // namespace thraskvell::test
