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
// right (when there is one), so a swapped, dropped or repeated frame shows.
float ramp(std::uint64_t frame) {
    return static_cast<float>(frame % 4096) / 4096.0f - 0.5f;
}

std::shared_ptr<AVAudioSourceNode> rampSource(AVAudioChannelCount channels,
                                              std::atomic<std::uint64_t>& frames,
                                              std::atomic<std::thread::id>& thread) {
    return std::make_shared<AVAudioSourceNode>(
        AVAudioFormat::makeStandard(44100.0, channels),
        [&](bool*, const AudioTimeStamp*, AVAudioFrameCount count, AudioBufferList* list) -> OSStatus {
            thread.store(std::this_thread::get_id());
            const std::uint64_t start = frames.load();
            for (AVAudioFrameCount f = 0; f < count; ++f) {
                list->mBuffers[0].mData[f] = ramp(start + f);
                if (list->mNumberBuffers > 1) list->mBuffers[1].mData[f] = -ramp(start + f);
            }
            frames.store(start + count);
            return noErr;
        });
}

// A mono and a stereo ramp summed by the mixer: left 2 × ramp, right ramp − ramp. The tap sees the
// mix in whole buffers, with their frame positions, on a thread of its own.
TEST(AVAudioEngine, AfterAFailedStartMixesSourcesUnalteredAndTapsWholeBuffersOffTheAudioThread) {
    ::setenv("SDL_AUDIODRIVER", "thraskvell-no-such-driver", 1);
    AVAudioEngine engine;
    std::atomic<std::uint64_t> monoFrames{0}, stereoFrames{0};
    std::atomic<std::thread::id> renderThread, otherRenderThread;
    const auto mono = rampSource(1, monoFrames, renderThread);
    const auto stereo = rampSource(2, stereoFrames, otherRenderThread);
    for (const auto& source : {mono, stereo}) {
        ASSERT_TRUE(engine.attachNode(source));
        ASSERT_TRUE(engine.connect(*source, engine.mainMixerNode(), nullptr));
    }
    std::mutex mutex;
    std::vector<float> tapped;
    std::vector<AVAudioFramePosition> times;
    std::thread::id tapThread;
    ASSERT_TRUE(engine.mainMixerNode().installTapOnBus(
        0, 1000, nullptr, [&](std::shared_ptr<AVAudioPCMBuffer> buffer, const AVAudioTime& when) {
            std::lock_guard lock(mutex);
            tapThread = std::this_thread::get_id();
            EXPECT_EQ(buffer->frameLength(), 1000u);
            tapped.insert(tapped.end(), buffer->floatChannelData()[0],
                          buffer->floatChannelData()[0] + buffer->frameLength());
            times.push_back(when.sampleTime);
        }));
    const auto error = engine.startAndReturnError();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, AVAudioEngineErrorDomain);
    EXPECT_NE(error->localizedDescription.find("thraskvell-no-such-driver"), std::string::npos)
        << error->localizedDescription;
    EXPECT_FALSE(engine.isRunning());

    DiskAudioDevice device("engine-mix");
    ASSERT_FALSE(engine.startAndReturnError().has_value());
    EXPECT_TRUE(engine.isRunning());
    ASSERT_TRUE(device.waitForFrames(20000, 2));
    engine.stop();
    EXPECT_FALSE(engine.isRunning());

    const auto played = device.read(2);
    ASSERT_GE(played[0].size(), 20000u);
    for (std::size_t f = 0; f < played[0].size(); ++f) {
        ASSERT_EQ(played[0][f], 2.0f * ramp(f)) << "frame " << f;
        ASSERT_EQ(played[1][f], 0.0f) << "frame " << f;
    }
    std::lock_guard lock(mutex);
    EXPECT_NE(tapThread, std::this_thread::get_id());
    EXPECT_NE(tapThread, renderThread.load());
    // Stop hands over every whole buffer the mixer produced.
    ASSERT_EQ(times.size(), monoFrames.load() / 1000);
    for (std::size_t b = 0; b < times.size(); ++b)
        ASSERT_EQ(times[b], AVAudioFramePosition(b * 1000));
    for (std::size_t f = 0; f < tapped.size(); ++f)
        ASSERT_EQ(tapped[f], 2.0f * ramp(f)) << "frame " << f;
    EXPECT_EQ(engine.droppedTapFrames(), 0u);
}

