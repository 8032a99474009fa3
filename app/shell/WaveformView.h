// WaveformView: the header's live trace of the processed output, one open polyline through the
// engine's latest snapshot. Not smoothed, scaled to its peak or clamped: a sample of +1 sits at 90%
// of the half-height above the centre line, and values beyond ±1/0.9 leave the frame (the header's
// rounded clip cuts them off).
//
// The point arithmetic is a plain function so tests check it without a display; the view holds
// nothing but the frame it is given. Threads: main (the samples are the engine's published array).
#pragma once

#include "ui/Canvas.h"
#include "ui/Geometry.h"

#include <cairo.h>

#include <span>
#include <vector>

namespace thraskvell {

inline constexpr ui::Color kWaveformColor{0.9, 0.7, 0.3, 1.0};
inline constexpr double kWaveformLineWidth = 1.5;

// The polyline in a view of `size` whose origin is its top-left: the start on the centre line at
// x = 0, then one point per sample, w / (max(n, 2) - 1) apart. Thread: any.
std::vector<ui::Point> waveformPolyline(std::span<const float> samples, ui::Size size);

// Strokes the polyline inside `frame` (nothing is filled). Thread: main.
void drawWaveform(cairo_t* cr, const ui::Rect& frame, std::span<const float> samples);

} // namespace thraskvell
