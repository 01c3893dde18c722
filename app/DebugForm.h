#pragma once

#include <QTimer>
#include <QWidget>

class QPlainTextEdit;

namespace comkeys {

class TextBuffer;

// The log window: one multi-line text box that mirrors the log text. While hidden it costs
// nothing; shown, it follows the text in batches and holds its newest part.
class DebugForm : public QWidget {
    Q_OBJECT
public:
    // Characters the text box takes over at most in one go; an older part of a longer log is
    // left out of the box (the log text itself keeps it).
    static constexpr qsizetype ViewChars = 256 * 1024;

    explicit DebugForm(const TextBuffer& log);

    QPlainTextEdit* text1() const { return m_text1; }
    // The log text changed: the box follows within a few milliseconds.
    void scheduleSync();
    // Brings the box up to date now.
    void sync();

protected:
    void showEvent(QShowEvent* event) override;

private:
    const TextBuffer& m_log;
    QPlainTextEdit* const m_text1;
    QTimer m_timer;
    quint64 m_clears = ~quint64(0);
    qsizetype m_synced = 0;
};

} // namespace comkeys
