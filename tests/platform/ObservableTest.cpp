#include "platform/Observable.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace thraskvell {
namespace {

class Model : public ObservableObject {
public:
    explicit Model(MainThreadQueue& queue) : ObservableObject(queue) {}
    Published<int> count{*this, 0};
    Published<std::vector<float>> samples{*this, std::vector<float>(4, 0.0f)};
};

TEST(Observable, AnnouncesBeforeEveryChangeUntilCancelledOrDropped) {
    MainThreadQueue queue;
    Model model(queue);
    std::vector<int> seenBefore;
    int dropped = 0, selfCancelled = 0;
    Cancellable first = model.objectWillChange().sink([&] { seenBefore.push_back(model.count.get()); });
    Cancellable self;
    self = model.objectWillChange().sink([&] {
        ++selfCancelled;
        self.cancel();
    });
    {
        Cancellable second = model.objectWillChange().sink([&] { ++dropped; });
        model.count = 1;
    }
    model.count = 1; // equal values announce too
    model.count.set(5);
    model.samples.mutate([](std::vector<float>& s) { s.push_back(1.0f); });
    first.cancel();
    EXPECT_FALSE(first.active());
    model.count = 2;
    EXPECT_EQ(seenBefore, (std::vector<int>{0, 1, 1, 5}));
    EXPECT_EQ(model.samples.get().size(), 5u);
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(selfCancelled, 1);
}

TEST(Observable, SubscriptionMayOutliveThePublisher) {
    MainThreadQueue queue;
    Cancellable subscription;
    {
        Model model(queue);
        subscription = model.objectWillChange().sink([] {});
    }
    subscription.cancel(); // must not touch the released publisher (the sanitizers would say so)
}

TEST(Observable, ChangeOffTheMainThreadIsRefusedAndGoesThroughTheQueue) {
    MainThreadQueue queue;
    Model model(queue);
    int announcements = 0;
    Cancellable subscription = model.objectWillChange().sink([&] { ++announcements; });
    std::string error;
    std::thread([&] {
        try {
            model.count = 9;
        } catch (const std::logic_error& e) {
            error = e.what();
        }
        queue.post([&] { model.count = 9; });
    }).join();
    EXPECT_NE(error.find("off the main thread"), std::string::npos);
    EXPECT_EQ(model.count.get(), 0);
    EXPECT_EQ(announcements, 0);
    queue.drain();
    EXPECT_EQ(model.count.get(), 9);
    EXPECT_EQ(announcements, 1);
}

} // namespace
} // namespace thraskvell
