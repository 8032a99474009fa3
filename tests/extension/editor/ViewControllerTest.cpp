#include "extension/AudioUnitViewController.h"

#include <gtest/gtest.h>

#include <cairo.h>

namespace thraskvell {
namespace {

const ui::Rect kEditorFrame{0.0, 0.0, 550.0, 750.0};

struct ControllerCase {
    const char* name;
    bool viaCoder;
    bool loadViewFirst;
};

class ViewControllerTest : public ::testing::TestWithParam<ControllerCase> {
protected:
    std::shared_ptr<AudioUnitViewController> make(AudioUnitViewController::UnitMaker maker = {}) {
        auto controller = GetParam().viaCoder
                              ? AudioUnitViewController::initWithCoder({}, queue, std::move(maker))
                              : AudioUnitViewController::initWithNibName("", "", queue, std::move(maker));
        if (GetParam().loadViewFirst) controller->view();
        return controller;
    }
    MainThreadQueue queue;
};

TEST_P(ViewControllerTest, TheFactoryKeepsTheUnitAndWiresOneEditorOnlyOnTheMainQueue) {
    auto controller = make();
    NSError error{"untouched", 1, ""};
    auto result =
        controller->createAudioUnitWithComponentDescription(kThraskVellComponentDescription, &error);
    ASSERT_TRUE(result);
    EXPECT_EQ(error.domain, "untouched");
    EXPECT_EQ(result.value(), controller->audioUnit());
    EditorView& root = controller->view();
    EXPECT_EQ(root.frame(), kEditorFrame);
    EXPECT_EQ(controller->preferredContentSize(), kEditorFrame.size());
    EXPECT_TRUE(root.subviews().empty()) << "wired before the main queue ran";

    EXPECT_EQ(queue.drain(), 1u);
    ASSERT_EQ(root.subviews().size(), 1u);
    ASSERT_EQ(root.subviews()[0], controller->hostingView());
    EXPECT_EQ(controller->viewModel()->parameterSource(), controller->audioUnit());
    EXPECT_FALSE(controller->hostingView()->rootView().showAdvanced());
    // Pinned on all four edges, the editor follows the root view.
    root.setFrame({0.0, 0.0, 640.0, 900.0});
    EXPECT_EQ(controller->hostingView()->frame(), (ui::Rect{0.0, 0.0, 640.0, 900.0}));

    // A second unit replaces the editor instead of stacking one.
    auto second =
        controller->createAudioUnitWithComponentDescription(kThraskVellComponentDescription).value();
    queue.drain();
    EXPECT_EQ(root.subviews().size(), 1u);
    EXPECT_EQ(root.constraints().size(), 4u);
    EXPECT_EQ(controller->viewModel()->parameterSource(), second);
}

TEST_P(ViewControllerTest, AFailedCreationAddsNoEditorAndKeepsTheEarlierUnit) {
    const NSError failure{NSOSStatusErrorDomain, kAudioUnitErr_FailedInitialization, "no bus"};
    int calls = 0;
    const bool succeedFirst = GetParam().loadViewFirst; // both orders of success and failure
    auto controller =
        make([&](const AudioComponentDescription& d) -> NSResult<std::shared_ptr<ThraskVellAudioUnit>> {
            if (calls++ == 0 && succeedFirst) return ThraskVellAudioUnit::create(d);
            return failure;
        });
    std::shared_ptr<ThraskVellAudioUnit> earlier;
    if (succeedFirst)
        earlier =
            controller->createAudioUnitWithComponentDescription(kThraskVellComponentDescription).value();
    queue.drain();
    NSError slot;
    auto result = controller->createAudioUnitWithComponentDescription(kThraskVellComponentDescription, &slot);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), failure);
    EXPECT_EQ(slot, failure);
    EXPECT_EQ(controller->audioUnit(), earlier);
    EXPECT_EQ(queue.drain(), 0u);
    EXPECT_EQ(controller->view().subviews().size(), succeedFirst ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(CreationPaths, ViewControllerTest,
                         ::testing::Values(ControllerCase{"nib", false, false},
                                           ControllerCase{"nibLoaded", false, true},
                                           ControllerCase{"coder", true, false},
                                           ControllerCase{"coderLoaded", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ViewControllerLifetime, TheQueuedConnectionKeepsTheControllerUntilItRuns) {
    MainThreadQueue queue;
    auto controller = AudioUnitViewController::initWithNibName("", "", queue);
    ASSERT_TRUE(controller->createAudioUnitWithComponentDescription(kThraskVellComponentDescription));
    std::weak_ptr<AudioUnitViewController> weak = controller;
    std::weak_ptr<ThraskVellAudioUnit> unit = controller->audioUnit();
    controller.reset();
    EXPECT_FALSE(weak.expired());
    queue.drain();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(unit.expired());
}

TEST(ViewControllerDrawing, TheRootViewPaintsTheEditorAndForwardsADragToTheUnit) {
    MainThreadQueue queue;
    auto controller = AudioUnitViewController::initWithNibName("", "", queue);
    auto unit = controller->createAudioUnitWithComponentDescription(kThraskVellComponentDescription).value();
    queue.drain();
    EditorView& root = controller->view();

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 550, 750);
    cairo_t* cr = cairo_create(surface);
    EXPECT_EQ(root.dirtyRect(0.0), kEditorFrame);
    root.draw(cr, 1.0, 0.0, std::nullopt);
    cairo_surface_flush(surface);
    // The backdrop near a corner is a dark red: red well above green and blue.
    const auto* pixels = cairo_image_surface_get_data(surface);
    const std::uint32_t corner =
        *reinterpret_cast<const std::uint32_t*>(pixels + 5 * cairo_image_surface_get_stride(surface) + 5 * 4);
    const int r = (corner >> 16) & 0xff, g = (corner >> 8) & 0xff, b = corner & 0xff;
    EXPECT_GT(r, g + 5);
    EXPECT_GT(r, b + 5);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);

    const ui::Point face = controller->hostingView()->rootView().knob(1).faceFrame().center();
    const float before = unit->parameterTree()->valueForKey("sustain")->value();
    root.pointerDown(face);
    root.pointerMove({face.x, face.y - 10.0});
    root.pointerUp({face.x, face.y - 10.0});
    EXPECT_EQ(unit->parameterTree()->valueForKey("sustain")->value(), before + 10.0f);
    EXPECT_EQ(unit->dspBridge().getParameter("sustain"), before + 10.0f);
}

} // namespace
} // namespace thraskvell
