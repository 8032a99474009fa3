// The editor on a real unit: its view controller, and EditorHostSync with a host that records what it hears.
#include "extension/AudioUnitViewController.h"
#include "extension/EditorHostSync.h"
#include "extension/ThraskVellAudioUnit.h"
#include "tests/app/shell/ShellRender.h"
#include "tests/support/AllocationCounter.h"
#include "ui/ThraskVellMainView.h"
#include "ui/ThraskVellViewModel.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>

namespace thraskvell {
namespace {

using Heard = std::vector<std::string>; // what a host hears, in order: "begin 4", "set 4 57", "end 4"
using After = void (*)(EditorHostSync&);

// The editor attached to a unit as the plug-in UI attaches it, its advanced panel open (the switches live
// there), with a host that records what it hears and, while `hostAppliesAtOnce`, writes each value back.
class EditorHostSyncTest : public ::testing::Test {
protected:
    EditorHostSyncTest() { view.panel().toggle(); }
    // One pointer gesture as the plug-in UI hands it over; `after` runs after each event.
    void gesture(ui::Point from, const std::vector<double>& dys, After after) {
        test::drag(view, from, dys, [&](auto&& event) {
            std::optional<EditorHostSync::UserEdit> edit(*sync);
            event();
            edit.reset();
            if (after) after(*sync);
        });
        sync->endGesture();
    }
    AUParameter& parameter(std::uint32_t address) {
        return *unit->parameterTree()->parameterWithAddress(address);
    }