// The real-time side: the source's callback samples the global allocation count, so between two
// callbacks lie the engine's mixing and the device write (the test thread only sleeps meanwhile).
TEST(AVAudioEngine, RealTimeSideAllocatesNothingOnceRunning) {
    DiskAudioDevice device("engine-alloc");
    AVAudioEngine engine;
    std::vector<std::size_t> counts(400, 0);
    std::atomic<std::size_t> calls{0};
    auto node = std::make_shared<AVAudioSourceNode>(
        AVAudioFormat::makeStandard(44100.0, 2),
        [&](bool*, const AudioTimeStamp*, AVAudioFrameCount count, AudioBufferList* list) -> OSStatus {
            const std::size_t call = calls.load();
            if (call < counts.size()) counts[call] = thraskvell::test::allocationCount();
            for (std::uint32_t c = 0; c < list->mNumberBuffers; ++c)
                std::fill_n(list->mBuffers[c].mData, count, 0.25f);
            calls.store(call + 1);
            return noErr;
        });
    engine.attachNode(node);
    engine.connect(*node, engine.mainMixerNode(), nullptr);
    ASSERT_FALSE(engine.startAndReturnError().has_value());
    EXPECT_TRUE(engine.isRunning());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (calls.load() < counts.size() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    engine.stop();
    ASSERT_GE(calls.load(), counts.size());
    // The first few callbacks may meet the device's first-use buffers (stdio and the like).
    EXPECT_EQ(counts.back() - counts[20], 0u);
}

TEST(AVAudioEngine, GraphEditsThatCannotWorkAreRefused) {
    AVAudioEngine engine, other;
    const auto format = AVAudioFormat::makeStandard(44100.0, 2);
    auto source = std::make_shared<AVAudioSourceNode>(format, nullptr);
    auto unattached = std::make_shared<AVAudioSourceNode>(format, nullptr);
    auto slower = std::make_shared<AVAudioSourceNode>(AVAudioFormat::makeStandard(22050.0, 2), nullptr);
    ASSERT_TRUE(engine.attachNode(source));
    ASSERT_TRUE(engine.attachNode(slower));
    auto& mixer = engine.mainMixerNode();
    auto noop = [](std::shared_ptr<AVAudioPCMBuffer>, const AVAudioTime&) {};
    // In order: each edit meets the graph the ones before it left.
    const std::pair<bool, bool> cases[] = {
        {engine.attachNode(nullptr), false},
        {other.attachNode(source), false},
        {engine.connect(*unattached, mixer, nullptr), false},
        {engine.connect(*source, mixer, AVAudioFormat::makeStandard(44100.0, 1)), false},
        {engine.connect(mixer, mixer, nullptr), false},
        {engine.connect(*source, mixer, nullptr), true},
        {engine.connect(*slower, mixer, nullptr), false},
        {mixer.installTapOnBus(1, 1024, nullptr, noop), false},
        {mixer.installTapOnBus(0, 0, nullptr, noop), false},
        {mixer.installTapOnBus(0, 1024, nullptr, nullptr), false},
        {mixer.installTapOnBus(0, 1024, AVAudioFormat::makeStandard(48000.0, 2), noop), false},
        {mixer.installTapOnBus(0, 1024, mixer.outputFormatForBus(0), noop), true},
        {mixer.installTapOnBus(0, 1024, nullptr, noop), false},
        {mixer.removeTapOnBus(0), true},
        {mixer.removeTapOnBus(0), false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].first, cases[i].second) << "edit " << i;
    EXPECT_THROW(AVAudioSourceNode(nullptr, nullptr), std::invalid_argument);
    EXPECT_THROW(AVAudioSourceNode(AVAudioFormat::makeCommon(AVAudioCommonFormat::AVAudioPCMFormatFloat32,
                                                             44100.0, 2, true),
                                   nullptr),
                 std::invalid_argument);
}

} // namespace
