#include "ReceiveDisplay.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>

#include <cstring>

namespace comkeys {

namespace {
    constexpr int Margin = 2;
    constexpr int FrameInterval = 16; // ms between repaints at most, so about 60 a second
    constexpr int BusyFrameInterval = 33; // when every frame brings many new lines
    // Received bytes a view is rebuilt from at most when it is switched: the newest part.
    constexpr qint64 RebuildBytes[] = { 3 * 1024 * 1024, 640 * 1024, 2 * 1024 * 1024 };

    bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }
} // namespace

ReceiveDisplay::ReceiveDisplay(const LineRecord& record, QWidget* parent)
    : QFrame(parent)
    , m_record(record)
    , m_startEntry(record.nextNumber())
    , m_startReceived(record.receivedTotal())
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::IBeamCursor);
    m_repaint.setSingleShot(true);
    connect(&m_repaint, &QTimer::timeout, this, &ReceiveDisplay::refresh);
    connect(&record, &LineRecord::added, this, &ReceiveDisplay::onAdded);
    applyFont();
}

void ReceiveDisplay::applyFont()
{
    m_font = font();
    if (m_view == View::Hex) {
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        fixed.setPointSizeF(m_font.pointSizeF());
        m_font = fixed;
    }
    m_lines.setMetrics(QFontMetricsF(m_font), contentsRect().width() - 2 * Margin);
    m_rawFont = QRawFont::fromFont(m_font);
    QString all;
    for (int c = 0; c < 256; ++c) {
        all += WrappedText::shown(QChar(char16_t(c)));
    }
    const QList<quint32> glyphs = m_rawFont.glyphIndexesForString(all);
    for (int c = 0; c < 256; ++c) {
        m_glyphs[std::size_t(c)] = c < glyphs.size() ? glyphs[c] : 0;
    }
}

void ReceiveDisplay::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    applyFont();
}

void ReceiveDisplay::setView(View view)
{
    if (view == m_view) {
        return;
    }
    m_view = view;
    applyFont();
    rebuild();
    Q_EMIT viewChanged(view);
}

void ReceiveDisplay::clear()
{
    m_startEntry = m_record.nextNumber();
    m_startReceived = m_record.receivedTotal();
    rebuild();
}

void ReceiveDisplay::rebuild()
{
    m_lines.clear();
    m_row.clear();
    m_atLineStart = true;
    m_anchor = m_cursor = -1;
    m_following = true;
    // Only the newest part of a long record is shown again: what the display keeps anyway.
    const qint64 first = std::max(m_startEntry, m_record.firstNumber());
    qint64 from = m_record.nextNumber();
    qint64 bytes = 0;
    while (from > first && bytes < RebuildBytes[int(m_view)]) {
        --from;
        bytes += m_record.entry(from).bytes.size();
    }
    m_rowOffset = from < m_record.nextNumber() ? m_record.entry(from).receivedBefore - m_startReceived : 0;
    for (qint64 n = from; n < m_record.nextNumber(); ++n) {
        if (m_record.entry(n).direction == LineRecord::Direction::Received) {
            show(m_record.entry(n));
        }
    }
    changed();
}

void ReceiveDisplay::onAdded(qint64 n)
{
    const LineRecord::Entry& entry = m_record.entry(n);
    if (entry.direction != LineRecord::Direction::Received) {
        return;
    }
    if (m_row.isEmpty() && m_lines.end() == m_lines.begin()) {
        m_rowOffset = entry.receivedBefore - m_startReceived;
    }
    show(entry);
    changed();
}

QString ReceiveDisplay::hexRow() const
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    QString row = QString::number(m_rowOffset, 16).toUpper().rightJustified(8, u'0') + QStringLiteral("  ");
    for (int i = 0; i < 16; ++i) {
        if (i < m_row.size()) {
            const auto b = uchar(m_row[i]);
            row += QLatin1Char(Digits[b >> 4]);
            row += QLatin1Char(Digits[b & 15]);
            row += u' ';
        } else {
            row += QStringLiteral("   ");
        }
    }
    row += u' ';
    for (char c : m_row) {
        row += uchar(c) >= 0x20 && uchar(c) < 0x7F ? QLatin1Char(c) : QLatin1Char('.');
    }
    return row;
}

