// The standalone engine playing for real, on SDL's disk driver.
#include "app/StandaloneAudioEngine.h"
#include "tests/app/DemoThroughBridge.h"
#include "tests/platform/DiskAudioDevice.h"

#include <gmock/gmock.h>

namespace thraskvell {
namespace {

// What the device played in the last of these runs equals the demo computed without the engine.
void expectTheDemo(const std::vector<std::vector<float>>& played, std::vector<std::size_t> runs) {
    runs.push_back(played[0].size());
    const auto expected = test::demoThroughBridge(runs);
    for (std::size_t f = 0; f < played[0].size(); ++f)
        for (std::size_t c = 0; c < 2; ++c)
            ASSERT_EQ(played[c][f], expected[2 * f + c]) << "channel " << c << ", frame " << f;
}

TEST(StandaloneAudioEngineDevice, PlaysTheRiffThroughTheEffectAfterAFailedStartResumesAndPublishesSnapshots) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    int announced = 0;
    const Cancellable subscription = engine->objectWillChange().sink([&] { ++announced; });
    engine->stop();
    ::setenv("SDL_AUDIODRIVER", "thraskvell-no-such-driver", 1);
    testing::internal::CaptureStdout();
    engine->start();
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                testing::MatchesRegex("Engine start error: [^\n]*thraskvell-no-such-driver[^\n]*\n"));
    EXPECT_EQ(std::pair(engine->isPlaying(), announced), std::pair(false, 0));
    std::size_t firstRun = 0;
    {
        test::DiskAudioDevice device;
        engine->start();
        ASSERT_TRUE(engine->isPlaying());
        // Each prepare installs fresh input storage, so an unchanged pointer means no second prepare.
        const float* storage = engine->dspBridge().inputBufferList().mBuffers[0].mData;
        engine->start();
        EXPECT_EQ(engine->dspBridge().inputBufferList().mBuffers[0].mData, storage);
        ASSERT_TRUE(device.waitForFrames(44100));
        engine->stop();
        engine->stop();
        EXPECT_EQ(std::pair(engine->isPlaying(), announced), std::pair(false, 2))
            << "snapshots wait in the queue";
        queue.drain();
        const auto played = device.read();
        firstRun = played[0].size();
        expectTheDemo(played, {});
        // The display shows the last whole tap buffer, unless a starved tap thread (a loaded machine,
        // a sanitizer) made the real-time side drop some.
        const float* lastTap = played[0].data() + (firstRun / 1024 - 1) * 1024;
        EXPECT_TRUE(engine->audioEngine().droppedTapFrames() > 0 ||
                    engine->waveform() == StandaloneAudioEngine::decimateForDisplay(lastTap, 1024));
        EXPECT_GT(announced, 2 + 10) << "isPlaying twice, and many snapshots";
    }
    test::DiskAudioDevice device; // a fresh file; the riff goes on where it stopped
    engine->start();
    ASSERT_TRUE(device.waitForFrames(8192));
    engine->stop();
    expectTheDemo(device.read(), {firstRun});
    engine.reset();
    EXPECT_GT(queue.drain(), 0u); // snapshots still queued find no engine and do nothing
}

} // namespace
} // namespace thraskvell
