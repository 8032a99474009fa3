#include "tests/ui/TestSource.h"
#include "ui/ThraskVellMainView.h"

#include <gtest/gtest.h>

namespace thraskvell::ui {
namespace {

class MainViewTest : public ::testing::Test {
protected:
    MainViewTest()
        : source(std::make_shared<test::TestParameterSource>(true)),
          model(ThraskVellViewModel::make(source, queue)), view(model) {}

    void tap(Point p) {
        view.pointerDown(p);
        view.pointerUp(p);
    }
    void tapHeader() { tap(view.layout().header.center()); }

    MainThreadQueue queue;
    std::shared_ptr<test::TestParameterSource> source;
    std::shared_ptr<ThraskVellViewModel> model;
    ThraskVellMainView view;
};

TEST_F(MainViewTest, ColumnKeepsTitleAndPanelAtTheEdgesAndSharesTheExtraHeight) {
    for (const double height : {750.0, 900.0, 1400.0}) {
        view.setSize({550, height});
        const MainViewLayout& L = view.layout();
        EXPECT_DOUBLE_EQ(L.title.y, 25.0) << height;
        EXPECT_DOUBLE_EQ(L.panel.maxY(), height - 25.0) << height;
        EXPECT_DOUBLE_EQ(L.panel.x, 60.0);
        EXPECT_DOUBLE_EQ(L.panel.maxX(), 550.0 - 60.0);
        EXPECT_NEAR(L.topSpace.height, L.bottomSpace.height, 1e-9) << height;
        EXPECT_GT(L.topSpace.height, 0.0);
        // Fixed gaps: 20 below Trim, 30 below the middle row; the rows stack without other spacing.
        EXPECT_NEAR(L.mainKnobs[1].center().y, L.altar.center().y, 1e-9);
        EXPECT_NEAR(L.altar.y - L.mainKnobs[0].maxY(), 20.0, 1e-9);
        EXPECT_NEAR(std::min(L.mainKnobs[3].y, L.mainKnobs[4].y) - L.altar.maxY(), 30.0, 1e-9);
        EXPECT_DOUBLE_EQ(L.topSpace.y, L.title.maxY());
        EXPECT_DOUBLE_EQ(L.bottomSpace.maxY(), L.panel.y);
        // Everything is centred horizontally; the middle row is spaced 40 and the lower row 60.
        EXPECT_DOUBLE_EQ(L.title.midX(), 275.0);
        EXPECT_DOUBLE_EQ(L.altar.midX(), 275.0);
        EXPECT_DOUBLE_EQ(L.mainKnobs[0].midX(), 275.0);
        EXPECT_DOUBLE_EQ(L.altar.x - L.mainKnobs[1].maxX(), 40.0);
        EXPECT_DOUBLE_EQ(L.mainKnobs[2].x - L.altar.maxX(), 40.0);
        EXPECT_DOUBLE_EQ(L.mainKnobs[4].x - L.mainKnobs[3].maxX(), 60.0);
        EXPECT_EQ(L.altar.size(), kAltarFrameSize);
    }
    view.setSize({550, 750});
    const double shareAt750 = view.layout().topSpace.height;
    view.setSize({550, 1000});
    EXPECT_NEAR(view.layout().topSpace.height - shareAt750, 125.0, 1e-9);
}

TEST_F(MainViewTest, WindowNeverLaysOutBelowTheMinimumSize) {
    view.setSize({300, 300});
    EXPECT_EQ(view.size(), kMainViewMinimumSize);
}

TEST_F(MainViewTest, OpenPanelFitsTheMinimumWindow) {
    tapHeader();
    const MainViewLayout& L = view.layout();
    EXPECT_DOUBLE_EQ(L.title.y, 25.0);
    EXPECT_NEAR(L.panel.maxY(), 750.0 - 25.0, 1e-9);
    EXPECT_GE(L.mainKnobs[0].y, L.title.maxY());
    EXPECT_GE(L.altar.y, L.mainKnobs[0].maxY());
    EXPECT_GE(L.header.y, std::max(L.mainKnobs[3].maxY(), L.mainKnobs[4].maxY()));
    // Content: switch row above knob row, 20 apart, inside the box.
    for (const Rect& s : L.switches) {
        EXPECT_GE(s.x, L.content.x);
        EXPECT_LE(s.maxX(), L.content.maxX());
        EXPECT_NEAR(L.panelKnobs[0].y - s.maxY(), 20.0, 1e-9);
    }
    EXPECT_NEAR(L.switches[1].x - L.switches[0].maxX(), 40.0, 1e-9);
    EXPECT_NEAR(L.panelKnobs[1].x - L.panelKnobs[0].maxX(), 50.0, 1e-9);
    EXPECT_NEAR(L.panel.maxY() - L.content.maxY(), 10.0, 1e-9);
}

TEST_F(MainViewTest, PanelIsCollapsedUntilTheHeaderIsActivated) {
    EXPECT_FALSE(view.showAdvanced());
    EXPECT_EQ(view.layout().content.height, 0.0);
    const double collapsedHeight = view.layout().panel.height;

    // Collapsed, the switches are not on screen: a tap where DRY would be does nothing.
    tapHeader();
    ASSERT_TRUE(view.showAdvanced());
    const Point dry = view.toggle(0).baseFrame().center();
    EXPECT_GT(view.layout().panel.height, collapsedHeight);
    tapHeader();
    EXPECT_FALSE(view.showAdvanced());
    tap(dry);
    EXPECT_EQ(model->value("dryMode"), 0.0f);
    EXPECT_EQ(view.layout().panel.height, collapsedHeight);
}

TEST_F(MainViewTest, EachControlEditsItsOwnParameter) {
    tapHeader();
    struct KnobCase {
        std::size_t index;
        const char* caption;
        const char* identifier;
    };
    for (const KnobCase c :
         {KnobCase{0, "Trim", "trim"}, KnobCase{1, "Sustain", "sustain"}, KnobCase{2, "Tone", "tone"},
          KnobCase{3, "Blend", "blend"}, KnobCase{4, "Volume", "volume"}, KnobCase{5, "Gate", "gate"},
          KnobCase{6, "Thresh", "threshold"}, KnobCase{7, "Ratio", "ratio"}}) {
        const auto before = model->params();
        const Point face = view.knob(c.index).faceFrame().center();
        EXPECT_EQ(view.knob(c.index).label(), c.caption);
        view.pointerDown(face);
        view.pointerMove({face.x, face.y - 7.0});
        view.pointerUp({face.x, face.y - 7.0});
        for (const auto& [identifier, value] : model->params()) {
            const float expected =
                identifier == c.identifier ? before.at(identifier) + 7.0f : before.at(identifier);
            EXPECT_EQ(value, expected) << c.caption << " / " << identifier;
        }
        EXPECT_EQ(source->parameterTree()->valueForKey(c.identifier)->value(), model->value(c.identifier));
    }
    struct ToggleCase {
        std::size_t index;
        const char* caption;
        const char* identifier;
    };
    for (const ToggleCase c : {ToggleCase{0, "DRY", "dryMode"}, ToggleCase{1, "BASS", "bassBoost"},
                               ToggleCase{2, "ASYM", "asymmetry"}, ToggleCase{3, "COMP", "dynamicsEnable"}}) {
        EXPECT_EQ(view.toggle(c.index).label(), c.caption);
        tap(view.toggle(c.index).baseFrame().center());
        EXPECT_EQ(model->value(c.identifier), 1.0f) << c.caption;
        EXPECT_EQ(source->parameterTree()->valueForKey(c.identifier)->value(), 1.0f) << c.caption;
    }
}

TEST_F(MainViewTest, HostChangesReachControlsAndAltar) {
    source->parameterTree()->valueForKey("sustain")->setValue(100.0f);
    source->parameterTree()->valueForKey("bassBoost")->setValue(1.0f);
    queue.drain();
    EXPECT_EQ(view.knob(1).value(), 100.0f);
    view.altar().update(1.0);
    EXPECT_EQ(view.altar().appearanceAt(5.0).glowOpacity, 1.0);
    EXPECT_EQ(view.altar().appearanceAt(5.0).shadow.radius, 20.0);
}

TEST_F(MainViewTest, FrameClockAsksForFramesOnlyWhileSomethingChanges) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 550, 750);
    cairo_t* cr = cairo_create(surface);
    EXPECT_TRUE(view.tick(0.0)); // nothing drawn yet
    view.draw(cr, 1.0, 0.0);
    EXPECT_FALSE(view.tick(0.1));

