#include "tests/ui/Image.h"

#include <gtest/gtest.h>

#include <utility>

namespace thraskvell::ui {
namespace {

TEST(Shadows, AreTheSilhouetteBlurredLikeAGaussianAndOffset) {
    // A 5 × 5 square has a variance of (25 - 1) / 12 = 2 per axis; a blur of sigma adds sigma².
    for (const double radius : {4.0, 8.0, 12.0}) {
        test::Image image({121, 121});
        setSourceColor(image.cr(), Color::white(1.0));
        cairo_paint(image.cr());
        ShadowCache().draw(image.cr(), "square", {58, 48, 5, 5}, {{0, 0, 0, 1}, radius, 3.0, 10.0}, 1.0,
                           [](cairo_t* m) {
                               cairo_rectangle(m, 0, 0, 5, 5);
                               cairo_fill(m);
                           });
        double mass = 0, mx = 0, my = 0, vx = 0, vy = 0;
        for (int y = 0; y < 121; ++y)
            for (int x = 0; x < 121; ++x) {
                const double a = 255.0 - image.at({x + 0.0, y + 0.0}).r;
                mass += a, mx += a * x, my += a * y, vx += a * (x - 63) * (x - 63),
                    vy += a * (y - 60) * (y - 60);
            }
        const double sigma = radius / 2;
        EXPECT_NEAR(mass, 25 * 255.0, 25 * 255.0 * 0.05) << radius;
        EXPECT_NEAR(mx / mass, 60.0 + 3.0, 0.1) << radius;
        EXPECT_NEAR(my / mass, 50.0 + 10.0, 0.1) << radius;
        EXPECT_NEAR(vx / mass - 2.0, sigma * sigma, sigma * sigma * 0.25) << radius;
        EXPECT_NEAR(vy / mass, vx / mass, 0.05 * sigma * sigma) << radius;
        EXPECT_LT(image.at({63, 60}).r, image.at({63 + sigma, 60}).r) << "the centre is darkest";
    }
}

TEST(Paths, ContinuousCornersEaseInBeyondACircularOne) {
    test::Image image({130, 60});
    setSourceColor(image.cr(), Color::white(1.0));
    pathContinuousRoundedRect(image.cr(), {0, 0, 100, 60}, 12);
    cairo_fill(image.cr());
    pathCapsule(image.cr(), {110, 0, 12, 24});
    cairo_fill(image.cr());
    // A circular corner of radius 12 would meet the side at y = 12; a continuous one meets it further on.
    using P = std::pair<Point, bool>;
    for (const auto& [at, filled] :
         {P{{2, 2}, false}, P{{0, 14}, false}, P{{0, 26}, true}, P{{50, 0}, true}, P{{110, 0}, false},
          P{{121, 23}, false}, P{{110, 12}, true}, P{{116, 12}, true}})
        EXPECT_EQ(image.at(at).r >= 250, filled) << at.x << ", " << at.y;
}

TEST(Compositing, ScreenAndMultiplyFollowTheirFormulas) {
    for (const auto& [mode, expected] : {std::pair{BlendMode::screen, 0.75}, {BlendMode::multiply, 0.25}}) {
        test::Image image({1, 1});
        setSourceColor(image.cr(), Color::white(0.5));
        cairo_paint(image.cr());
        cairo_set_operator(image.cr(), cairoOperator(mode));
        cairo_paint(image.cr());
        EXPECT_NEAR(image.at({0, 0}).r / 255.0, expected, 2.0 / 255.0);
    }
}

TEST(Text, MonospacedLettersAreEquallyWideAndBlackIsHeavierThanRegular) {
    TextCache text;
    const TextStyle mono{FontDesign::monospaced, 12, FontWeight::bold}, serif{FontDesign::serif, 30};
    EXPECT_EQ(text.measure("iiii", mono).width, text.measure("MMMM", mono).width);
    EXPECT_LT(text.measure("iiii", serif).width, text.measure("MMMM", serif).width * 0.7);
    const Size black = text.measure("THRASK VELL", {FontDesign::serif, 30, FontWeight::black});
    EXPECT_GT(black.width, text.measure("THRASK VELL", serif).width);
    EXPECT_GT(black.height, 30.0); // a line is taller than the size
}

TEST(Images, BadBytesDecodeToNothingAndPicturesFitWithTheirAspect) {
    const unsigned char junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(decodePng(junk, sizeof junk), nullptr);
    EXPECT_EQ(decodePng(nullptr, 0), nullptr);
    const Rect wide = aspectFitRect({100, 50}, {10, 0, 220, 260});
    EXPECT_NEAR(wide.y, 75.0, 1e-9); // centred, as wide as the frame
    EXPECT_NEAR(wide.height, 110.0, 1e-9);
}

} // namespace
} // namespace thraskvell::ui
