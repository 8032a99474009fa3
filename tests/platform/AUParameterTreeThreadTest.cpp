#include "platform/AUParameterTree.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// An observer that, once removed, must never run again: each round installs one, lets writers race
// it, removes it, and then checks that no call began after removal returned or is still running.
TEST(AUParameterTreeThreads, RemovalRacingWritesNeverCallsAgain) {
    std::vector<std::shared_ptr<AUParameter>> children;
    for (const char* id : {"p0", "p1", "p2"})
        children.push_back(AUParameterTree::createParameter(id, id, children.size(), 0, 100, 0, std::nullopt,
                                                            0xC0000000u, std::nullopt, std::nullopt));
    const auto tree = AUParameterTree::createTreeWithChildren(children);
    ASSERT_NE(tree, nullptr);

    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (const auto& parameter : children)
        writers.emplace_back([&stop, parameter] {
            for (float v = 0.0f; !stop.load(); v += 1.0f)
                parameter->setValue(v);
        });

    std::atomic<int> lateCalls{0}, running{0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int round = 0;
    for (; round < 150 && std::chrono::steady_clock::now() < deadline; ++round) {
        auto removed = std::make_shared<std::atomic<bool>>(false);
        std::atomic<int> calls{0};
        const auto token =
            tree->tokenByAddingParameterObserver([removed, &calls, &lateCalls, &running](auto, auto) {
                running.fetch_add(1);
                if (removed->load()) lateCalls.fetch_add(1);
                // Long enough that removal regularly lands while a call is under way.
                std::this_thread::sleep_for(std::chrono::microseconds(20));
                calls.fetch_add(1);
                running.fetch_sub(1);
            });
        if (!token) break;
        // The writers must have reached this observer before it is removed.
        while (calls.load() < 3 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        tree->removeParameterObserver(token);
        removed->store(true);
        if (running.load() != 0) lateCalls.fetch_add(1);
        if (calls.load() < 3) break;
    }
    stop.store(true);
    for (auto& t : writers)
        t.join();
    EXPECT_EQ(round, 150) << "rounds completed before the observer was refused or the writers stalled";
    EXPECT_EQ(lateCalls.load(), 0);
}

} // namespace
