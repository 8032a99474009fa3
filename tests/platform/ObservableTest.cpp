#include "platform/Observable.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using thraskvell::Cancellable;
using thraskvell::MainThreadQueue;
using thraskvell::ObservableObject;
using thraskvell::Published;

namespace {

class Model : public ObservableObject {
public:
    explicit Model(MainThreadQueue& queue) : ObservableObject(queue) {}
    Published<int> count{*this, 0};
    Published<std::vector<float>> samples{*this, std::vector<float>(4, 0.0f)};
};

TEST(Observable, AnnouncesBeforeEveryChange) {
    MainThreadQueue queue;
    Model model(queue);
    std::vector<int> seenBefore;
    Cancellable subscription =
        model.objectWillChange().sink([&] { seenBefore.push_back(model.count.get()); });

    model.count = 1;
    model.count = 1; // equal values announce too
    model.count.set(5);
    model.samples.mutate([](std::vector<float>& s) { s.push_back(1.0f); });

    EXPECT_EQ(seenBefore, (std::vector<int>{0, 1, 1, 5}));
    EXPECT_EQ(model.count.get(), 5);
    EXPECT_EQ(model.samples.get().size(), 5u);
}

TEST(Observable, CancelledOrDroppedSubscriptionsHearNothing) {
    MainThreadQueue queue;
    Model model(queue);
    int a = 0, b = 0;
    Cancellable first = model.objectWillChange().sink([&] { ++a; });
    {
        Cancellable second = model.objectWillChange().sink([&] { ++b; });
        model.count = 1;
    }
    first.cancel();
    EXPECT_FALSE(first.active());
    model.count = 2;
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(model.objectWillChange().subscriberCount(), 0u);
}

TEST(Observable, SubscriberMayCancelItselfWhileBeingCalled) {
    MainThreadQueue queue;
    Model model(queue);
    int calls = 0;
    Cancellable self;
    self = model.objectWillChange().sink([&] {
        ++calls;
        self.cancel();
    });
    model.count = 1;
    model.count = 2;
    EXPECT_EQ(calls, 1);
}

TEST(Observable, SubscriptionMayOutliveThePublisher) {
    MainThreadQueue queue;
    Cancellable subscription;
    {
        Model model(queue);
        subscription = model.objectWillChange().sink([] {});
    }
    subscription.cancel(); // must not touch the released publisher
    SUCCEED();
}

TEST(Observable, ChangeOffTheMainThreadIsRefusedAndChangesNothing) {
    MainThreadQueue queue;
    Model model(queue);
    int announcements = 0;
    Cancellable subscription = model.objectWillChange().sink([&] { ++announcements; });
    std::string error;
    std::thread other([&] {
        try {
            model.count = 9;
        } catch (const std::logic_error& e) {
            error = e.what();
        }
    });
    other.join();
    EXPECT_NE(error.find("off the main thread"), std::string::npos);
    EXPECT_EQ(model.count.get(), 0);
    EXPECT_EQ(announcements, 0);

    // Handed to the main thread through the queue, the same change goes through.
    std::thread poster([&] { queue.post([&] { model.count = 9; }); });
    poster.join();
    queue.drain();
    EXPECT_EQ(model.count.get(), 9);
    EXPECT_EQ(announcements, 1);
}

} // namespace
