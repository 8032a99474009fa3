// The editor on a real unit: its view controller, and EditorHostSync with a host that records what it hears.
#include "extension/AudioUnitViewController.h"
#include "extension/EditorHostSync.h"
#include "extension/ThraskVellAudioUnit.h"
#include "tests/app/shell/ShellRender.h"
#include "tests/support/AllocationCounter.h"
#include "ui/ThraskVellMainView.h"
#include "ui/ThraskVellViewModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <string>
#include <thread>

namespace thraskvell {
namespace {

using Heard = std::vector<std::string>; // what a host hears, in order: "begin 4", "set 4 57", "end 4"

// A host that records what it hears and, while `appliesAtOnce`, writes each value back at once.
EditorHostSync::Host recordingHost(Heard& heard, AUParameterTree& tree, const bool& appliesAtOnce) {
    return {[&](std::uint32_t i, bool began) {
                heard.push_back((began ? "begin " : "end ") + std::to_string(i));
            },
            [&](std::uint32_t i, float value) {
                heard.push_back("set " + std::to_string(i) + " " + std::to_string(int(value)));
                if (appliesAtOnce) tree.parameterWithAddress(i)->setValue(value);
            }};
}

class EditorHostSyncTest : public ::testing::Test {
protected:
    EditorHostSyncTest() {
        changes = model->objectWillChange().sink([this] { ++modelChanges; });
        view.panel().toggle(); // the switches live in the advanced panel
        view.layout();
    }
    // One pointer gesture as the plug-in UI hands it over; `after` runs after each event.
    void gesture(ui::Point from, const std::vector<double>& dys, void (*after)(EditorHostSync&) = nullptr) {
        test::drag(view, from, dys, [&](auto&& event) {
            std::optional<EditorHostSync::UserEdit> edit(sync);
            event();
            edit.reset();
            if (after) after(sync);
        });
        sync.endGesture();
    }
    AUParameter& sustain() { return *unit->parameterTree()->parameterWithAddress(4); }

