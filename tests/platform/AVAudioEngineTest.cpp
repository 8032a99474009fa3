#include "platform/AVAudioEngine.h"
#include "tests/platform/DiskAudioDevice.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using thraskvell::test::DiskAudioDevice;

namespace {

// A source whose k-th frame is known without running it: a ramp on the left, its negation on the
// right, so a swapped, dropped or repeated frame shows.
float rampSample(std::uint64_t frame) {
    return static_cast<float>(frame % 4096) / 4096.0f - 0.5f;
}

struct RampSource {
    std::shared_ptr<AVAudioSourceNode> node;
    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::thread::id> renderThread{};

    explicit RampSource(AVAudioChannelCount channels) {
        node = std::make_shared<AVAudioSourceNode>(
            AVAudioFormat::makeStandard(44100.0, channels),
            [this](bool*, const AudioTimeStamp*, AVAudioFrameCount count, AudioBufferList* list) -> OSStatus {
                renderThread.store(std::this_thread::get_id());
                const std::uint64_t start = frames.load(std::memory_order_relaxed);
                for (AVAudioFrameCount f = 0; f < count; ++f) {
                    const float s = rampSample(start + f);
                    list->mBuffers[0].mData[f] = s;
                    if (list->mNumberBuffers > 1) list->mBuffers[1].mData[f] = -s;
                }
                frames.store(start + count, std::memory_order_relaxed);
                return noErr;
            });
    }
};

struct TapRecord {
    std::mutex mutex;
    std::vector<std::vector<float>> left;
    std::vector<AVAudioFramePosition> times;
    std::vector<AVAudioFrameCount> lengths;
    std::thread::id thread;
};

TEST(AVAudioEngine, PlaysASourceUnalteredThroughTheMixerAndTapsWholeBuffersOffThread) {
    DiskAudioDevice device("engine-unity");
    AVAudioEngine engine;
    RampSource source(2);
    ASSERT_TRUE(engine.attachNode(source.node));
    ASSERT_TRUE(engine.connect(*source.node, engine.mainMixerNode(), source.node->format()));

    TapRecord tap;
    ASSERT_TRUE(engine.mainMixerNode().installTapOnBus(
        0, 1000, nullptr, [&](std::shared_ptr<AVAudioPCMBuffer> buffer, const AVAudioTime& when) {
            std::lock_guard lock(tap.mutex);
            tap.thread = std::this_thread::get_id();
            tap.left.emplace_back(buffer->floatChannelData()[0],
                                  buffer->floatChannelData()[0] + buffer->frameLength());
            tap.times.push_back(when.sampleTime);
            tap.lengths.push_back(buffer->frameLength());
        }));

    ASSERT_FALSE(engine.startAndReturnError().has_value());
    EXPECT_TRUE(engine.isRunning());
    ASSERT_TRUE(device.waitForFrames(20000, 2));
    engine.stop();
    EXPECT_FALSE(engine.isRunning());

    const auto played = device.read(2);
    ASSERT_GE(played[0].size(), 20000u);
    for (std::size_t f = 0; f < played[0].size(); ++f) {
        ASSERT_EQ(played[0][f], rampSample(f)) << "frame " << f;
        ASSERT_EQ(played[1][f], -rampSample(f)) << "frame " << f;
    }

    std::lock_guard lock(tap.mutex);
    ASSERT_GE(tap.left.size(), 10u);
    EXPECT_NE(tap.thread, std::this_thread::get_id());
    EXPECT_NE(tap.thread, source.renderThread.load());
    for (std::size_t b = 0; b < tap.left.size(); ++b) {
        ASSERT_EQ(tap.lengths[b], 1000u);
        ASSERT_EQ(tap.times[b], static_cast<AVAudioFramePosition>(b * 1000));
        for (std::size_t f = 0; f < 1000; ++f)
            ASSERT_EQ(tap.left[b][f], rampSample(b * 1000 + f));
    }
    // Stop hands over every whole buffer the mixer produced.
    EXPECT_EQ(tap.left.size(), source.frames.load() / 1000);
    EXPECT_EQ(engine.droppedTapFrames(), 0u);
}

TEST(AVAudioEngine, MonoSourceFeedsBothSidesAndSourcesAreSummed) {
    DiskAudioDevice device("engine-mono");
    AVAudioEngine engine;
    RampSource mono(1);
    RampSource stereo(2);
    ASSERT_TRUE(engine.attachNode(mono.node));
    ASSERT_TRUE(engine.attachNode(stereo.node));
    ASSERT_TRUE(engine.connect(*mono.node, engine.mainMixerNode(), nullptr));
    ASSERT_TRUE(engine.connect(*stereo.node, engine.mainMixerNode(), nullptr));

    ASSERT_FALSE(engine.startAndReturnError().has_value());
    ASSERT_TRUE(device.waitForFrames(4096, 2));
    engine.stop();

    const auto played = device.read(2);
    for (std::size_t f = 0; f < played[0].size(); ++f) {
        ASSERT_EQ(played[0][f], rampSample(f) + rampSample(f));
        ASSERT_EQ(played[1][f], rampSample(f) - rampSample(f));
    }
}

TEST(AVAudioEngine, StartFailsWithADescriptionWhenNoDriverOpensAndCanBeRetried) {
    ::setenv("SDL_AUDIODRIVER", "thraskvell-no-such-driver", 1);
    AVAudioEngine engine;
    RampSource source(2);
    engine.attachNode(source.node);
    engine.connect(*source.node, engine.mainMixerNode(), nullptr);

    const auto error = engine.startAndReturnError();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, AVAudioEngineErrorDomain);
    EXPECT_NE(error->localizedDescription.find("thraskvell-no-such-driver"), std::string::npos)
        << error->localizedDescription;
    EXPECT_FALSE(engine.isRunning());

