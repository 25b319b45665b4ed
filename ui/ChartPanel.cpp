#include "ui/ChartPanel.h"

#include <QChart>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QGraphicsColorizeEffect>
#include <QMenu>
#include <QScreen>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <memory>

#include "charts/ChartRenderer.h"

namespace tarnwell {

namespace {

QString DefaultChooseSave(QWidget* parent, const QString& suggested, const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, QString(), suggested, filter);
}

QString Number(double v) { return QString::number(v, 'g', 4); }

// The y of the series at the x nearest to x; the views keep x in ascending order.
double NearestY(const ChartSeries& s, double x)
{
    const auto above = std::lower_bound(s.x.begin(), s.x.end(), x);
    auto index = static_cast<std::size_t>(above - s.x.begin());
    if (index == s.x.size() || (index > 0 && x - s.x[index - 1] < s.x[index] - x)) {
        --index;
    }
    return s.y[index];
}

}  // namespace

ChartPanel::ChartPanel(QWidget* parent) : QChartView(parent), chooseSave_(DefaultChooseSave)
{
    setRenderHint(QPainter::Antialiasing);
    setRubberBand(QChartView::RectangleRubberBand);
    setMouseTracking(true);
}

void ChartPanel::SetView(ChartView view)
{
    view_ = std::move(view);
    // Thinned to the screen, the widest this panel can get; the readout and the exports use
    // the whole view. The new chart is built before the old one goes.
    const QSize drawn = screen() != nullptr ? screen()->size().expandedTo(kPictureSize) : kPictureSize;
    std::unique_ptr<QChart> next = BuildChart(view_, drawn);
    // The window's own face and size: the pictures' larger print would crowd out the curves.
    QFont bold = font();
    bold.setBold(true);
    next->setTitleFont(bold);
    next->legend()->setFont(font());
    for (QAbstractAxis* axis : next->axes()) {
        axis->setLabelsFont(font());
        axis->setTitleFont(font());
    }
    FitLegend(*next, width());
    const std::unique_ptr<QChart> previous(chart());  // the view lets go of it, not delete it
    setChart(next.release());
}

void ChartPanel::SetStale(bool stale)
{
    // Grey, as the report beside it, until a run matches the inputs again.
    if (stale) {
        auto* grey = new QGraphicsColorizeEffect(this);
        grey->setColor(QColor(150, 150, 150));
        grey->setStrength(1.0);
        setGraphicsEffect(grey);  // the panel owns it, and deletes the one before
    } else {
        setGraphicsEffect(nullptr);
    }
}

bool ChartPanel::IsStale() const { return graphicsEffect() != nullptr; }

void ChartPanel::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    FitLegend(*chart(), width());
}

QString ChartPanel::ReadoutAt(QPoint position) const
{
    const QPointF inChart = chart()->mapFromScene(mapToScene(position));
    if (!view_.measured || !chart()->plotArea().contains(inChart)) {
        return {};
    }
    const QString xLabel = QString::fromStdString(view_.xLabel);
    // A delay reads in samples, as the report gives it, with its milliseconds.
    const auto withMs = [this](double x) {
        return view_.xPerMs > 0.0
                   ? Number(x) + QStringLiteral(" (") + Number(x / view_.xPerMs) + QStringLiteral(" ms)")
                   : Number(x);
    };
    // A marked point near the mouse (a peak, a counted frame) reads as itself.
    constexpr double kNear = 6.0;  // pixels
    for (const ChartSeries& s : view_.series) {
        for (std::size_t i = 0; s.points && i < s.x.size(); ++i) {
            const QPointF at = chart()->mapToPosition(QPointF(s.x[i], s.y[i]));
            if (std::abs(at.x() - inChart.x()) <= kNear && std::abs(at.y() - inChart.y()) <= kNear) {
                return QString::fromStdString(s.name) + QLatin1Char(' ') + Number(s.y[i]) +
                       QStringLiteral(" at ") + xLabel + QLatin1Char(' ') + withMs(s.x[i]);
            }
        }
    }
    const double x = chart()->mapToValue(inChart).x();
    QStringList values;
    for (const ChartSeries& s : view_.series) {
        if (!s.points && !s.x.empty()) {
            values << QString::fromStdString(s.name) + QLatin1Char(' ') + Number(NearestY(s, x));
        }
    }
    return xLabel + QLatin1Char(' ') + withMs(x) + QStringLiteral(": ") + values.join(QStringLiteral(", "));
}

void ChartPanel::mouseMoveEvent(QMouseEvent* event)
{
    emit readoutChanged(ReadoutAt(event->position().toPoint()));
    QChartView::mouseMoveEvent(event);
}

void ChartPanel::leaveEvent(QEvent* event)
{
    emit readoutChanged(QString());
    QChartView::leaveEvent(event);
}

void ChartPanel::mouseReleaseEvent(QMouseEvent* event)
{
    // The right button opens the menu here; the chart view would zoom out on it.
    if (event->button() == Qt::RightButton) {
        QGraphicsView::mouseReleaseEvent(event);
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void ChartPanel::mouseDoubleClickEvent(QMouseEvent* event)
{
    chart()->zoomReset();
    event->accept();
}

void ChartPanel::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0 || !view_.measured) {
        return;
    }
    // About a fifth in or out per notch, about the point under the mouse, along x only: the
    // curves are read against time or delay.
    const double factor = steps > 0 ? 0.8 : 1.25;
    const QRectF area = chart()->plotArea();
    const double at = std::clamp(chart()->mapFromScene(mapToScene(event->position().toPoint())).x(),
                                 area.left(), area.right());
    const double left = at - (at - area.left()) * factor;
    chart()->zoomIn(QRectF(left, area.top(), area.width() * factor, area.height()));
    event->accept();
}

void ChartPanel::AddEntries(QMenu& menu)
{
    menu.addAction(tr("Save picture as PNG..."), this, [this] { Export(Format::Png); });
    menu.addAction(tr("Save picture as SVG..."), this, [this] { Export(Format::Svg); });
    menu.addAction(tr("Save data as CSV..."), this, [this] { Export(Format::Csv); });
    menu.addSeparator();
    menu.addAction(tr("Whole view"), this, [this] { chart()->zoomReset(); });
}

void ChartPanel::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    AddEntries(menu);
    menu.exec(event->globalPos());
    event->accept();
}

void ChartPanel::Export(Format format)
{
    static const struct {
        const char* extension;
        const char* filter;
    } kFormats[] = {
        {".png", "PNG pictures (*.png)"}, {".svg", "SVG pictures (*.svg)"}, {".csv", "CSV tables (*.csv)"}};
    const auto& kind = kFormats[static_cast<int>(format)];
    const QString path = chooseSave_(this, QString::fromStdString(view_.stem) + QLatin1String(kind.extension),
                                     QLatin1String(kind.filter));
    if (path.isEmpty()) {
        return;
    }
    QString error;
    bool saved = false;
    if (format == Format::Png) {
        saved = SavePng(view_, path, kPictureSize, error);
    } else if (format == Format::Svg) {
        saved = SaveSvg(view_, path, kPictureSize, error);
    } else {
        QFile file(path);
        saved = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                file.write(QByteArray::fromStdString(ToCsv(view_))) >= 0 && file.flush();
        if (!saved) {
            error = path + QStringLiteral(": ") + file.errorString();
        }
    }
    if (!saved && tell_) {
        tell_(error);
    }
}

}  // namespace tarnwell