    model->setParameterValue("asymmetry", 1.0f); // the shade fades in over 0.4 s
    EXPECT_TRUE(view.tick(1.0));
    const Rect dirty = view.dirtyRect(1.0);
    EXPECT_TRUE(dirty.intersects(view.layout().altar));
    EXPECT_FALSE(dirty.intersects(view.layout().title));
    double now = 1.0;
    int frames = 0;
    while (view.tick(now) && frames < 100) {
        view.draw(cr, 1.0, now, view.dirtyRect(now));
        now += 1.0 / 60.0;
        ++frames;
    }
    EXPECT_NEAR(frames, 0.4 * 60, 2); // one frame per tick for the length of the ease-in-out
    EXPECT_EQ(view.altar().appearanceAt(now).shadeOpacity, 1.0);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

TEST_F(MainViewTest, PanelKnobsTakeTheBoundValueAsAnchorEachTimeTheyAppear) {
    model->setParameterValue("gate", 33.0f);
    tapHeader();
    EXPECT_EQ(view.knob(5).dragLastValue(), 33.0f);
    tapHeader();
    model->setParameterValue("gate", 66.0f);
    tapHeader();
    EXPECT_EQ(view.knob(5).dragLastValue(), 66.0f);
}

} // namespace
} // namespace thraskvell::ui
