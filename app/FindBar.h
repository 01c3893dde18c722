#pragma once

#include "FilterView.h"
#include "ReceiveDisplay.h"
#include "RecordSearch.h"

#include <QFrame>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace comkeys {

// The find bar over the receive display: text (with or without regard to case), a regular
// expression or hex bytes, looked for in the whole record as the display's view shows it. Every
// match on screen is highlighted; Return and F3 go to the next, Shift+Return and Shift+F3 to the
// previous one; the bar counts them ("3/17") while data keeps arriving. A filter switch shows
// only the matching lines. Esc closes the bar and leaves the view where it is.
class FindBar : public QFrame {
    Q_OBJECT
public:
    FindBar(const LineRecord& record, ReceiveDisplay& display, QWidget* parent);

    // Shows the bar over the display, with the display's selection as the text if it has one.
    void open();
    void close();
    void findNext();
    void findPrevious();

    QLineEdit* edit() const { return m_edit; }
    QComboBox* mode() const { return m_mode; }
    QCheckBox* caseBox() const { return m_case; }
    QCheckBox* filterBox() const { return m_filter; }
    QLabel* countLabel() const { return m_count; }
    FilterView* filterView() const { return m_filterView; }
    const RecordSearch& search() const { return m_search; }
    std::optional<RecordMatch> current() const { return m_current; }

Q_SIGNALS:
    // The user asked for the row of 收发记录 that the current match answers: the command sent
    // as record entry sentEntry.
    void transcriptRowRequested(qint64 sentEntry);

private:
    void restart();
    void onSearchChanged();
    void go(qint64 index);
    void showCount();
    // Over the display: the bar at its top, the filter view below the bar.
    void place();
    qint64 sentBefore(const RecordMatch& match) const;

    const LineRecord& m_record;
    ReceiveDisplay& m_display;
    RecordSearch m_search;
    SearchPattern m_pattern;
    std::optional<RecordMatch> m_current;
    qint64 m_currentSent = -1; // the command the current match answers
    QLineEdit* const m_edit;
    QComboBox* const m_mode;
    QCheckBox* const m_case;
    QLabel* const m_count;
    QCheckBox* const m_filter;
    QPushButton* const m_transcript;
    FilterView* const m_filterView;
};

} // namespace comkeys
