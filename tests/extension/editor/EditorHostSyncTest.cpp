#include "extension/EditorHostSync.h"
#include "extension/ThraskVellAudioUnit.h"
#include "tests/support/AllocationCounter.h"
#include "ui/ThraskVellMainView.h"
#include "ui/ThraskVellViewModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace thraskvell {
namespace {

using Heard = std::vector<std::string>; // what a host hears, in order: "begin 4", "set 4 57", "end 4"

EditorHostSync::Host recordingHost(Heard& heard, std::function<void(std::uint32_t, float)> apply = {}) {
    return {[&heard](std::uint32_t i, bool started) {
                heard.push_back((started ? "begin " : "end ") + std::to_string(i));
            },
            [&heard, apply](std::uint32_t i, float value) {
                heard.push_back("set " + std::to_string(i) + " " + std::to_string(static_cast<int>(value)));
                if (apply) apply(i, value);
            }};
}

class EditorHostSyncTest : public ::testing::Test {
protected:
    EditorHostSyncTest() {
        changes = model->objectWillChange().sink([this] { ++modelChanges; });
        view.panel().toggle(); // the switches live in the advanced panel
        view.layout();
    }
    // One pointer gesture as the plug-in UI hands it over: press, moves `dy` up, release.
    void gesture(ui::Point from, const std::vector<double>& dys) {
        ui::Point at = from;
        {
            EditorHostSync::UserEdit edit(sync);
            view.pointerDown(from);
        }
        for (const double dy : dys) {
            EditorHostSync::UserEdit edit(sync);
            view.pointerMove(at = {from.x, from.y - dy});
        }
        {
            EditorHostSync::UserEdit edit(sync);
            view.pointerUp(at);
        }
        sync.endGesture();
    }

    MainThreadQueue queue;
    std::shared_ptr<ThraskVellAudioUnit> unit = ThraskVellAudioUnit::create().value();
    std::shared_ptr<ThraskVellViewModel> model = ThraskVellViewModel::make(unit, queue);
    ui::ThraskVellMainView view{model};
    bool hostAppliesAtOnce = false;
    Heard heard;
    EditorHostSync sync{unit->parameterTree(),
                        recordingHost(heard,
                                      [this](std::uint32_t i, float v) {
                                          if (hostAppliesAtOnce)
                                              unit->parameterTree()->parameterWithAddress(i)->setValue(v);
                                      }),
                        queue};
    Cancellable changes;
    int modelChanges = 0;
};

TEST_F(EditorHostSyncTest, AnEditorEditReachesHostAndKernelOnceInsideAGesture) {
    const ui::Point tone = view.knob(2).faceFrame().center(), sustain = view.knob(1).faceFrame().center(),
                    bass = view.toggle(1).baseFrame().center();
    const struct {
        const char* name;
        bool hostAppliesAtOnce;
        ui::Point at;
        std::vector<double> dys;
        const char* identifier;
        float expected;
        Heard heard;
    } cases[] = {
        {"a press without a move", false, tone, {}, "tone", 50.0f, {}},
        {"sustain drag", false, sustain, {7}, "sustain", 57.0f, {"begin 4", "set 4 57", "end 4"}},
        {"host applies at once", true, sustain, {7}, "sustain", 64.0f, {"begin 4", "set 4 64", "end 4"}},
        {"long drag",
         false,
         sustain,
         {2, 4, 4},
         "sustain",
         68.0f,
         {"begin 4", "set 4 66", "set 4 68", "end 4"}},
        {"bass switch tap", false, bass, {}, "bassBoost", 1.0f, {"begin 7", "set 7 1", "end 7"}},
        {"tap, host applies at once", true, bass, {}, "bassBoost", 0.0f, {"begin 7", "set 7 0", "end 7"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        heard.clear();
        hostAppliesAtOnce = c.hostAppliesAtOnce;
        gesture(c.at, c.dys);
        EXPECT_EQ(heard, c.heard);
        EXPECT_EQ(unit->dspBridge().getParameter(c.identifier), c.expected);
        EXPECT_FALSE(sync.isEditing(4) || sync.isEditing(7));
        modelChanges = 0;
        queue.drain();
        EXPECT_EQ(modelChanges, 0) << "the tree's echo of the edit changed the model";
    }
}

TEST_F(EditorHostSyncTest, HostChangesMoveTheEditorOnceAndAreNeverSentBack) {
    enum From { callback, pluginWrite, audioThread, audioThreadDuringAnEdit };
    float value = 20.0f;
    for (const From from : {callback, pluginWrite, audioThread, audioThreadDuringAnEdit}) {
        SCOPED_TRACE(from);
        value += 5.0f;
        heard.clear();
        modelChanges = 0;
        std::optional<EditorHostSync::UserEdit> edit; // the user pressing elsewhere
        if (from == audioThreadDuringAnEdit) edit.emplace(sync);
        const auto write = [&] { unit->parameterTree()->parameterWithAddress(4)->setValue(value); };
        if (from == callback) sync.hostChanged(4, value);
        if (from == pluginWrite) write();
        if (from >= audioThread) std::thread(write).join();
        edit.reset();
        queue.drain();
        EXPECT_EQ(modelChanges, 1);
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
    sync.hostChanged(4, std::numeric_limits<float>::quiet_NaN());
    sync.hostChanged(4, std::numeric_limits<float>::infinity());
    sync.hostChanged(12, 10.0f);
    EXPECT_EQ(unit->parameterTree()->valueForKey("sustain")->value(), 59.0f);
    EXPECT_EQ(heard, (Heard{"begin 4", "set 4 59", "end 4"}));
}

TEST_F(EditorHostSyncTest, HostAutomationOnTheAudioThreadAllocatesNothingWithTheEditorAttached) {
    // Each side waits ten seconds at most and stops as soon as the other has given up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::atomic<bool> go{false}, done{false}, gaveUp{false};
    std::thread audio([&] {
        while (!go && !gaveUp && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        for (int block = 0; block < 100 && go; ++block)
            for (AUParameterAddress address = 0; address < kParameterCount; ++address)
                unit->parameterTree()->parameterWithAddress(address)->setValue(static_cast<float>(block));
        done = true;
    });
    std::size_t allocations = 0;
    {
        test::AllocationScope scope;
        go = true;
        while (!done && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        allocations = scope.allocations();
    }
    gaveUp = true;
    audio.join();
    ASSERT_TRUE(done) << "the audio thread did not finish in ten seconds";
    EXPECT_EQ(allocations, 0u);
    EXPECT_TRUE(heard.empty());
}

TEST(EditorHostSyncLifetime, DestroyingMidGestureEndsItAndStopsListening) {
    MainThreadQueue queue;
    auto unit = ThraskVellAudioUnit::create().value();
    Heard heard;
    {
        EditorHostSync sync(unit->parameterTree(), recordingHost(heard), queue);
        EditorHostSync::UserEdit edit(sync);
        unit->parameterTree()->valueForKey("tone")->setValue(10.0f);
    }
    unit->parameterTree()->valueForKey("tone")->setValue(20.0f);
    EXPECT_EQ(heard, (Heard{"begin 3", "set 3 10", "end 3"}));
}

} // namespace
} // namespace thraskvell
