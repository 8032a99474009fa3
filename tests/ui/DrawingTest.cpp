#include "ui/Canvas.h"
#include "ui/Layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace thraskvell::ui {
namespace {

struct A8 {
    explicit A8(int w, int h) : surface(cairo_image_surface_create(CAIRO_FORMAT_A8, w, h)) {}
    ~A8() { cairo_surface_destroy(surface); }
    int at(int x, int y) {
        cairo_surface_flush(surface);
        return cairo_image_surface_get_data(surface)[y * cairo_image_surface_get_stride(surface) + x];
    }
    cairo_surface_t* surface;
};

TEST(Blur, SpreadsAnImpulseLikeAGaussianAndKeepsItsMass) {
    for (const double sigma : {2.0, 4.0, 6.0}) {
        A8 img(121, 121);
        cairo_surface_flush(img.surface);
        // A 5 × 5 block keeps quantisation small; its own variance is (25 - 1) / 12 = 2 per axis.
        for (int y = 58; y < 63; ++y)
            for (int x = 58; x < 63; ++x)
                cairo_image_surface_get_data(
                    img.surface)[y * cairo_image_surface_get_stride(img.surface) + x] = 255;
        cairo_surface_mark_dirty(img.surface);
        gaussianBlur(img.surface, sigma);
        double mass = 0, mx = 0, vx = 0, vy = 0;
        for (int y = 0; y < 121; ++y)
            for (int x = 0; x < 121; ++x) {
                const double a = img.at(x, y);
                mass += a;
                mx += a * x;
                vx += a * (x - 60) * (x - 60);
                vy += a * (y - 60) * (y - 60);
            }
        EXPECT_NEAR(mass, 25 * 255.0, 25 * 255.0 * 0.05) << sigma;
        EXPECT_NEAR(mx / mass, 60.0, 0.05) << sigma;
        EXPECT_NEAR(vx / mass - 2.0, sigma * sigma, sigma * sigma * 0.25) << sigma;
        EXPECT_NEAR(vy / mass, vx / mass, 0.05 * sigma * sigma) << sigma;
        // Bell-shaped: the centre is the peak and values fall off monotonically.
        EXPECT_GT(img.at(60, 60), img.at(60 + static_cast<int>(sigma), 60));
        EXPECT_GT(img.at(60 + static_cast<int>(sigma), 60), img.at(60 + static_cast<int>(3 * sigma), 60));
    }
}

TEST(ShadowCache, OffsetsTheBlurredSilhouetteAndReusesIt) {
    ShadowCache cache;
    A8 img(100, 100);
    cairo_t* cr = cairo_create(img.surface);
    const Rect circle{30, 20, 40, 40};
    auto shape = [](cairo_t* m) {
        pathCircle(m, {0, 0, 40, 40});
        cairo_fill(m);
    };
    cache.draw(cr, "circle", circle, {{0, 0, 0, 1}, 6.0, 0.0, 10.0}, 1.0, shape);
    cache.draw(cr, "circle", circle, {{0, 0, 0, 1}, 6.0, 0.0, 10.0}, 1.0, shape);
    EXPECT_EQ(cache.size(), 1u);
    cairo_destroy(cr);
    double mass = 0, my = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            mass += img.at(x, y);
            my += img.at(x, y) * (y + 0.5);
        }
    EXPECT_NEAR(my / mass, circle.midY() + 10.0, 0.5);
    EXPECT_EQ(img.at(50, 50), 255); // the inside stays solid …
    EXPECT_GT(img.at(50, 30), 60);  // … the edge is soft …
    EXPECT_LT(img.at(50, 30), 230);
    EXPECT_GT(img.at(50, 72), 0); // … and spreads beyond the circle
}

TEST(Paths, ContinuousCornersStayInsideTheRoundedRectangle) {
    A8 img(100, 60);
    cairo_t* cr = cairo_create(img.surface);
    pathContinuousRoundedRect(cr, {0, 0, 100, 60}, 12);
    cairo_fill(cr);
    pathCapsule(cr, {0, 0, 0, 0});
    cairo_destroy(cr);
    EXPECT_EQ(img.at(0, 0), 0);
    EXPECT_EQ(img.at(2, 2), 0);
    EXPECT_EQ(img.at(50, 0), 255);
    EXPECT_EQ(img.at(0, 30), 255);
    EXPECT_EQ(img.at(50, 30), 255);
    // A circular corner of radius 12 would meet the side at y = 12; the continuous one eases in further.
    EXPECT_LT(img.at(0, 14), 250);
    EXPECT_EQ(img.at(0, 26), 255);

    A8 capsule(12, 24);
    cr = cairo_create(capsule.surface);
    pathCapsule(cr, {0, 0, 12, 24});
    cairo_fill(cr);
    cairo_destroy(cr);
    EXPECT_EQ(capsule.at(0, 0), 0);
    EXPECT_EQ(capsule.at(11, 23), 0);
    EXPECT_EQ(capsule.at(6, 12), 255);
    EXPECT_GE(capsule.at(0, 12), 250);
}

