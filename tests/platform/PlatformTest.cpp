#include "platform/AUAudioUnit.h"
#include "platform/AUParameterTree.h"
#include "platform/AVAudioEngine.h"
#include "platform/Observable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <type_traits>

namespace thraskvell {
namespace {

// What an edit did, as one number: 0 done, 1 refused, or the audio-unit error it was refused with.
template <class Result> int outcome(const Result& result) {
    if constexpr (std::is_same_v<Result, NSErrorOrSuccess>) return result ? int(result->code) : 0;
    return bool(result) ? 0 : 1;
}

struct PlainUnit : AUAudioUnit {
    static std::vector<std::shared_ptr<AUAudioUnitBus>> mono() {
        return {AUAudioUnitBus::make(AVAudioFormat::makeStandard(44100, 1)).value()};
    }
    std::vector<int> channelCapabilities() const override { return {1, 1, 2, 2, -1, 4}; }
    AUAudioUnitBusArray* inputBusses() const override { return &inputs; }
    AUAudioUnitBusArray* outputBusses() const override { return &outputs; }
    mutable AUAudioUnitBusArray inputs{*this, AUAudioUnitBusType::Input, mono()},
        outputs{*this, AUAudioUnitBusType::Output, mono()};
};

// In order: each edit meets what the ones before it left.
TEST(Platform, EditsThatCannotWorkAreRefused) {
    constexpr int kRefused = 1, kFormat = kAudioUnitErr_FormatNotSupported,
                  kContext = kAudioUnitErr_CannotDoInCurrentContext,
                  kValue = kAudioUnitErr_InvalidPropertyValue;
    constexpr auto kFloat = AVAudioCommonFormat::AVAudioPCMFormatFloat32;
    const auto standard = &AVAudioFormat::makeStandard;
    PlainUnit unit;
    auto &in = *unit.inputBusses()->objectAtIndexedSubscript(0),
         &out = *unit.outputBusses()->objectAtIndexedSubscript(0);
    out.setMaximumChannelCount(4);
    const std::pair<int, int> edits[] = {
        {outcome(AVAudioFormat::makeCommon(AVAudioCommonFormat::AVAudioPCMFormatInt16, 44100, 1, false)),
         kRefused},
        {outcome(AUAudioUnitBus::make(nullptr).ok()), kRefused},
        {outcome(out.setFormat(nullptr)), kFormat},
        {outcome(out.setFormat(AVAudioFormat::makeCommon(kFloat, 44100, 1, true))), kFormat},
        {outcome(unit.setMaximumFramesToRender(0)), kValue},
        {outcome(unit.setMaximumFramesToRender(AUAudioFrameCount(INT32_MAX) + 1)), kValue},
        {outcome(unit.setMaximumFramesToRender(AUAudioFrameCount(INT32_MAX))), 0},
        {outcome(unit.allocateRenderResources()), 0},
        {outcome(unit.setMaximumFramesToRender(1024)), kContext},
        {outcome(in.setFormat(standard(44100, 2))), kContext},
        {outcome((unit.deallocateRenderResources(), in.setFormat(standard(44100, 2)))), 0},
        {outcome(unit.allocateRenderResources()), kFormat},
        {outcome(out.setFormat(standard(44100, 2))), 0},
        {outcome(unit.allocateRenderResources()), 0},
        {outcome((unit.deallocateRenderResources(), out.setFormat(standard(44100, 4)))), 0},
        {outcome(unit.allocateRenderResources()), 0},
        {outcome(out.setFormat(standard(48000, 5))), kFormat},
        {int(out.format()->channelCount()), 4},
        {outcome(unit.outputBusses()->objectAtIndexedSubscript(1) != nullptr), kRefused},
    };
    for (std::size_t i = 0; i < std::size(edits); ++i)
        EXPECT_EQ(edits[i].first, edits[i].second) << "edit " << i;
    const std::tuple<double, AVAudioChannelCount, bool> formats[] = {
        {44100, 1, true}, {192000, 64, true}, {48000, 0, false},        {48000, 65, false},
        {0, 1, false},    {-44100, 1, false}, {std::nan(""), 1, false}, {HUGE_VAL, 1, false}};
    for (const auto& [rate, channels, made] : formats)
        EXPECT_EQ(standard(rate, channels) != nullptr, made) << rate << " Hz, " << channels << " channels";
    const auto tooWide = out.setFormat(standard(48000, 5));
    EXPECT_EQ(tooWide->domain + ": " + tooWide->localizedDescription,
              "NSOSStatusErrorDomain: The format has 5 channels; this bus carries at most 4");
}

std::shared_ptr<AUParameter> parameter(const char* identifier, AUParameterAddress address) {
    return AUParameterTree::createParameter(identifier, identifier, address, 0, 100, 0, std::nullopt, 0,
                                            std::nullopt, std::nullopt);
}

TEST(AUParameterTree, FormsOnlyProperTreesWhoseWritesReachTheImplementorThenEveryObserverButTheOriginator) {
    const auto taken = parameter("taken", 5);
    const auto owner = AUParameterTree::createTreeWithChildren({taken});
    const std::vector<std::shared_ptr<AUParameter>> refused[] = {{parameter("a", 0), nullptr},
                                                                 {parameter("a", 0), parameter("a", 1)},
                                                                 {parameter("a", 0), parameter("b", 0)},
                                                                 {parameter("a", 0), taken}};
    for (const auto& children : refused)
        EXPECT_EQ(AUParameterTree::createTreeWithChildren(children), nullptr) << &children - refused;
    auto tree = AUParameterTree::createTreeWithChildren(
        {parameter("alpha", 0), parameter("beta", 1), parameter("gamma", 2)});
    EXPECT_EQ(tree->valueForKey("gamma"), tree->allParameters()[2]);
    for (const char* missing : {"Gamma", "gamm", "gammas", ""})
        EXPECT_EQ(tree->valueForKey(missing), nullptr) << missing;
    EXPECT_EQ(tree->parameterWithAddress(1)->identifier(), "beta");
    EXPECT_EQ(tree->parameterWithAddress(3), nullptr);
    std::string calls;
    const auto record = [&calls](const char* who) {
        return [&calls, who](AUParameterAddress address, AUValue value) {
            calls += who + std::to_string(address) + "=" + std::to_string(int(value)) + " ";
        };
    };
    tree->setImplementorValueObserver(
        [r = record("impl")](AUParameter& p, AUValue value) { r(p.address(), value); });
    const auto first = tree->tokenByAddingParameterObserver(record("first"));
    const auto second = tree->tokenByAddingParameterObserver(record("second"));
    AUParameterObserverToken self;
    self = tree->tokenByAddingParameterObserver([&](AUParameterAddress, AUValue) {
        calls += "self ";
        tree->removeParameterObserver(self); // from inside its own callback
    });
    const std::pair<AUParameterObserverToken, const char*> writes[] = {
        {{}, "impl1=7 first1=7 second1=7 self "},
        {first, "impl1=7 second1=7 "},
        {second, "impl1=7 first1=7 "},
        {{999999}, "impl1=7 first1=7 second1=7 "}};
    for (const auto& [originator, expected] : writes) {
        calls.clear();
        tree->valueForKey("beta")->setValue(7.0f, originator);
        EXPECT_EQ(calls, expected) << originator.id;
    }
    for (const auto removed : {first, first, AUParameterObserverToken{}}) // twice, and the empty token
        tree->removeParameterObserver(removed);
    calls.clear();
    tree->valueForKey("gamma")->setValue(2.0f);
    EXPECT_EQ(calls, "impl2=2 second2=2 ");
    std::vector<AUParameterObserverToken> tokens;
    while (const auto added = tree->tokenByAddingParameterObserver([](AUParameterAddress, AUValue) {}))
        tokens.push_back(added);
    ASSERT_EQ(tokens.size(), AUParameterTree::kObserverCapacity - 1);
    EXPECT_TRUE(std::all_of(tokens.begin(), tokens.end(), [&](auto t) { return t.id > self.id; }));
    tree->removeParameterObserver(tokens[5]);
    EXPECT_FALSE(tree->tokenByAddingParameterObserver({})) << "empty callable";
    EXPECT_TRUE(tree->tokenByAddingParameterObserver([](AUParameterAddress, AUValue) {}));
    const auto kept = tree->valueForKey("beta");
    EXPECT_EQ(kept->value(), 7.0f) << "without a provider the stored value is read";
    tree.reset();
    calls.clear();
    kept->setValue(12.0f); // the tree is gone: stored, nobody told
    EXPECT_EQ(std::pair(kept->value(), calls), std::pair(12.0f, std::string()));
}

struct Model : ObservableObject {
    using ObservableObject::ObservableObject;
    Published<int> count{*this, 0};
    Published<std::vector<float>> samples{*this, {}};
};

TEST(MainThreadQueue, RunsPostsInOrderAtTheNextDrainCoalescesMailboxKeysAndCarriesPublishedChanges) {
    MainThreadQueue queue(2);
    std::vector<int> order;
    std::function<void()> again = [&] {
        order.push_back(-1);
        queue.post(again); // waits for the next drain
    };
    for (int i = 0; i < 3; ++i)
        queue.post([&order, i] { order.push_back(i); });
    queue.post(nullptr);
    queue.post(again);
    EXPECT_EQ(queue.pendingCount(), 4u);
    EXPECT_EQ(queue.drain(), 4u);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, -1}));
    EXPECT_EQ(queue.drain(), 1u);
    EXPECT_EQ(&MainThreadQueue::main(), &MainThreadQueue::main());

    using Deliveries = std::vector<std::pair<std::uint64_t, float>>;
    Deliveries delivered;
    auto mailbox =
        queue.makeMailbox(12, [&](std::uint64_t key, float value) { delivered.emplace_back(key, value); });
    EXPECT_FALSE(mailbox->post(12, 1.0f) || mailbox->post(~0ull, 1.0f)) << "out of range";
    for (int i = 1; i <= 100; ++i)
        EXPECT_TRUE(mailbox->post(4, float(i)));
    EXPECT_TRUE(mailbox->post(0, 7.0f) && mailbox->post(4, 73.0f));
    EXPECT_FALSE(mailbox->post(3, 1.0f)) << "the ring is full";
    EXPECT_EQ(queue.drain(), 3u) << "again, and the two keys";
    EXPECT_EQ(delivered, (Deliveries{{4, 73.0f}, {0, 7.0f}}));
    for (int i = 0; i < 1000; ++i) { // a key queues again once delivered or refused, through many wraps
        delivered.clear();
        ASSERT_TRUE(mailbox->post(3, float(i)));
        ASSERT_EQ(queue.drain(), 2u);
        ASSERT_EQ(delivered, (Deliveries{{3, float(i)}}));
    }
    mailbox->post(1, 3.0f);
    mailbox.reset();
    EXPECT_EQ(queue.drain(), 1u) << "a destroyed mailbox's posts are dropped";
    EXPECT_THROW(queue.makeMailbox(0, [](std::uint64_t, float) {}), std::invalid_argument);
    EXPECT_THROW(queue.makeMailbox(4, nullptr), std::invalid_argument);

    int announced = 0, dropped = 0, selfCancelled = 0;
    Cancellable outliving; // outlives the publisher: cancelling it then must touch nothing released
    Model model(queue);
    outliving = model.objectWillChange().sink([&] { ++announced; });
    std::vector<int> seenBefore;
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
    model.samples.mutate([](std::vector<float>& s) { s.push_back(1.0f); });
    first.cancel();
    model.count = 2;
    EXPECT_EQ(seenBefore, (std::vector<int>{0, 1, 1}));
    EXPECT_EQ(model.samples.get(), std::vector<float>{1.0f});
    EXPECT_EQ(std::tuple(dropped, selfCancelled, first.active()), std::tuple(1, 1, false));
    std::thread([&] {
        EXPECT_THROW(model.count = 9, std::logic_error);
        queue.post([&] { model.count = 9; });
    }).join();
    EXPECT_EQ(std::pair(model.count.get(), announced), std::pair(2, 4));
    queue.drain();
    EXPECT_EQ(std::pair(model.count.get(), announced), std::pair(9, 5));
}

} // namespace
} // namespace thraskvell
