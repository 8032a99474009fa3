#include "platform/MainThreadQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace thraskvell {
namespace {

std::chrono::steady_clock::time_point deadline() {
    return std::chrono::steady_clock::now() + std::chrono::seconds(20);
}

TEST(MainThreadQueueThreads, ClosuresFromSeveralThreadsRunOnTheDrainingThreadInPerThreadOrder) {
    constexpr int kThreads = 4, kPerThread = 500;
    MainThreadQueue queue;
    std::vector<std::vector<int>> seen(kThreads);
    int offMain = 0;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                queue.post([&, t, i] {
                    offMain += !queue.isMainThread();
                    seen[std::size_t(t)].push_back(i);
                });
        });
    std::size_t ran = 0;
    std::thread drainer([&, end = deadline()] {
        while (ran < kThreads * kPerThread && std::chrono::steady_clock::now() < end)
            ran += queue.drain();
    });
    for (auto& p : posters)
        p.join();
    drainer.join();
    EXPECT_FALSE(queue.isMainThread()) << "the draining thread became main";
    ASSERT_EQ(ran, std::size_t(kThreads * kPerThread));
    EXPECT_EQ(offMain, 0);
    for (const auto& order : seen) {
        ASSERT_EQ(order.size(), std::size_t(kPerThread));
        for (int i = 0; i < kPerThread; ++i)
            ASSERT_EQ(order[std::size_t(i)], i);
    }
    queue.drain();
    EXPECT_TRUE(queue.isMainThread());
}

TEST(MainThreadQueueThreads, MailboxPostsFromSeveralThreadsSettleOnEachKeysLastValue) {
    constexpr int kThreads = 4, kPosts = 20000;
    MainThreadQueue queue(8);
    std::vector<float> shown(kThreads, -1.0f);
    auto mailbox = queue.makeMailbox(kThreads, [&](std::uint64_t key, float value) {
        // Each thread posts rising values to its own key; coalescing may skip but never go back.
        EXPECT_GE(value, shown[key]);
        shown[key] = value;
    });
    std::atomic<bool> postersDone{false};
    std::atomic<std::size_t> delivered{0};
    std::thread drainer([&, end = deadline()] {
        while (!postersDone.load() && std::chrono::steady_clock::now() < end)
            delivered += queue.drain();
        queue.drain();
    });
    std::vector<std::thread> posters;
    std::atomic<int> gaveUp{0};
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t, end = deadline()] {
            // A full ring refuses and keeps the value: retrying the post is enough, while the
            // drainer is still there to empty it.
            for (int i = 0; i < kPosts; ++i)
                while (!mailbox->post(std::uint64_t(t), float(i)))
                    if (std::chrono::steady_clock::now() > end) {
                        ++gaveUp;
                        return;
                    }
        });
    for (auto& p : posters)
        p.join();
    postersDone = true;
    drainer.join();
    EXPECT_EQ(gaveUp.load(), 0);
    EXPECT_GT(delivered.load(), 0u) << "the drainer ran while the posters posted";
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(shown[std::size_t(t)], float(kPosts - 1)) << "key " << t;
}

} // namespace
} // namespace thraskvell
