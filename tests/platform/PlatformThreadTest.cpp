#include "platform/AUParameterTree.h"
#include "platform/AVAudioEngine.h"
#include "platform/MainThreadQueue.h"
#include "tests/platform/DiskAudioDevice.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>

namespace thraskvell {
namespace {

auto inTwentySeconds() {
    return std::chrono::steady_clock::now() + std::chrono::seconds(20);
}

// Host automation's way to the editor, with closures posted now and then; meanwhile a slow observer
// comes and goes while the writers call it: none of its calls may begin after removal or outlast it.
TEST(PlatformThreads, WritesReachTheDrainingThreadInOrderWhileObserversComeAndGo) {
    MainThreadQueue queue(8);
    std::vector<std::shared_ptr<AUParameter>> children;
    for (const char* id : {"p0", "p1", "p2"})
        children.push_back(AUParameterTree::createParameter(id, id, children.size(), 0, 1e9f, 0, std::nullopt,
                                                            0, std::nullopt, std::nullopt));
    const auto tree = AUParameterTree::createTreeWithChildren(children);
    std::vector<float> shown(3, -1.0f);
    std::vector<std::vector<float>> seen(3);
    int offMain = 0;
    auto mailbox = queue.makeMailbox(3, [&](std::uint64_t key, float value) {
        offMain += !queue.isMainThread();
        EXPECT_GE(value, shown[key]);
        shown[key] = value;
    });
    std::atomic<int> refusedPosts{0}, lateCalls{0}, running{0};
    tree->tokenByAddingParameterObserver(
        [&](AUParameterAddress key, AUValue v) { refusedPosts += !mailbox->post(key, v); });
    std::atomic<bool> stop{false}, written{false};
    std::vector<std::thread> writers;
    for (std::size_t t = 0; t < 3; ++t)
        writers.emplace_back([&, t] {
            for (float v = 0.0f; !stop; v = std::min(v + 1.0f, 1e7f)) { // whole floats stay exact
                children[t]->setValue(v);
                if (int(v) % 1024 == 0)
                    queue.post([&, t, v] {
                        offMain += !queue.isMainThread();
                        seen[t].push_back(v);
                    });
            }
        });
    std::thread drainer([&, end = inTwentySeconds()] {
        for (; !written && std::chrono::steady_clock::now() < end; queue.drain())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        queue.drain();
    });
    const auto end = inTwentySeconds();
    int round = 0;
    for (; round < 150 && std::chrono::steady_clock::now() < end; ++round) {
        std::atomic<bool> removed{false};
        std::atomic<int> calls{0};
        const auto token = tree->tokenByAddingParameterObserver([&](auto, auto) {
            running.fetch_add(1);
            if (removed) lateCalls.fetch_add(1);
            // Long enough that removal regularly lands while a call is under way.
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            calls.fetch_add(1);
            running.fetch_sub(1);
        });
        while (token && calls < 3 && std::chrono::steady_clock::now() < end)
            std::this_thread::yield();
        tree->removeParameterObserver(token);
        removed = true;
        if (running != 0) lateCalls.fetch_add(1);
        if (calls < 3) break;
    }
    stop = true;
    for (auto& t : writers)
        t.join();
    written = true;
    drainer.join();
    EXPECT_EQ(round, 150) << "rounds completed before the observer was refused or the writers stalled";
    EXPECT_EQ(lateCalls.load() + refusedPosts.load() + offMain, 0);
    EXPECT_FALSE(queue.isMainThread()) << "the draining thread became main";
    for (std::size_t t = 0; t < 3; ++t) {
        EXPECT_EQ(shown[t], children[t]->value()) << t;
        EXPECT_TRUE(!seen[t].empty() && std::is_sorted(seen[t].begin(), seen[t].end())) << t;
    }
}

// A ramp on the left, its negation on the right, so a swapped, dropped or repeated frame shows.
struct Ramp {
    static float at(std::uint64_t frame) { return float(frame % 4096) / 4096.0f - 0.5f; }
    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::size_t> calls{0};
    std::array<std::size_t, 400> allocations{};
    std::atomic<std::thread::id> thread;
    std::shared_ptr<AVAudioSourceNode> node;
    Ramp(AVAudioEngine& engine, AVAudioChannelCount channels)
        : node(std::make_shared<AVAudioSourceNode>(
              AVAudioFormat::makeStandard(44100.0, channels),
              [this](bool*, const AudioTimeStamp*, AVAudioFrameCount count, AudioBufferList* list) {
                  thread = std::this_thread::get_id();
                  allocations[calls % allocations.size()] = test::allocationCount();
                  for (AVAudioFrameCount f = 0; f < count; ++f) {
                      list->mBuffers[0].mData[f] = at(frames + f);
                      if (list->mNumberBuffers > 1) list->mBuffers[1].mData[f] = -at(frames + f);
                  }
                  frames += count;
                  ++calls;
                  return noErr;
              })) {
        EXPECT_TRUE(engine.attachNode(node) && engine.connect(*node, engine.mainMixerNode(), nullptr));
    }
};

// A mono and a stereo ramp summed by the mixer: left 2 × ramp, right ramp − ramp. The tap sees the mix
// in whole buffers, with their frame positions, on a thread of its own.
TEST(AVAudioEngine, AfterAFailedStartMixesSourcesUnalteredAndTapsWholeBuffersOffTheAudioThread) {
    ::setenv("SDL_AUDIODRIVER", "thraskvell-no-such-driver", 1);
    const auto standard = &AVAudioFormat::makeStandard;
    for (const auto& format :
         {AVAudioFormatPtr(),
          AVAudioFormat::makeCommon(AVAudioCommonFormat::AVAudioPCMFormatFloat32, 44100, 2, true),
          standard(44100, 9)})
        EXPECT_THROW(AVAudioSourceNode(format, nullptr), std::invalid_argument);
    AVAudioEngine engine, other;
    auto& mixer = engine.mainMixerNode();
    Ramp mono(engine, 1), stereo(engine, 2);
    const auto unattached = std::make_shared<AVAudioSourceNode>(standard(44100, 2), nullptr),
               slower = std::make_shared<AVAudioSourceNode>(standard(22050, 2), nullptr);
    std::mutex mutex;
    std::vector<float> tapped;
    std::thread::id tapThread;
    const auto tap = [&](std::shared_ptr<AVAudioPCMBuffer> buffer, const AVAudioTime& when) {
        std::lock_guard lock(mutex);
        tapThread = std::this_thread::get_id();
        EXPECT_EQ(std::pair(when.sampleTime, buffer->frameLength()),
                  std::pair(std::int64_t(tapped.size()), 1000u));
        tapped.insert(tapped.end(), buffer->floatChannelData()[0], buffer->floatChannelData()[0] + 1000);
    };
    const bool refused[] = {
        engine.attachNode(nullptr),
        other.attachNode(mono.node),
        engine.connect(*unattached, mixer, nullptr),
        engine.connect(*stereo.node, mixer, standard(44100, 1)),
        engine.connect(mixer, mixer, nullptr),
        !engine.attachNode(slower) || engine.connect(*slower, mixer, nullptr),
        mixer.installTapOnBus(1, 1000, nullptr, tap),
        mixer.installTapOnBus(0, 0, nullptr, tap),
        mixer.installTapOnBus(0, AVAudioMixerNode::kMaxTapBufferFrames + 1, nullptr, tap),
        mixer.installTapOnBus(0, 1000, nullptr, nullptr),
        mixer.installTapOnBus(0, 1000, standard(48000, 2), tap),
        !mixer.installTapOnBus(0, 1000, mixer.outputFormatForBus(0), tap) || !mixer.removeTapOnBus(0),
        mixer.removeTapOnBus(0),
        !mixer.installTapOnBus(0, 1000, nullptr, tap) || mixer.installTapOnBus(0, 1000, nullptr, tap),
    };
    for (std::size_t i = 0; i < std::size(refused); ++i)
        EXPECT_FALSE(refused[i]) << "edit " << i;
    ASSERT_EQ(engine.startAndReturnError().value_or(NSError{}).domain, AVAudioEngineErrorDomain);
    EXPECT_FALSE(engine.isRunning());
    test::DiskAudioDevice device;
    ASSERT_FALSE(engine.startAndReturnError().has_value());
    EXPECT_TRUE(engine.isRunning() && !mixer.removeTapOnBus(0));
    ASSERT_TRUE(device.waitForFrames(20000));
    engine.stop();
    EXPECT_FALSE(engine.isRunning());
    const auto played = device.read();
    for (std::size_t f = 0; f < played[0].size(); ++f)
        ASSERT_EQ(std::pair(played[0][f], played[1][f]), std::pair(2.0f * Ramp::at(f), 0.0f))
            << "frame " << f;
    const std::lock_guard lock(mutex);
    EXPECT_NE(tapThread, std::this_thread::get_id());
    EXPECT_NE(tapThread, mono.thread.load());
    // Stop hands over every whole buffer the mixer produced.
    ASSERT_EQ(tapped.size(), mono.frames / 1000 * 1000);
    for (std::size_t f = 0; f < tapped.size(); ++f)
        ASSERT_EQ(tapped[f], 2.0f * Ramp::at(f)) << "frame " << f;
    EXPECT_EQ(engine.droppedTapFrames(), 0u);
    // Without a tap the real-time side allocates nothing between callbacks (this thread only sleeps).
    ASSERT_TRUE(mixer.removeTapOnBus(0));
    const std::size_t before = mono.calls;
    ASSERT_FALSE(engine.startAndReturnError().has_value());
    for (const auto end = inTwentySeconds();
         mono.calls < before + 500 && std::chrono::steady_clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    engine.stop();
    ASSERT_GE(mono.calls, before + 500);
    // The first few callbacks of a run may meet the device's first-use buffers (stdio and the like).
    const auto [least, most] = std::minmax_element(mono.allocations.begin(), mono.allocations.end());
    EXPECT_EQ(*most - *least, 0u);
}

} // namespace
} // namespace thraskvell
