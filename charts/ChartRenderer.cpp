#include "charts/ChartRenderer.h"

#include <QApplication>
#include <QAreaSeries>
#include <QChart>
#include <QGraphicsScene>
#include <QImage>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>

namespace tarnwell {

namespace {

// Fills for the shaded spans: the canceller's window, the echo path's span, and the modes.
QColor ToneColor(int tone)
{
    static const QColor kTones[] = {QColor(70, 130, 220, 45),  QColor(240, 150, 40, 70),
                                    QColor(150, 150, 150, 40), QColor(220, 60, 60, 40),
                                    QColor(230, 200, 40, 45),  QColor(60, 170, 80, 40)};
    return kTones[std::clamp(tone, 0, 5)];
}

struct Range {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    void Take(double v)
    {
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    bool Empty() const { return !(lo <= hi); }
    // A little room around the data; a flat range gets a unit either side.
    void Pad()
    {
        if (Empty()) {
            lo = 0.0;
            hi = 1.0;
        }
        const double room = hi > lo ? 0.05 * (hi - lo) : 1.0;
        lo -= room;
        hi += room;
    }
};

void Attach(QChart& chart, QAbstractSeries* series, QValueAxis* x, QValueAxis* y)
{
    chart.addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
}

void HideFromLegend(QChart& chart, QAbstractSeries* series)
{
    for (QLegendMarker* marker : chart.legend()->markers(series)) {
        marker->setVisible(false);
    }
}

// Draws the chart into any paint device of the given size.
void Paint(const ChartView& view, QPaintDevice& device, QSize size)
{
    QGraphicsScene scene;
    std::unique_ptr<QChart> chart = BuildChart(view);
    chart->setGeometry(0, 0, size.width(), size.height());
    QChart* owned = chart.release();
    scene.addItem(owned);   // the scene owns the chart from here
    scene.setSceneRect(0, 0, size.width(), size.height());
    QPainter painter(&device);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(0, 0, size.width(), size.height()), scene.sceneRect());
}

}  // namespace

std::unique_ptr<QChart> BuildChart(const ChartView& view)
{
    auto chart = std::make_unique<QChart>();
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setTitle(QString::fromStdString(view.title));
    auto* x = new QValueAxis(chart.get());
    auto* y = new QValueAxis(chart.get());
    x->setTitleText(QString::fromStdString(view.xLabel));
    y->setTitleText(QString::fromStdString(view.yLabel));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    if (!view.measured) {
        chart->setTitle(QString::fromStdString(view.title + " \u2014 not measured: " + view.unmeasuredReason));
        x->setRange(0.0, 1.0);
        y->setRange(0.0, 1.0);
        return chart;
    }

    Range xs;
    Range ys;
    for (const ChartSeries& s : view.series) {
        std::for_each(s.x.begin(), s.x.end(), [&](double v) { xs.Take(v); });
        std::for_each(s.y.begin(), s.y.end(), [&](double v) { ys.Take(v); });
    }
    for (const ChartMark& m : view.marks) {
        xs.Take(m.x);
    }
    for (const ChartSpan& s : view.spans) {
        xs.Take(s.from);
        xs.Take(s.to);
    }
    if (xs.Empty()) {
        xs = {0.0, 1.0};
    }
    ys.Pad();
    x->setRange(xs.lo, xs.hi);
    y->setRange(ys.lo, ys.hi);
    y->applyNiceNumbers();
    ys = {y->min(), y->max()};
    x->setLabelFormat(QStringLiteral("%g"));
    y->setLabelFormat(QStringLiteral("%g"));

    // Spans first, so the curves are drawn over them; one legend entry per kind of fill.
    std::map<int, bool> toneShown;
    for (const ChartSpan& s : view.spans) {
        auto* upper = new QLineSeries(chart.get());
        auto* lower = new QLineSeries(chart.get());
        upper->append(s.from, ys.hi);
        upper->append(s.to, ys.hi);
        lower->append(s.from, ys.lo);
        lower->append(s.to, ys.lo);
        auto* area = new QAreaSeries(upper, lower);
        area->setName(QString::fromStdString(s.label));
        area->setBrush(ToneColor(s.tone));
        area->setPen(Qt::NoPen);
        Attach(*chart, area, x, y);
        if (toneShown[s.tone]) {
            HideFromLegend(*chart, area);
        }
        toneShown[s.tone] = true;
    }
    for (const ChartSeries& s : view.series) {
        QXYSeries* series = nullptr;
        if (s.points) {
            auto* scatter = new QScatterSeries(chart.get());
            scatter->setMarkerSize(s.x.size() > 50 ? 4.0 : 9.0);
            series = scatter;
        } else {
            series = new QLineSeries(chart.get());
        }
        series->setName(QString::fromStdString(s.name));
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(s.x.size()));
        for (std::size_t i = 0; i < s.x.size(); ++i) {
            points.append(QPointF(s.x[i], s.y[i]));
        }
        series->replace(points);
        Attach(*chart, series, x, y);
    }
    for (const ChartMark& m : view.marks) {
        auto* line = new QLineSeries(chart.get());
        line->setName(QString::fromStdString(m.label));
        line->append(m.x, ys.lo);
        line->append(m.x, ys.hi);
        QPen pen(Qt::DashLine);
        pen.setWidthF(1.5);
        line->setPen(pen);
        Attach(*chart, line, x, y);
        line->setColor(QColor(90, 90, 90));
    }
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

bool SaveSvg(const ChartView& view, const QString& path, QSize size, QString& error)
{
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(QString::fromStdString(view.title));
    Paint(view, svg, size);
    if (!std::filesystem::exists(path.toStdString())) {
        error = path + QStringLiteral(": cannot be written");
        return false;
    }
    return true;
}

bool SavePng(const ChartView& view, const QString& path, QSize size, QString& error)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::white);
    Paint(view, image, size);
    if (!image.save(path, "PNG")) {
        error = path + QStringLiteral(": cannot be written");
        return false;
    }
    return true;
}

bool SavePictures(const std::vector<ChartView>& views, const std::string& dir, std::string& error)
{
    for (const ChartView& view : views) {
        const std::filesystem::path stem = std::filesystem::path(dir) / view.stem;
        QString reason;
        if (!SaveSvg(view, QString::fromStdString(stem.string() + ".svg"), kPictureSize, reason) ||
            !SavePng(view, QString::fromStdString(stem.string() + ".png"), kPictureSize, reason)) {
            error = reason.toStdString();
            return false;
        }
    }
    return true;
}

bool RenderPictures(const std::vector<ChartView>& views, const std::string& dir, std::string& error)
{
    if (QApplication::instance() != nullptr) {
        return SavePictures(views, dir, error);
    }
    // Pictures need no screen: the offscreen platform draws them wherever this runs. A
    // headless session often has no runtime folder; Qt's note about that is no news here.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (!text.startsWith(QStringLiteral("QStandardPaths:"))) {
            std::fprintf(stderr, "%s\n", qPrintable(text));
        }
        if (type == QtFatalMsg) {
            std::abort();
        }
    });
    int argc = 1;
    char name[] = "tarnwell-cli";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    return SavePictures(views, dir, error);
}

}  // namespace tarnwell
