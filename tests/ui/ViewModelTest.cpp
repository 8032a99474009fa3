#include "tests/support/AllocationCounter.h"
#include "tests/ui/TestSource.h"
#include "ui/ThraskVellViewModel.h"

#include "dsp/ParameterSpec.h"

#include <gtest/gtest.h>

namespace thraskvell {
namespace {

// A view model on a test source, counting its change announcements.
struct Watched {
    explicit Watched(bool withTree)
        : source(std::make_shared<test::TestParameterSource>(withTree)),
          model(ThraskVellViewModel::make(source, queue)),
          subscription(model->objectWillChange().sink([this] { ++announcements; })) {}
    AUParameter& tree(const char* identifier) { return *source->parameterTree()->valueForKey(identifier); }

    MainThreadQueue queue;
    std::shared_ptr<test::TestParameterSource> source;
    std::shared_ptr<ThraskVellViewModel> model;
    int announcements = 0;
    Cancellable subscription;
};

TEST(ViewModel, WithoutTreeShowsTheDefaultsAndEditsOnlyTheDisplay) {
    Watched w(false);
    EXPECT_FALSE(w.model->observerToken().has_value());
    ASSERT_EQ(w.model->params().size(), kParameterCount);
    for (const auto& definition : allParameters())
        EXPECT_EQ(w.model->value(definition.identifier), definition.defaultValue) << definition.identifier;
    w.model->setParameterValue("tone", 12.0f);
    EXPECT_EQ(w.model->value("tone"), 12.0f);
    EXPECT_EQ(w.announcements, 1);
}

TEST(ViewModel, AnEditReachesTheTreeAndIsPublishedOnceItsEchoNever) {
    Watched w(true);
    w.model->setParameterValue("sustain", 73.0f);
    EXPECT_EQ(w.tree("sustain").value(), 73.0f);
    EXPECT_EQ(w.announcements, 1);
    EXPECT_GE(w.queue.drain(), 1u); // the echo arrives and changes nothing
    EXPECT_EQ(w.announcements, 1);
    w.model->setParameterValue("sustain", 73.0f); // every edit is published, even an equal one
    EXPECT_EQ(w.announcements, 2);
}

TEST(ViewModel, HostChangesShowOnTheMainThreadBeyondTheTolerance) {
    using C = std::tuple<float, float, bool>; // value shown, change, whether the change shows
    for (const auto& [base, delta, shown] :
         {C{50, 0.0005f, false}, C{50, 0.001f, false}, C{50, -0.0009f, false}, C{0, 0.001f, false},
          C{0, 0.0011f, true}, C{50, -0.002f, true}, C{50, 25, true}}) {
        Watched w(true);
        w.tree("tone").setValue(base);
        w.queue.drain();
        w.announcements = 0;
        w.tree("tone").setValue(base + delta);
        EXPECT_EQ(w.model->value("tone"), base) << "not before the main thread runs";
        w.queue.drain();
        EXPECT_EQ(w.announcements, shown ? 1 : 0) << base << " + " << delta;
        EXPECT_EQ(w.model->value("tone"), shown ? base + delta : base) << base << " + " << delta;
    }
}

TEST(ViewModel, UnknownIdentifiersReadZeroAndWriteOnlyTheDisplay) {
    Watched w(true);
    EXPECT_EQ(w.model->value("Trim"), 0.0f);
    w.model->setParameterValue("wobble", 9.0f);
    EXPECT_EQ(w.model->value("wobble"), 9.0f);
    EXPECT_EQ(w.queue.pendingCount(), 0u); // the tree never heard of it
    for (const auto& parameter : w.source->parameterTree()->allParameters())
        EXPECT_EQ(parameter->value(), defaultValue(parameter->identifier()).value());
}

TEST(ViewModel, ReleasedWithDeliveriesQueuedItIsGoneAndSoIsItsObserver) {
    Watched w(true);
    const std::weak_ptr<ThraskVellViewModel> weak = w.model;
    w.tree("gate").setValue(42.0f);
    EXPECT_GT(w.queue.pendingCount(), 0u);
    w.subscription.cancel();
    w.model.reset();
    EXPECT_TRUE(weak.expired()); // the tree's observer did not keep it alive
    w.queue.drain();             // the queued delivery runs into nothing
    w.tree("gate").setValue(43.0f);
    EXPECT_EQ(w.queue.pendingCount(), 0u);
    EXPECT_EQ(w.source.use_count(), 1); // the source went with the view model
}

TEST(ViewModel, TheTreeObserverPostsWithoutAllocating) {
    Watched w(true);
    {
        test::AllocationScope scope;
        for (int i = 0; i < 100; ++i)
            w.tree("volume").setValue(static_cast<float>(i));
        EXPECT_EQ(scope.allocations(), 0u);
    }
    w.queue.drain();
    EXPECT_EQ(w.model->value("volume"), 99.0f); // coalesced to the last value
}

} // namespace
} // namespace thraskvell