    MainThreadQueue queue;
    std::shared_ptr<ThraskVellAudioUnit> unit = ThraskVellAudioUnit::create().value();
    std::shared_ptr<ThraskVellViewModel> model = ThraskVellViewModel::make(unit, queue);
    ui::ThraskVellMainView view{model};
    int modelChanges = 0;
    Cancellable changes = model->objectWillChange().sink([this] { ++modelChanges; });
    bool hostAppliesAtOnce = false;
    Heard heard;
    std::optional<EditorHostSync> sync{
        std::in_place, unit->parameterTree(),
        EditorHostSync::Host{[this](std::uint32_t i, bool began) {
                                 heard.push_back((began ? "begin " : "end ") + std::to_string(i));
                             },
                             [this](std::uint32_t i, float value) {
                                 heard.push_back("set " + std::to_string(i) + " " +
                                                 std::to_string(int(value)));
                                 if (hostAppliesAtOnce) parameter(i).setValue(value);
                             }},
        queue};
};

TEST_F(EditorHostSyncTest, AnEditorEditReachesHostAndKernelOnceInsideAGestureAndEndsWithTheSync) {
    const ui::Point tone = view.knob(2).faceFrame().center(), knob = view.knob(1).faceFrame().center(),
                    bass = view.toggle(1).baseFrame().center();
    const After staleEcho = [](EditorHostSync& s) { s.hostChanged(4, 50.0f); }; // Sustain as it was
    // Host applies at once, where, moves, after each event, kernel identifier and value, what the host hears.
    const std::tuple<bool, ui::Point, std::vector<double>, After, const char*, float, Heard> cases[] = {
        {false, tone, {}, nullptr, "tone", 50.0f, {}}, // a press without a move
        {false, knob, {9}, staleEcho, "sustain", 59.0f, {"begin 4", "set 4 59", "end 4"}},
        {true, knob, {7}, nullptr, "sustain", 66.0f, {"begin 4", "set 4 66", "end 4"}},
        {false, knob, {2, 4, 4}, nullptr, "sustain", 70.0f, {"begin 4", "set 4 68", "set 4 70", "end 4"}},
        {false, bass, {}, nullptr, "bassBoost", 1.0f, {"begin 7", "set 7 1", "end 7"}},
        {true, bass, {}, nullptr, "bassBoost", 0.0f, {"begin 7", "set 7 0", "end 7"}},
    };
    for (const auto& [appliesAtOnce, at, dys, after, identifier, expected, hears] : cases) {
        SCOPED_TRACE(identifier);
        heard.clear();
        hostAppliesAtOnce = appliesAtOnce;
        gesture(at, dys, after);
        EXPECT_EQ(heard, hears);
        EXPECT_EQ(unit->dspBridge().getParameter(identifier), expected);
        EXPECT_FALSE(sync->isEditing(4) || sync->isEditing(7));
        modelChanges = 0;
        queue.drain();
        EXPECT_EQ(modelChanges, 0) << "the tree's echo of the edit changed the model";
    }
    // Released mid-gesture, the sync ends the gesture and stops listening.
    heard.clear();
    std::optional<EditorHostSync::UserEdit> edit(*sync);
    parameter(3).setValue(10.0f);
    edit.reset();
    sync.reset();
    parameter(3).setValue(20.0f);
    EXPECT_EQ(heard, (Heard{"begin 3", "set 3 10", "end 3"}));
}

TEST_F(EditorHostSyncTest, HostChangesMoveTheEditorOnceAreNeverSentBackAndBadOnesAreRefused) {
    enum From { callback, pluginWrite, audioThread, audioThreadDuringAnEdit };
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    using C = std::tuple<From, std::uint32_t, float, float>; // from, address, value, Sustain then
    for (const auto& [from, address, value, sustain] :
         {C{callback, 4, 25, 25}, C{pluginWrite, 4, 30, 30}, C{audioThread, 4, 35, 35},
          C{audioThreadDuringAnEdit, 4, 40, 40}, C{callback, 4, nan, 40}, C{callback, 4, inf, 40},
          C{callback, 12, 10, 40}}) {
        SCOPED_TRACE(testing::Message() << from << ": " << value);
        heard.clear();
        modelChanges = 0;
        std::optional<EditorHostSync::UserEdit> edit; // the user pressing elsewhere
        if (from == audioThreadDuringAnEdit) edit.emplace(*sync);
        if (from == callback) sync->hostChanged(address, value);
        if (from == pluginWrite) parameter(address).setValue(value);
        if (from >= audioThread) std::thread([&] { parameter(address).setValue(value); }).join();
        edit.reset();
        queue.drain();
        EXPECT_EQ(modelChanges, value == sustain ? 1 : 0);
        EXPECT_EQ(view.knob(1).value(), sustain);
        EXPECT_EQ(unit->dspBridge().getParameter("sustain"), sustain);
        EXPECT_TRUE(heard.empty());
    }
}

TEST_F(EditorHostSyncTest, HostAutomationOnTheAudioThreadAllocatesNothingWithTheEditorAttached) {
    std::size_t allocations = 1;
    std::thread([&] {
        const test::AllocationScope scope; // the main thread waits meanwhile
        for (int block = 0; block < 100; ++block)
            for (std::uint32_t address = 0; address < kParameterCount; ++address)
                parameter(address).setValue(static_cast<float>(block));
        allocations = scope.allocations();
    }).join();
    EXPECT_EQ(allocations, 0u);
    EXPECT_TRUE(heard.empty());
}

using Unit = NSResult<std::shared_ptr<ThraskVellAudioUnit>>;

// Either creation path (the coder's or the nib's), with the view loaded first or not; the unit maker fails
// once: before any unit, or after two.
class ViewControllerTest : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(ViewControllerTest,
       TheFactoryKeepsTheUnitAndWiresOneEditorOnlyOnTheMainQueueAndAFailureChangesNothing) {
    const auto [coder, viewFirst] = GetParam();
    MainThreadQueue queue;
    const NSError failure{NSOSStatusErrorDomain, kAudioUnitErr_FailedInitialization, "no bus"};
    int calls = 0;
    const auto maker = [&, failAt = viewFirst ? 3 : 1](const AudioComponentDescription& d) -> Unit {
        return ++calls == failAt ? Unit(failure) : ThraskVellAudioUnit::create(d);
    };
    auto controller = coder ? AudioUnitViewController::initWithCoder({}, queue, maker)
                            : AudioUnitViewController::initWithNibName("", "", queue, maker);
    if (viewFirst) controller->view();
    const auto create = [&](NSError* error = nullptr) {
        return controller->createAudioUnitWithComponentDescription(kThraskVellComponentDescription, error);
    };
    const auto creationFails = [&](std::size_t editors) {
        const auto earlier = controller->audioUnit();
        NSError slot;
        const Unit result = create(&slot);
        EXPECT_TRUE(!result && result.error() == failure && slot == failure);
        EXPECT_EQ(controller->audioUnit(), earlier);
        EXPECT_EQ(queue.drain(), 0u);
        EXPECT_EQ(controller->view().subviews().size(), editors);
    };
    if (!viewFirst) creationFails(0);
    NSError error{"untouched", 1, ""};
    auto result = create(&error);
    ASSERT_TRUE(result);
    EXPECT_EQ(error.domain, "untouched");
    EXPECT_EQ(result.value(), controller->audioUnit());
    EditorView& root = controller->view();
    EXPECT_EQ(controller->preferredContentSize(), root.frame().size());
    EXPECT_TRUE(root.subviews().empty()) << "wired before the main queue ran";

    EXPECT_EQ(queue.drain(), 1u);
    ASSERT_EQ(root.subviews(), std::vector<EditorView*>{controller->hostingView()});
    EXPECT_EQ(root.dirtyRect(0.0), root.frame());
    EXPECT_FALSE(controller->hostingView()->rootView().showAdvanced());
    root.setFrame({0.0, 0.0, 640.0, 900.0}); // pinned on all four edges, the editor follows
    EXPECT_EQ(controller->hostingView()->frame(), (ui::Rect{0.0, 0.0, 640.0, 900.0}));

    auto second = create().value(); // replaces the editor instead of stacking one
    queue.drain();
    EXPECT_EQ(root.subviews().size(), 1u);
    EXPECT_EQ(root.constraints().size(), 4u);
    EXPECT_EQ(controller->viewModel()->parameterSource(), second);
    if (viewFirst) creationFails(1);

    // The queued connection keeps the controller and its unit until it runs.
    ASSERT_TRUE(create());
    const std::weak_ptr<AudioUnitViewController> weak = controller;
    const std::weak_ptr<ThraskVellAudioUnit> unit = controller->audioUnit();
    controller.reset();
    EXPECT_FALSE(weak.expired());
    queue.drain();
    EXPECT_TRUE(weak.expired() && unit.expired());
}

INSTANTIATE_TEST_SUITE_P(CreationPaths, ViewControllerTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

} // namespace
} // namespace thraskvell
