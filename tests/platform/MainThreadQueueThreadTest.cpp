#include "platform/MainThreadQueue.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using thraskvell::MainThreadQueue;

namespace {

TEST(MainThreadQueueThreads, ClosuresFromSeveralThreadsAllRunOnTheDrainingThreadInPerThreadOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    MainThreadQueue queue;
    std::vector<std::vector<int>> seen(kThreads);
    std::atomic<int> offMain{0};

    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                queue.post([&, t, i] {
                    if (!queue.isMainThread()) ++offMain;
                    seen[t].push_back(i);
                });
        });
    std::size_t ran = 0;
    while (ran < kThreads * kPerThread)
        ran += queue.drain();
    for (auto& p : posters)
        p.join();
    ran += queue.drain();

    EXPECT_EQ(ran, std::size_t{kThreads * kPerThread});
    EXPECT_EQ(offMain.load(), 0);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), std::size_t{kPerThread});
        for (int i = 0; i < kPerThread; ++i)
            ASSERT_EQ(seen[t][i], i);
    }
}

TEST(MainThreadQueueThreads, MailboxPostsFromSeveralThreadsSettleOnEachKeysLastValue) {
    constexpr int kThreads = 4;
    constexpr int kPosts = 20000;
    MainThreadQueue queue(8);
    std::vector<float> display(kThreads, -1.0f);
    auto mailbox = queue.makeMailbox(kThreads, [&](std::uint64_t key, float value) {
        // Each thread posts rising values to its own key; coalescing may skip but never go back.
        EXPECT_GE(value, display[key]);
        display[key] = value;
    });

    std::atomic<bool> done{false};
    std::thread drainer([&] {
        while (!done.load())
            queue.drain();
        queue.drain();
    });
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPosts; ++i) {
                // A full ring refuses; the value is kept, so retrying the same post is enough.
                while (!mailbox->post(t, static_cast<float>(i)))
                    std::this_thread::yield();
            }
        });
    for (auto& p : posters)
        p.join();
    done = true;
    drainer.join();

    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(display[t], static_cast<float>(kPosts - 1)) << "key " << t;
}

TEST(MainThreadQueueThreads, AudioThreadPostsAllocateNothing) {
    MainThreadQueue queue;
    int deliveries = 0;
    auto mailbox = queue.makeMailbox(12, [&](std::uint64_t, float) { ++deliveries; });

    std::size_t allocations = 1;
    std::thread audio([&] {
        thraskvell::test::AllocationScope scope;
        for (int block = 0; block < 1000; ++block)
            for (std::uint64_t address = 0; address < 12; ++address)
                mailbox->post(address, static_cast<float>(block));
        allocations = scope.allocations();
    });
    audio.join();
    EXPECT_EQ(allocations, 0u);
    queue.drain();
    EXPECT_EQ(deliveries, 12);
}

TEST(MainThreadQueueThreads, TheDrainingThreadBecomesMain) {
    MainThreadQueue queue;
    EXPECT_TRUE(queue.isMainThread());
    bool otherIsMain = false;
    std::thread other([&] {
        queue.drain();
        otherIsMain = queue.isMainThread();
    });
    other.join();
    EXPECT_TRUE(otherIsMain);
    EXPECT_FALSE(queue.isMainThread());
    queue.drain();
    EXPECT_TRUE(queue.isMainThread());
}

} // namespace
