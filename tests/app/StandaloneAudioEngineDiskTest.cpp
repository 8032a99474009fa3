// The standalone engine playing for real, on SDL's disk driver.
#include "app/StandaloneAudioEngine.h"
#include "tests/platform/DiskAudioDevice.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using thraskvell::BassRiffGenerator;
using thraskvell::Cancellable;
using thraskvell::DSPBridge;
using thraskvell::MainThreadQueue;
using thraskvell::StandaloneAudioEngine;
using thraskvell::test::DiskAudioDevice;

namespace {

constexpr int kChannels = 2;

// The riff through a bridge, computed here without the engine: what the output device must have
// received during the last of the given runs. Each run starts with a prepare, as start() does.
std::vector<std::vector<float>> offlineRiffThroughBridge(const std::vector<std::size_t>& runs) {
    BassRiffGenerator generator;
    DSPBridge bridge;
    std::vector<std::vector<float>> out;
    for (std::size_t frames : runs) {
        EXPECT_TRUE(bridge.prepare(4096, 44100.0, 2));
        out.assign(2, std::vector<float>(frames));
        for (std::size_t start = 0; start < frames; start += AVAudioEngine::kDeviceBufferFrames) {
            const std::size_t n = std::min<std::size_t>(AVAudioEngine::kDeviceBufferFrames, frames - start);
            for (std::size_t f = 0; f < n; ++f)
                out[0][start + f] = out[1][start + f] = generator.nextSample();
            AudioBufferList list;
            list.mNumberBuffers = 2;
            for (int c = 0; c < 2; ++c)
                list.mBuffers[c] =
                    AudioBuffer{1, static_cast<std::uint32_t>(n * sizeof(float)), out[c].data() + start};
            bridge.processBufferList(&list, static_cast<int>(n));
        }
    }
    return out;
}

void expectSameStream(const std::vector<std::vector<float>>& played,
                      const std::vector<std::vector<float>>& expected) {
    for (int c = 0; c < kChannels; ++c)
        for (std::size_t f = 0; f < expected[0].size(); ++f)
            ASSERT_EQ(played[c][f], expected[c][f]) << "channel " << c << ", frame " << f;
}

struct MainThreadWatch {
    std::thread::id main = std::this_thread::get_id();
    int announcements = 0;
    int offMain = 0;
    Cancellable subscription;
    explicit MainThreadWatch(StandaloneAudioEngine& engine)
        : subscription(engine.objectWillChange().sink([this] {
              ++announcements;
              if (std::this_thread::get_id() != main) ++offMain;
          })) {}
};

TEST(StandaloneAudioEngineDevice, PlaysTheRiffThroughTheEffectAndPublishesTheWaveformOnTheMainThread) {
    DiskAudioDevice device("standalone-play");
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    MainThreadWatch watch(*engine);

    engine->start();
    ASSERT_TRUE(engine->isPlaying());
    ASSERT_TRUE(device.waitForFrames(44100, kChannels, [&] { queue.drain(); }));
    engine->stop();
    EXPECT_FALSE(engine->isPlaying());
    queue.drain();

    const auto played = device.read(kChannels);
    ASSERT_GE(played[0].size(), 44100u);
    expectSameStream(played, offlineRiffThroughBridge({played[0].size()}));
    // The effect actually ran: the processed stream is not the raw riff.
    BassRiffGenerator raw;
    std::size_t differing = 0;
    for (std::size_t f = 0; f < 4096; ++f)
        differing += played[0][f] != raw.nextSample();
    EXPECT_GT(differing, 4000u);

    // Every whole 1024-frame tap buffer reached the main thread; the last one is on display.
    EXPECT_EQ(engine->waveform().size(), 256u);
    if (engine->audioEngine().droppedTapFrames() == 0) {
        const std::size_t lastBlock = played[0].size() / 1024 - 1;
        EXPECT_EQ(engine->waveform(),
                  StandaloneAudioEngine::decimateForDisplay(played[0].data() + lastBlock * 1024, 1024));
    } else {
        // A starved tap thread (a loaded machine, a sanitizer) made the real-time side drop whole
        // device blocks; the display then shows some later 1024 frames of the stream.
        bool found = false;
        for (std::size_t start = 0; !found && start + 1024 <= played[0].size(); start += 512)
            found = engine->waveform() ==
                    StandaloneAudioEngine::decimateForDisplay(played[0].data() + start, 1024);
        EXPECT_TRUE(found);
    }

    EXPECT_GT(watch.announcements, 2 + 10); // isPlaying twice, and many snapshots
    EXPECT_EQ(watch.offMain, 0);
}

TEST(StandaloneAudioEngineDevice, RepeatedStartPreparesOnceAndStopWhenStoppedDoesNothing) {
    DiskAudioDevice device("standalone-repeat");
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    MainThreadWatch watch(*engine);

    engine->stop();
    EXPECT_EQ(watch.announcements, 0);

    engine->start();
    ASSERT_TRUE(engine->isPlaying());
    // Each prepare installs fresh input storage, so an unchanged pointer means no second prepare.
    const float* storage = engine->dspBridge().inputBufferList().mBuffers[0].mData;
    engine->start();
    EXPECT_EQ(engine->dspBridge().inputBufferList().mBuffers[0].mData, storage);
    EXPECT_EQ(watch.announcements, 1);

    engine->stop();
    engine->stop();
    EXPECT_EQ(watch.announcements, 2);
    EXPECT_FALSE(engine->isPlaying());
}

TEST(StandaloneAudioEngineDevice, RiffContinuesAfterStopAndStart) {
    DiskAudioDevice device("standalone-resume");
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);