void ReceiveDisplay::show(const LineRecord::Entry& entry)
{
    if (m_view == View::Hex) {
        for (char c : entry.bytes) {
            m_row += c;
            if (m_row.size() == 16) {
                m_lines.replaceOpenLine(hexRow() + u'\n');
                m_rowOffset += 16;
                m_row.clear();
            }
        }
        if (!m_row.isEmpty()) {
            m_lines.replaceOpenLine(hexRow());
        }
        return;
    }
    QString text;
    text.reserve(entry.bytes.size() + 16);
    if (m_view == View::Timestamps) {
        if (!m_atLineStart) {
            text += u'\n';
        }
        text += clockTime(entry.msecs) + u' ';
    }
    // The text view holds what the display always held: every byte but carriage returns.
    const char* p = entry.bytes.constData();
    const char* end = p + entry.bytes.size();
    while (p < end) {
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', std::size_t(end - p)));
        const char* runEnd = cr ? cr : end;
        text += QLatin1StringView(p, runEnd - p);
        p = runEnd + 1;
    }
    if (!text.isEmpty()) {
        m_lines.append(text);
        m_atLineStart = text.back() == u'\n';
    }
}

void ReceiveDisplay::changed()
{
    // Paint at once when the display has been quiet for a frame; under load, once a frame.
    if (m_updatePending || m_repaint.isActive()) {
        return;
    }
    // Under a heavy stream (many lines a frame) half the frame rate draws the same lines with
    // half the overhead; a light stream keeps the short delay.
    const int interval = m_busy ? BusyFrameInterval : FrameInterval;
    const qint64 since = m_sincePaint.isValid() ? m_sincePaint.elapsed() : interval;
    if (since >= interval) {
        refresh();
    } else {
        m_repaint.start(int(interval - since));
    }
}

QRect ReceiveDisplay::textArea() const
{
    const QRect area = contentsRect();
    const qreal lineHeight = QFontMetricsF(m_font).lineSpacing();
    return QRect(area.left(), area.top() + Margin, area.width(), int(visibleLines() * lineHeight));
}

void ReceiveDisplay::refresh()
{
    m_updatePending = true;
    const qint64 top = topLine();
    const qint64 shift = top - m_paintedTop;
    if (m_paintedTop < 0 || m_lines.allDirty() || shift < 0 || shift >= visibleLines()
        || m_lines.dirtyFrom() < m_paintedTop) {
        update();
        return;
    }
    const qreal lineHeight = QFontMetricsF(m_font).lineSpacing();
    const QRect lines = textArea();
    if (shift > 0) {
        scroll(0, -int(std::lround(shift * lineHeight)), lines);
    }
    const int row = int(std::max<qint64>(0, m_lines.dirtyFrom() - top));
    update(QRect(contentsRect().left(), lines.top() + int(row * lineHeight), contentsRect().width(),
                 contentsRect().bottom() - lines.top() - int(row * lineHeight) + 1));
}

int ReceiveDisplay::visibleLines() const
{
    const qreal lineHeight = QFontMetricsF(m_font).lineSpacing();
    return std::max(1, int((contentsRect().height() - 2 * Margin) / lineHeight));
}

qint64 ReceiveDisplay::topLine() const
{
    const qint64 bottomTop = std::max(m_lines.firstLine(), m_lines.endLine() - visibleLines());
    return m_following ? bottomTop : std::clamp(m_top, m_lines.firstLine(), bottomTop);
}

void ReceiveDisplay::scrollTo(qint64 top)
{
    const qint64 bottomTop = std::max(m_lines.firstLine(), m_lines.endLine() - visibleLines());
    m_following = top >= bottomTop;
    m_top = std::clamp(top, m_lines.firstLine(), bottomTop);
    m_paintedTop = -1;
    update();
}

void ReceiveDisplay::scrollBy(qint64 lines) { scrollTo(topLine() + lines); }

