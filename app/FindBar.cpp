#include "FindBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

namespace comkeys {

namespace {
    // Return and Shift+Return in the text field go to the next and the previous match.
    class ReturnKeys : public QObject {
    public:
        ReturnKeys(FindBar* bar)
            : QObject(bar)
            , m_bar(bar)
        {
        }
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            // Esc in the field closes the bar; elsewhere it is the window's (stop all automation).
            if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                event->accept();
                return true;
            }
            if (event->type() == QEvent::KeyPress) {
                auto* key = static_cast<QKeyEvent*>(event);
                if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                    (key->modifiers() & Qt::ShiftModifier) ? m_bar->findPrevious() : m_bar->findNext();
                    return true;
                }
                if (key->key() == Qt::Key_Escape) {
                    m_bar->close();
                    return true;
                }
            }
            return QObject::eventFilter(watched, event);
        }

    private:
        FindBar* m_bar;
    };

    QPushButton* button(const QString& text, const QString& tip, QWidget* parent)
    {
        auto* b = new QPushButton(text, parent);
        b->setToolTip(tip);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        return b;
    }
} // namespace

FindBar::FindBar(const LineRecord& record, ReceiveDisplay& display, QWidget* parent)
    : QFrame(parent)
    , m_record(record)
    , m_display(display)
    , m_search(record)
    , m_edit(new QLineEdit(this))
    , m_mode(new QComboBox(this))
    , m_case(new QCheckBox(QStringLiteral("区分大小写"), this))
    , m_count(new QLabel(this))
    , m_filter(new QCheckBox(QStringLiteral("只显示匹配行"), this))
    , m_transcript(button(QStringLiteral("收发记录中的这一行"), QStringLiteral("在收发记录中显示这个回应所属的命令"), this))
    , m_filterView(new FilterView(record, parent))
{
    setObjectName(QStringLiteral("FindBar"));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAutoFillBackground(true);
    m_edit->setObjectName(QStringLiteral("FindText"));
    m_edit->setClearButtonEnabled(true);
    m_edit->installEventFilter(new ReturnKeys(this));
    auto* findLabel = new QLabel(QStringLiteral("查找(&F)："), this);
    findLabel->setBuddy(m_edit);
    m_mode->addItems({ QStringLiteral("文本"), QStringLiteral("正则表达式"), QStringLiteral("十六进制") });
    auto* modeLabel = new QLabel(QStringLiteral("方式："), this);
    modeLabel->setBuddy(m_mode);
    m_case->setChecked(false);
    m_count->setObjectName(QStringLiteral("FindCount"));
    m_count->setAccessibleName(QStringLiteral("匹配数"));
    auto* previous = button(QStringLiteral("上一个"), QStringLiteral("上一个匹配 (Shift+F3)"), this);
    auto* next = button(QStringLiteral("下一个"), QStringLiteral("下一个匹配 (F3)"), this);
    auto* closer = button(QStringLiteral("关闭"), QStringLiteral("关闭查找 (Esc)"), this);
    m_transcript->setObjectName(QStringLiteral("FindToTranscript"));
    m_transcript->setEnabled(false);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(3, 2, 3, 2);
    grid->setSpacing(3);
    grid->addWidget(findLabel, 0, 0);
    grid->addWidget(m_edit, 0, 1, 1, 2);
    grid->addWidget(m_count, 0, 3);
    grid->addWidget(modeLabel, 1, 0);
    grid->addWidget(m_mode, 1, 1);
    grid->addWidget(m_case, 1, 2, 1, 2);
    grid->addWidget(m_filter, 2, 0, 1, 2);
    grid->addWidget(previous, 2, 2);
    grid->addWidget(next, 2, 3);
    grid->addWidget(m_transcript, 3, 0, 1, 2);
    grid->addWidget(closer, 3, 3);
    grid->setColumnStretch(1, 1);

    m_filterView->setPalette(display.palette());
    m_filterView->setFont(display.font());
    m_filterView->hide();

    connect(m_edit, &QLineEdit::textChanged, this, &FindBar::restart);
    connect(m_mode, &QComboBox::currentIndexChanged, this, &FindBar::restart);
    connect(m_case, &QCheckBox::toggled, this, &FindBar::restart);
    connect(&display, &ReceiveDisplay::viewChanged, this, [this] {
        if (isVisible()) {
            restart();
        }
    });
    connect(m_filter, &QCheckBox::toggled, this, [this](bool on) {
        // Off, the display shows again exactly what it showed: it was never touched.
        m_filterView->setFilter(on ? m_pattern : SearchPattern(), RecordView(int(m_display.view())), m_display.startEntry());
        place();
        m_filterView->setVisible(on);
    });
    connect(previous, &QPushButton::clicked, this, &FindBar::findPrevious);
    connect(next, &QPushButton::clicked, this, &FindBar::findNext);
    connect(closer, &QPushButton::clicked, this, &FindBar::close);
    connect(m_transcript, &QPushButton::clicked, this, [this] {
        if (m_current && m_currentSent >= 0) {
            Q_EMIT transcriptRowRequested(m_currentSent);
        }
    });
    connect(&m_search, &RecordSearch::changed, this, &FindBar::onSearchChanged);
    connect(&m_search, &RecordSearch::completed, this, &FindBar::onSearchChanged);
    for (const auto& [keys, action] : { std::pair { QKeySequence(Qt::Key_F3), &FindBar::findNext },
                                        std::pair { QKeySequence(Qt::SHIFT | Qt::Key_F3), &FindBar::findPrevious } }) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, action);
    }
    hide();
}

