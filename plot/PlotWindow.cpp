#include "PlotWindow.h"

#include "FileIo.h"

#include <QBuffer>
#include <QGraphicsItem>
#include <QPainter>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QValueAxis>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>

namespace comkeys {

namespace {
    constexpr double MinWidthMs = 10; // the narrowest time range a zoom reaches
    constexpr int AxisBand = 48; // pixels beside the plot area that belong to its axis

    QLabel* buddyLabel(const QString& text, QWidget* buddy)
    {
        auto* label = new QLabel(text);
        label->setBuddy(buddy);
        return label;
    }
} // namespace

// The curves, drawn over the chart's plot area from the decimated points. A line series would
// do it too, but it strokes its whole path again for hit testing on every change, which costs
// more than a frame at a few thousand points.
class CurveItem : public QGraphicsItem {
public:
    struct Curve {
        QList<QPointF> points; // times in milliseconds and values
        QColor colour;
        bool visible = true;
    };
    std::vector<Curve> curves;
    QRectF range; // the visible times and values

    explicit CurveItem(QChart* chart)
        : QGraphicsItem(chart)
        , m_chart(chart)
    {
        setZValue(10); // over the grid, under the legend
    }
    void areaChanged()
    {
        prepareGeometryChange();
        update();
    }
    QRectF boundingRect() const override { return m_chart->plotArea(); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override
    {
        const QRectF area = m_chart->plotArea();
        if (range.width() <= 0 || range.height() <= 0) {
            return;
        }
        const double sx = area.width() / range.width();
        const double sy = area.height() / range.height();
        painter->setClipRect(area);
        painter->setRenderHint(QPainter::Antialiasing);
        QPolygonF line;
        for (const Curve& curve : curves) {
            if (!curve.visible || curve.points.isEmpty()) {
                continue;
            }
            line.resize(curve.points.size());
            for (qsizetype i = 0; i < curve.points.size(); ++i) {
                const QPointF& p = curve.points[i];
                line[i] = QPointF(area.left() + (p.x() - range.left()) * sx, area.bottom() - (p.y() - range.top()) * sy);
            }
            // A cosmetic pen of one pixel takes the rasterizer's fast path.
            painter->setPen(QPen(curve.colour, 1));
            painter->drawPolyline(line);
            // Sparse data shows its points, so a single value is seen at all.
            if (line.size() < 64) {
                painter->setBrush(curve.colour);
                for (const QPointF& p : std::as_const(line)) {
                    painter->drawEllipse(p, 2.5, 2.5);
                }
            }
        }
    }

private:
    QChart* m_chart;
};

PlotView::Axes PlotView::axesAt(const QPoint& pos, Qt::KeyboardModifiers modifiers) const
{
    const QRectF area = chart()->plotArea();
    if (pos.x() < area.left() && pos.x() >= area.left() - AxisBand && pos.y() >= area.top() && pos.y() <= area.bottom()) {
        return Axes::Value;
    }
    if (pos.y() > area.bottom() && pos.y() <= area.bottom() + AxisBand && pos.x() >= area.left() && pos.x() <= area.right()) {
        return Axes::Time;
    }
    return modifiers & Qt::ControlModifier ? Axes::Value : Axes::Both;
}

void PlotView::wheelEvent(QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) {
        event->ignore();
        return;
    }
    Axes axes = axesAt(event->position().toPoint(), event->modifiers());
    if (axes == Axes::Both) {
        axes = Axes::Time; // the wheel over the plot zooms in time, the axis people mostly want
    }
    Q_EMIT zoomed(event->position(), steps, axes);
    event->accept();
}

void PlotView::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const QRectF area = chart()->plotArea();
    const Axes axes = axesAt(pos, event->modifiers());
    if (event->button() == Qt::LeftButton && (area.contains(pos) || axes != Axes::Both)) {
        m_dragging = true;
        m_dragFrom = event->position();
        m_dragAxes = axes;
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event); // the legend's markers
}

void PlotView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging) {
        Q_EMIT panned(event->position() - m_dragFrom, m_dragAxes);
        m_dragFrom = event->position();
    }
    Q_EMIT hovered(event->position());
    QChartView::mouseMoveEvent(event);
}

void PlotView::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void PlotView::leaveEvent(QEvent* event)
{
    Q_EMIT hovered(QPointF());
    QChartView::leaveEvent(event);
}

