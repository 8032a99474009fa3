#include "platform/MainThreadQueue.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace thraskvell {
namespace {

using Deliveries = std::vector<std::pair<std::uint64_t, float>>;

TEST(MainThreadQueue, RunsWhatWasPostedInOrderAtTheNextDrainOnly) {
    MainThreadQueue queue;
    std::vector<int> order;
    std::function<void()> again = [&] {
        order.push_back(-1);
        queue.post(again); // waits for the next drain
    };
    for (int i = 0; i < 3; ++i)
        queue.post([&order, i] { order.push_back(i); });
    queue.post(nullptr);
    queue.post(again);
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(queue.pendingCount(), 4u);
    EXPECT_EQ(queue.drain(), 4u);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, -1}));
    EXPECT_EQ(queue.drain(), 1u);
    EXPECT_EQ(&MainThreadQueue::main(), &MainThreadQueue::main());
}

TEST(MainThreadQueue, MailboxCoalescesPerKeyAndDeliversTheLastValue) {
    MainThreadQueue queue;
    Deliveries delivered;
    auto mailbox =
        queue.makeMailbox(12, [&](std::uint64_t key, float value) { delivered.emplace_back(key, value); });
    for (int i = 1; i <= 100; ++i)
        EXPECT_TRUE(mailbox->post(4, float(i)));
    EXPECT_TRUE(mailbox->post(0, 7.0f));
    EXPECT_TRUE(mailbox->post(4, 73.0f));
    EXPECT_FALSE(mailbox->post(12, 1.0f));
    EXPECT_FALSE(mailbox->post(~std::uint64_t{0}, 1.0f));
    EXPECT_EQ(queue.drain(), 2u);
    EXPECT_EQ(delivered, (Deliveries{{4, 73.0f}, {0, 7.0f}}));
    EXPECT_TRUE(mailbox->post(4, 12.5f)); // delivered, the key queues again
    queue.drain();
    EXPECT_EQ(delivered.back(), (std::pair<std::uint64_t, float>{4, 12.5f}));

    mailbox->post(1, 3.0f);
    mailbox.reset();
    EXPECT_EQ(queue.drain(), 0u) << "a destroyed mailbox's posts are dropped";
    EXPECT_THROW(queue.makeMailbox(0, [](std::uint64_t, float) {}), std::invalid_argument);
    EXPECT_THROW(queue.makeMailbox(4, nullptr), std::invalid_argument);
}

TEST(MainThreadQueue, AFullRingRefusesAndALaterPostRetriesThroughManyWraps) {
    MainThreadQueue queue(2);
    Deliveries delivered;
    auto mailbox =
        queue.makeMailbox(3, [&](std::uint64_t key, float value) { delivered.emplace_back(key, value); });
    EXPECT_TRUE(mailbox->post(0, 1.0f));
    EXPECT_TRUE(mailbox->post(1, 2.0f));
    EXPECT_FALSE(mailbox->post(2, 3.0f));
    queue.drain();
    EXPECT_EQ(delivered, (Deliveries{{0, 1.0f}, {1, 2.0f}}));
    for (int i = 0; i < 1000; ++i) {
        delivered.clear();
        ASSERT_TRUE(mailbox->post(2, float(i)));
        ASSERT_EQ(queue.drain(), 1u);
        ASSERT_EQ(delivered, (Deliveries{{2, float(i)}}));
    }
}

} // namespace
} // namespace thraskvell
