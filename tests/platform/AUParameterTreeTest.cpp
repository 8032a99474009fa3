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

TEST(AUParameterTree, CreateParameterKeepsEveryField) {
    const auto parameter = AUParameterTree::createParameter("drive", "Drive", 9, -1.0f, 2.0f, 7, "dB",
                                                            0x40000000u, std::vector<std::string>{"a", "b"},
                                                            std::vector<AUParameterAddress>{3, 4});
    EXPECT_EQ(parameter->identifier(), "drive");
    EXPECT_EQ(parameter->displayName(), "Drive");
    EXPECT_EQ(parameter->address(), 9u);
    EXPECT_EQ(parameter->minValue(), -1.0f);
    EXPECT_EQ(parameter->maxValue(), 2.0f);
    EXPECT_EQ(parameter->unit(), 7u);
    EXPECT_EQ(parameter->unitName(), std::optional<std::string>("dB"));
    EXPECT_EQ(parameter->flags(), 0x40000000u);
    EXPECT_EQ(parameter->valueStrings(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(parameter->dependentParameters(), (std::vector<AUParameterAddress>{3, 4}));
    parameter->setValue(42.5f);
    EXPECT_EQ(parameter->value(), 42.5f);
}

TEST(AUParameterTree, RefusesChildrenThatCannotFormATree) {
    struct Case {
        const char* what;
        std::vector<std::shared_ptr<AUParameter>> children;
    };
    const auto taken = makeParameter("taken", 5);
    const auto owner = AUParameterTree::createTreeWithChildren({taken});
    ASSERT_NE(owner, nullptr);
    const Case cases[] = {
        {"null child", {makeParameter("a", 0), nullptr}},
        {"repeated identifier", {makeParameter("a", 0), makeParameter("a", 1)}},
        {"repeated address", {makeParameter("a", 0), makeParameter("b", 0)}},
        {"child of another tree", {makeParameter("a", 0), taken}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AUParameterTree::createTreeWithChildren(c.children), nullptr) << c.what;
}

TEST(AUParameterTree, LooksUpByExactIdentifierAndByAddress) {
    const auto tree = makeTree();
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(tree->allParameters().size(), 3u);
    EXPECT_EQ(tree->allParameters()[1]->identifier(), "beta");
    EXPECT_EQ(tree->valueForKey("gamma"), tree->allParameters()[2]);
    for (const char* missing : {"Gamma", "GAMMA", "gamm", "gammas", ""})
        EXPECT_EQ(tree->valueForKey(missing), nullptr) << missing;
    EXPECT_EQ(tree->parameterWithAddress(1), tree->allParameters()[1]);
    EXPECT_EQ(tree->parameterWithAddress(3), nullptr);
}

// Who heard a write, in order: "impl" for the implementor observer, else the change observer's name.
struct Recorder {
    std::vector<std::string> calls;
    std::vector<std::pair<AUParameterAddress, AUValue>> values;
};

TEST(AUParameterTree, OriginatorSkipsOnlyItsOwnObserver) {
    const auto tree = makeTree();
    Recorder record;
    tree->setImplementorValueObserver([&](AUParameter& parameter, AUValue value) {
        record.calls.push_back("impl");
        record.values.emplace_back(parameter.address(), value);
    });
    const auto first = tree->tokenByAddingParameterObserver([&](AUParameterAddress address, AUValue value) {
        record.calls.push_back("first");
        record.values.emplace_back(address, value);
    });
    const auto second = tree->tokenByAddingParameterObserver([&](AUParameterAddress address, AUValue value) {
        record.calls.push_back("second");
        record.values.emplace_back(address, value);
    });
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    ASSERT_NE(first, second);

    struct Case {
        const char* what;
        std::optional<AUParameterObserverToken> originator;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"no originator", std::nullopt, {"impl", "first", "second"}},
        {"empty originator", AUParameterObserverToken{}, {"impl", "first", "second"}},
        {"first as originator", first, {"impl", "second"}},
        {"second as originator", second, {"impl", "first"}},
        {"unknown originator", AUParameterObserverToken{999999}, {"impl", "first", "second"}},
    };
    const auto beta = tree->valueForKey("beta");
    float value = 1.0f;
    for (const auto& c : cases) {
        record = {};
        value += 1.0f;
        if (c.originator)
            beta->setValue(value, *c.originator);
        else
            beta->setValue(value);
        EXPECT_EQ(record.calls, c.expected) << c.what;
        for (const auto& [address, seen] : record.values) {
            EXPECT_EQ(address, 1u) << c.what;
            EXPECT_EQ(seen, value) << c.what;
        }
    }
}

TEST(AUParameterTree, ProviderAnswersEveryRead) {
    const auto tree = makeTree();
    const auto alpha = tree->valueForKey("alpha");
    alpha->setValue(3.0f);
    EXPECT_EQ(alpha->value(), 3.0f) << "without a provider the stored value is read";
    tree->setImplementorValueProvider(
        [](const AUParameter& parameter) { return 100.0f + float(parameter.address()); });
    EXPECT_EQ(alpha->value(), 100.0f);
    EXPECT_EQ(tree->valueForKey("gamma")->value(), 102.0f);
}

TEST(AUParameterTree, RemovedObserverIsNeverCalledAgainAndItsSlotIsReused) {
    const auto tree = makeTree();
    int calls = 0;
    const auto token = tree->tokenByAddingParameterObserver([&](AUParameterAddress, AUValue) { ++calls; });
    tree->valueForKey("alpha")->setValue(1.0f);
    EXPECT_EQ(calls, 1);
    tree->removeParameterObserver(token);
    tree->removeParameterObserver(token); // twice is harmless
    tree->removeParameterObserver({});
    tree->valueForKey("alpha")->setValue(2.0f);
    EXPECT_EQ(calls, 1);

    std::vector<AUParameterObserverToken> tokens;
    for (std::size_t i = 0; i < AUParameterTree::kObserverCapacity; ++i)
        tokens.push_back(tree->tokenByAddingParameterObserver([](AUParameterAddress, AUValue) {}));
    for (const auto& t : tokens)
        EXPECT_TRUE(t);
    EXPECT_FALSE(tree->tokenByAddingParameterObserver([](AUParameterAddress, AUValue) {})) << "full";
    EXPECT_FALSE(tree->tokenByAddingParameterObserver({})) << "empty callable";
    tree->removeParameterObserver(tokens[5]);
    const auto reused = tree->tokenByAddingParameterObserver([](AUParameterAddress, AUValue) {});
    EXPECT_TRUE(reused);
    EXPECT_NE(reused, tokens[5]) << "tokens are never handed out twice";
}

TEST(AUParameterTree, ObserverMayRemoveItselfFromItsOwnCallback) {
    const auto tree = makeTree();
    int calls = 0;
    AUParameterObserverToken self;
    self = tree->tokenByAddingParameterObserver([&](AUParameterAddress, AUValue) {
        ++calls;
        tree->removeParameterObserver(self);
    });
    int otherCalls = 0;
    tree->tokenByAddingParameterObserver([&](AUParameterAddress, AUValue) { ++otherCalls; });
    tree->valueForKey("beta")->setValue(1.0f);
    tree->valueForKey("beta")->setValue(2.0f);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(otherCalls, 2);

    // The self-removed slot becomes free again for a later observer.
    std::size_t added = 0;
    while (tree->tokenByAddingParameterObserver([](AUParameterAddress, AUValue) {}))
        ++added;
    EXPECT_EQ(added, AUParameterTree::kObserverCapacity - 1);
}

TEST(AUParameterTree, ParameterOutlivingItsTreeStillHoldsValues) {
    std::shared_ptr<AUParameter> kept;
    int calls = 0;
    {
        const auto tree = makeTree();
        tree->setImplementorValueProvider([](const AUParameter&) { return 7.0f; });
        tree->tokenByAddingParameterObserver([&](AUParameterAddress, AUValue) { ++calls; });
        kept = tree->valueForKey("alpha");
    }
    kept->setValue(12.0f);
    EXPECT_EQ(kept->value(), 12.0f);
    EXPECT_EQ(calls, 0);
}

} // namespace
