#pragma once

#include "LineRecord.h"
#include "SearchPattern.h"
#include "RecordSearch.h"
#include "WrappedText.h"

#include <QFrame>
#include <QTimer>

namespace comkeys {

// Only the lines of the receive display's view that match a pattern (a grep of the line), kept
// up to date as data arrives; laid over the display, which stays as it was underneath. The line
// still being received shows while it matches so far.
class FilterView : public QFrame {
    Q_OBJECT
public:
    // A line longer than this counts as ended there (a stream without line breaks).
    static constexpr qsizetype LongestLine = 64 * 1024;

    explicit FilterView(const LineRecord& record, QWidget* parent = nullptr);

    // Starts afresh with the newest part of the record from entry fromEntry on; an empty pattern
    // shows nothing.
    void setFilter(const SearchPattern& pattern, RecordView view, qint64 fromEntry);
    QString text() const { return m_lines.text(); }
    // Lines shown, the one still being received included.
    qint64 lineCount() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onAdded(qint64 n);
    void take(const QString& text);
    int visibleLines() const;
    void scrollBy(qint64 lines);

    const LineRecord& m_record;
    SearchPattern m_pattern;
    RecordView m_view = RecordView::Text;
    WrappedText m_lines;
    QString m_open; // the line being received
    bool m_atLineEnd = true;
    bool m_following = true;
    qint64 m_top = 0;
    QTimer m_repaint;
};

} // namespace comkeys
