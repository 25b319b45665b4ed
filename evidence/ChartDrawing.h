// ChartDrawing: what drawing a view needs beyond its data (no Qt): the view thinned to what a
// given width can show, and round tick steps. The CSV keeps every point; only the drawing is
// thinned, so a long capture draws as fast and as small as a short one.
#pragma once

#include "evidence/ChartData.h"

namespace tarnwell {

// The view as drawn across `columns` pixel columns and `rows` pixel rows: each line keeps, per
// column, its first, lowest, highest and last point (so its envelope is drawn exactly), each
// set of marked points keeps one point per cell (2 x 2 pixels, larger until at most 500 remain),
// and spans of one fill closer than a column merge. Short series are kept whole. The table
// (rows) is left out.
ChartView ThinnedForWidth(const ChartView& view, int columns, int rows);

// The tick step for a range: 1, 2 or 5 times a power of ten, giving at most maxTicks steps
// across span; 1 for an empty or non-finite span.
double NiceStep(double span, int maxTicks);

}  // namespace tarnwell
