#include "extension/EditorHostSync.h"
#include "extension/ThraskVellAudioUnit.h"
#include "tests/support/AllocationCounter.h"
#include "ui/ThraskVellMainView.h"
#include "ui/ThraskVellViewModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace thraskvell {
namespace {

// What a host hears, in order: "begin 4", "set 4 57", "end 4".
class EditorHostSyncTest : public ::testing::Test {
protected:
    EditorHostSyncTest()
        : unit(ThraskVellAudioUnit::create().value()), model(ThraskVellViewModel::make(unit, queue)),
          view(model), sync(unit->parameterTree(), recordingHost(), queue) {
        changes = model->objectWillChange().sink([this] { ++modelChanges; });
        view.layout();
    }

    EditorHostSync::Host recordingHost() {
        return {[this](std::uint32_t index, bool started) {
                    heard.push_back((started ? "begin " : "end ") + std::to_string(index));
                },
                [this](std::uint32_t index, float value) {
                    heard.push_back("set " + std::to_string(index) + " " +
                                    std::to_string(static_cast<int>(value)));
                    if (hostAppliesAtOnce)
                        unit->parameterTree()->parameterWithAddress(index)->setValue(value);
                }};
    }

    // One pointer gesture as the plug-in UI hands it over.
    void gesture(ui::Point from, std::vector<ui::Point> moves) {
        {
            EditorHostSync::UserEdit edit(sync);
            view.pointerDown(from);
        }
        for (const ui::Point p : moves) {
            EditorHostSync::UserEdit edit(sync);
            view.pointerMove(p);
        }
        {
            EditorHostSync::UserEdit edit(sync);
            view.pointerUp(moves.empty() ? from : moves.back());
        }
        sync.endGesture();
    }

