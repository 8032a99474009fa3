// Plain value types the control surface measures and paints with: points, sizes, rectangles in
// logical units (points), sRGB colours, and the few rectangle operations the layouts need.
//
// Owned by value everywhere; no drawing library involved, so tests use them without a display.
// Threads: pure values; any thread.
#pragma once

#include <algorithm>
#include <cmath>

namespace thraskvell::ui {

struct Point {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0.0;
    double height = 0.0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    double midX() const { return x + width * 0.5; }
    double midY() const { return y + height * 0.5; }
    Point center() const { return {midX(), midY()}; }
    Size size() const { return {width, height}; }
    bool contains(Point p) const { return p.x >= x && p.x < maxX() && p.y >= y && p.y < maxY(); }
    bool intersects(const Rect& o) const {
        return x < o.maxX() && o.x < maxX() && y < o.maxY() && o.y < maxY();
    }
    Rect insetBy(double dx, double dy) const { return {x + dx, y + dy, width - 2 * dx, height - 2 * dy}; }
    Rect offsetBy(double dx, double dy) const { return {x + dx, y + dy, width, height}; }
    Rect united(const Rect& o) const {
        if (width <= 0 || height <= 0) return o;
        if (o.width <= 0 || o.height <= 0) return *this;
        const double nx = std::min(x, o.x), ny = std::min(y, o.y);
        return {nx, ny, std::max(maxX(), o.maxX()) - nx, std::max(maxY(), o.maxY()) - ny};
    }
    static Rect centered(Point c, Size s) {
        return {c.x - s.width * 0.5, c.y - s.height * 0.5, s.width, s.height};
    }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// sRGB components and opacity, each 0..1 (not premultiplied).
struct Color {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
    double a = 1.0;

    static constexpr Color white(double w, double a = 1.0) { return {w, w, w, a}; }
    Color withOpacity(double opacity) const { return {r, g, b, opacity}; }
    friend bool operator==(const Color&, const Color&) = default;
};

inline double lerp(double a, double b, double t) {
    return a + (b - a) * t;
}

inline Color lerp(const Color& a, const Color& b, double t) {
    return {lerp(a.r, b.r, t), lerp(a.g, b.g, t), lerp(a.b, b.b, t), lerp(a.a, b.a, t)};
}

} // namespace thraskvell::ui
