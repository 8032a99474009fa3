#include "app/shell/WaveformView.h"

#include <algorithm>

namespace thraskvell {

std::vector<ui::Point> waveformPolyline(std::span<const float> samples, ui::Size size) {
    const double mid = size.height * 0.5;
    const double step = size.width / static_cast<double>(std::max<std::size_t>(samples.size(), 2) - 1);
    std::vector<ui::Point> points;
    points.reserve(samples.size() + 1);
    points.push_back({0.0, mid});
    for (std::size_t i = 0; i < samples.size(); ++i)
        points.push_back({step * static_cast<double>(i), mid + mid * static_cast<double>(samples[i]) * -0.9});
    return points;
}

void drawWaveform(cairo_t* cr, const ui::Rect& frame, std::span<const float> samples) {
    if (samples.empty()) return; // a lone starting point strokes nothing
    const auto points = waveformPolyline(samples, frame.size());
    cairo_save(cr);
    cairo_new_path(cr);
    for (const auto& p : points)
        cairo_line_to(cr, frame.x + p.x, frame.y + p.y);
    ui::setSourceColor(cr, kWaveformColor);
    cairo_set_line_width(cr, kWaveformLineWidth);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cr, 10.0);
    cairo_set_dash(cr, nullptr, 0, 0.0);
    cairo_stroke(cr);
    cairo_restore(cr);
}

} // namespace thraskvell
