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

void ReceiveDisplay::offerActions(QAction* hex, const QList<QAction*>& windows)
{
    m_hexAction = hex;
    m_windowActions += windows;
}

void ReceiveDisplay::setColourRules(const ColourRules& rules)
{
    m_rules = compileRules(rules);
    m_paintedTop = -1;
    update();
}

void ReceiveDisplay::setFindPattern(const SearchPattern& pattern)
{
    m_find = pattern;
    m_current.reset();
    m_paintedTop = -1;
    update();
}

std::optional<std::pair<qint64, qint64>> ReceiveDisplay::matchPosition(const RecordMatch& match) const
{
    if (match.entry < m_record.firstNumber() || match.entry >= m_record.nextNumber() || match.entry < m_startEntry) {
        return std::nullopt;
    }
    qint64 from = 0;
    qint64 to = 0;
    if (m_view == View::Hex) {
        const qint64 offset = m_record.entry(match.entry).receivedBefore - m_startReceived + match.offset - m_hexOrigin;
        if (offset < 0) {
            return std::nullopt;
        }
        from = hexDigitsAt(offset);
        to = hexDigitsAt(offset + std::max<qint64>(1, match.length) - 1) + 2;
    } else {
        const auto it = std::lower_bound(m_shownEntries.begin(), m_shownEntries.end(), match.entry,
                                         [](const std::pair<qint64, qint64>& s, qint64 e) { return s.first < e; });
        if (it == m_shownEntries.end() || it->first != match.entry) {
            return std::nullopt;
        }
        from = it->second + match.offset;
        to = from + match.length;
    }
    if (from < m_lines.begin() || to > m_lines.end()) {
        return std::nullopt;
    }
    return std::make_pair(from, to);
}

bool ReceiveDisplay::revealMatch(const RecordMatch& match)
{
    std::optional<std::pair<qint64, qint64>> at = matchPosition(match);
    if (!at) {
        const qint64 first = std::max(m_startEntry, m_record.firstNumber());
        if (match.entry < first || match.entry >= m_record.nextNumber()) {
            return false;
        }
        // A part of the record around the match: small, so that it is shown without a pause.
        qint64 from = match.entry;
        qint64 bytes = 0;
        while (from > first && bytes < 16 * 1024) {
            --from;
            bytes += m_record.entry(from).bytes.size();
        }
        qint64 to = match.entry;
        while (to < m_record.nextNumber() && bytes < 256 * 1024) {
            bytes += m_record.entry(to).bytes.size();
            ++to;
        }
        m_islandEnd = to < m_record.nextNumber() ? to : -1;
        rebuildRange(from, m_islandEnd >= 0 ? to : m_record.nextNumber());
        m_following = m_islandEnd < 0;
        at = matchPosition(match);
        if (!at) {
            return false;
        }
    }
    m_current = match;
    const qint64 line = m_lines.lineOf(at->first);
    const qint64 top = topLine();
    if (line < top || m_lines.lineOf(std::max(at->first, at->second - 1)) >= top + visibleLines()) {
        scrollTo(line - visibleLines() / 3);
    }
    m_paintedTop = -1;
    update();
    return true;
}

std::vector<std::pair<qint64, qint64>> ReceiveDisplay::currentRanges() const
{
    std::vector<std::pair<qint64, qint64>> ranges;
    const std::optional<std::pair<qint64, qint64>> at = m_current ? matchPosition(*m_current) : std::nullopt;
    if (!at) {
        return ranges;
    }
    if (m_view != View::Hex) {
        ranges.push_back(*at);
        return ranges;
    }
    const qint64 offset = m_record.entry(m_current->entry).receivedBefore - m_startReceived + m_current->offset - m_hexOrigin;
    for (qint64 k = offset; k < offset + m_current->length; ++k) {
        ranges.emplace_back(hexDigitsAt(k), hexDigitsAt(k) + 2);
        ranges.emplace_back(hexCharAt(k), hexCharAt(k) + 1);
    }
    return ranges;
}

qint64 ReceiveDisplay::entryAt(qint64 pos) const
{
    if (m_view != View::Hex) {
        const auto it = std::upper_bound(m_shownEntries.begin(), m_shownEntries.end(), pos,
                                         [](qint64 p, const std::pair<qint64, qint64>& s) { return p < s.second; });
        return it == m_shownEntries.begin() ? (m_shownEntries.empty() ? -1 : it->first) : std::prev(it)->first;
    }
    // The entry holding the row's first byte: the last one received before it.
    const qint64 received = m_startReceived + m_hexOrigin + pos / 76 * 16;
    qint64 lo = std::max(m_startEntry, m_record.firstNumber());
    qint64 hi = m_record.nextNumber();
    if (lo >= hi) {
        return -1;
    }
    while (hi - lo > 1) {
        const qint64 mid = lo + (hi - lo) / 2;
        (m_record.entry(mid).receivedBefore <= received ? lo : hi) = mid;
    }
    return lo;
}

