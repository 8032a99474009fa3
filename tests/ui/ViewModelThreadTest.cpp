#include "tests/ui/TestSource.h"
#include "ui/ThraskVellViewModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace thraskvell {
namespace {

// A writer thread plays automation on Tone, then on Ratio until stopped, while the main thread drains and
// edits; the view model settles on the last Tone and is then released mid-write, after which the tree reaches
// nothing and nothing keeps it or its source alive. Waits end after 10 s or when the writer has failed;
// leaving the test early stops the writer (std::jthread asks it to on the way out).
TEST(ViewModelThreads, AutomationFromAnotherThreadSettlesOnTheLastValueAndReleaseRacesNothing) {
    MainThreadQueue queue;
    const auto source = std::make_shared<test::TestParameterSource>(true);
    auto model = ThraskVellViewModel::make(source, queue);
    const auto tone = source->tree->valueForKey("tone"), ratio = source->tree->valueForKey("ratio");
    std::atomic<int> phase{0}; // 1: Tone written, 2: Ratio being written, -1: the writer failed
    std::jthread writer([&](std::stop_token stop) {
        try {
            for (int i = 0; i <= 2000 && !stop.stop_requested(); ++i, phase = i > 2000)
                tone->setValue(static_cast<float>(i % 100) + 0.5f);
            for (int i = 0; !stop.stop_requested(); ++i, phase = i > 100 ? 2 : 1)
                ratio->setValue(static_cast<float>(i % 100));
        } catch (...) {
            phase = -1;
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto waitFor = [&](int wanted, bool edit) {
        while (phase >= 0 && phase < wanted && std::chrono::steady_clock::now() < deadline)
            if (queue.drain(), edit) model->setParameterValue("sustain", 10.0f); // edits interleave freely
        return phase >= wanted;
    };
    ASSERT_TRUE(waitFor(1, true)) << "the writer did not finish Tone";
    queue.drain();
    EXPECT_EQ(model->value("tone"), 0.5f); // 2000 % 100 + 0.5
    ASSERT_TRUE(waitFor(2, false)) << "the writer never got going on Ratio";
    const std::weak_ptr<ThraskVellViewModel> weak = model;
    model.reset(); // removes the observer while writes race with it
    EXPECT_TRUE(weak.expired());
    queue.drain(); // deliveries still queued run into nothing
    writer.request_stop();
    writer.join();
    queue.drain();
    ratio->setValue(0.25f); // a value the writer never wrote
    EXPECT_EQ(queue.pendingCount(), 0u);
    EXPECT_EQ(source.use_count(), 1);
}

} // namespace
} // namespace thraskvell