PlotWindow::PlotWindow(const LineRecord& record, Dialogs& dialogs, QString folder, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_record(record)
    , m_dialogs(dialogs)
    , m_folder(std::move(folder))
    , m_data(record)
    , m_chart(new QChart)
    , m_view(new PlotView(m_chart))
    , m_xAxis(new QDateTimeAxis)
    , m_yAxis(new QValueAxis)
    , m_form(new QComboBox)
    , m_pattern(new QLineEdit)
    , m_key(new QLineEdit)
    , m_follow(new QPushButton(QStringLiteral("跟随")))
    , m_autoscaleBox(new QCheckBox(QStringLiteral("自动缩放")))
    , m_readout(new QLabel)
    , m_counts(new QLabel)
    , m_curves(new CurveItem(m_chart))
{
    setWindowTitle(QStringLiteral("曲线"));
    setObjectName(QStringLiteral("PlotWindow"));
    resize(900, 560);

    m_form->setObjectName(QStringLiteral("Form"));
    m_form->addItem(QStringLiteral("自动：标签:值、标签=值 或 数字"));
    m_form->addItem(QStringLiteral("正则表达式，每个捕获组一条曲线"));
    m_pattern->setObjectName(QStringLiteral("Pattern"));
    m_pattern->setPlaceholderText(QStringLiteral("例如 T=(\\S+) I=(\\S+)"));
    m_pattern->setEnabled(false);
    m_key->setObjectName(QStringLiteral("KeyFilter"));
    m_key->setPlaceholderText(QStringLiteral("全部"));
    m_follow->setObjectName(QStringLiteral("Follow"));
    m_follow->setCheckable(true);
    m_follow->setChecked(true);
    m_autoscaleBox->setObjectName(QStringLiteral("Autoscale"));
    m_autoscaleBox->setChecked(true);
    auto* all = new QPushButton(QStringLiteral("显示全部"));
    all->setObjectName(QStringLiteral("ShowAll"));
    auto* png = new QPushButton(QStringLiteral("导出图片…"));
    png->setObjectName(QStringLiteral("ExportPng"));
    auto* csv = new QPushButton(QStringLiteral("导出 CSV…"));
    csv->setObjectName(QStringLiteral("ExportCsv"));
    m_readout->setObjectName(QStringLiteral("Readout"));
    m_readout->setAccessibleName(QStringLiteral("光标处的时间和值"));
    m_readout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_counts->setObjectName(QStringLiteral("Counts"));
    m_counts->setAccessibleName(QStringLiteral("行数和无法解析的行数"));

    m_chart->legend()->setAlignment(Qt::AlignTop);
    m_chart->setMargins(QMargins(4, 4, 8, 4));
    m_xAxis->setFormat(QStringLiteral("hh:mm:ss"));
    m_xAxis->setTickCount(6);
    m_xAxis->setTitleText(QStringLiteral("时间"));
    m_yAxis->setTitleText(QStringLiteral("值"));
    m_yAxis->setTickType(QValueAxis::TicksDynamic);
    m_yAxis->setTickAnchor(0);
    m_yAxis->setLabelFormat(QStringLiteral("%.6g"));
    m_chart->addAxis(m_xAxis, Qt::AlignBottom);
    m_chart->addAxis(m_yAxis, Qt::AlignLeft);
    connect(m_chart, &QChart::plotAreaChanged, this, [this] { m_curves->areaChanged(); });
    m_view->setObjectName(QStringLiteral("Plot"));
    m_view->setAccessibleName(QStringLiteral("曲线图"));
    m_view->setMouseTracking(true);
    m_view->viewport()->setMouseTracking(true);

    auto* top = new QHBoxLayout;
    top->addWidget(buddyLabel(QStringLiteral("格式(&F)"), m_form));
    top->addWidget(m_form);
    top->addWidget(buddyLabel(QStringLiteral("正则表达式(&R)"), m_pattern));
    top->addWidget(m_pattern, 1);
    top->addWidget(buddyLabel(QStringLiteral("只看按键(&K)"), m_key));
    top->addWidget(m_key);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_follow);
    bottom->addWidget(m_autoscaleBox);
    bottom->addWidget(all);
    bottom->addWidget(m_readout, 1);
    bottom->addWidget(m_counts);
    bottom->addWidget(png);
    bottom->addWidget(csv);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_view, 1);
    layout->addLayout(bottom);

    connect(m_form, &QComboBox::activated, this, [this] {
        m_pattern->setEnabled(m_form->currentIndex() == 1);
        if (m_form->currentIndex() == 1 && m_pattern->text().isEmpty()) {
            m_pattern->setFocus(); // applied once a pattern is entered
            return;
        }
        applyForm();
    });
    connect(m_pattern, &QLineEdit::returnPressed, this, &PlotWindow::applyForm);
    connect(m_key, &QLineEdit::editingFinished, this, [this] {
        if (m_key->text().trimmed() != m_data.keyFilter()) {
            m_data.setKeyFilter(m_key->text().trimmed());
            refresh();
        }
    });
    connect(m_follow, &QPushButton::toggled, this, &PlotWindow::setFollowing);
    connect(m_autoscaleBox, &QCheckBox::toggled, this, &PlotWindow::setAutoscale);
    connect(all, &QPushButton::clicked, this, &PlotWindow::showAll);
    connect(png, &QPushButton::clicked, this, &PlotWindow::exportPng);
    connect(csv, &QPushButton::clicked, this, &PlotWindow::exportCsv);
    connect(m_view, &PlotView::zoomed, this, &PlotWindow::zoom);
    connect(m_view, &PlotView::panned, this, &PlotWindow::pan);
    connect(m_view, &PlotView::hovered, this, &PlotWindow::hover);
    connect(&m_tick, &QTimer::timeout, this, &PlotWindow::tick);
    m_tick.setInterval(TickMs);
    redraw();
}