qint64 ReceiveDisplay::entryAtTop() const { return entryAt(m_lines.lineStart(topLine())); }

qint64 ReceiveDisplay::entryAtBottom() const
{
    return entryAt(m_lines.lineEnd(std::max(topLine(), std::min(m_lines.endLine(), topLine() + visibleLines()) - 1)));
}

void ReceiveDisplay::clear()
{
    m_startEntry = m_record.nextNumber();
    m_startReceived = m_record.receivedTotal();
    rebuild();
}

void ReceiveDisplay::rebuild()
{
    // Only the newest part of a long record is shown again: what the display keeps anyway.
    const qint64 first = std::max(m_startEntry, m_record.firstNumber());
    qint64 from = m_record.nextNumber();
    qint64 bytes = 0;
    while (from > first && bytes < RebuildBytes[int(m_view)]) {
        --from;
        bytes += m_record.entry(from).bytes.size();
    }
    m_islandEnd = -1;
    rebuildRange(from, m_record.nextNumber());
}

void ReceiveDisplay::rebuildRange(qint64 from, qint64 to)
{
    m_lines.clear();
    m_row.clear();
    m_shownEntries.clear();
    m_anchor = m_cursor = -1;
    m_following = true;
    m_rowOffset = from < m_record.nextNumber() ? m_record.entry(from).receivedBefore - m_startReceived : 0;
    m_hexOrigin = m_rowOffset;
    for (qint64 n = from; n < to; ++n) {
        if (m_record.entry(n).direction == LineRecord::Direction::Received) {
            show(m_record.entry(n), n);
        }
    }
    changed();
}

