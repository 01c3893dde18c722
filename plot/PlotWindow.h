#pragma once

#include "Dialogs.h"
#include "LineRecord.h"
#include "PlotData.h"

#include <QChartView>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QValueAxis;

namespace comkeys {

class CurveItem;

// The chart of the plot window: hands wheel, drag and cursor movements to the window. Over the
// plot area the wheel zooms the time axis (with Ctrl the value axis) and a drag pans both; over
// an axis, wheel and drag act on that axis alone.
class PlotView : public QChartView {
    Q_OBJECT
public:
    using QChartView::QChartView;

    enum class Axes { Time, Value, Both };
    Axes axesAt(const QPoint& pos, Qt::KeyboardModifiers modifiers) const;

Q_SIGNALS:
    // The wheel turned by steps (positive: away from the user) at a point of the view.
    void zoomed(const QPointF& pos, double steps, comkeys::PlotView::Axes axes);
    // A drag moved by pixels.
    void panned(const QPointF& delta, comkeys::PlotView::Axes axes);
    // The cursor moved to a point of the view, or left it (null point).
    void hovered(const QPointF& pos);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QPointF m_dragFrom;
    Axes m_dragAxes = Axes::Both;
    bool m_dragging = false;
};

// 曲线: the numbers in the received lines as curves over the time they arrived, from everything
// the line record holds, following new data live. Pause and follow, zoom and pan, autoscale,
// a readout of the cursor's time and value, series shown and hidden from the legend, and the
// plot exported as PNG or its series as CSV.
class PlotWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int TickMs = 50; // how often new data is read and drawn
    // A long history is read this long a tick, so the window keeps answering meanwhile.
    static constexpr int ReadBudgetMs = 5;

    PlotWindow(const LineRecord& record, Dialogs& dialogs, QString folder, QWidget* parent = nullptr);

    const PlotData& data() const { return m_data; }
    PlotView* view() const { return m_view; }
    QChart* chart() const { return m_chart; }
    // The series of the legend; its curve is drawn by the window, the series itself holds no points.
    QLineSeries* series(int index) const;
    // Points of a series as drawn now (decimated), times in milliseconds since the epoch.
    QList<QPointF> drawnPoints(int index) const;
    bool isFollowing() const { return m_following; }
    void setFollowing(bool on);
    bool isAutoscale() const { return m_autoscale; }
    void setAutoscale(bool on);
    // Reads what came (for at most ReadBudgetMs) and redraws, now instead of at the next tick.
    void refresh();
    // The visible range, times in milliseconds since the epoch.
    QRectF visibleRange() const { return QRectF(QPointF(m_xMin, m_yMin), QPointF(m_xMax, m_yMax)); }
    void setSeriesVisible(int index, bool visible);
    // Follow, autoscale, and show every row again.
    void showAll();

    // The plot as it is on screen, as PNG, and the series as CSV, to files the user names.
    void exportPng();
    void exportCsv();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void applyForm();
    void tick();
    void redraw();
    void updateCounts();
    void zoom(const QPointF& pos, double steps, PlotView::Axes axes);
    void pan(const QPointF& delta, PlotView::Axes axes);
    void hover(const QPointF& pos);
    void fitValues();
    void applyRange();
    void markLegend(int index);

    const LineRecord& m_record;
    Dialogs& m_dialogs;
    QString m_folder;
    PlotData m_data;
    QChart* const m_chart;
    PlotView* const m_view;
    QDateTimeAxis* const m_xAxis;
    QValueAxis* const m_yAxis;
    QComboBox* const m_form;
    QLineEdit* const m_pattern;
    QLineEdit* const m_key;
    QPushButton* const m_follow;
    QCheckBox* const m_autoscaleBox;
    QLabel* const m_readout;
    QLabel* const m_counts;
    std::vector<QLineSeries*> m_series;
    CurveItem* const m_curves;
    QTimer m_tick;
    bool m_following = true;
    bool m_autoscale = true;
    bool m_timeZoomed = false; // the time axis keeps the user's width instead of showing all
    double m_xMin = 0, m_xMax = 1000, m_yMin = 0, m_yMax = 1;
    qint64 m_drawnNext = -1; // the record's next entry at the last drawing
};

} // namespace comkeys
