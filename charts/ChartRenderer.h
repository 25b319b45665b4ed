// ChartRenderer: turns a ChartView into a Qt Charts chart, and writes it as SVG or PNG without
// a display (the offscreen platform serves). One piece of drawing code for the window's
// details views and the command line's --plots.
#pragma once

#include <QSize>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "evidence/ChartData.h"

QT_BEGIN_NAMESPACE
class QChart;
QT_END_NAMESPACE

namespace tarnwell {

inline constexpr QSize kPictureSize{960, 540};

// A new chart for the view: curves, marks, shaded spans, axes with their units and round
// ticks, and a line of text in place of the curves when the view was not measured. The curves
// are thinned to what drawnSize can show (see ThinnedForWidth).
std::unique_ptr<QChart> BuildChart(const ChartView& view, QSize drawnSize);

// Puts the legend under the plot when its entries fit in one row of width, else beside it,
// so that no entry is cut off.
void FitLegend(QChart& chart, qreal width);

// False with a reason when the file cannot be written.
bool SaveSvg(const ChartView& view, const QString& path, QSize size, QString& error);
bool SavePng(const ChartView& view, const QString& path, QSize size, QString& error);

// The view as the text of one inline SVG element of size (no XML prolog, no title), for a
// page that holds many: ids are prefixed with idPrefix so that they stay unique.
std::string SvgText(const ChartView& view, QSize size, const std::string& idPrefix);

// As SvgText for every view, starting an offscreen QApplication for the call when none runs.
bool RenderSvgTexts(const std::vector<ChartView>& views, QSize size, const std::string& idPrefix,
                    std::vector<std::string>& svgs, std::string& error);

// Every view as DIR/stem.svg and DIR/stem.png; needs a QApplication (see RenderPictures).
// keepGoing, when given, is asked before each picture; a no ends the call, false, with
// "interrupted".
bool SavePictures(const std::vector<ChartView>& views, const std::string& dir, std::string& error,
                  bool (*keepGoing)() = nullptr);

// As SavePictures, starting an offscreen QApplication for the call when none runs: for
// programs without a window.
bool RenderPictures(const std::vector<ChartView>& views, const std::string& dir, std::string& error,
                    bool (*keepGoing)() = nullptr);

}  // namespace tarnwell