QList<QPointF> PlotWindow::drawnPoints(int index) const
{
    return index >= 0 && index < int(m_curves->curves.size()) ? m_curves->curves[std::size_t(index)].points : QList<QPointF>();
}

QLineSeries* PlotWindow::series(int index) const
{
    return index >= 0 && index < int(m_series.size()) ? m_series[std::size_t(index)] : nullptr;
}

void PlotWindow::showEvent(QShowEvent* event)
{
    m_tick.start();
    refresh();
    QWidget::showEvent(event);
}

void PlotWindow::hideEvent(QHideEvent* event)
{
    m_tick.stop();
    QWidget::hideEvent(event);
}

void PlotWindow::applyForm()
{
    LineParser parser;
    if (m_form->currentIndex() == 1) {
        QString error;
        if (!parser.setPattern(m_pattern->text(), &error)) {
            m_dialogs.notice(error);
            return;
        }
    }
    m_data.setParser(parser);
    for (QLineSeries* s : m_series) {
        m_chart->removeSeries(s);
        delete s;
    }
    m_series.clear();
    m_curves->curves.clear();
    showAll();
}

void PlotWindow::setFollowing(bool on)
{
    m_following = on;
    const QSignalBlocker blocker(m_follow);
    m_follow->setChecked(on);
    redraw();
}

void PlotWindow::setAutoscale(bool on)
{
    m_autoscale = on;
    const QSignalBlocker blocker(m_autoscaleBox);
    m_autoscaleBox->setChecked(on);
    redraw();
}

void PlotWindow::showAll()
{
    m_timeZoomed = false;
    m_autoscale = true;
    m_following = true;
    const QSignalBlocker a(m_autoscaleBox), f(m_follow);
    m_autoscaleBox->setChecked(true);
    m_follow->setChecked(true);
    refresh();
}

void PlotWindow::refresh()
{
    m_data.update(ReadBudgetMs);
    redraw();
}

void PlotWindow::tick()
{
    if (m_record.nextNumber() == m_drawnNext && m_data.isCaughtUp()) {
        return;
    }
    refresh();
}

void PlotWindow::setSeriesVisible(int index, bool visible)
{
    if (QLineSeries* s = series(index)) {
        s->setVisible(visible);
        markLegend(index);
        redraw();
    }
}

void PlotWindow::markLegend(int index)
{
    QLineSeries* s = series(index);
    const QList<QLegendMarker*> markers = m_chart->legend()->markers(s);
    for (QLegendMarker* marker : markers) {
        // A hidden series keeps its marker, dimmed, to be clicked back on.
        marker->setVisible(true);
        QColor colour = marker->labelBrush().color();
        colour.setAlphaF(s->isVisible() ? 1.0 : 0.4);
        marker->setLabelBrush(colour);
        QBrush brush = marker->brush();
        QColor fill = s->color();
        fill.setAlphaF(s->isVisible() ? 1.0 : 0.2);
        brush.setColor(fill);
        marker->setBrush(brush);
    }
}