    MainThreadQueue queue;
    std::shared_ptr<ThraskVellAudioUnit> unit = ThraskVellAudioUnit::create().value();
    std::shared_ptr<ThraskVellViewModel> model = ThraskVellViewModel::make(unit, queue);
    ui::ThraskVellMainView view{model};
    bool hostAppliesAtOnce = false;
    Heard heard;
    EditorHostSync sync{unit->parameterTree(),
                        recordingHost(heard, *unit->parameterTree(), hostAppliesAtOnce), queue};
    Cancellable changes;
    int modelChanges = 0;
};

TEST_F(EditorHostSyncTest, AnEditorEditReachesHostAndKernelOnceInsideAGesture) {
    const ui::Point tone = view.knob(2).faceFrame().center(), knob = view.knob(1).faceFrame().center(),
                    bass = view.toggle(1).baseFrame().center();
    // Host applies at once, where, moves, kernel identifier and value, what the host hears.
    const std::tuple<bool, ui::Point, std::vector<double>, const char*, float, Heard> cases[] = {
        {false, tone, {}, "tone", 50.0f, {}}, // a press without a move
        {false, knob, {7}, "sustain", 57.0f, {"begin 4", "set 4 57", "end 4"}},
        {true, knob, {7}, "sustain", 64.0f, {"begin 4", "set 4 64", "end 4"}},
        {false, knob, {2, 4, 4}, "sustain", 68.0f, {"begin 4", "set 4 66", "set 4 68", "end 4"}},
        {false, bass, {}, "bassBoost", 1.0f, {"begin 7", "set 7 1", "end 7"}},
        {true, bass, {}, "bassBoost", 0.0f, {"begin 7", "set 7 0", "end 7"}},
    };
    for (const auto& [appliesAtOnce, at, dys, identifier, expected, hears] : cases) {
        SCOPED_TRACE(identifier);
        heard.clear();
        hostAppliesAtOnce = appliesAtOnce;
        gesture(at, dys);
        EXPECT_EQ(heard, hears);
        EXPECT_EQ(unit->dspBridge().getParameter(identifier), expected);
        EXPECT_FALSE(sync.isEditing(4) || sync.isEditing(7));
        modelChanges = 0;
        queue.drain();
        EXPECT_EQ(modelChanges, 0) << "the tree's echo of the edit changed the model";
    }
}

TEST_F(EditorHostSyncTest, HostChangesMoveTheEditorOnceAndAreNeverSentBack) {
    enum From { callback, pluginWrite, audioThread, audioThreadDuringAnEdit };
    for (const From from : {callback, pluginWrite, audioThread, audioThreadDuringAnEdit}) {
        SCOPED_TRACE(from);
        const float value = 25.0f + 5.0f * static_cast<float>(from);
        heard.clear();
        modelChanges = 0;
        std::optional<EditorHostSync::UserEdit> edit; // the user pressing elsewhere
        if (from == audioThreadDuringAnEdit) edit.emplace(sync);
        if (from == callback) sync.hostChanged(4, value);
        if (from == pluginWrite) sustain().setValue(value);
        if (from >= audioThread) std::thread([&] { sustain().setValue(value); }).join();
        edit.reset();
        queue.drain();
        EXPECT_EQ(modelChanges, 1);
        EXPECT_EQ(view.knob(1).value(), value);
        EXPECT_EQ(unit->dspBridge().getParameter("sustain"), value);
        EXPECT_TRUE(heard.empty());
    }
}

TEST_F(EditorHostSyncTest, StaleHostEchoesDuringADragAreIgnoredAndBadValuesAreRefused) {
    gesture(view.knob(1).faceFrame().center(), {9}, [](EditorHostSync& sync) { sync.hostChanged(4, 50.0f); });
    for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
        sync.hostChanged(4, bad);
    sync.hostChanged(12, 10.0f);
    EXPECT_EQ(sustain().value(), 59.0f);
    EXPECT_EQ(heard, (Heard{"begin 4", "set 4 59", "end 4"}));
}

TEST_F(EditorHostSyncTest, HostAutomationOnTheAudioThreadAllocatesNothingWithTheEditorAttached) {
    std::atomic<bool> go{false};
    std::thread audio([&] {
        while (!go) // set right below, where nothing can fail first
            std::this_thread::yield();
        for (int block = 0; block < 100; ++block)
            for (AUParameterAddress address = 0; address < kParameterCount; ++address)
                unit->parameterTree()->parameterWithAddress(address)->setValue(static_cast<float>(block));
    });
    test::AllocationScope scope;
    go = true;
    audio.join();
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_TRUE(heard.empty());
}

TEST(EditorHostSyncLifetime, DestroyingMidGestureEndsItAndStopsListening) {
    MainThreadQueue queue;
    auto unit = ThraskVellAudioUnit::create().value();
    Heard heard;
    {
        const bool no = false;
        EditorHostSync sync(unit->parameterTree(), recordingHost(heard, *unit->parameterTree(), no), queue);
        EditorHostSync::UserEdit edit(sync);
        unit->parameterTree()->valueForKey("tone")->setValue(10.0f);
    }
    unit->parameterTree()->valueForKey("tone")->setValue(20.0f);
    EXPECT_EQ(heard, (Heard{"begin 3", "set 3 10", "end 3"}));
}

using Unit = NSResult<std::shared_ptr<ThraskVellAudioUnit>>;

Unit create(AudioUnitViewController& controller, NSError* error = nullptr) {
    return controller.createAudioUnitWithComponentDescription(kThraskVellComponentDescription, error);
}

class ViewControllerTest : public ::testing::TestWithParam<std::tuple<bool, bool>> { // coder, view first
protected:
    std::shared_ptr<AudioUnitViewController> make(AudioUnitViewController::UnitMaker maker = {}) {
        auto controller = std::get<0>(GetParam())
                              ? AudioUnitViewController::initWithCoder({}, queue, std::move(maker))
                              : AudioUnitViewController::initWithNibName("", "", queue, std::move(maker));
        if (std::get<1>(GetParam())) controller->view();
        return controller;
    }
    MainThreadQueue queue;
};

// The unit maker fails once: before any unit, or after two.
TEST_P(ViewControllerTest,
       TheFactoryKeepsTheUnitAndWiresOneEditorOnlyOnTheMainQueueAndAFailureChangesNothing) {
    const NSError failure{NSOSStatusErrorDomain, kAudioUnitErr_FailedInitialization, "no bus"};
    const int failAt = std::get<1>(GetParam()) ? 3 : 1;
    int calls = 0;
    auto controller = make([&](const AudioComponentDescription& d) -> Unit {
        if (++calls == failAt) return failure;
        return ThraskVellAudioUnit::create(d);
    });
    const auto creationFails = [&](std::size_t editors) {
        const auto earlier = controller->audioUnit();
        NSError slot;
        auto result = create(*controller, &slot);
        ASSERT_FALSE(result);
        EXPECT_TRUE(result.error() == failure && slot == failure);
        EXPECT_EQ(controller->audioUnit(), earlier);
        EXPECT_EQ(queue.drain(), 0u);
        EXPECT_EQ(controller->view().subviews().size(), editors);
    };
    if (failAt == 1) creationFails(0);
    NSError error{"untouched", 1, ""};
    auto result = create(*controller, &error);
    ASSERT_TRUE(result);
    EXPECT_EQ(error.domain, "untouched");
    EXPECT_EQ(result.value(), controller->audioUnit());
    EditorView& root = controller->view();
    EXPECT_EQ(root.frame(), (ui::Rect{0.0, 0.0, 550.0, 750.0}));
    EXPECT_EQ(controller->preferredContentSize(), root.frame().size());
    EXPECT_TRUE(root.subviews().empty()) << "wired before the main queue ran";

    EXPECT_EQ(queue.drain(), 1u);
    ASSERT_EQ(root.subviews(), std::vector<EditorView*>{controller->hostingView()});
    EXPECT_EQ(root.dirtyRect(0.0), root.frame());
    EXPECT_EQ(controller->viewModel()->parameterSource(), controller->audioUnit());
    EXPECT_FALSE(controller->hostingView()->rootView().showAdvanced());
    root.setFrame({0.0, 0.0, 640.0, 900.0}); // pinned on all four edges, the editor follows
    EXPECT_EQ(controller->hostingView()->frame(), (ui::Rect{0.0, 0.0, 640.0, 900.0}));

    auto second = create(*controller).value(); // replaces the editor instead of stacking one
    queue.drain();
    EXPECT_EQ(root.subviews().size(), 1u);
    EXPECT_EQ(root.constraints().size(), 4u);
    EXPECT_EQ(controller->viewModel()->parameterSource(), second);
    if (failAt == 3) creationFails(1);

    // The queued connection keeps the controller and its unit until it runs.
    ASSERT_TRUE(create(*controller));
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