void ReceiveDisplay::paintEvent(QPaintEvent* event)
{
    m_updatePending = false;
    m_sincePaint.restart();
    QPainter painter(this);
    const QRect area = contentsRect();
    const QRect exposed = event->rect() & area;
    painter.fillRect(exposed, palette().color(QPalette::Base));
    painter.setClipRect(exposed);
    painter.setFont(m_font);
    const QFontMetricsF metrics(m_font);
    const qreal lineHeight = metrics.lineSpacing();
    const QColor text = palette().color(QPalette::Text);
    const QColor selectedBack = palette().color(QPalette::Highlight);
    const QColor selectedText = palette().color(QPalette::HighlightedText);
    const qint64 selFrom = std::min(m_anchor, m_cursor);
    const qint64 selTo = std::max(m_anchor, m_cursor);

    qreal y = area.top() + Margin;
    const qint64 top = topLine();
    const qint64 last = std::min(m_lines.endLine(), top + visibleLines() + 1);
    for (qint64 line = top; line < last; ++line, y += lineHeight) {
        if (y + lineHeight < exposed.top() || y > exposed.bottom() + 1) {
            continue;
        }
        const qint64 start = m_lines.lineStart(line);
        const qint64 end = m_lines.lineEnd(line);
        // Up to three runs: before, inside and after the selection.
        const qint64 cuts[] = { start, std::clamp(selFrom, start, end), std::clamp(selTo, start, end), end };
        qreal x = area.left() + Margin;
        for (int run = 0; run < 3; ++run) {
            if (cuts[run + 1] <= cuts[run]) {
                continue;
            }
            // Glyphs at the positions the wrapping measured: no shaping, the same widths.
            const auto count = qsizetype(cuts[run + 1] - cuts[run]);
            QList<quint32> glyphs(count);
            QList<QPointF> positions(count);
            QString shown(count, Qt::Uninitialized);
            bool allGlyphs = m_rawFont.isValid();
            qreal width = 0;
            for (qsizetype i = 0; i < count; ++i) {
                const QChar c = m_lines.at(cuts[run] + i);
                shown[i] = WrappedText::shown(c);
                const quint32 glyph = c.unicode() < 256 ? m_glyphs[c.unicode()] : 0;
                allGlyphs = allGlyphs && glyph != 0;
                glyphs[i] = glyph;
                positions[i] = QPointF(width, 0);
                width += m_lines.advance(c);
            }
            const bool selected = run == 1 && selFrom != selTo;
            if (selected) {
                painter.fillRect(QRectF(x, y, width, lineHeight), selectedBack);
            }
            painter.setPen(selected ? selectedText : text);
            const QPointF origin(std::round(x), std::round(y + metrics.ascent()));
            if (allGlyphs) {
                QGlyphRun glyphRun;
                glyphRun.setRawFont(m_rawFont);
                glyphRun.setGlyphIndexes(glyphs);
                glyphRun.setPositions(positions);
                painter.drawGlyphRun(origin, glyphRun);
            } else {
                painter.drawText(origin, shown);
            }
            x += width;
        }
    }
    painter.setClipping(false);
    if (!area.contains(event->rect())) {
        drawFrame(&painter);
    }
    m_busy = m_paintedTop >= 0 && top - m_paintedTop >= std::max(2, visibleLines() / 4);
    m_paintedTop = top;
    m_lines.markClean();
    m_paintedEnd = m_lines.end();
}

qint64 ReceiveDisplay::positionAt(const QPoint& point) const
{
    const QRect area = contentsRect();
    const qreal lineHeight = QFontMetricsF(m_font).lineSpacing();
    const qint64 line = std::clamp(topLine() + qint64(std::floor((point.y() - area.top() - Margin) / lineHeight)),
                                   m_lines.firstLine(), m_lines.endLine() - 1);
    qreal x = area.left() + Margin;
    const qint64 end = m_lines.lineEnd(line);
    for (qint64 pos = m_lines.lineStart(line); pos < end; ++pos) {
        const qreal w = m_lines.advance(m_lines.at(pos));
        if (point.x() < x + w / 2) {
            return pos;
        }
        x += w;
    }
    return end;
}

QString ReceiveDisplay::selectedText() const
{
    if (m_anchor < 0 || m_anchor == m_cursor) {
        return {};
    }
    return m_lines.text(std::min(m_anchor, m_cursor), std::max(m_anchor, m_cursor));
}

