#include "ui/Animation.h"

#include <cmath>
#include <numbers>

namespace thraskvell::ui {

namespace {

double bezier(double p1, double p2, double s) {
    const double u = 1.0 - s;
    return 3.0 * u * u * s * p1 + 3.0 * u * s * s * p2 + s * s * s;
}

double springPosition(double response, double zeta, double t) {
    const double omega = 2.0 * std::numbers::pi / response;
    if (zeta >= 1.0) return 1.0 - std::exp(-omega * t) * (1.0 + omega * t);
    const double omegaD = omega * std::sqrt(1.0 - zeta * zeta);
    const double envelope = std::exp(-zeta * omega * t);
    return 1.0 - envelope * (std::cos(omegaD * t) + (zeta * omega / omegaD) * std::sin(omegaD * t));
}

} // namespace

double cubicBezierTiming(double x1, double y1, double x2, double y2, double x) {
    if (x <= 0.0) return 0.0;
    if (x >= 1.0) return 1.0;
    // x(s) is monotonic for control points inside [0, 1], so bisection always converges.
    double lo = 0.0, hi = 1.0, s = x;
    for (int i = 0; i < 60; ++i) {
        s = 0.5 * (lo + hi);
        if (bezier(x1, x2, s) < x)
            lo = s;
        else
            hi = s;
    }
    return bezier(y1, y2, s);
}

double animationProgress(const AnimationCurve& curve, double elapsed) {
    switch (curve.kind) {
    case AnimationCurve::Kind::easeOut:
        return curve.duration <= 0 ? 1.0 : cubicBezierTiming(0.0, 0.0, 0.58, 1.0, elapsed / curve.duration);
    case AnimationCurve::Kind::easeInOut:
        return curve.duration <= 0 ? 1.0 : cubicBezierTiming(0.42, 0.0, 0.58, 1.0, elapsed / curve.duration);
    case AnimationCurve::Kind::spring:
        if (curve.response <= 0) return 1.0;
        return springPosition(curve.response, curve.dampingFraction, elapsed);
    }
    return 1.0;
}

double animationSettleTime(const AnimationCurve& curve) {
    if (curve.kind != AnimationCurve::Kind::spring) return curve.duration;
    if (curve.response <= 0) return 0.0;
    const double omega = 2.0 * std::numbers::pi / curve.response;
    const double zeta = std::max(curve.dampingFraction, 0.05);
    // The envelope e^(-zeta omega t) bounds the deviation; 0.1 % of the distance is invisible.
    return std::log(1000.0 * (zeta >= 1.0 ? 10.0 : 1.0 / std::sqrt(1.0 - zeta * zeta))) / (zeta * omega);
}

} // namespace thraskvell::ui
