#pragma once

#include "DisplayDecor.h"
#include "LineRecord.h"
#include "RecordSearch.h"
#include "WrappedText.h"

#include <QElapsedTimer>
#include <QFont>
#include <QRawFont>

#include <array>
#include <deque>
#include <optional>
#include <QFrame>
#include <QTimer>

class QAction;

namespace comkeys {

// The receive display: a read-only view of what arrived, black with light green text, wrapping,
// without scroll bars, following the newest text. It is also a real view of that text: select
// with the mouse or Ctrl+A, copy with Ctrl+C, scroll back with the wheel, PageUp/PageDown and
// Ctrl+Home/Ctrl+End (new data does not move a view scrolled back; at the bottom it follows
// again), and show the same record as text, as a hex dump or with each chunk's arrival time.
class ReceiveDisplay : public QFrame {
    Q_OBJECT
public:
    enum class View { Text, Hex, Timestamps };

    explicit ReceiveDisplay(const LineRecord& record, QWidget* parent = nullptr);

    // What the display shows now, in its view (in the text view, the received text).
    QString text() const { return m_lines.text(); }
    QString selectedText() const;
    View view() const { return m_view; }
    void setView(View view);
    bool isFollowing() const { return m_following; }
    // The first line in view, counted from the first line the display ever held.
    qint64 topLine() const;
    int visibleLines() const;
    // The end of the view's text at the last paint: everything before it is on screen.
    qint64 paintedEnd() const { return m_paintedEnd; }

    // Empties the display (the clear button); the record keeps everything.
    void clear();
    void selectAll();
    void copy() const;
    // Whether a capture runs: the context menu offers to stop it rather than start one.
    void setCapturing(bool capturing) { m_capturing = capturing; }
    // The window's actions this display's context menu offers too: the hex view, and the
    // windows it opens.
    void offerActions(QAction* hex, const QList<QAction*>& windows);
    // One more of the window's actions offered on the context menu.
    void offerAction(QAction* action) { m_windowActions.append(action); }

    // Lines (or the matching text) drawn in the rule's colour, in the text and timestamp views;
    // the first rule that matches wins.
    void setColourRules(const ColourRules& rules);
    // Every match of the pattern on screen is highlighted; an empty pattern marks nothing.
    void setFindPattern(const SearchPattern& pattern);
    // Scrolls a match into view and marks it as the current one. A match in a part of the record
    // the display no longer holds brings that part back; scrolling on past it brings in what
    // followed, Ctrl+End the newest again (new data waits meanwhile).
    // False when the display cannot show it (before a clear, or dropped from the record).
    bool revealMatch(const RecordMatch& match);
    // The first entry the display shows since the last clear.
    qint64 startEntry() const { return m_startEntry; }
    // The record entry shown at the top / in the last line of the view (-1: none).
    qint64 entryAtTop() const;
    qint64 entryAtBottom() const;

Q_SIGNALS:
    void saveRequested();
    void captureRequested();
    void clearRequested();
    void colourRulesRequested();
    void viewChanged(comkeys::ReceiveDisplay::View view);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void onAdded(qint64 n);
    void show(const LineRecord::Entry& entry, qint64 n);
    void rebuild();
    void rebuildRange(qint64 from, qint64 to);
    qint64 entryAt(qint64 pos) const;
    // Text positions [from, to) of a match, when the display holds it.
    std::optional<std::pair<qint64, qint64>> matchPosition(const RecordMatch& match) const;
    std::vector<std::pair<qint64, qint64>> currentRanges() const;
    void applyFont();
    void scrollTo(qint64 top);
    void scrollBy(qint64 lines);
    void changed();
    // Asks for the paint: when the view only moved on by whole lines, the lines already on
    // screen are moved and only the new ones painted.
    void refresh();
    QRect textArea() const;
    qint64 positionAt(const QPoint& point) const;
    QString hexRow() const;

    const LineRecord& m_record;
    WrappedText m_lines;
    QFont m_font; // the widget's font, or a fixed-pitch one for the hex view
    // Glyphs of the 256 characters as painted, so a line is drawn without shaping it; a glyph 0
    // (not in the font) sends its line through drawText and the font's fallbacks.
    QRawFont m_rawFont;
    std::array<quint32, 256> m_glyphs {};
    View m_view = View::Text;
    qint64 m_startEntry = 0; // the first record entry since the last clear
    qint64 m_startReceived = 0; // received bytes before it: hex offsets count from here
    QByteArray m_row; // the hex row being filled
    qint64 m_rowOffset = 0;
    bool m_following = true;
    qint64 m_top = 0; // first line in view while not following
    qint64 m_anchor = -1; // selection, as text positions
    qint64 m_cursor = -1;
    QAction* m_hexAction = nullptr;
    QList<QAction*> m_windowActions;
    bool m_capturing = false;
    QTimer m_repaint;
    QElapsedTimer m_sincePaint;
    bool m_updatePending = false;
    bool m_busy = false; // the last frame brought many new lines
    qint64 m_paintedTop = -1; // the top line at the last paint; -1: paint everything next time
    qint64 m_paintedEnd = 0;
    // Where each received entry's own text starts (text views), for finding matches on screen.
    std::deque<std::pair<qint64, qint64>> m_shownEntries; // entry, position
    qint64 m_hexOrigin = 0; // the offset of the first hex row since the last rebuild
    qint64 m_islandEnd = -1; // showing an older part of the record up to this entry
    std::vector<CompiledRule> m_rules;
    SearchPattern m_find;
    std::optional<RecordMatch> m_current;
};

} // namespace comkeys
