#include "platform/AUParameterTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::shared_ptr<AUParameter> makeParameter(std::string_view identifier, AUParameterAddress address) {
    return AUParameterTree::createParameter(identifier, identifier, address, 0.0f, 100.0f, 0, std::nullopt,
                                            0xC0000000u, std::nullopt, std::nullopt);
}

std::shared_ptr<AUParameterTree> makeTree() {
    return AUParameterTree::createTreeWithChildren(
        {makeParameter("alpha", 0), makeParameter("beta", 1), makeParameter("gamma", 2)});
}

TEST(AUParameterTree, FormsOnlyProperTreesAndLooksUpExactly) {
    const auto taken = makeParameter("taken", 5);
    const auto owner = AUParameterTree::createTreeWithChildren({taken});
    ASSERT_NE(owner, nullptr);
    const std::pair<const char*, std::vector<std::shared_ptr<AUParameter>>> refused[] = {
        {"null child", {makeParameter("a", 0), nullptr}},
        {"repeated identifier", {makeParameter("a", 0), makeParameter("a", 1)}},
        {"repeated address", {makeParameter("a", 0), makeParameter("b", 0)}},
        {"child of another tree", {makeParameter("a", 0), taken}}};
    for (const auto& [what, children] : refused)
        EXPECT_EQ(AUParameterTree::createTreeWithChildren(children), nullptr) << what;

    const auto tree = makeTree();
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->allParameters()[1]->identifier(), "beta");
    EXPECT_EQ(tree->valueForKey("gamma"), tree->allParameters()[2]);
    for (const char* missing : {"Gamma", "gamm", "gammas", ""})
        EXPECT_EQ(tree->valueForKey(missing), nullptr) << missing;
    EXPECT_EQ(tree->parameterWithAddress(1), tree->allParameters()[1]);
    EXPECT_EQ(tree->parameterWithAddress(3), nullptr);
}

TEST(AUParameterTree, AWriteReachesTheImplementorThenEveryObserverButItsOriginator) {
    const auto tree = makeTree();
    std::vector<std::string> calls;
    const auto record = [&](std::string who, AUParameterAddress address, AUValue value) {
        calls.push_back(who + " " + std::to_string(address) + " " + std::to_string(int(value)));
    };
    tree->setImplementorValueObserver(
        [&](AUParameter& p, AUValue value) { record("impl", p.address(), value); });
    const auto first = tree->tokenByAddingParameterObserver(
        [&](auto address, auto value) { record("first", address, value); });
    const auto second = tree->tokenByAddingParameterObserver(
        [&](auto address, auto value) { record("second", address, value); });
    ASSERT_TRUE(first && second && first != second);
    const struct {
        std::optional<AUParameterObserverToken> originator;
        std::vector<std::string> expected;
    } cases[] = {
        {std::nullopt, {"impl 1 7", "first 1 7", "second 1 7"}},
        {AUParameterObserverToken{}, {"impl 1 7", "first 1 7", "second 1 7"}},
        {first, {"impl 1 7", "second 1 7"}},
        {second, {"impl 1 7", "first 1 7"}},
        {AUParameterObserverToken{999999}, {"impl 1 7", "first 1 7", "second 1 7"}},
    };
    for (const auto& c : cases) {
        calls.clear();
        c.originator ? tree->valueForKey("beta")->setValue(7.0f, *c.originator)
                     : tree->valueForKey("beta")->setValue(7.0f);
        EXPECT_EQ(calls, c.expected) << (c.originator ? c.originator->id : 0);
    }
}

TEST(AUParameterTree, ReadsComeFromTheProviderWhileTheTreeLives) {
    std::shared_ptr<AUParameter> kept;
    int calls = 0;
    {
        const auto tree = makeTree();
        kept = tree->valueForKey("alpha");
        kept->setValue(3.0f);
        EXPECT_EQ(kept->value(), 3.0f) << "without a provider the stored value is read";
        tree->setImplementorValueProvider([](const AUParameter& p) { return 100.0f + float(p.address()); });
        tree->tokenByAddingParameterObserver([&](AUParameterAddress, AUValue) { ++calls; });
        EXPECT_EQ(tree->valueForKey("gamma")->value(), 102.0f);
    }
    kept->setValue(12.0f); // the tree is gone: stored, nobody told
    EXPECT_EQ(kept->value(), 12.0f);
    EXPECT_EQ(calls, 0);
}

TEST(AUParameterTree, ARemovedObserverIsNeverCalledAgainAndItsSlotServesANewOne) {
    const auto tree = makeTree();
    int calls = 0, selfCalls = 0;
    const auto token = tree->tokenByAddingParameterObserver([&](AUParameterAddress, AUValue) { ++calls; });
    AUParameterObserverToken self;
    self = tree->tokenByAddingParameterObserver([&](AUParameterAddress, AUValue) {
        ++selfCalls;
        tree->removeParameterObserver(self); // from inside its own callback
    });
    tree->valueForKey("alpha")->setValue(1.0f);
    tree->removeParameterObserver(token);
    tree->removeParameterObserver(token); // twice is harmless, as is the empty token
    tree->removeParameterObserver({});
    tree->valueForKey("alpha")->setValue(2.0f);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(selfCalls, 1);

    // Both slots are free again: the tree holds its full capacity, and tokens are never reused.
    std::vector<AUParameterObserverToken> tokens;
    while (const auto added = tree->tokenByAddingParameterObserver([](AUParameterAddress, AUValue) {}))
        tokens.push_back(added);
    ASSERT_EQ(tokens.size(), AUParameterTree::kObserverCapacity);
    for (const auto& t : tokens)
        EXPECT_TRUE(t.id != token.id && t.id != self.id);
    tree->removeParameterObserver(tokens[5]);
    EXPECT_FALSE(tree->tokenByAddingParameterObserver({})) << "empty callable";
    EXPECT_TRUE(tree->tokenByAddingParameterObserver([](AUParameterAddress, AUValue) {}));
}

} // namespace
