#include "DebugForm.h"

#include "KeyGrid.h"
#include "TextBuffer.h"
#include "Widgets.h"

#include <QPlainTextEdit>
#include <QScrollBar>

namespace comkeys {

namespace {
    QString forView(QStringView text)
    {
        QString s = text.toString();
        s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        return s;
    }
} // namespace

DebugForm::DebugForm(const TextBuffer& log)
    : QWidget(nullptr,
              Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                  | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_log(log)
    , m_text1(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("DebugForm"));
    setWindowTitle(QStringLiteral("调试信息打印窗口"));
    setWindowIcon(logWindowIcon());
    setFixedSize(toPixels(8580), toPixels(5925));

    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setGeometry(twipsRect(0, 0, 8535, 5895));
    m_text1->setFont(QFont(QStringLiteral("MS Sans Serif"), 12));
    m_text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Bounds the box however the log grows; the log text itself is the record.
    m_text1->setMaximumBlockCount(20000);

    m_timer.setSingleShot(true);
    m_timer.setInterval(30);
    connect(&m_timer, &QTimer::timeout, this, &DebugForm::sync);
}

void DebugForm::scheduleSync()
{
    if (isVisible() && !m_timer.isActive()) {
        m_timer.start();
    }
}

void DebugForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    sync();
}

void DebugForm::sync()
{
    m_timer.stop();
    // A reader scrolled up stays where they are; at the bottom the box follows the log.
    QScrollBar* bar = m_text1->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const int kept = bar->value();
    const qsizetype fresh = m_log.total() - m_synced;
    const bool restart = m_log.clears() != m_clears || fresh < 0 || fresh > ViewChars;
    if (restart) {
        m_text1->setPlainText(forView(m_log.tail(ViewChars)));
    } else if (fresh > 0) {
        QTextCursor cursor(m_text1->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(forView(m_log.tail(fresh)));
    }
    m_clears = m_log.clears();
    m_synced = m_log.total();
    // A log outrunning the box (a flood of marker lines) is laid out once a second, not at every
    // frame: nobody reads it at that speed, and four layouts a second of its 256K characters
    // took about 7 % of the tool's time in a CR LF flood.
    m_timer.setInterval(fresh > ViewChars ? 1000 : 30);
    bar->setValue(following || restart ? bar->maximum() : kept);
}

} // namespace comkeys

#include "moc_DebugForm.cpp"