    DiskAudioDevice device("engine-retry");
    EXPECT_FALSE(engine.startAndReturnError().has_value());
    EXPECT_TRUE(engine.isRunning());
    EXPECT_TRUE(device.waitForFrames(1024, 2));
    engine.stop();
}

TEST(AVAudioEngine, GraphEditsThatCannotWorkAreRefused) {
    AVAudioEngine engine;
    AVAudioEngine other;
    RampSource source(2);
    RampSource unattached(2);
    auto slower = std::make_shared<AVAudioSourceNode>(AVAudioFormat::makeStandard(22050.0, 2), nullptr);
    ASSERT_TRUE(engine.attachNode(source.node));
    ASSERT_TRUE(engine.attachNode(slower));
    auto noop = [](std::shared_ptr<AVAudioPCMBuffer>, const AVAudioTime&) {};

    struct Case {
        const char* what;
        bool accepted;
    };
    const Case cases[] = {
        {"null node", engine.attachNode(nullptr)},
        {"node of another engine", other.attachNode(source.node)},
        {"unattached source", engine.connect(*unattached.node, engine.mainMixerNode(), nullptr)},
        {"format other than the source's",
         engine.connect(*source.node, engine.mainMixerNode(), AVAudioFormat::makeStandard(44100.0, 1))},
        {"mixer to mixer", engine.connect(engine.mainMixerNode(), engine.mainMixerNode(), nullptr)},
        {"first connection", engine.connect(*source.node, engine.mainMixerNode(), nullptr)},
        {"rate other than the mixer's", engine.connect(*slower, engine.mainMixerNode(), nullptr)},
        {"tap on bus 1", engine.mainMixerNode().installTapOnBus(1, 1024, nullptr, noop)},
        {"tap of 0 frames", engine.mainMixerNode().installTapOnBus(0, 0, nullptr, noop)},
        {"tap without a block", engine.mainMixerNode().installTapOnBus(0, 1024, nullptr, nullptr)},
        {"tap in a foreign format",
         engine.mainMixerNode().installTapOnBus(0, 1024, AVAudioFormat::makeStandard(48000.0, 2), noop)},
        {"tap in the bus's format",
         engine.mainMixerNode().installTapOnBus(0, 1024, engine.mainMixerNode().outputFormatForBus(0), noop)},
        {"second tap", engine.mainMixerNode().installTapOnBus(0, 1024, nullptr, noop)},
    };
    const bool expected[] = {false, false, false, false, false, true, false,
                             false, false, false, false, true,  false};
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].accepted, expected[i]) << cases[i].what;

    EXPECT_THROW(AVAudioSourceNode(nullptr, nullptr), std::invalid_argument);
    EXPECT_THROW(AVAudioSourceNode(AVAudioFormat::makeCommon(AVAudioCommonFormat::AVAudioPCMFormatFloat32,
                                                             44100.0, 2, true),
                                   nullptr),
                 std::invalid_argument);
    EXPECT_TRUE(engine.mainMixerNode().removeTapOnBus(0));
    EXPECT_FALSE(engine.mainMixerNode().removeTapOnBus(0));
}

TEST(AVAudioEngine, RealTimeSideAllocatesNothingOnceRunning) {
    DiskAudioDevice device("engine-alloc");
    AVAudioEngine engine;
    // Samples the global allocation count from inside the render callback: between two callbacks
    // lie the engine's mixing and the device write, and the test thread only sleeps meanwhile.
    std::vector<std::size_t> counts(400, 0);
    std::atomic<std::size_t> calls{0};
    auto node = std::make_shared<AVAudioSourceNode>(
        AVAudioFormat::makeStandard(44100.0, 2),
        [&](bool*, const AudioTimeStamp*, AVAudioFrameCount count, AudioBufferList* list) -> OSStatus {
            const std::size_t call = calls.load(std::memory_order_relaxed);
            if (call < counts.size()) counts[call] = thraskvell::test::allocationCount();
            for (std::uint32_t c = 0; c < list->mNumberBuffers; ++c)
                for (AVAudioFrameCount f = 0; f < count; ++f)
                    list->mBuffers[c].mData[f] = 0.25f;
            calls.store(call + 1, std::memory_order_release);
            return noErr;
        });
    engine.attachNode(node);
    engine.connect(*node, engine.mainMixerNode(), nullptr);
    ASSERT_TRUE(engine.mainMixerNode().installTapOnBus(0, 1024, nullptr, [](auto, const AVAudioTime&) {}));
    // The tap's own thread allocates each delivered buffer, so measure without it.
    ASSERT_TRUE(engine.mainMixerNode().removeTapOnBus(0));

    ASSERT_FALSE(engine.startAndReturnError().has_value());
    while (calls.load(std::memory_order_acquire) < counts.size())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    engine.stop();
    // The first few callbacks may meet the device's first-use buffers (stdio and the like).
    EXPECT_EQ(counts.back() - counts[20], 0u);
}

} // namespace