    MainThreadQueue queue;
    std::shared_ptr<ThraskVellAudioUnit> unit;
    std::shared_ptr<ThraskVellViewModel> model;
    ui::ThraskVellMainView view;
    EditorHostSync sync;
    Cancellable changes;
    int modelChanges = 0;
    bool hostAppliesAtOnce = false;
    std::vector<std::string> heard;
};

TEST_F(EditorHostSyncTest, AnEditorEditReachesHostAndKernelOnceInsideAGesture) {
    view.panel().toggle(); // the switches live in the advanced panel
    view.layout();
    const ui::Point still = view.knob(2).faceFrame().center();
    gesture(still, {}); // a press without a move changes nothing
    EXPECT_TRUE(heard.empty());
    struct Case {
        const char* name;
        bool hostAppliesAtOnce;
        bool knob;
        std::size_t control;
        const char* identifier;
        float expected;
        std::vector<std::string> heard;
    };
    const Case cases[] = {
        {"sustain drag", false, true, 1, "sustain", 57.0f, {"begin 4", "set 4 57", "end 4"}},
        {"sustain drag, host applies at once",
         true,
         true,
         1,
         "sustain",
         64.0f,
         {"begin 4", "set 4 64", "end 4"}},
        {"bass switch tap", false, false, 1, "bassBoost", 1.0f, {"begin 7", "set 7 1", "end 7"}},
        {"bass switch tap, host applies at once",
         true,
         false,
         1,
         "bassBoost",
         0.0f,
         {"begin 7", "set 7 0", "end 7"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        heard.clear();
        hostAppliesAtOnce = c.hostAppliesAtOnce;
        if (c.knob) {
            const ui::Point face = view.knob(c.control).faceFrame().center();
            gesture(face, {{face.x, face.y - 7.0}});
        } else {
            gesture(view.toggle(c.control).baseFrame().center(), {});
        }
        EXPECT_EQ(heard, c.heard);
        EXPECT_EQ(unit->dspBridge().getParameter(c.identifier), c.expected);
        EXPECT_FALSE(sync.isEditing(4));
        EXPECT_FALSE(sync.isEditing(7));
        // The tree's echo of the edit changes nothing on the main thread.
        modelChanges = 0;
        queue.drain();
        EXPECT_EQ(modelChanges, 0);
    }
}

TEST_F(EditorHostSyncTest, ALongDragIsOneGestureWithEveryValue) {
    const ui::Point face = view.knob(1).faceFrame().center();
    gesture(face, {{face.x, face.y - 2.0}, {face.x, face.y - 4.0}, {face.x, face.y - 4.0}});
    EXPECT_EQ(heard, (std::vector<std::string>{"begin 4", "set 4 52", "set 4 54", "end 4"}));
}

TEST_F(EditorHostSyncTest, HostChangesMoveTheEditorOnceAndAreNeverSentBack) {
    struct Case {
        const char* name;
        bool throughCallback; // the framework's parameter-changed callback, else the plug-in's own write
        bool fromOtherThread;
        bool duringUserEdit;
    };
    const Case cases[] = {
        {"callback", true, false, false},
        {"plug-in write", false, false, false},
        {"automation on the audio thread", false, true, false},
        {"automation while the user presses elsewhere", false, true, true},
    };
    float value = 20.0f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        value += 5.0f;
        heard.clear();
        modelChanges = 0;
        std::optional<EditorHostSync::UserEdit> edit;
        if (c.duringUserEdit) edit.emplace(sync);
        if (c.throughCallback) {
            sync.hostChanged(4, value);
        } else if (c.fromOtherThread) {
            std::thread([&] { unit->parameterTree()->parameterWithAddress(4)->setValue(value); }).join();
        } else {
            unit->parameterTree()->parameterWithAddress(4)->setValue(value);
        }
        edit.reset();
        queue.drain();
        EXPECT_EQ(modelChanges, 1);
        EXPECT_EQ(model->value("sustain"), value);
        EXPECT_EQ(view.knob(1).value(), value);
        EXPECT_EQ(unit->dspBridge().getParameter("sustain"), value);
        EXPECT_TRUE(heard.empty());
    }
}

TEST_F(EditorHostSyncTest, AStaleHostEchoDuringADragIsIgnoredAndBadValuesAreRefused) {
    const ui::Point face = view.knob(1).faceFrame().center();
    {
        EditorHostSync::UserEdit edit(sync);
        view.pointerDown(face);
        view.pointerMove({face.x, face.y - 9.0});
    }
    sync.hostChanged(4, 50.0f); // the host echoing the value from before the drag
    EXPECT_EQ(unit->parameterTree()->valueForKey("sustain")->value(), 59.0f);
    {
        EditorHostSync::UserEdit edit(sync);
        view.pointerUp({face.x, face.y - 9.0});
    }
    sync.endGesture();

    for (const auto& [index, bad] :
         std::vector<std::pair<std::uint32_t, float>>{{4, std::numeric_limits<float>::quiet_NaN()},
                                                      {4, std::numeric_limits<float>::infinity()},
                                                      {12, 10.0f}}) {
        sync.hostChanged(index, bad);
    }
    EXPECT_EQ(unit->parameterTree()->valueForKey("sustain")->value(), 59.0f);
    EXPECT_EQ(heard, (std::vector<std::string>{"begin 4", "set 4 59", "end 4"}));
}

TEST_F(EditorHostSyncTest, HostAutomationOnTheAudioThreadAllocatesNothing) {
    std::atomic<bool> go{false}, done{false};
    std::thread audio([&] {
        while (!go.load())
            std::this_thread::yield();
        const auto tree = unit->parameterTree();
        for (int block = 0; block < 100; ++block)
            for (AUParameterAddress address = 0; address < kParameterCount; ++address)
                tree->parameterWithAddress(address)->setValue(static_cast<float>(block % 100));
        done = true;
    });
    std::size_t allocations = 0;
    {
        test::AllocationScope scope;
        go = true;
        while (!done.load())
            std::this_thread::yield();
        allocations = scope.allocations();
    }
    audio.join();
    EXPECT_EQ(allocations, 0u);
    EXPECT_TRUE(heard.empty());
}

TEST(EditorHostSyncLifetime, DestroyingMidGestureEndsItAndStopsListening) {
    MainThreadQueue queue;
    auto unit = ThraskVellAudioUnit::create().value();
    std::vector<std::string> heard;
    {
        EditorHostSync sync(
            unit->parameterTree(),
            {[&](std::uint32_t i, bool s) { heard.push_back((s ? "begin " : "end ") + std::to_string(i)); },
             [&](std::uint32_t i, float) { heard.push_back("set " + std::to_string(i)); }},
            queue);
        EditorHostSync::UserEdit edit(sync);
        unit->parameterTree()->valueForKey("tone")->setValue(10.0f);
    }
    unit->parameterTree()->valueForKey("tone")->setValue(20.0f);
    EXPECT_EQ(heard, (std::vector<std::string>{"begin 3", "set 3", "end 3"}));
}

} // namespace
} // namespace thraskvell
