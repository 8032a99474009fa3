#include "platform/MainThreadQueue.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using thraskvell::MainThreadQueue;

namespace {

struct Delivered {
    std::uint64_t key;
    float value;
    bool operator==(const Delivered&) const = default;
};

TEST(MainThreadQueue, RunsClosuresInPostOrderOnlyWhenDrained) {
    MainThreadQueue queue;
    std::vector<int> order;
    for (int i = 0; i < 5; ++i)
        queue.post([&order, i] { order.push_back(i); });
    queue.post(nullptr);
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(queue.pendingCount(), 5u);
    EXPECT_EQ(queue.drain(), 5u);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(queue.drain(), 0u);
}

TEST(MainThreadQueue, WorkPostedDuringDrainWaitsForTheNextDrain) {
    MainThreadQueue queue;
    int runs = 0;
    std::function<void()> again = [&] {
        ++runs;
        queue.post(again);
    };
    queue.post(again);
    EXPECT_EQ(queue.drain(), 1u);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(queue.drain(), 1u);
    EXPECT_EQ(runs, 2);
}

TEST(MainThreadQueue, MailboxCoalescesPerKeyAndKeepsTheLastValue) {
    MainThreadQueue queue;
    std::vector<Delivered> delivered;
    auto mailbox = queue.makeMailbox(12, [&](std::uint64_t key, float value) {
        delivered.push_back({key, value});
    });

    // Automation hammering one key before the main thread gets round to it.
    for (int i = 1; i <= 100; ++i)
        EXPECT_TRUE(mailbox->post(4, static_cast<float>(i)));
    EXPECT_TRUE(mailbox->post(0, 7.0f));
    EXPECT_TRUE(mailbox->post(4, 73.0f));
    EXPECT_EQ(queue.pendingCount(), 2u);

    EXPECT_EQ(queue.drain(), 2u);
    EXPECT_EQ(delivered, (std::vector<Delivered>{{4, 73.0f}, {0, 7.0f}}));

    // After a delivery the key queues again.
    delivered.clear();
    EXPECT_TRUE(mailbox->post(4, 12.5f));
    queue.drain();
    EXPECT_EQ(delivered, (std::vector<Delivered>{{4, 12.5f}}));
}

TEST(MainThreadQueue, MailboxRefusesKeysOutsideItsRange) {
    MainThreadQueue queue;
    int deliveries = 0;
    auto mailbox = queue.makeMailbox(12, [&](std::uint64_t, float) { ++deliveries; });
    EXPECT_FALSE(mailbox->post(12, 1.0f));
    EXPECT_FALSE(mailbox->post(~std::uint64_t{0}, 1.0f));
    EXPECT_EQ(queue.drain(), 0u);
    EXPECT_EQ(deliveries, 0);
}

TEST(MainThreadQueue, MailboxConstructionRejectsBadArguments) {
    MainThreadQueue queue;
    EXPECT_THROW(queue.makeMailbox(0, [](std::uint64_t, float) {}), std::invalid_argument);
    EXPECT_THROW(queue.makeMailbox(4, nullptr), std::invalid_argument);
}

TEST(MainThreadQueue, PostsOfADestroyedMailboxAreDropped) {
    MainThreadQueue queue;
    int deliveries = 0;
    auto mailbox = queue.makeMailbox(2, [&](std::uint64_t, float) { ++deliveries; });
    mailbox->post(1, 3.0f);
    mailbox.reset();
    EXPECT_EQ(queue.drain(), 0u);
    EXPECT_EQ(deliveries, 0);
}

TEST(MainThreadQueue, FullRingRefusesThenRetriesWithTheLatestValue) {
    MainThreadQueue queue(2);
    std::vector<Delivered> delivered;
    auto mailbox = queue.makeMailbox(3, [&](std::uint64_t key, float value) {
        delivered.push_back({key, value});
    });
    EXPECT_TRUE(mailbox->post(0, 1.0f));
    EXPECT_TRUE(mailbox->post(1, 2.0f));
    EXPECT_FALSE(mailbox->post(2, 3.0f));
    EXPECT_EQ(queue.droppedRealtimePosts(), 1u);
    queue.drain();
    EXPECT_EQ(delivered, (std::vector<Delivered>{{0, 1.0f}, {1, 2.0f}}));

    delivered.clear();
    EXPECT_TRUE(mailbox->post(2, 4.0f));
    queue.drain();
    EXPECT_EQ(delivered, (std::vector<Delivered>{{2, 4.0f}}));
}

TEST(MainThreadQueue, RingWrapsAroundManyTimes) {
    MainThreadQueue queue(4);
    float last = -1.0f;
    auto mailbox = queue.makeMailbox(1, [&](std::uint64_t, float value) { last = value; });
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(mailbox->post(0, static_cast<float>(i)));
        ASSERT_EQ(queue.drain(), 1u);
        ASSERT_EQ(last, static_cast<float>(i));
    }
}

TEST(MainThreadQueue, ProcessWideQueueIsOneObject) {
    EXPECT_EQ(&MainThreadQueue::main(), &MainThreadQueue::main());
    EXPECT_TRUE(MainThreadQueue::main().isMainThread());
}

} // namespace