void PlotWindow::redraw()
{
    while (int(m_series.size()) < m_data.seriesCount()) {
        const int index = int(m_series.size());
        auto* s = new QLineSeries;
        s->setName(m_data.seriesName(index));
        m_chart->addSeries(s);
        s->attachAxis(m_xAxis);
        s->attachAxis(m_yAxis);
        m_series.push_back(s);
        m_curves->curves.push_back({ {}, s->color(), true });
        const QList<QLegendMarker*> markers = m_chart->legend()->markers(s);
        for (QLegendMarker* marker : markers) {
            connect(marker, &QLegendMarker::clicked, this,
                    [this, index] { setSeriesVisible(index, !m_series[std::size_t(index)]->isVisible()); });
        }
    }
    const qint64 rows = m_data.rowCount();
    if (m_following && rows > 0) {
        m_xMax = double(m_data.time(rows - 1));
        const double width = m_timeZoomed ? m_xMax - m_xMin : m_xMax - double(m_data.time(0));
        m_xMin = m_xMax - std::max(width, 1000.0);
    }
    const int columns = std::max(100, int(m_chart->plotArea().width()));
    double low = INFINITY, high = -INFINITY;
    for (std::size_t i = 0; i < m_series.size(); ++i) {
        CurveItem::Curve& curve = m_curves->curves[i];
        curve.visible = m_series[i]->isVisible();
        curve.points = curve.visible ? m_data.decimated(int(i), m_xMin, m_xMax, columns) : QList<QPointF>();
        for (const QPointF& p : std::as_const(curve.points)) {
            if (p.x() >= m_xMin && p.x() <= m_xMax) {
                low = std::min(low, p.y());
                high = std::max(high, p.y());
            }
        }
    }
    if (m_autoscale && low <= high) {
        const double pad = high > low ? (high - low) * 0.05 : std::max(1.0, std::abs(high) * 0.05);
        m_yMin = low - pad;
        m_yMax = high + pad;
    }
    applyRange();
    m_curves->range = QRectF(QPointF(m_xMin, m_yMin), QPointF(m_xMax, m_yMax));
    m_curves->update();
    m_drawnNext = m_record.nextNumber();
    updateCounts();
}

void PlotWindow::applyRange()
{
    const double width = m_xMax - m_xMin;
    m_xAxis->setFormat(width < 10'000 ? QStringLiteral("hh:mm:ss.zzz")
                           : width < 86'400'000 ? QStringLiteral("hh:mm:ss")
                                                : QStringLiteral("MM-dd hh:mm"));
    m_xAxis->setRange(QDateTime::fromMSecsSinceEpoch(qint64(std::floor(m_xMin))),
                      QDateTime::fromMSecsSinceEpoch(qint64(std::ceil(m_xMax))));
    // Ticks at round values (1, 2 or 5 times a power of ten), about five of them.
    const double rough = (m_yMax - m_yMin) / 5;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    const double step = rough / magnitude < 1.5 ? magnitude : rough / magnitude < 3.5 ? 2 * magnitude
        : rough / magnitude < 7.5                ? 5 * magnitude
                                                 : 10 * magnitude;
    if (!std::isfinite(step) || step <= 0) {
        m_yAxis->setRange(m_yMin, m_yMax);
        return;
    }
    // Whichever of the two makes fewer ticks first, so the axis never holds thousands of them
    // on the way from the old range to the new one.
    if (step > m_yAxis->tickInterval()) {
        m_yAxis->setTickInterval(step);
        m_yAxis->setRange(m_yMin, m_yMax);
    } else {
        m_yAxis->setRange(m_yMin, m_yMax);
        m_yAxis->setTickInterval(step);
    }
}

void PlotWindow::updateCounts()
{
    m_counts->setText(QStringLiteral("%1 行，无法解析 %2 行").arg(m_data.rowCount()).arg(m_data.malformed()));
}

