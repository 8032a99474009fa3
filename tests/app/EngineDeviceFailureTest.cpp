// A device lost while playing: SDL's disk driver writes into a file that may not grow past a limit.
#include "app/shell/ContentView.h"
#include "tests/app/shell/ShellRender.h"

#include <gmock/gmock.h>

#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace thraskvell {
namespace {

TEST(EngineDeviceFailure, AFailedWriteStopsPlaybackSaysWhyAndTheHeaderShowsStopped) {
    std::string dir = (std::filesystem::temp_directory_path() / "thraskvell-full-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::filesystem::path file = std::filesystem::path(dir) / "device.raw";
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    // Writes past the limit fail with EFBIG instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    constexpr rlim_t kLimit = 64 * 1024;
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = kLimit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    MainThreadQueue queue;
    ContentView content(queue);
    testing::internal::CaptureStdout();
    content.playControlAction();
    const bool started = content.engine().isPlaying();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (double frame = 0; content.engine().isPlaying() && std::chrono::steady_clock::now() < end; ++frame) {
        queue.drain();
        content.dirtyRect(frame / 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::string out = testing::internal::GetCapturedStdout();
    ::setrlimit(RLIMIT_FSIZE, &old);
    const auto written = std::filesystem::file_size(file);
    std::filesystem::remove_all(dir);

    ASSERT_TRUE(started) << out;
    EXPECT_EQ(written, kLimit) << "the device filled the file up to the limit";
    EXPECT_THAT(out, testing::MatchesRegex("Engine error: [^\n]*disconnected[^\n]*\n"));
    EXPECT_EQ(content.playGlyph(), PlayGlyph::play);
    EXPECT_EQ(content.statusCaption(), kCaptionIdle);
    EXPECT_FALSE(content.engine().audioEngine().isRunning()) << "stopped, not just marked";
}

} // namespace
} // namespace thraskvell
