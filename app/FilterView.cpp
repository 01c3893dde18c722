#include "FilterView.h"

#include <QKeyEvent>
#include <QPainter>

namespace comkeys {

namespace {
    constexpr int TextMargin = 2;
    constexpr qint64 FillBytes = 3 * 1024 * 1024; // the newest part of the record filtered at the start
} // namespace

FilterView::FilterView(const LineRecord& record, QWidget* parent)
    : QFrame(parent)
    , m_record(record)
{
    setObjectName(QStringLiteral("FilterView"));
    setAccessibleName(QStringLiteral("匹配行"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_repaint.setSingleShot(true);
    m_repaint.setInterval(30); // a stream repaints at most about 30 times a second
    connect(&m_repaint, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    connect(&record, &LineRecord::added, this, &FilterView::onAdded);
}

void FilterView::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    m_lines.setMetrics(QFontMetricsF(font()), contentsRect().width() - 2 * TextMargin);
}

void FilterView::setFilter(const SearchPattern& pattern, RecordView view, qint64 fromEntry)
{
    m_pattern = pattern;
    m_view = view;
    m_lines.clear();
    m_open.clear();
    m_atLineEnd = true;
    m_following = true;
    if (!m_pattern.isEmpty()) {
        const qint64 first = std::max(fromEntry, m_record.firstNumber());
        qint64 from = m_record.nextNumber();
        qint64 bytes = 0;
        while (from > first && bytes < FillBytes) {
            --from;
            bytes += m_record.entry(from).bytes.size();
        }
        for (qint64 n = from; n < m_record.nextNumber(); ++n) {
            onAdded(n);
        }
    }
    update();
}

void FilterView::onAdded(qint64 n)
{
    const LineRecord::Entry& e = m_record.entry(n);
    if (m_pattern.isEmpty() || e.direction != LineRecord::Direction::Received) {
        return;
    }
    const QString text = viewText(m_view, e, m_atLineEnd);
    if (!text.isEmpty()) {
        m_atLineEnd = text.back() == u'\n';
        take(text);
    }
    if (isVisible() && !m_repaint.isActive()) {
        m_repaint.start();
    }
}

void FilterView::take(const QString& text)
{
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype end = text.indexOf(u'\n', from);
        const qsizetype room = LongestLine - m_open.size();
        if (end < 0 && text.size() - from < room) {
            m_open += QStringView(text).mid(from);
            break;
        }
        end = end < 0 ? from + room : std::min(end, from + room);
        m_open += QStringView(text).mid(from, end - from);
        if (m_pattern.matches(m_open)) {
            m_open += u'\n';
            m_lines.replaceOpenLine(m_open);
        }
        m_open.clear();
        from = end < text.size() && text[end] == u'\n' ? end + 1 : end;
    }
    // The line still coming shows while it matches.
    m_lines.replaceOpenLine(m_pattern.matches(m_open) ? m_open : QString());
}

qint64 FilterView::lineCount() const
{
    qint64 lines = 0;
    for (QChar c : m_lines.text()) {
        lines += c == u'\n';
    }
    return lines + (m_lines.text().endsWith(u'\n') || m_lines.text().isEmpty() ? 0 : 1);
}

int FilterView::visibleLines() const
{
    return std::max(1, int((contentsRect().height() - 2 * TextMargin) / QFontMetricsF(font()).lineSpacing()));
}

void FilterView::scrollBy(qint64 lines)
{
    const qint64 bottomTop = std::max(m_lines.firstLine(), m_lines.endLine() - visibleLines());
    const qint64 top = std::clamp((m_following ? bottomTop : m_top) + lines, m_lines.firstLine(), bottomTop);
    m_following = top >= bottomTop;
    m_top = top;
    update();
}

void FilterView::wheelEvent(QWheelEvent* event)
{
    scrollBy(-event->angleDelta().y() / 40);
    event->accept();
}

void FilterView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        scrollBy((event->key() == Qt::Key_PageUp ? -1 : 1) * std::max(1, visibleLines() - 1));
    } else {
        QFrame::keyPressEvent(event);
    }
}

void FilterView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.fillRect(area, palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Text));
    const QFontMetricsF metrics(font());
    const qint64 visible = visibleLines();
    const qint64 bottomTop = std::max(m_lines.firstLine(), m_lines.endLine() - visible);
    const qint64 top = m_following ? bottomTop : std::clamp(m_top, m_lines.firstLine(), bottomTop);
    const qint64 end = std::min(m_lines.endLine(), top + visible + 1);
    qreal y = area.top() + TextMargin;
    for (qint64 line = top; line < end; ++line) {
        QString shown = m_lines.text(m_lines.lineStart(line), m_lines.lineEnd(line));
        for (QChar& c : shown) {
            c = WrappedText::shown(c);
        }
        painter.drawText(QPointF(area.left() + TextMargin, y + metrics.ascent()), shown);
        y += metrics.lineSpacing();
    }
    if (!area.contains(event->rect())) {
        drawFrame(&painter);
    }
}

} // namespace comkeys

#include "moc_FilterView.cpp"
