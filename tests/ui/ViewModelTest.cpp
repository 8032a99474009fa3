#include "tests/support/AllocationCounter.h"
#include "tests/ui/TestSource.h"
#include "ui/ThraskVellViewModel.h"

#include "dsp/ParameterSpec.h"

#include <gtest/gtest.h>

namespace thraskvell {
namespace {

class ViewModelTest : public ::testing::Test {
protected:
    std::shared_ptr<ThraskVellViewModel> makeModel(bool withTree) {
        source = std::make_shared<test::TestParameterSource>(withTree);
        auto model = ThraskVellViewModel::make(source, queue);
        subscription = model->objectWillChange().sink([this] { ++announcements; });
        return model;
    }
    std::shared_ptr<AUParameter> treeParameter(const char* identifier) {
        return source->parameterTree()->valueForKey(identifier);
    }

    MainThreadQueue queue;
    std::shared_ptr<test::TestParameterSource> source;
    Cancellable subscription;
    int announcements = 0;
};

TEST_F(ViewModelTest, WithoutTreeShowsPlaceholdersAndEditsOnlyTheDisplay) {
    auto model = makeModel(false);
    EXPECT_FALSE(model->observerToken().has_value());
    ASSERT_EQ(model->params().size(), kParameterCount);
    for (const auto& definition : allParameters())
        EXPECT_EQ(model->value(definition.identifier), definition.defaultValue) << definition.identifier;

    model->setParameterValue("tone", 12.0f);
    EXPECT_EQ(model->value("tone"), 12.0f);
    EXPECT_EQ(announcements, 1);
}

TEST_F(ViewModelTest, ConstructionReadsNonDefaultTreeValues) {
    source = std::make_shared<test::TestParameterSource>(true);
    for (const auto& definition : allParameters())
        source->parameterTree()
            ->valueForKey(definition.identifier)
            ->setValue(static_cast<float>(definition.address) * 7.0f + 1.0f);
    auto model = ThraskVellViewModel::make(source, queue);
    EXPECT_TRUE(model->observerToken().has_value());
    for (const auto& definition : allParameters())
        EXPECT_EQ(model->value(definition.identifier), static_cast<float>(definition.address) * 7.0f + 1.0f)
            << definition.identifier;
    EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST_F(ViewModelTest, AnEditPublishesOnceAndItsEchoPublishesNothing) {
    auto model = makeModel(true);
    model->setParameterValue("sustain", 73.0f);
    EXPECT_EQ(model->value("sustain"), 73.0f);
    EXPECT_EQ(treeParameter("sustain")->value(), 73.0f);
    EXPECT_EQ(announcements, 1);

    EXPECT_GE(queue.drain(), 1u); // the echo arrives …
    EXPECT_EQ(announcements, 1);  // … and changes nothing
    EXPECT_EQ(model->value("sustain"), 73.0f);

    // Writing the value it already shows still announces: every edit is published.
    model->setParameterValue("sustain", 73.0f);
    EXPECT_EQ(announcements, 2);
}

TEST_F(ViewModelTest, OutsideChangesAreShownOnlyBeyondTheTolerance) {
    struct Case {
        float base;
        float delta;
        bool shown;
    };
    for (const Case c : {Case{50.0f, 0.0005f, false}, Case{50.0f, 0.001f, false},
                         Case{50.0f, -0.0009f, false}, Case{0.0f, 0.001f, false}, Case{0.0f, 0.0011f, true},
                         Case{50.0f, 0.002f, true}, Case{50.0f, -0.002f, true}, Case{50.0f, 25.0f, true}}) {
        auto model = makeModel(true);
        treeParameter("tone")->setValue(c.base);
        queue.drain();
        ASSERT_EQ(model->value("tone"), c.base);
        announcements = 0;
        treeParameter("tone")->setValue(c.base + c.delta);
        queue.drain();
        EXPECT_EQ(announcements, c.shown ? 1 : 0) << c.base << " + " << c.delta;
        EXPECT_EQ(model->value("tone"), c.shown ? c.base + c.delta : c.base) << c.base << " + " << c.delta;
    }
}

TEST_F(ViewModelTest, HostChangesReachTheDisplayOnTheMainThreadOnly) {
    auto model = makeModel(true);
    treeParameter("bassBoost")->setValue(1.0f);
    EXPECT_EQ(model->value("bassBoost"), 0.0f); // nothing changes before the main thread runs
    queue.drain();
    EXPECT_EQ(model->value("bassBoost"), 1.0f);
    EXPECT_EQ(announcements, 1);
}

TEST_F(ViewModelTest, UnknownIdentifiersReadZeroAndWriteOnlyTheDisplay) {
    auto model = makeModel(true);
    EXPECT_EQ(model->value("Trim"), 0.0f);
    EXPECT_EQ(model->value(""), 0.0f);
    model->setParameterValue("wobble", 9.0f);
    EXPECT_EQ(model->value("wobble"), 9.0f);
    EXPECT_EQ(queue.pendingCount(), 0u); // the tree never heard of it
    for (const auto& parameter : source->parameterTree()->allParameters())
        EXPECT_EQ(parameter->value(), defaultValue(parameter->identifier()).value());
}

TEST_F(ViewModelTest, ReleaseWithDeliveriesQueuedDoesNothingAndRemovesTheObserver) {
    auto model = makeModel(true);
    std::weak_ptr<ThraskVellViewModel> weak = model;
    treeParameter("gate")->setValue(42.0f);
    EXPECT_GT(queue.pendingCount(), 0u);
    subscription.cancel();
    model.reset();
    EXPECT_TRUE(weak.expired()); // the tree's observer did not keep it alive
    queue.drain();               // the queued delivery runs into nothing

    treeParameter("gate")->setValue(43.0f); // observer removed: nothing is posted any more
    EXPECT_EQ(queue.pendingCount(), 0u);
    EXPECT_EQ(source.use_count(), 1); // the source was released with the view model
}

TEST_F(ViewModelTest, TheTreeObserverPostsWithoutAllocating) {
    auto model = makeModel(true);
    const auto parameter = treeParameter("volume");
    {
        test::AllocationScope scope;
        for (int i = 0; i < 100; ++i)
            parameter->setValue(static_cast<float>(i));
        EXPECT_EQ(scope.allocations(), 0u);
    }
    queue.drain();
    EXPECT_EQ(model->value("volume"), 99.0f); // coalesced to the last value
}

} // namespace
} // namespace thraskvell
