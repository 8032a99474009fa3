#include "tests/ui/TestSource.h"
#include "ui/ThraskVellViewModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace thraskvell {
namespace {

// A writer thread plays automation while the main thread drains and edits; the display must settle
// on the last value the tree reported, and the view model must go away cleanly while it runs.
TEST(ViewModelThreads, AutomationFromAnotherThreadSettlesOnTheLastValue) {
    MainThreadQueue queue;
    auto source = std::make_shared<test::TestParameterSource>(true);
    auto model = ThraskVellViewModel::make(source, queue);
    int announcements = 0;
    auto subscription = model->objectWillChange().sink([&] { ++announcements; });
    const auto tone = source->parameterTree()->valueForKey("tone");

    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i <= 2000; ++i)
            tone->setValue(static_cast<float>(i % 100) + 0.5f);
        done = true;
    });
    while (!done.load()) {
        queue.drain();
        model->setParameterValue("sustain", 10.0f); // main-thread edits interleave freely
    }
    writer.join();
    queue.drain();
    EXPECT_EQ(model->value("tone"), 0.5f); // 2000 % 100 + 0.5
    EXPECT_GT(announcements, 0);
}

TEST(ViewModelThreads, ReleaseWhileAnotherThreadWrites) {
    MainThreadQueue queue;
    auto source = std::make_shared<test::TestParameterSource>(true);
    auto model = ThraskVellViewModel::make(source, queue);
    const auto ratio = source->parameterTree()->valueForKey("ratio");
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        float v = 0.0f;
        while (!stop.load())
            ratio->setValue(v += 1.0f);
    });
    queue.drain();
    model.reset(); // removes the observer while writes race with it
    queue.drain();
    stop = true;
    writer.join();
    queue.drain();
    EXPECT_EQ(queue.pendingCount(), 0u);
}

} // namespace
} // namespace thraskvell
