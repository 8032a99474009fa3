#include "tests/ui/Image.h"
#include "tests/ui/TestSource.h"
#include "ui/ThraskVellMainView.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <tuple>
#include <utility>

namespace thraskvell::ui {
namespace {

// The editor on a parameter tree with nothing behind it, as a host embeds it.
struct Editor {
    explicit Editor(
        Size size = kMainViewMinimumSize, bool open = false,
        std::shared_ptr<test::TestParameterSource> s = std::make_shared<test::TestParameterSource>(true))
        : source(std::move(s)), model(ThraskVellViewModel::make(source, queue)), view(model) {
        view.setSize(size);
        if (open) view.panel().toggle();
    }
    // Presses at the first point, moves through the others and releases at the last.
    void gesture(std::initializer_list<Point> path) {
        view.pointerDown(*path.begin());
        for (const Point p : path)
            view.pointerMove(p);
        view.pointerUp(*(path.end() - 1));
    }

    MainThreadQueue queue;
    std::shared_ptr<test::TestParameterSource> source;
    std::shared_ptr<ThraskVellViewModel> model;
    ThraskVellMainView view;
};

TEST(MainView, TitleAndPanelKeepToTheEdgesAndTheRowsShareTheExtraHeight) {
    const auto source = std::make_shared<test::TestParameterSource>(true);
    EXPECT_EQ(Editor({300, 300}, false, source).view.size(), kMainViewMinimumSize);
    double shareAt750 = 0;
    for (const bool open : {false, true})
        for (const double height : {750.0, 1000.0}) {
            Editor e({550, height}, open, source);
            const MainViewLayout& L = e.view.layout();
            const Rect &trim = L.mainKnobs[0], &sustain = L.mainKnobs[1], &blend = L.mainKnobs[3],
                       &volume = L.mainKnobs[4];
            // Where the open panel does not fit, the gaps below Trim (20) and below the middle row (30) give
            // way in proportion and nothing is left for the flexible spaces.
            const bool squeezed = open && height == 750.0;
            using P = std::pair<double, double>; // as laid out, as meant
            for (const auto& [got, want] :
                 {P{L.title.y, 25}, P{L.panel.maxY(), height - 25}, P{L.panel.x, 60}, P{L.panel.maxX(), 490},
                  P{L.altar.midX(), 275}, P{L.topSpace.height, L.bottomSpace.height},
                  P{L.altar.x - sustain.maxX(), 40}, P{volume.x - blend.maxX(), 60},
                  P{(L.altar.y - trim.maxY()) / 20, (blend.y - L.altar.maxY()) / 30},
                  P{squeezed ? 1.0 : (L.altar.y - trim.maxY()) / 20, 1},
                  P{squeezed ? L.topSpace.height : 0, 0}, P{L.header.y, L.bottomSpace.maxY()},
                  P{trim.y, L.topSpace.maxY()}, P{open ? L.panel.maxY() - L.content.maxY() : 10, 10},
                  P{open ? L.panelKnobs[0].y - L.switches[0].maxY() : 20, 20},
                  P{open ? L.switches[1].x - L.switches[0].maxX() : 40, 40},
                  P{open ? L.panelKnobs[1].x - L.panelKnobs[0].maxX() : 50, 50}})
                EXPECT_NEAR(got, want, 1e-9) << (open ? "open, " : "collapsed, ") << height;
            if (open) continue;
            if (height == 750.0) shareAt750 = L.topSpace.height;
            EXPECT_NEAR(L.topSpace.height - shareAt750, height == 750.0 ? 0.0 : 125.0, 1e-9);
        }
}

TEST(MainView, APressCountsWhereItIsReleasedAndADragFollowsThePointerAnywhere) {
    Editor e;
    e.view.panel().toggle();
    const Point dry = e.view.toggle(0).baseFrame().center();
    e.view.panel().toggle();
    e.gesture({dry}); // collapsed, the switches are not on screen
    e.model->setParameterValue("gate", 33.0f);
    e.gesture({e.view.layout().header.center()});
    ASSERT_TRUE(e.view.showAdvanced());

    auto value = [&](const char* identifier) {
        return [&e, identifier] { return e.model->value(identifier); };
    };
    const Rect trim = e.view.knob(0).frame(), comp = e.view.toggle(3).frame();
    // Where the press lands, what it changes, and that value after releasing away from where it went
    // down and after coming back there. A panel knob's drag starts from the value shown when it opened.
    using Case = std::tuple<Point, std::function<float()>, float, float>;
    for (const auto& [at, read, afterLeaving, afterReturning] :
         {Case{e.view.knob(0).faceFrame().center(), value("trim"), 70, 70},
          Case{{trim.midX(), trim.maxY() - 2}, value("trim"), 70, 70},
          Case{e.view.knob(5).faceFrame().center(), value("gate"), 53, 53}, Case{dry, value("dryMode"), 0, 1},
          Case{{comp.midX(), comp.maxY() - 2}, value("dynamicsEnable"), 0, 0},
          Case{e.view.layout().header.center(), [&] { return e.view.showAdvanced() ? 1.0f : 0.0f; }, 1, 0}}) {
        const Point away{at.x + 100, at.y - 20};
        e.gesture({at, away});
        EXPECT_EQ(read(), afterLeaving) << at.x << ", " << at.y;
        e.gesture({at, away, at});
        EXPECT_EQ(read(), afterReturning) << at.x << ", " << at.y;
    }
}

// The window enlarged, the panel opened, every control moved by a drag and then by the host, the panel
// closed, in a window of the minimum height and in a taller one: each change, repainted only where the view
// says it changed, must look like a fresh editor's full drawing of the same state.
class Repaint : public ::testing::TestWithParam<double> {};

TEST_P(Repaint, ChangedRegionsRepaintToWhatAFreshEditorDraws) {
    const Size size{550, GetParam()};
    Editor e({550, 750}); // a taller window is made so once the editor is shown
    test::Image shown(size);
    e.view.draw(shown.cr(), 1.0, 0.0);
    double now = 0.0;
    auto repaintUntilSettled = [&](const std::string& what, bool partly) {
        int frames = 0;
        for (now += 0.25; e.view.tick(now) && frames < 8; now += 0.25, ++frames) {
            const Rect d = e.view.dirtyRect(now);
            EXPECT_TRUE(!partly || d.width * d.height < size.width * size.height / 2) << what;
            const double x = std::floor(d.x), y = std::floor(d.y); // whole pixels, as hosts repaint
            e.view.draw(shown.cr(), 1.0, now, Rect{x, y, std::ceil(d.maxX()) - x, std::ceil(d.maxY()) - y});
        }
        EXPECT_GT(frames, 0) << what << ": no repaint asked for";
        EXPECT_LT(frames, 8) << what << ": never settles";
        Editor fresh(size, e.view.showAdvanced(), e.source);
        test::Image full(size);
        fresh.view.draw(full.cr(), 1.0, now);
        // Clipping moves the antialiasing of a few pixels along the clip's edges by a few levels; a
        // control or a shadow left as it was differs in far more.
        EXPECT_LE(shown.differences(full, 4), 16) << what;
    };
    if (size != e.view.size()) {
        e.view.setSize(size);
        repaintUntilSettled("window enlarged", false);
    }
    e.gesture({e.view.layout().header.center()});
    repaintUntilSettled("panel opened", false);
    using Control =
        std::tuple<const char*, const char*, std::size_t, bool>; // caption, identifier, index, knob
    for (const auto& [caption, identifier, index, knob] :
         {Control{"Trim", "trim", 0, true}, Control{"Sustain", "sustain", 1, true},
          Control{"Tone", "tone", 2, true}, Control{"Blend", "blend", 3, true},
          Control{"Volume", "volume", 4, true}, Control{"Gate", "gate", 5, true},
          Control{"Thresh", "threshold", 6, true}, Control{"Ratio", "ratio", 7, true},
          Control{"DRY", "dryMode", 0, false}, Control{"BASS", "bassBoost", 1, false},
          Control{"ASYM", "asymmetry", 2, false}, Control{"COMP", "dynamicsEnable", 3, false}}) {
        const auto before = e.model->params();
        const Point at =
            knob ? e.view.knob(index).faceFrame().center() : e.view.toggle(index).baseFrame().center();
        EXPECT_EQ(knob ? e.view.knob(index).label() : e.view.toggle(index).label(), caption);
        e.gesture({at, {at.x, at.y - (knob ? 30 : 0)}});
        const float changed = knob ? before.at(identifier) + 30 : 1;
        for (const auto& [id, value] : e.model->params())
            EXPECT_EQ(value, id == identifier ? changed : before.at(id)) << caption << ", " << id;
        const auto parameter = e.source->parameterTree()->valueForKey(identifier);
        EXPECT_EQ(parameter->value(), e.model->value(identifier)) << caption;
        repaintUntilSettled(std::string(caption) + " dragged", true);

        parameter->setValue(knob ? 5.0f : 0.0f);
        e.queue.drain();
        repaintUntilSettled(std::string(caption) + " moved by the host", true);
    }
    e.gesture({e.view.layout().header.center()});
    repaintUntilSettled("panel closed", false);
}

INSTANTIATE_TEST_SUITE_P(MainView, Repaint, ::testing::Values(750.0, 1000.0));

} // namespace
} // namespace thraskvell::ui