void ReceiveDisplay::selectAll()
{
    m_anchor = m_lines.begin();
    m_cursor = m_lines.end();
    update();
}

void ReceiveDisplay::copy() const
{
    if (const QString text = selectedText(); !text.isEmpty()) {
        QGuiApplication::clipboard()->setText(text);
    }
}

void ReceiveDisplay::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QFrame::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const qint64 pos = positionAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier) || m_anchor < 0) {
        m_anchor = pos;
    }
    m_cursor = pos;
    update();
}

void ReceiveDisplay::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || m_anchor < 0) {
        return;
    }
    m_cursor = positionAt(event->position().toPoint());
    if (QClipboard* clipboard = QGuiApplication::clipboard(); clipboard->supportsSelection()) {
        clipboard->setText(selectedText(), QClipboard::Selection);
    }
    update();
}

void ReceiveDisplay::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_lines.end() == m_lines.begin()) {
        return;
    }
    qint64 from = std::min(positionAt(event->position().toPoint()), m_lines.end() - 1);
    qint64 to = from + 1;
    if (isWordChar(m_lines.at(from))) {
        while (from > m_lines.begin() && isWordChar(m_lines.at(from - 1))) {
            --from;
        }
        while (to < m_lines.end() && isWordChar(m_lines.at(to))) {
            ++to;
        }
    }
    m_anchor = from;
    m_cursor = to;
    update();
}

void ReceiveDisplay::wheelEvent(QWheelEvent* event)
{
    const int notches = event->angleDelta().y() / 40; // three lines a notch
    if (notches != 0) {
        scrollBy(-notches);
    }
    event->accept();
}

void ReceiveDisplay::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->key() == Qt::Key_PageUp) {
        scrollBy(-std::max(1, visibleLines() - 1));
    } else if (event->key() == Qt::Key_PageDown) {
        scrollBy(std::max(1, visibleLines() - 1));
    } else if (event->key() == Qt::Key_Up) {
        scrollBy(-1);
    } else if (event->key() == Qt::Key_Down) {
        scrollBy(1);
    } else if (event->key() == Qt::Key_Home && (event->modifiers() & Qt::ControlModifier)) {
        scrollTo(m_lines.firstLine());
    } else if (event->key() == Qt::Key_End && (event->modifiers() & Qt::ControlModifier)) {
        scrollTo(m_lines.endLine());
    } else {
        QFrame::keyPressEvent(event);
    }
}

void ReceiveDisplay::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copyAction = menu.addAction(QStringLiteral("复制"), this, &ReceiveDisplay::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(!selectedText().isEmpty());
    menu.addAction(QStringLiteral("全选"), this, &ReceiveDisplay::selectAll)->setShortcut(QKeySequence::SelectAll);
    menu.addAction(QStringLiteral("清屏"), this, &ReceiveDisplay::clearRequested);
    menu.addSeparator();
    menu.addAction(QStringLiteral("保存接收数据…"), this, &ReceiveDisplay::saveRequested);
    menu.addAction(m_capturing ? QStringLiteral("停止捕获") : QStringLiteral("开始捕获到文件…"), this,
                   &ReceiveDisplay::captureRequested);
    menu.addSeparator();
    QAction* hex = menu.addAction(QStringLiteral("十六进制显示"));
    hex->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    hex->setCheckable(true);
    hex->setChecked(m_view == View::Hex);
    connect(hex, &QAction::toggled, this, [this](bool on) { setView(on ? View::Hex : View::Text); });
    QAction* stamps = menu.addAction(QStringLiteral("时间戳"));
    stamps->setCheckable(true);
    stamps->setChecked(m_view == View::Timestamps);
    connect(stamps, &QAction::toggled, this, [this](bool on) { setView(on ? View::Timestamps : View::Text); });
    menu.addSeparator();
    QAction* log = menu.addAction(QStringLiteral("显示调试信息打印窗口"), this, &ReceiveDisplay::showLogRequested);
    log->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    QAction* transcript = menu.addAction(QStringLiteral("收发记录"), this, &ReceiveDisplay::transcriptRequested);
    transcript->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    menu.exec(event->globalPos());
}

} // namespace comkeys
