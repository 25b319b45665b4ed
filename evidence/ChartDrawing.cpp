#include "evidence/ChartDrawing.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <utility>

namespace tarnwell {

namespace {

constexpr std::size_t kPointsPerColumn = 4;  // first, lowest, highest, last
constexpr double kCellPixels = 2.0;          // marked points: one per cell of this side at least
constexpr std::size_t kMaxMarks = 500;       // and no more than this many

struct Extent {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    void Take(double v)
    {
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    bool Flat() const { return !(lo < hi); }
};

// Which of `count` equal cells of [extent.lo, extent.hi] holds v.
std::size_t Cell(double v, const Extent& extent, std::size_t count)
{
    if (extent.Flat() || !std::isfinite(v)) {
        return 0;
    }
    const double at = (v - extent.lo) / (extent.hi - extent.lo) * static_cast<double>(count);
    return std::min(count - 1, static_cast<std::size_t>(std::max(0.0, at)));
}

ChartSeries ThinLine(const ChartSeries& s, const Extent& xs, std::size_t columns)
{
    ChartSeries out{s.name, {}, {}, s.points};
    std::size_t i = 0;
    while (i < s.x.size()) {
        // One column: indices [i, end).
        const std::size_t column = Cell(s.x[i], xs, columns);
        std::size_t end = i + 1;
        std::size_t low = i;
        std::size_t high = i;
        while (end < s.x.size() && Cell(s.x[end], xs, columns) == column) {
            low = s.y[end] < s.y[low] ? end : low;
            high = s.y[end] > s.y[high] ? end : high;
            ++end;
        }
        std::size_t keep[] = {i, low, high, end - 1};
        std::sort(std::begin(keep), std::end(keep));
        for (std::size_t k = 0; k < std::size(keep); ++k) {
            if (k == 0 || keep[k] != keep[k - 1]) {
                out.x.push_back(s.x[keep[k]]);
                out.y.push_back(s.y[keep[k]]);
            }
        }
        i = end;
    }
    return out;
}

// One point per cell, the cells growing from kCellPixels square until at most kMaxMarks remain:
// a drawn mark costs far more than a stretch of line, in time and in an SVG's size.
ChartSeries ThinPoints(const ChartSeries& s, const Extent& xs, std::size_t columns, std::size_t rows)
{
    Extent ys;
    std::for_each(s.y.begin(), s.y.end(), [&](double v) { ys.Take(v); });
    ChartSeries out{s.name, {}, {}, s.points};
    for (double cell = kCellPixels; out.x.empty() || out.x.size() > kMaxMarks; cell *= 2.0) {
        const auto across = std::max<std::size_t>(
            1, static_cast<std::size_t>(static_cast<double>(columns) / cell));
        const auto down = std::max<std::size_t>(1,
                                                static_cast<std::size_t>(static_cast<double>(rows) / cell));
        out.x.clear();
        out.y.clear();
        std::set<std::pair<std::size_t, std::size_t>> taken;
        for (std::size_t i = 0; i < s.x.size(); ++i) {
            if (taken.insert({Cell(s.x[i], xs, across), Cell(s.y[i], ys, down)}).second) {
                out.x.push_back(s.x[i]);
                out.y.push_back(s.y[i]);
            }
        }
        if (across == 1 && down == 1) {
            break;
        }
    }
    return out;
}

}  // namespace

ChartView ThinnedForWidth(const ChartView& view, int columns, int rows)
{
    ChartView out;
    out.stem = view.stem;
    out.title = view.title;
    out.xLabel = view.xLabel;
    out.yLabel = view.yLabel;
    out.marks = view.marks;
    out.fixedY = view.fixedY;
    out.yMin = view.yMin;
    out.yMax = view.yMax;
    out.xPerMs = view.xPerMs;
    out.measured = view.measured;
    out.unmeasuredReason = view.unmeasuredReason;
    out.columns = view.columns;

    const auto across = static_cast<std::size_t>(std::max(1, columns));
    const auto down = static_cast<std::size_t>(std::max(1, rows));
    Extent xs;
    for (const ChartSeries& s : view.series) {
        std::for_each(s.x.begin(), s.x.end(), [&](double v) { xs.Take(v); });
    }
    for (const ChartSpan& s : view.spans) {
        xs.Take(s.from);
        xs.Take(s.to);
    }
    for (const ChartSeries& s : view.series) {
        if (s.points ? s.x.size() <= kMaxMarks : s.x.size() <= kPointsPerColumn * across) {
            out.series.push_back(s);
        } else if (s.points) {
            out.series.push_back(ThinPoints(s, xs, across, down));
        } else {
            out.series.push_back(ThinLine(s, xs, across));
        }
    }

    // Spans of one fill, in order, merge across gaps no wider than a column.
    const double column = xs.Flat() ? 0.0 : (xs.hi - xs.lo) / static_cast<double>(across);
    // Fills in the order they first appear, which is the legend's order.
    std::vector<std::pair<int, std::vector<ChartSpan>>> byTone;
    for (const ChartSpan& s : view.spans) {
        auto group = std::find_if(byTone.begin(), byTone.end(),
                                  [&](const auto& g) { return g.first == s.tone; });
        if (group == byTone.end()) {
            group = byTone.insert(byTone.end(), {s.tone, {}});
        }
        group->second.push_back(s);
    }
    for (auto& [tone, spans] : byTone) {
        std::stable_sort(spans.begin(), spans.end(),
                         [](const ChartSpan& a, const ChartSpan& b) { return a.from < b.from; });
        for (const ChartSpan& s : spans) {
            if (!out.spans.empty() && out.spans.back().tone == tone &&
                s.from - out.spans.back().to <= column) {
                out.spans.back().to = std::max(out.spans.back().to, s.to);
            } else {
                out.spans.push_back(s);
            }
        }
    }
    return out;
}

double NiceStep(double span, int maxTicks)
{
    if (!(span > 0.0) || !std::isfinite(span) || maxTicks < 1) {
        return 1.0;
    }
    const double raw = span / maxTicks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw * (1.0 - 1e-9)) {
            return m * power;
        }
    }
    return 10.0 * power;
}

}  // namespace tarnwell
