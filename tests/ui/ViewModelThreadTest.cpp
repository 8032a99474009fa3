#include "tests/ui/TestSource.h"
#include "ui/ThraskVellViewModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace thraskvell {
namespace {

// A writer thread plays automation while the main thread drains, edits and waits, for at most this
// long; leaving the test early stops the writer (std::jthread asks it to on the way out).
bool waitFor(const std::atomic<bool>& condition, const std::function<void()>& meanwhile) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition && std::chrono::steady_clock::now() < deadline)
        meanwhile();
    return condition;
}

TEST(ViewModelThreads, AutomationFromAnotherThreadSettlesOnTheLastValue) {
    MainThreadQueue queue;
    auto source = std::make_shared<test::TestParameterSource>(true);
    auto model = ThraskVellViewModel::make(source, queue);
    const auto tone = source->parameterTree()->valueForKey("tone");
    std::atomic<bool> done{false};
    std::jthread writer([&](std::stop_token stop) {
        for (int i = 0; i <= 2000 && !stop.stop_requested(); ++i)
            tone->setValue(static_cast<float>(i % 100) + 0.5f);
        done = true;
    });
    ASSERT_TRUE(waitFor(done, [&] {
        queue.drain();
        model->setParameterValue("sustain", 10.0f); // main-thread edits interleave freely
    })) << "the writer did not finish";
    queue.drain();
    EXPECT_EQ(model->value("tone"), 0.5f); // 2000 % 100 + 0.5
}

TEST(ViewModelThreads, ReleaseWhileAnotherThreadWrites) {
    MainThreadQueue queue;
    auto source = std::make_shared<test::TestParameterSource>(true);
    auto model = ThraskVellViewModel::make(source, queue);
    const auto ratio = source->parameterTree()->valueForKey("ratio");
    std::atomic<bool> writing{false};
    std::jthread writer([&](std::stop_token stop) {
        for (int i = 0; !stop.stop_requested(); ++i, writing = i > 100)
            ratio->setValue(static_cast<float>(i % 100));
    });
    ASSERT_TRUE(waitFor(writing, [&] { queue.drain(); })) << "the writer never got going";
    model.reset(); // removes the observer while writes race with it
    queue.drain();
    writer.request_stop();
    writer.join();
    queue.drain();
    EXPECT_EQ(queue.pendingCount(), 0u);
}

} // namespace
} // namespace thraskvell
