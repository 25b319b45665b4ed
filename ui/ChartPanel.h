// ChartPanel: one of the details views, drawn by the shared chart code from a ChartView. It
// reads out the curves' values under the mouse, zooms with the wheel (time or delay only) or
// a dragged rectangle, goes back to the whole view on a double click, and exports the picture
// (PNG, SVG) and the data (CSV) from its context menu.
#pragma once

#include <QChartView>
#include <functional>

#include "evidence/ChartData.h"

class QMenu;

namespace tarnwell {

class ChartPanel : public QChartView {
    Q_OBJECT

public:
    // Asks where to save; the chosen path, or empty when the user cancels.
    using SaveChooser =
        std::function<QString(QWidget* parent, const QString& suggested, const QString& filter)>;
    using MessageSink = std::function<void(const QString& text)>;

    explicit ChartPanel(QWidget* parent = nullptr);

    void SetView(ChartView view);
    const ChartView& View() const { return view_; }

    // Greyed while the inputs differ from the run the view shows.
    void SetStale(bool stale);
    bool IsStale() const;

    void SetSaveChooser(SaveChooser chooser) { chooseSave_ = std::move(chooser); }
    void SetMessageSink(MessageSink sink) { tell_ = std::move(sink); }

    // The context menu's entries: the three exports and the zoom reset.
    void AddEntries(QMenu& menu);

    // The curves' values at the mouse position (view coordinates); empty off the plot.
    QString ReadoutAt(QPoint position) const;

signals:
    void readoutChanged(const QString& text);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class Format { Png, Svg, Csv };
    void Export(Format format);

    ChartView view_;
    SaveChooser chooseSave_;
    MessageSink tell_;
};

}  // namespace tarnwell
