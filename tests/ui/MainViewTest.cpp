#include "tests/ui/Image.h"
#include "tests/ui/TestSource.h"
#include "ui/ThraskVellMainView.h"

#include "dsp/ParameterSpec.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace thraskvell::ui {
namespace {

// The editor on a parameter tree with nothing behind it, as a host embeds it, counting its view model's
// change announcements.
struct Editor {
    explicit Editor(
        Size size = {}, bool open = false,
        std::shared_ptr<test::TestParameterSource> s = std::make_shared<test::TestParameterSource>(true))
        : source(std::move(s)) {
        view.setSize(size), open ? view.panel().toggle() : void();
    }
    AUParameter& tree(const char* identifier) { return *source->tree->valueForKey(identifier); }
    // Presses at the first point, moves through the others and releases at the last.
    void gesture(std::initializer_list<Point> path) {
        view.pointerDown(*path.begin());
        for (const Point p : path)
            view.pointerMove(p);
        view.pointerUp(*(path.end() - 1));
    }
    MainThreadQueue queue;
    std::shared_ptr<test::TestParameterSource> source;
    std::shared_ptr<ThraskVellViewModel> model = ThraskVellViewModel::make(source, queue);
    ThraskVellMainView view{model};
    int announcements = 0;
    Cancellable subscription = model->objectWillChange().sink([this] { ++announcements; });
};

TEST(ViewModel, EditsAreShownAndPublishedAndReachOnlyTheTreesOwnParameters) {
    Editor bare({}, false, std::make_shared<test::TestParameterSource>(false)), w;
    ASSERT_EQ(bare.model->params().size(), kParameterCount); // without a tree, the defaults show and edits
    for (const auto& definition : allParameters())           // only change the display
        EXPECT_EQ(bare.model->value(definition.identifier), definition.defaultValue) << definition.identifier;
    bare.model->setParameterValue("tone", 12.0f);
    EXPECT_TRUE(bare.model->value("tone") == 12.0f && bare.announcements == 1);
    EXPECT_EQ(w.model->value("Trim"), 0.0f); // unknown identifiers read zero and write only the display
    w.model->setParameterValue("wobble", 9.0f);
    EXPECT_EQ(w.model->value("wobble"), 9.0f);
    for (const auto& parameter : w.source->tree->allParameters())
        EXPECT_EQ(parameter->value(), defaultValue(parameter->identifier()).value());
    w.model->setParameterValue("sustain", 73.0f);
    EXPECT_TRUE(w.tree("sustain").value() == 73.0f && w.announcements == 2);
    w.model->setParameterValue("sustain", 73.0f); // every edit is published, even an equal one
    EXPECT_EQ(w.announcements, 3);
}

TEST(ViewModel, HostChangesShowOnTheMainThreadBeyondTheTolerance) {
    using C = std::tuple<float, float, bool>; // value shown, change, whether the change shows
    for (const auto& [base, delta, shown] : {C{50, 0.0005f, false}, C{0, 0.001f, false}, C{0, 0.0011f, true},
                                             C{50, -0.002f, true}, C{50, 25, true}}) {
        SCOPED_TRACE(testing::Message() << base << " + " << delta);
        Editor w;
        w.tree("tone").setValue(base), w.queue.drain(), w.announcements = 0;
        w.tree("tone").setValue(base + delta);
        EXPECT_EQ(w.model->value("tone"), base) << "not before the main thread runs";
        w.queue.drain();
        EXPECT_EQ(w.announcements, shown ? 1 : 0);
        EXPECT_EQ(w.model->value("tone"), shown ? base + delta : base);
    }
}

// In a window of the minimum height and in a taller one: the layout keeps its measures, a press counts where
// it is released and a drag follows the pointer anywhere. The window enlarged, the panel opened, each control
// moved by a drag and then by the host, the panel closed: each change, repainted only where the view says it
// changed, must look like a fresh editor's full drawing of the same state.
class Editing : public ::testing::TestWithParam<double> {};

TEST_P(Editing, LayoutPressesAndPartialRepaintsMatchWhatAFreshEditorShows) {
    const Size size{550, GetParam()};
    Editor e; // a taller window is made so once the editor is shown
    test::Image shown(size);
    e.view.draw(shown.cr(), 1.0, 0.0);
    double now = 0.0;
    auto repaintUntilSettled = [&](const std::string& what, bool partly) {
        SCOPED_TRACE(what);
        int frames = 0;
        for (now += 0.25; e.view.tick(now) && frames < 8; now += 0.25, ++frames) {
            const Rect d = e.view.dirtyRect(now);
            EXPECT_TRUE(!partly || d.width * d.height < size.width * size.height / 2);
            const double x = std::floor(d.x), y = std::floor(d.y); // whole pixels, as hosts repaint
            e.view.draw(shown.cr(), 1.0, now, Rect{x, y, std::ceil(d.maxX()) - x, std::ceil(d.maxY()) - y});
        }
        EXPECT_GT(frames, 0) << "no repaint asked for";
        EXPECT_LT(frames, 8) << "never settles";
        Editor fresh(size, e.view.showAdvanced(), e.source);
        test::Image full(size);
        fresh.view.draw(full.cr(), 1.0, now);
        // Clipping moves the antialiasing of a few pixels along the clip's edges by a few levels; a control
        // or a shadow left as it was differs in far more.
        EXPECT_LE(shown.differences(full, 4), 16);
    };
    // Where the open panel does not fit, the gaps below Trim (20) and below the middle row (30) give way in
    // proportion and nothing is left for the flexible spaces, which otherwise share what is left.
    const double share = Editor().view.layout().topSpace.height;
    auto checkLayout = [&] {
        const MainViewLayout& L = e.view.layout();
        const bool open = e.view.showAdvanced(), squeezed = open && size.height == 750.0;
        const Rect &trim = L.mainKnobs[0], &sustain = L.mainKnobs[1], &blend = L.mainKnobs[3],
                   &volume = L.mainKnobs[4];
        using P = std::pair<double, double>; // as laid out, as meant
        for (const auto& [got, want] :
             {P{L.title.y, 25}, P{L.panel.maxY(), size.height - 25}, P{L.panel.x, 60}, P{L.panel.maxX(), 490},
              P{L.altar.midX(), 275}, P{L.topSpace.height, L.bottomSpace.height},
              P{L.altar.x - sustain.maxX(), 40}, P{volume.x - blend.maxX(), 60},
              P{(L.altar.y - trim.maxY()) / 20, (blend.y - L.altar.maxY()) / 30},
              P{squeezed ? 1.0 : (L.altar.y - trim.maxY()) / 20, 1}, P{squeezed ? L.topSpace.height : 0, 0},
              P{open ? 0 : L.topSpace.height - share, open ? 0 : (size.height - 750) / 2},
              P{L.header.y, L.bottomSpace.maxY()}, P{trim.y, L.topSpace.maxY()},
              P{open ? L.panel.maxY() - L.content.maxY() : 10, 10},
              P{open ? L.panelKnobs[0].y - L.switches[0].maxY() : 20, 20},
              P{open ? L.switches[1].x - L.switches[0].maxX() : 40, 40},
              P{open ? L.panelKnobs[1].x - L.panelKnobs[0].maxX() : 50, 50}})
            EXPECT_NEAR(got, want, 1e-9) << (open ? "open" : "collapsed");
    };
    EXPECT_EQ(Editor({300, 300}).view.size(), kMainViewMinimumSize);
    if (size != e.view.size()) e.view.setSize(size), repaintUntilSettled("window enlarged", false);
    checkLayout();
    auto header = [&] { return e.view.layout().header.center(); };
    e.gesture({Editor(size, true).view.toggle(0).baseFrame().center()}); // collapsed, the switches are not on
    e.model->setParameterValue("gate", 33.0f); // screen; a panel knob's drag starts from the value shown
    e.gesture({header()});                     // when the panel opens
    ASSERT_TRUE(e.view.showAdvanced());
    repaintUntilSettled("panel opened", false);
    checkLayout();

    // Each control, and a caption (which takes no press), pressed and released away from where it went down,
    // then again coming back there: a knob follows the pointer anywhere, one unit per point up, and a switch
    // flips only when released over it; nothing else changes. The view repaints what changed, and again once
    // the host moves the parameter.
    const char* const controls[][2] = {
        {"Trim", "trim"},     {"Sustain", "sustain"}, {"Tone", "tone"},        {"Blend", "blend"},
        {"Volume", "volume"}, {"Gate", "gate"},       {"Thresh", "threshold"}, {"Ratio", "ratio"},
        {"DRY", "dryMode"},   {"BASS", "bassBoost"},  {"ASYM", "asymmetry"},   {"COMP", "dynamicsEnable"}};
    const Rect trim = e.view.knob(0).frame(), comp = e.view.toggle(3).frame();
    std::vector<std::pair<Point, std::size_t>> presses{{{trim.midX(), trim.maxY() - 2}, 12},
                                                       {{comp.midX(), comp.maxY() - 2}, 12}};
    for (std::size_t i = 0; i < 12; ++i)
        presses.push_back(
            {i < 8 ? e.view.knob(i).faceFrame().center() : e.view.toggle(i - 8).baseFrame().center(), i});
    for (const auto& [at, i] : presses) {
        SCOPED_TRACE(i < 12 ? controls[i][0] : "a caption");
        const auto before = e.model->params();
        for (const bool back : {false, true}) {
            e.gesture(back ? std::initializer_list<Point>{at, {at.x + 100, at.y - 20}, at}
                           : std::initializer_list<Point>{at, {at.x + 100, at.y - 20}});
            for (const auto& [id, value] : e.model->params())
                EXPECT_EQ(value, i == 12 || id != controls[i][1] ? before.at(id)
                                 : i < 8                         ? before.at(id) + 20
                                 : back                          ? 1 - before.at(id)
                                                                 : before.at(id))
                    << id << (back ? " after coming back" : " after leaving");
        }
        if (i == 12) continue;
        EXPECT_EQ(i < 8 ? e.view.knob(i).label() : e.view.toggle(i - 8).label(), controls[i][0]);
        repaintUntilSettled("dragged", true);
        AUParameter& parameter = e.tree(controls[i][1]);
        parameter.setValue(i < 8 ? 5.0f : 1.0f - parameter.value());
        e.queue.drain();
        repaintUntilSettled("moved by the host", true);
    }
    e.gesture({header(), {header().x + 100, header().y - 20}});
    EXPECT_TRUE(e.view.showAdvanced()) << "the header took a release away from it";
    e.gesture({header()});
    repaintUntilSettled("panel closed", false);
}

INSTANTIATE_TEST_SUITE_P(MainView, Editing, ::testing::Values(750.0, 1000.0));

} // namespace
} // namespace thraskvell::ui
