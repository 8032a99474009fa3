#include "tests/ui/TestSource.h"
#include "ui/ThraskVellMainView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace thraskvell::ui {
namespace {

struct Pixel {
    int r, g, b;
};

// Renders the editor headlessly and reads back unpremultiplied pixels.
class Render {
public:
    Render(ThraskVellMainView& view, double scale) : scale_(scale) {
        const Size size = view.size();
        surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(size.width * scale),
                                              static_cast<int>(size.height * scale));
        cairo_t* cr = cairo_create(surface_);
        cairo_scale(cr, scale, scale);
        view.draw(cr, scale, 0.0);
        cairo_destroy(cr);
        cairo_surface_flush(surface_);
    }
    ~Render() { cairo_surface_destroy(surface_); }

    Pixel at(Point logical) const {
        const int x = static_cast<int>(std::floor(logical.x * scale_));
        const int y = static_cast<int>(std::floor(logical.y * scale_));
        const unsigned char* data = cairo_image_surface_get_data(surface_);
        const int stride = cairo_image_surface_get_stride(surface_);
        std::uint32_t argb;
        std::memcpy(&argb, data + y * stride + x * 4, 4);
        return {static_cast<int>((argb >> 16) & 0xff), static_cast<int>((argb >> 8) & 0xff),
                static_cast<int>(argb & 0xff)};
    }

private:
    double scale_;
    cairo_surface_t* surface_;
};

void expectNear(Pixel got, Pixel want, int tolerance, const std::string& what) {
    EXPECT_NEAR(got.r, want.r, tolerance) << what;
    EXPECT_NEAR(got.g, want.g, tolerance) << what;
    EXPECT_NEAR(got.b, want.b, tolerance) << what;
}

class RenderTest : public ::testing::Test {
protected:
    RenderTest()
        : source(std::make_shared<test::TestParameterSource>(true)),
          model(ThraskVellViewModel::make(source, queue)), view(model) {}
    MainThreadQueue queue;
    std::shared_ptr<test::TestParameterSource> source;
    std::shared_ptr<ThraskVellViewModel> model;
    ThraskVellMainView view;
};

TEST_F(RenderTest, BackgroundIsTheDarkRedRadialGradient) {
    for (const double scale : {1.0, 2.0}) {
        Render render(view, scale);
        // The corner of 550 × 750 lies 465 points from the centre: 61 % of the way from radius 100 to 700.
        const double t = (std::hypot(275.0, 375.0) - 100.0) / 600.0;
        const Pixel corner{static_cast<int>(std::lround(255 * (0.15 + (0.05 - 0.15) * t))),
                           static_cast<int>(std::lround(255 * (0.02 - 0.02 * t))),
                           static_cast<int>(std::lround(255 * (0.02 - 0.02 * t)))};
        expectNear(render.at({0.5, 0.5}), corner, 3, "top-left corner");
        expectNear(render.at({549.0, 749.0}), corner, 3, "bottom-right corner");
        // Nearer the centre the red is stronger (beside the altar, away from any control).
        EXPECT_GT(render.at({150.0, 460.0}).r, corner.r + 5);
    }
}

TEST_F(RenderTest, TrimPointerIsWhereTheValueSaysAndNowhereElse) {
    const Pixel gold{230, 179, 77};
    const MainViewLayout& L = view.layout();
    const Point face = view.knob(0).faceFrame().center();
    for (const float value : {0.0f, 50.0f, 100.0f}) {
        model->setParameterValue("trim", value);
        Render render(view, 2.0);
        expectNear(render.at(knobPointerCenter(face, value)), gold, 40,
                   "pointer at " + std::to_string(value));
        for (const float other : {0.0f, 50.0f, 100.0f})
            if (other != value) {
                const Pixel p = render.at(knobPointerCenter(face, other));
                EXPECT_LT(p.r, 120) << "no pointer at " << other << " when the value is " << value;
            }
    }
    EXPECT_GT(L.mainKnobs[0].width, 0.0);
}

TEST_F(RenderTest, ANaNFromTheHostDoesNotBlankTheEditor) {
    model->setParameterValue("trim", std::numeric_limits<float>::quiet_NaN());
    model->setParameterValue("sustain", std::numeric_limits<float>::quiet_NaN());
    Render render(view, 1.0);
    const Point face = view.knob(0).faceFrame().center();
    expectNear(render.at(knobPointerCenter(face, 0.0f)), {230, 179, 77}, 40, "pointer drawn at 0");
    EXPECT_GT(render.at(view.layout().altar.center()).r, 40); // the altar is still there
    const Point volume = view.knob(4).faceFrame().center();
    expectNear(render.at(knobPointerCenter(volume, 50.0f)), {230, 179, 77}, 40, "later knobs still drawn");
}

TEST_F(RenderTest, OpenPanelDrawsTheSwitchLeversByState) {
    view.panel().toggle();
    model->setParameterValue("bassBoost", 1.0f);
    Render render(view, 1.0);
    const Point dryBase = view.toggle(0).baseFrame().center();
    const Point bassBase = view.toggle(1).baseFrame().center();
    // The pale lever shows below the centre when off and above it when on.
    EXPECT_GT(render.at({dryBase.x, dryBase.y + 9.0}).r, 120);
    EXPECT_LT(render.at({dryBase.x, dryBase.y - 12.0}).r, 100);
    EXPECT_GT(render.at({bassBase.x, bassBase.y - 12.0}).r, 120);
}

TEST_F(RenderTest, PartialRepaintMatchesAFullOne) {
    // Drag the Trim knob, repaint only what changed, and compare with a fresh full render.
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 550, 750);
    cairo_t* cr = cairo_create(surface);
    view.draw(cr, 1.0, 0.0);
    const Point face = view.knob(0).faceFrame().center();
    view.pointerDown(face);
    view.pointerMove({face.x, face.y - 40.0});
    view.pointerUp({face.x, face.y - 40.0});
    const Rect dirty = view.dirtyRect(0.0);
    EXPECT_GT(dirty.width, 0.0);
    EXPECT_LT(dirty.width * dirty.height, 550.0 * 750.0 / 4.0);
    view.draw(cr, 1.0, 0.0, dirty);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    EXPECT_EQ(view.dirtyRect(0.0).width, 0.0); // nothing left to paint

    Render full(view, 1.0);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    int worst = 0;
    for (int y = 0; y < 750; y += 3)
        for (int x = 0; x < 550; x += 3) {
            const Pixel f = full.at({x + 0.0, y + 0.0});
            const unsigned char* p = data + y * stride + x * 4;
            worst = std::max({worst, std::abs(p[2] - f.r), std::abs(p[1] - f.g), std::abs(p[0] - f.b)});
        }
    cairo_surface_destroy(surface);
    EXPECT_LE(worst, 2);
}

} // namespace
} // namespace thraskvell::ui