void ReceiveDisplay::onAdded(qint64 n)
{
    const LineRecord::Entry& entry = m_record.entry(n);
    if (entry.direction != LineRecord::Direction::Received || m_islandEnd >= 0) {
        return;
    }
    if (m_row.isEmpty() && m_lines.end() == m_lines.begin()) {
        m_rowOffset = entry.receivedBefore - m_startReceived;
        m_hexOrigin = m_rowOffset;
    }
    show(entry, n);
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

void ReceiveDisplay::show(const LineRecord::Entry& entry, qint64 n)
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
    // Where the entry's text starts, so a find match in the record can be shown where it is.
    qint64 start = m_lines.end();
    if (m_view == View::Timestamps) {
        const bool atLineStart = start == m_lines.begin() || m_lines.at(start - 1) == u'\n';
        if (!atLineStart) {
            m_lines.append(QStringLiteral("\n"));
            ++start;
        }
        m_lines.append(clockTime(entry.msecs) + u' ');
    }
    m_lines.appendReceived(entry.bytes);
    if (m_lines.end() > start) {
        m_shownEntries.emplace_back(n, start);
        // Entries trimmed from the text, or dropped from the record, can be looked up no more.
        while (m_shownEntries.size() > 1
               && (m_shownEntries[1].second <= m_lines.begin() || m_shownEntries.front().first < m_record.firstNumber())) {
            m_shownEntries.pop_front();
        }
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
    qint64 dirty = m_lines.dirtyFrom();
    if ((!m_rules.empty() && m_view != View::Hex) || !m_find.isEmpty()) {
        // New text can colour rows painted before: a whole-line rule matching later in the line,
        // or a match that starts before the wrap. Those rows in view are painted again.
        qint64 pos = m_lines.lineStart(std::clamp(dirty, m_lines.firstLine(), m_lines.endLine() - 1));
        const qint64 stop = m_lines.lineStart(std::max(top, m_lines.firstLine()));
        while (pos > stop && m_lines.at(pos - 1) != u'\n') {
            --pos;
        }
        dirty = m_lines.lineOf(pos);
    }
    const int row = int(std::max<qint64>(0, dirty - top));
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
    qint64 bottomTop = std::max(m_lines.firstLine(), m_lines.endLine() - visibleLines());
    if (m_islandEnd >= 0 && top >= bottomTop && m_islandEnd < m_record.firstNumber()) {
        // What followed the older part shown has been dropped from the record since: the display
        // can only go on with the newest part.
        rebuild();
        bottomTop = std::max(m_lines.firstLine(), m_lines.endLine() - visibleLines());
        top = bottomTop;
    } else if (m_islandEnd >= 0 && top >= bottomTop) {
        // Scrolling on past an older part of the record brings in what followed it.
        qint64 bytes = 0;
        for (; m_islandEnd < m_record.nextNumber() && bytes < 256 * 1024; ++m_islandEnd) {
            if (m_record.entry(m_islandEnd).direction == LineRecord::Direction::Received) {
                show(m_record.entry(m_islandEnd), m_islandEnd);
                bytes += m_record.entry(m_islandEnd).bytes.size();
            }
        }
        if (m_islandEnd >= m_record.nextNumber()) {
            m_islandEnd = -1;
        }
        bottomTop = std::max(m_lines.firstLine(), m_lines.endLine() - visibleLines());
        if (m_islandEnd >= 0) {
            top = std::min(top, bottomTop - 1); // new data still waits: not following yet
        }
    }
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
    // Colour rules, find highlights and the current match, over the text in view and around it.
    const std::vector<std::pair<qint64, qint64>> current = currentRanges();
    const bool hex = m_view == View::Hex;
    std::optional<Decor> decor;
    if ((!m_rules.empty() && !hex) || !m_find.isEmpty() || !current.empty()) {
        const qint64 from = m_lines.lineStart(top);
        const qint64 to = last > top ? m_lines.lineEnd(last - 1) : from;
        const qint64 around = hex ? 2 * 76 : 4096;
        const qint64 windowFrom = std::max(m_lines.begin(), from - around);
        const QString window = m_lines.text(windowFrom, to + around);
        decor = decorate(window, windowFrom, from, to, hex, text.rgb(), m_rules, m_find, current);
    }
    for (qint64 line = top; line < last; ++line, y += lineHeight) {
        if (y + lineHeight < exposed.top() || y > exposed.bottom() + 1) {
            continue;
        }
        const qint64 start = m_lines.lineStart(line);
        const qint64 end = m_lines.lineEnd(line);
        qreal x = area.left() + Margin;
        // Runs of characters that look alike: the same colours, inside or outside the selection.
        for (qint64 runStart = start; runStart < end;) {
            auto styleAt = [&](qint64 pos) {
                const bool selected = selFrom != selTo && pos >= selFrom && pos < selTo;
                const QRgb fg = selected ? selectedText.rgb() : decor ? decor->textAt(pos, text.rgb()) : text.rgb();
                const QRgb bg = selected ? selectedBack.rgb() : decor ? decor->backAt(pos) : Decor::NoBack;
                return std::make_pair(fg, bg);
            };
            const auto style = styleAt(runStart);
            qint64 runEnd = runStart + 1;
            while (runEnd < end && styleAt(runEnd) == style) {
                ++runEnd;
            }
            // Glyphs at the positions the wrapping measured: no shaping, the same widths.
            const auto count = qsizetype(runEnd - runStart);
            QList<quint32> glyphs(count);
            QList<QPointF> positions(count);
            QString shown(count, Qt::Uninitialized);
            bool allGlyphs = m_rawFont.isValid();
            qreal width = 0;
            for (qsizetype i = 0; i < count; ++i) {
                const QChar c = m_lines.at(runStart + i);
                shown[i] = WrappedText::shown(c);
                const quint32 glyph = c.unicode() < 256 ? m_glyphs[c.unicode()] : 0;
                allGlyphs = allGlyphs && glyph != 0;
                glyphs[i] = glyph;
                positions[i] = QPointF(width, 0);
                width += m_lines.advance(c);
            }
            if (style.second != Decor::NoBack) {
                painter.fillRect(QRectF(x, y, width, lineHeight), QColor::fromRgb(style.second));
            }
            painter.setPen(QColor::fromRgb(style.first));
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
            runStart = runEnd;
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
        if (m_islandEnd >= 0) {
            rebuild(); // back from an older part of the record to the newest
        }
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
    menu.addAction(QStringLiteral("着色规则…"), this, &ReceiveDisplay::colourRulesRequested);
    menu.addSeparator();
    menu.addAction(QStringLiteral("保存接收数据…"), this, &ReceiveDisplay::saveRequested);
    menu.addAction(m_capturing ? QStringLiteral("停止捕获") : QStringLiteral("开始捕获到文件…"), this,
                   &ReceiveDisplay::captureRequested);
    menu.addSeparator();
    if (m_hexAction) {
        menu.addAction(m_hexAction);
    }
    QAction* stamps = menu.addAction(QStringLiteral("时间戳"));
    stamps->setCheckable(true);
    stamps->setChecked(m_view == View::Timestamps);
    connect(stamps, &QAction::toggled, this, [this](bool on) { setView(on ? View::Timestamps : View::Text); });
    menu.addSeparator();
    menu.addActions(m_windowActions);
    menu.exec(event->globalPos());
}

} // namespace comkeys

#include "moc_ReceiveDisplay.cpp"