void FindBar::place()
{
    const QRect area = m_display.geometry();
    setGeometry(area.left(), area.top(), std::min(area.width(), parentWidget()->width() - area.left()), sizeHint().height());
    m_filterView->setGeometry(area.adjusted(0, height(), 0, 0));
}

void FindBar::open()
{
    place();
    // The display's lines start below the bar, so that no match hides under it.
    m_display.setContentsMargins(0, height() - m_display.frameWidth(), 0, 0);
    show();
    raise();
    if (const QString selected = m_display.selectedText(); !selected.isEmpty() && !selected.contains(u'\n')) {
        m_edit->setText(selected);
    }
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
    restart();
}

void FindBar::close()
{
    m_filter->setChecked(false);
    m_search.stop();
    m_current.reset();
    m_display.setFindPattern(SearchPattern());
    hide();
    m_display.setContentsMargins(0, 0, 0, 0);
    m_display.setFocus(Qt::OtherFocusReason);
}

void FindBar::restart()
{
    QString error;
    const auto kind = std::array { ColourRule::Kind::Text, ColourRule::Kind::Regex, ColourRule::Kind::Hex }
        [std::size_t(std::max(0, m_mode->currentIndex()))];
    const std::optional<SearchPattern> pattern = m_edit->text().isEmpty()
        ? std::optional<SearchPattern>(SearchPattern())
        : SearchPattern::compile(kind, m_edit->text(), m_case->isChecked(), &error);
    m_pattern = pattern.value_or(SearchPattern());
    m_current.reset();
    const bool hex = m_display.view() == ReceiveDisplay::View::Hex;
    m_filter->setEnabled(!hex);
    m_filter->setToolTip(hex ? QStringLiteral("十六进制显示下不能只显示匹配行") : QString());
    if (hex) {
        m_filter->setChecked(false);
    }
    m_count->setToolTip(error);
    if (!pattern) {
        m_count->setText(QStringLiteral("有误"));
    }
    m_display.setFindPattern(m_pattern);
    m_search.start(m_pattern, RecordView(int(m_display.view())), m_display.startEntry());
    if (m_filter->isChecked()) {
        m_filterView->setFilter(m_pattern, RecordView(int(m_display.view())), m_display.startEntry());
    }
}

void FindBar::onSearchChanged()
{
    const auto& matches = m_search.matches();
    if (m_current && (m_current->entry < m_record.firstNumber() || matches.empty())) {
        m_current.reset(); // dropped with the oldest part of the record
    }
    if (!m_current && !matches.empty()) {
        // The match nearest above the bottom of the view; failing that, once all are in, the first.
        const qint64 bottom = m_display.entryAtBottom();
        const auto after = std::upper_bound(matches.begin(), matches.end(), RecordMatch { bottom, std::numeric_limits<qint64>::max(), 0 });
        if (after != matches.begin()) {
            go(qint64(after - matches.begin()) - 1);
        } else if (m_search.isComplete()) {
            go(0);
        }
    }
    showCount();
}

void FindBar::showCount()
{
    if (!m_count->toolTip().isEmpty()) {
        return; // the pattern is wrong: says so until it changes
    }
    const qint64 count = m_search.count();
    QString index = QStringLiteral("0");
    if (m_current) {
        index = m_search.isComplete() ? QString::number(m_search.indexAtOrAfter(*m_current) + 1) : QStringLiteral("…");
    }
    m_count->setText(index + u'/' + QString::number(count) + (m_search.isComplete() ? QString() : QStringLiteral("…")));
    m_transcript->setEnabled(m_current && m_currentSent >= 0);
}

void FindBar::go(qint64 index)
{
    const auto& matches = m_search.matches();
    if (matches.empty()) {
        return;
    }
    index = (index % qint64(matches.size()) + qint64(matches.size())) % qint64(matches.size());
    m_current = matches[std::size_t(index)];
    m_currentSent = sentBefore(*m_current);
    m_display.revealMatch(*m_current);
    showCount();
}

void FindBar::findNext()
{
    if (!isVisible()) {
        return;
    }
    const auto& matches = m_search.matches();
    if (m_current) {
        go(m_search.indexAtOrAfter(*m_current) + 1);
    } else if (!matches.empty()) {
        go(m_search.indexAtOrAfter(RecordMatch { m_display.entryAtTop(), std::numeric_limits<qint64>::min(), 0 }));
    }
}

void FindBar::findPrevious()
{
    if (!isVisible()) {
        return;
    }
    if (m_current) {
        go(m_search.indexAtOrAfter(*m_current) - 1);
    } else {
        go(m_search.indexAtOrAfter(RecordMatch { m_display.entryAtBottom(), std::numeric_limits<qint64>::max(), 0 }) - 1);
    }
}

qint64 FindBar::sentBefore(const RecordMatch& match) const
{
    for (qint64 n = std::min(match.entry, m_record.nextNumber() - 1); n >= m_record.firstNumber(); --n) {
        if (m_record.entry(n).direction == LineRecord::Direction::Sent) {
            return n;
        }
    }
    return -1;
}

} // namespace comkeys

#include "moc_FindBar.cpp"
