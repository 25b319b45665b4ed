// ChartData: the three pictures of a run's evidence as plain data (no Qt): the echo path, the
// delay search and the levels over time. Each view holds its curves, its marks and shaded
// spans, and the table its CSV export writes. The window and the command line draw from it.
#pragma once

#include <string>
#include <vector>

#include "engine/AnalysisRecord.h"
#include "engine/TestSettings.h"

namespace tarnwell {

struct ChartSeries {
    std::string name;
    std::vector<double> x;
    std::vector<double> y;
    bool points = false;  // drawn as marks rather than a line
};

struct ChartMark {  // a vertical line at x
    double x = 0.0;
    std::string label;
};

struct ChartSpan {  // a shaded x range
    double from = 0.0;
    double to = 0.0;
    std::string label;
    int tone = 0;  // which of a few fills: 0 window, 1 span, 2..5 canceller modes
};

struct ChartView {
    std::string stem;  // file name without extension: "echo-path"
    std::string title;
    std::string xLabel;
    std::string yLabel;
    std::vector<ChartSeries> series;
    std::vector<ChartMark> marks;
    std::vector<ChartSpan> spans;
    // The y axis's range when the quantity has one of its own (|correlation|: 0 to 1);
    // otherwise the data's.
    bool fixedY = false;
    double yMin = 0.0;
    double yMax = 1.0;
    double xPerMs = 0.0;           // x units per millisecond, for the readout; 0: x is not a delay
    bool measured = false;         // false: the run did not reach what this view shows
    std::string unmeasuredReason;  // then, why
    // The CSV table: a header naming each column with its unit, then the rows.
    std::vector<std::string> columns;
    std::vector<std::vector<double>> rows;
};

struct ChartInput {
    const TestSettings& settings;
    int minimalTail;  // the recommended tail, samples
    const AnalysisRecord& analysis;
};

ChartView EchoPathView(const ChartInput& input);
ChartView DelaySearchView(const ChartInput& input);
ChartView LevelsView(const ChartInput& input);
ChartView DelayOverTimeView(const ChartInput& input);        // in DelayTrackView.cpp
ChartView EchoPathByFrequencyView(const ChartInput& input);  // in EchoPathBandsView.cpp
std::vector<ChartView> AllViews(const ChartInput& input);

// The view's table as CSV text: numbers that read back exactly, non-finite ones by name.
std::string ToCsv(const ChartView& view);

}  // namespace tarnwell
