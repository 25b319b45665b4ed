#include "charts/ChartRenderer.h"

#include <QApplication>
#include <QAreaSeries>
#include <QBuffer>
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
#include <regex>

#include "evidence/ChartDrawing.h"
#include "evidence/SvgCompact.h"

namespace tarnwell {

namespace {

constexpr int kMaxTicks = 8;  // per axis, so that the labels never crowd

// Fills for the shaded spans: the canceller's window, the echo path's span, and the modes.
QColor ToneColor(int tone)
{
    static const QColor kTones[] = {QColor(70, 130, 220, 45),  QColor(240, 150, 40, 70),
                                    QColor(150, 150, 150, 40), QColor(220, 60, 60, 40),
                                    QColor(230, 200, 40, 45),  QColor(60, 170, 80, 40)};
    return kTones[std::clamp(tone, 0, 5)];
}

// Each curve and mark by name keeps its colour whatever else a view holds, so Tx reads the
// same in every picture and in the window.
QColor NamedColor(const std::string& name)
{
    static const std::map<std::string, QColor> kColors = {
        {"Tx", QColor(32, 159, 223)},
        {"Rx", QColor(153, 202, 83)},
        {"output", QColor(246, 166, 37)},
        {"cancellation", QColor(109, 95, 213)},
        {"frames in the averages", QColor(191, 89, 62)},
        {"weight", QColor(246, 166, 37)},
        {"|correlation|", QColor(153, 202, 83)},
        {"peak", QColor(222, 60, 50)},
        {"second peak", QColor(109, 95, 213)},
        {"bulk delay", QColor(90, 90, 90)},
        {"recommended tail", QColor(200, 40, 120)},
        {"level averages from here", QColor(90, 90, 90)},
    };
    const auto found = kColors.find(name);
    return found != kColors.end() ? found->second : QColor(60, 60, 60);
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

std::unique_ptr<QChart> BuildChartFor(const ChartView& view, QSize drawnSize, bool onePath);

// Draws the chart into any paint device of the given size; onePath: each curve as one path
// (for SVG).
void Paint(const ChartView& view, QPaintDevice& device, QSize size, bool onePath)
{
    QGraphicsScene scene;
    std::unique_ptr<QChart> chart = BuildChartFor(view, size, onePath);
    chart->setGeometry(0, 0, size.width(), size.height());
    FitLegend(*chart, size.width());
    QChart* owned = chart.release();
    scene.addItem(owned);  // the scene owns the chart from here
    scene.setSceneRect(0, 0, size.width(), size.height());
    QPainter painter(&device);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(0, 0, size.width(), size.height()), scene.sceneRect());
}

}  // namespace

std::unique_ptr<QChart> BuildChart(const ChartView& view, QSize drawnSize)
{
    return BuildChartFor(view, drawnSize, false);
}

namespace {

std::unique_ptr<QChart> BuildChartFor(const ChartView& full, QSize drawnSize, bool onePath)
{
    const ChartView view = ThinnedForWidth(full, drawnSize.width(), drawnSize.height());
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
        chart->setTitle(
            QString::fromStdString(view.title + " \u2014 not measured: " + view.unmeasuredReason));
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
    } else if (!(xs.lo < xs.hi)) {
        xs = {xs.lo - 1.0, xs.hi + 1.0};
    }
    if (view.fixedY) {
        ys = {view.yMin, view.yMax};
    } else {
        // The data with a little room, out to whole ticks.
        ys.Pad();
        const double step = NiceStep(ys.hi - ys.lo, kMaxTicks);
        ys = {std::floor(ys.lo / step) * step, std::ceil(ys.hi / step) * step};
    }
    x->setRange(xs.lo, xs.hi);
    y->setRange(ys.lo, ys.hi);
    // Ticks at round values: whole multiples of 1, 2 or 5 times a power of ten.
    for (QValueAxis* axis : {x, y}) {
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickAnchor(0.0);
        axis->setTickInterval(NiceStep(axis->max() - axis->min(), kMaxTicks));
        axis->setLabelFormat(QStringLiteral("%g"));
    }