TEST(Compositing, ScreenAndMultiplyFollowTheirFormulas) {
    struct Case {
        BlendMode mode;
        double base, layer, expected;
    };
    for (const Case c : {Case{BlendMode::screen, 0.5, 0.5, 0.75}, Case{BlendMode::multiply, 0.5, 0.5, 0.25},
                         Case{BlendMode::screen, 0.2, 0.0, 0.2}, Case{BlendMode::multiply, 0.8, 1.0, 0.8}}) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 4, 4);
        cairo_t* cr = cairo_create(s);
        cairo_set_source_rgb(cr, c.base, c.base, c.base);
        cairo_paint(cr);
        drawLayer(cr, 1.0, c.mode, [&](cairo_t* l) {
            cairo_set_source_rgb(l, c.layer, c.layer, c.layer);
            cairo_paint(l);
        });
        cairo_destroy(cr);
        cairo_surface_flush(s);
        const int got = cairo_image_surface_get_data(s)[0];
        EXPECT_NEAR(got / 255.0, c.expected, 2.0 / 255.0);
        cairo_surface_destroy(s);
    }
}

TEST(Layout, FlexibleSpaceSharesTheLeftoverEqually) {
    const std::vector<StackItem> items{StackItem::fixed({100, 40}, {25, 0, 0, 0}), StackItem::space(),
                                       StackItem::fixed({50, 60}), StackItem::space(),
                                       StackItem::fixed({200, 20}, {0, 60, 25, 60})};
    const auto frames = layoutStack(Axis::vertical, {0, 0, 400, 500}, items, 0.0);
    EXPECT_EQ(frames[0], (Rect{150, 25, 100, 40}));
    EXPECT_DOUBLE_EQ(frames[1].height, (500 - 25 - 40 - 60 - 20 - 25) / 2.0);
    EXPECT_DOUBLE_EQ(frames[3].height, frames[1].height);
    EXPECT_DOUBLE_EQ(frames[4].maxY(), 475.0);
    EXPECT_DOUBLE_EQ(frames[4].x, 60.0 + (280.0 - 200.0) / 2.0);

    // Without flexible space the run is centred; across the axis items are centred.
    const std::vector<StackItem> row{StackItem::fixed({10, 10}), StackItem::fixed({20, 30})};
    const auto placed = layoutStack(Axis::horizontal, {0, 0, 100, 50}, row, 40.0);
    EXPECT_EQ(placed[0], (Rect{15, 20, 10, 10}));
    EXPECT_EQ(placed[1], (Rect{65, 10, 20, 30}));
    EXPECT_EQ(stackNaturalSize(Axis::horizontal, row, 40.0), (Size{70, 30}));
}

TEST(Text, DesignsResolveToFittingFacesAndHeavierIsWider) {
    TextCache text;
    const std::string serif = text.resolvedFamily({FontDesign::serif, 12, FontWeight::black});
    EXPECT_NE(serif.find("Serif"), std::string::npos) << serif;
    const std::string mono = text.resolvedFamily({FontDesign::monospaced, 12, FontWeight::bold});
    EXPECT_NE(mono.find("Mono"), std::string::npos) << mono;
    const Size black = text.measure("THRASK VELL", {FontDesign::serif, 30, FontWeight::black});
    const Size regular = text.measure("THRASK VELL", {FontDesign::serif, 30, FontWeight::regular});
    EXPECT_GT(black.width, regular.width);
    EXPECT_NEAR(black.height, regular.height, 30 * 0.3);
    EXPECT_GT(black.height, 30.0); // a line is taller than the size
    EXPECT_EQ(upperCased("Thresh ▼"), "THRESH ▼");
}

TEST(Images, BadBytesDecodeToNothing) {
    const unsigned char junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(decodePng(junk, sizeof junk), nullptr);
    EXPECT_EQ(decodePng(nullptr, 0), nullptr);
    const Rect same = aspectFitRect({440, 520}, {0, 0, 220, 260});
    EXPECT_NEAR(same.x, 0.0, 1e-9);
    EXPECT_NEAR(same.width, 220.0, 1e-9);
    EXPECT_NEAR(same.height, 260.0, 1e-9);
    const Rect wide = aspectFitRect({100, 50}, {0, 0, 220, 260});
    EXPECT_NEAR(wide.y, 75.0, 1e-9);
    EXPECT_NEAR(wide.width, 220.0, 1e-9);
    EXPECT_NEAR(wide.height, 110.0, 1e-9);
}

} // namespace
} // namespace thraskvell::ui
