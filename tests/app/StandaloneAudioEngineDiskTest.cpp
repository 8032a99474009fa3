// The standalone engine playing for real, on SDL's disk driver.
#include "app/StandaloneAudioEngine.h"
#include "tests/app/DemoThroughBridge.h"
#include "tests/platform/DiskAudioDevice.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace thraskvell {
namespace {

using test::DiskAudioDevice;

// What the device played in the last of these runs equals the demo computed without the engine.
void expectTheDemo(const std::vector<std::vector<float>>& played, std::vector<std::size_t> runs) {
    runs.push_back(played[0].size());
    const auto expected = test::demoThroughBridge(runs);
    for (std::size_t f = 0; f < played[0].size(); ++f)
        for (std::size_t c = 0; c < 2; ++c)
            ASSERT_EQ(played[c][f], expected[2 * f + c]) << "channel " << c << ", frame " << f;
}

// Counts objectWillChange announcements and those made off the test's (main) thread.
struct Announcements {
    int count = 0, offMain = 0;
    Cancellable subscription;
    explicit Announcements(StandaloneAudioEngine& engine)
        : subscription(engine.objectWillChange().sink([this, main = std::this_thread::get_id()] {
              ++count;
              offMain += std::this_thread::get_id() != main;
          })) {}
};

TEST(StandaloneAudioEngineDevice, PlaysTheRiffThroughTheEffectResumesAfterAStopAndPublishesOnMain) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    Announcements announced(*engine);
    std::size_t firstRun = 0;
    {
        DiskAudioDevice device("standalone-play");
        engine->start();
        ASSERT_TRUE(device.waitForFrames(44100, 2, [&] { queue.drain(); }));
        engine->stop();
        queue.drain();
        const auto played = device.read(2);
        firstRun = played[0].size();
        expectTheDemo(played, {});
        ASSERT_GE(firstRun, 44100u);
        // The display shows the last whole tap buffer, unless a starved tap thread (a loaded machine,
        // a sanitizer) made the real-time side drop some.
        const float* lastTap = played[0].data() + (firstRun / 1024 - 1) * 1024;
        if (engine->audioEngine().droppedTapFrames() == 0) {
            EXPECT_EQ(engine->waveform(), StandaloneAudioEngine::decimateForDisplay(lastTap, 1024));
        }
        EXPECT_GT(announced.count, 2 + 10); // isPlaying twice, and many snapshots
        EXPECT_EQ(announced.offMain, 0);
    }
    DiskAudioDevice device("standalone-resume"); // a fresh file; the riff goes on where it stopped
    engine->start();
    ASSERT_TRUE(device.waitForFrames(8192, 2));
    engine->stop();
    const auto played = device.read(2);
    expectTheDemo(played, {firstRun});
    engine.reset();
    EXPECT_GT(queue.drain(), 0u); // snapshots still queued find no engine and do nothing
}

TEST(StandaloneAudioEngineDevice, StartAndStopAnnounceOnlyRealChangesAndAFailedStartCanBeRetried) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    Announcements announced(*engine);
    engine->stop();

    ::setenv("SDL_AUDIODRIVER", "thraskvell-no-such-driver", 1);
    testing::internal::CaptureStdout();
    engine->start();
    const std::string printed = testing::internal::GetCapturedStdout();
    ::unsetenv("SDL_AUDIODRIVER");
    EXPECT_EQ(printed.rfind("Engine start error: ", 0), 0u) << printed;
    EXPECT_NE(printed.find("thraskvell-no-such-driver"), std::string::npos) << printed;
    EXPECT_EQ(printed.find('\n'), printed.size() - 1) << "one line: " << printed;
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_EQ(announced.count, 0);

    DiskAudioDevice device("standalone-retry");
    engine->start();
    EXPECT_TRUE(engine->isPlaying());
    // Each prepare installs fresh input storage, so an unchanged pointer means no second prepare.
    const float* storage = engine->dspBridge().inputBufferList().mBuffers[0].mData;
    engine->start();
    EXPECT_EQ(engine->dspBridge().inputBufferList().mBuffers[0].mData, storage);
    EXPECT_TRUE(device.waitForFrames(2048, 2));
    engine->stop();
    engine->stop();
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_EQ(announced.count, 2);
}

} // namespace
} // namespace thraskvell