    // Spans first, so the curves are drawn over them; one shape and one legend entry per kind
    // of fill.
    for (std::size_t i = 0; i < view.spans.size();) {
        const int tone = view.spans[i].tone;
        auto* upper = new QLineSeries(chart.get());
        auto* lower = new QLineSeries(chart.get());
        QList<QPointF> outline;
        const double firstFrom = view.spans[i].from;
        double lastTo = firstFrom;
        auto* area = new QAreaSeries(upper, lower);
        area->setName(QString::fromStdString(view.spans[i].label));
        for (; i < view.spans.size() && view.spans[i].tone == tone; ++i) {
            const ChartSpan& s = view.spans[i];
            outline << QPointF(s.from, ys.lo) << QPointF(s.from, ys.hi) << QPointF(s.to, ys.hi)
                    << QPointF(s.to, ys.lo);
            lastTo = s.to;
        }
        upper->replace(outline);
        lower->append(firstFrom, ys.lo);
        lower->append(lastTo, ys.lo);
        area->setBrush(ToneColor(tone));
        area->setPen(Qt::NoPen);
        Attach(*chart, area, x, y);
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
        series->setColor(NamedColor(s.name));
        if (!s.points && onePath) {
            // A dash longer than any curve looks solid, and makes the chart draw the curve as
            // one path rather than segment by segment: one SVG element instead of thousands.
            // (Raster painting would pay for the dashing, and gains nothing.)
            QPen pen = series->pen();
            pen.setDashPattern({1e6, 1.0});
            series->setPen(pen);
        }
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
        line->setColor(NamedColor(m.label));
    }
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

}  // namespace

void FitLegend(QChart& chart, qreal width)
{
    // The row the legend needs: each entry's text, its swatch and the room around them.
    const QFontMetricsF metrics(chart.legend()->font());
    qreal needed = 0.0;
    for (QLegendMarker* marker : chart.legend()->markers()) {
        if (marker->isVisible()) {
            needed += metrics.horizontalAdvance(marker->label()) + 2.5 * metrics.height();
        }
    }
    const Qt::Alignment side = needed <= width * 0.9 ? Qt::AlignBottom : Qt::AlignRight;
    if (chart.legend()->alignment() != side) {
        chart.legend()->setAlignment(side);
    }
}

bool SaveSvg(const ChartView& view, const QString& path, QSize size, QString& error)
{
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(QString::fromStdString(view.title));
    Paint(view, svg, size, true);
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
    Paint(view, image, size, false);
    if (!image.save(path, "PNG")) {
        error = path + QStringLiteral(": cannot be written");
        return false;
    }
    return true;
}

bool SavePictures(const std::vector<ChartView>& views, const std::string& dir, std::string& error,
                  bool (*keepGoing)())
{
    for (const ChartView& view : views) {
        const std::filesystem::path stem = std::filesystem::path(dir) / view.stem;
        QString reason;
        for (const auto save : {SaveSvg, SavePng}) {
            if (keepGoing != nullptr && !keepGoing()) {
                error = "interrupted";
                return false;
            }
            const char* extension = save == SaveSvg ? ".svg" : ".png";
            if (!save(view, QString::fromStdString(stem.string() + extension), kPictureSize, reason)) {
                error = reason.toStdString();
                return false;
            }
        }
    }
    return true;
}

namespace {

// Runs draw with a QApplication: the running one, or an offscreen one for the call.
template <typename Draw>
bool WithApplication(Draw draw)
{
    if (QApplication::instance() != nullptr) {
        return draw();
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
    return draw();
}

}  // namespace

bool RenderPictures(const std::vector<ChartView>& views, const std::string& dir, std::string& error,
                    bool (*keepGoing)())
{
    return WithApplication([&] { return SavePictures(views, dir, error, keepGoing); });
}

std::string SvgText(const ChartView& view, QSize size, const std::string& idPrefix)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(QString::fromStdString(view.title));
    Paint(view, svg, size, true);
    std::string text = buffer.data().toStdString();
    // From the element on: a page holds no XML prolog or doctype.
    const std::size_t start = text.find("<svg");
    if (start == std::string::npos) {
        return {};
    }
    text = CompactSvg(std::string_view(text).substr(start));
    if (const std::size_t desc = text.find("<desc>"); desc != std::string::npos) {
        text.erase(desc, text.find("</desc>", desc) + 8 - desc);
    }
    // Ids (gradients, clip paths) would clash between the views of one page.
    static const std::regex kId(R"((id="|url\(#|href="#))");
    return std::regex_replace(text, kId, "$1" + idPrefix + view.stem + "-");
}

bool RenderSvgTexts(const std::vector<ChartView>& views, QSize size, const std::string& idPrefix,
                    std::vector<std::string>& svgs, std::string& error)
{
    return WithApplication([&] {
        svgs.clear();
        for (const ChartView& view : views) {
            svgs.push_back(SvgText(view, size, idPrefix));
            if (svgs.back().empty()) {
                error = view.stem + ": the SVG could not be drawn";
                return false;
            }
        }
        return true;
    });
}

}  // namespace tarnwell