void PlotWindow::zoom(const QPointF& pos, double steps, PlotView::Axes axes)
{
    const double factor = std::pow(0.8, steps);
    const QPointF at = m_chart->mapToValue(pos);
    if (axes != PlotView::Axes::Value) {
        const double width = std::max(MinWidthMs, (m_xMax - m_xMin) * factor);
        // While following, the newest data stays at the right edge.
        const double anchor = m_following ? m_xMax : at.x();
        const double share = m_following ? 1.0 : (anchor - m_xMin) / (m_xMax - m_xMin);
        m_xMin = anchor - width * share;
        m_xMax = m_xMin + width;
        m_timeZoomed = true;
    }
    if (axes != PlotView::Axes::Time) {
        const double height = std::max(1e-12, (m_yMax - m_yMin) * factor);
        const double share = (at.y() - m_yMin) / (m_yMax - m_yMin);
        m_yMin = at.y() - height * share;
        m_yMax = m_yMin + height;
        m_autoscale = false;
        const QSignalBlocker blocker(m_autoscaleBox);
        m_autoscaleBox->setChecked(false);
    }
    redraw();
}

void PlotWindow::pan(const QPointF& delta, PlotView::Axes axes)
{
    const QRectF area = m_chart->plotArea();
    if (area.width() < 1 || area.height() < 1) {
        return;
    }
    if (axes != PlotView::Axes::Value && delta.x() != 0) {
        const double dx = -delta.x() * (m_xMax - m_xMin) / area.width();
        m_xMin += dx;
        m_xMax += dx;
        m_timeZoomed = true;
        m_following = false;
        const QSignalBlocker blocker(m_follow);
        m_follow->setChecked(false);
    }
    if (axes != PlotView::Axes::Time && delta.y() != 0) {
        const double dy = delta.y() * (m_yMax - m_yMin) / area.height();
        m_yMin += dy;
        m_yMax += dy;
        m_autoscale = false;
        const QSignalBlocker blocker(m_autoscaleBox);
        m_autoscaleBox->setChecked(false);
    }
    redraw();
}

void PlotWindow::hover(const QPointF& pos)
{
    if (pos.isNull() || !m_chart->plotArea().contains(pos)) {
        m_readout->clear();
        return;
    }
    const QPointF at = m_chart->mapToValue(pos);
    QString text = QStringLiteral("时间 %1  值 %2").arg(clockTime(qint64(std::llround(at.x())))).arg(at.y(), 0, 'g', 6);
    // The values of the line nearest the cursor's time.
    qint64 row = m_data.rowAt(at.x());
    const qint64 rows = m_data.rowCount();
    if (row > 0 && (row == rows || at.x() - double(m_data.time(row - 1)) < double(m_data.time(row)) - at.x())) {
        --row;
    }
    if (row < rows) {
        text += QStringLiteral("  ｜ %1").arg(clockTime(m_data.time(row)));
        for (int s = 0; s < int(m_series.size()); ++s) {
            const double v = m_data.value(s, row);
            if (m_series[std::size_t(s)]->isVisible() && !std::isnan(v)) {
                text += QStringLiteral("  %1 %2").arg(m_data.seriesName(s)).arg(v, 0, 'g', 10);
            }
        }
    }
    m_readout->setText(text);
}

void PlotWindow::exportPng()
{
    const std::optional<QString> path = m_dialogs.savePath(QStringLiteral("导出曲线图片"), m_folder,
                                                           QStringLiteral("曲线.png"), QStringLiteral("PNG 图片(*.png)|*.png"));
    if (!path) {
        return;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QString error;
    if (!m_view->grab().toImage().save(&buffer, "PNG")) {
        error = QStringLiteral("图片编码失败");
    }
    if (!error.isEmpty() || !writeFileAtomically(*path, bytes, &error)) {
        m_dialogs.notice(QStringLiteral("曲线图片没有保存到 %1：%2").arg(*path, error));
    }
}

void PlotWindow::exportCsv()
{
    const std::optional<QString> path = m_dialogs.savePath(QStringLiteral("导出曲线数据"), m_folder,
                                                           QStringLiteral("曲线数据.csv"),
                                                           QStringLiteral("逗号分隔的数据(*.csv)|*.csv"));
    if (!path) {
        return;
    }
    m_data.update(-1);
    QString error;
    if (!writeFileAtomically(*path, m_data.csv(), &error)) {
        m_dialogs.notice(QStringLiteral("曲线数据没有保存到 %1：%2").arg(*path, error));
    }
}

} // namespace comkeys

#include "moc_PlotWindow.cpp"