    engine->start();
    ASSERT_TRUE(device.waitForFrames(8192, kChannels));
    engine->stop();
    const std::size_t firstRun = device.read(kChannels)[0].size();
    const auto waveformAfterStop = (queue.drain(), engine->waveform());

    // Stopped: nothing renders, the display keeps its last snapshot.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.drain();
    EXPECT_EQ(engine->waveform(), waveformAfterStop);

    engine->start(); // the device file starts afresh; the bridge is prepared afresh
    ASSERT_TRUE(device.waitForFrames(8192, kChannels));
    engine->stop();
    const auto secondRun = device.read(kChannels);
    ASSERT_GE(secondRun[0].size(), 4096u);
    expectSameStream(secondRun, offlineRiffThroughBridge({firstRun, secondRun[0].size()}));
}

TEST(StandaloneAudioEngineDevice, StartWithoutAUsableDevicePrintsTheErrorStaysIdleAndCanBeRetried) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    MainThreadWatch watch(*engine);

    ::setenv("SDL_AUDIODRIVER", "thraskvell-no-such-driver", 1);
    testing::internal::CaptureStdout();
    engine->start();
    const std::string printed = testing::internal::GetCapturedStdout();
    ::unsetenv("SDL_AUDIODRIVER");

    const std::string prefix = "Engine start error: ";
    ASSERT_EQ(printed.rfind(prefix, 0), 0u) << printed;
    EXPECT_NE(printed.find("thraskvell-no-such-driver"), std::string::npos) << printed;
    EXPECT_EQ(printed.find('\n'), printed.size() - 1) << "one line: " << printed;
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_EQ(watch.announcements, 0);

    DiskAudioDevice device("standalone-retry");
    engine->start();
    EXPECT_TRUE(engine->isPlaying());
    EXPECT_TRUE(device.waitForFrames(2048, kChannels));
    engine->stop();
    EXPECT_FALSE(engine->isPlaying());
}

TEST(StandaloneAudioEngineDevice, ReleasingTheEngineWithSnapshotsStillQueuedIsHarmless) {
    DiskAudioDevice device("standalone-release");
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    engine->start();
    ASSERT_TRUE(device.waitForFrames(8192, kChannels));
    engine->stop();
    engine.reset();
    EXPECT_GT(queue.drain(), 0u); // the queued snapshots find no engine and do nothing
}

} // namespace
