#include "platform/AUParameterTree.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// An observer that, once removed, must never run again: each round installs one, lets writers race
// it, removes it, and then checks that no call began after removal returned.
TEST(AUParameterTreeThreads, RemovalRacingWritesNeverCallsAgain) {
    std::vector<std::shared_ptr<AUParameter>> children;
    for (AUParameterAddress a = 0; a < 4; ++a)
        children.push_back(
            AUParameterTree::createParameter(std::array<const char*, 4>{"p0", "p1", "p2", "p3"}[a], "P", a, 0,
                                             100, 0, std::nullopt, 0xC0000000u, std::nullopt, std::nullopt));
    const auto tree = AUParameterTree::createTreeWithChildren(children);
    ASSERT_NE(tree, nullptr);

    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int w = 0; w < 3; ++w)
        writers.emplace_back([&, w] {
            float v = 0.0f;
            while (!stop.load())
                tree->allParameters()[std::size_t(w)]->setValue(v += 1.0f);
        });

    // Calls that began after removal returned, or were still running when it returned.
    std::atomic<int> lateCalls{0};
    std::atomic<int> running{0};
    for (int round = 0; round < 150; ++round) {
        auto removed = std::make_shared<std::atomic<bool>>(false);
        std::atomic<int> calls{0};
        const auto token = tree->tokenByAddingParameterObserver(
            [removed, &calls, &lateCalls, &running](AUParameterAddress, AUValue) {
                running.fetch_add(1);
                if (removed->load()) lateCalls.fetch_add(1);
                // Long enough that removal regularly lands while a call is under way.
                std::this_thread::sleep_for(std::chrono::microseconds(20));
                calls.fetch_add(1);
                running.fetch_sub(1);
            });
        ASSERT_TRUE(token);
        while (calls.load() < 3)
            std::this_thread::yield();
        tree->removeParameterObserver(token);
        removed->store(true);
        if (running.load() != 0) lateCalls.fetch_add(1);
    }
    stop.store(true);
    for (auto& t : writers)
        t.join();
    EXPECT_EQ(lateCalls.load(), 0);
}

} // namespace
