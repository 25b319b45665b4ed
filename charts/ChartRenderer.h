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

// A new chart for the view: curves, marks, shaded spans, axes with their units, and a line
// of text in place of the curves when the view was not measured.
std::unique_ptr<QChart> BuildChart(const ChartView& view);

// False with a reason when the file cannot be written.
bool SaveSvg(const ChartView& view, const QString& path, QSize size, QString& error);
bool SavePng(const ChartView& view, const QString& path, QSize size, QString& error);

// Every view as DIR/stem.svg and DIR/stem.png; needs a QApplication (see RenderPictures).
bool SavePictures(const std::vector<ChartView>& views, const std::string& dir, std::string& error);

// As SavePictures, starting an offscreen QApplication for the call when none runs: for
// programs without a window.
bool RenderPictures(const std::vector<ChartView>& views, const std::string& dir, std::string& error);

}  // namespace tarnwell
