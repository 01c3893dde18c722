#include "AutomationWindow.h"

#include "KeyAutomation.h"
#include "KeySet.h"
#include "RepeatDialog.h"
#include "SerialLink.h"

#include <QAction>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace comkeys {

namespace {
    const QColor PassedColour(200, 240, 200);
    const QColor FailedColour(250, 200, 200);
    const QColor CurrentColour(255, 245, 180);

    QStringList stepKindNames()
    {
        return { QStringLiteral("发送按键"), QStringLiteral("发送文本"), QStringLiteral("等待"),
                 QStringLiteral("期待回应") };
    }

    QStringList onTimeoutNames()
    {
        return { QStringLiteral("继续下一步"), QStringLiteral("停止序列"), QStringLiteral("转到步骤") };
    }

    QStringList actionNames()
    {
        return { QStringLiteral("发送按键"),  QStringLiteral("发送文本"),         QStringLiteral("标记颜色"),
                 QStringLiteral("计数"),      QStringLiteral("停止全部自动发送"), QStringLiteral("停止捕获") };
    }

    QString patternText(const Pattern& p)
    {
        const auto [kind, body] = patternToForm(p);
        return patternKindNames().value(kind) + QStringLiteral("：") + body;
    }

    QTableWidget* table(QWidget* parent, const QString& name, const QStringList& headers)
    {
        auto* t = new QTableWidget(0, int(headers.size()), parent);
        t->setObjectName(name);
        t->setAccessibleName(name);
        t->setHorizontalHeaderLabels(headers);
        t->setSelectionBehavior(QAbstractItemView::SelectRows);
        t->setSelectionMode(QAbstractItemView::SingleSelection);
        t->setEditTriggers(QAbstractItemView::NoEditTriggers);
        t->horizontalHeader()->setStretchLastSection(true);
        t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 6);
        return t;
    }

    void setCell(QTableWidget* t, int row, int column, const QString& text)
    {
        auto* item = t->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            t->setItem(row, column, item);
        }
        item->setText(text);
        item->setToolTip(text);
    }

    void colourRow(QTableWidget* t, int row, const QColor& colour)
    {
        for (int c = 0; c < t->columnCount(); ++c) {
            if (auto* item = t->item(row, c)) {
                item->setBackground(colour.isValid() ? QBrush(colour) : QBrush());
            }
        }
    }

    QPushButton* button(const QString& text, QWidget* parent, QLayout* layout)
    {
        auto* b = new QPushButton(text, parent);
        layout->addWidget(b);
        return b;
    }

    std::optional<qint64> millis(const QString& text, qint64 min, QString* error)
    {
        bool ok = false;
        const qint64 v = text.trimmed().toLongLong(&ok);
        if (!ok || v < min || v > Sequence::MaxStepMs) {
            *error = QStringLiteral("毫秒数应是 %1 到 %2 之间的整数").arg(min).arg(Sequence::MaxStepMs);
            return std::nullopt;
        }
        return v;
    }
} // namespace

AutomationWindow::AutomationWindow(KeyAutomation& automation)
    : QWidget(nullptr, Qt::Window)
    , m_automation(automation)
{
    setObjectName(QStringLiteral("AutomationWindow"));
    setWindowTitle(QStringLiteral("发送序列"));
    resize(940, 600);

    m_tabs = new QTabWidget(this);
    m_tabs->addTab(buildSequencePage(), QStringLiteral("发送序列"));
    m_tabs->addTab(buildRulePage(), QStringLiteral("自动应答"));
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setWordWrap(true);
    QPalette red = m_problem->palette();
    red.setColor(QPalette::WindowText, QColor(200, 0, 0));
    m_problem->setPalette(red);
    auto* stopAll = new QToolButton(this);
    stopAll->setDefaultAction(m_automation.stopAllAction());
    addAction(m_automation.stopAllAction()); // Esc here too
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_problem, 1);
    bottom->addWidget(stopAll);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(bottom);

    AutomationEngine& engine = m_automation.engine();
    connect(&engine, &AutomationEngine::stepStarted, this, &AutomationWindow::onStepStarted);
    connect(&engine, &AutomationEngine::stepFinished, this, &AutomationWindow::onStepFinished);
    connect(&engine, &AutomationEngine::sequenceFinished, this, &AutomationWindow::onSequenceFinished);
    connect(&engine, &AutomationEngine::runStarted, this, [this](int) {
        if (currentSequence() >= 0 && m_sequences[currentSequence()].name == m_running) {
            for (int r = 0; r < m_steps->rowCount(); ++r) {
                setCell(m_steps, r, 4, {});
                setCell(m_steps, r, 5, {});
                colourRow(m_steps, r, {});
            }
        }
    });
    // A rule can fire on every chunk of a flood: the counts are shown a few times a second.
    m_countTimer.setInterval(200);
    m_countTimer.setSingleShot(true);
    connect(&m_countTimer, &QTimer::timeout, this, [this] {
        for (int r = 0; r < m_rules->rowCount(); ++r) {
            setCell(m_rules, r, 2, QString::number(m_automation.engine().ruleState(r).fired));
        }
    });
    connect(&engine, &AutomationEngine::ruleFired, this, [this] {
        if (!m_countTimer.isActive()) {
            m_countTimer.start();
        }
    });
    connect(&engine, &AutomationEngine::rulePaused, this, [this](int index) {
        if (index < m_rules->rowCount()) {
            setCell(m_rules, index, 3, QStringLiteral("已暂停（一秒内触发过多）"));
        }
    });
    connect(&engine, &AutomationEngine::note, this, [this](const QString& text) { m_status->setText(text); });
    connect(&m_automation, &KeyAutomation::setChanged, this, [this] {
        m_sequences = m_automation.set().sequences;
        m_ruleList = m_automation.set().rules;
        fillSequenceList();
        fillRules();
    });
    m_sequences = m_automation.set().sequences;
    m_ruleList = m_automation.set().rules;
    fillSequenceList();
    fillRules();
}

ColourRules AutomationWindow::colourRules() const { return m_automation.engine().colourRules(); }

QString AutomationWindow::problem() const { return m_problem->text(); }

QString AutomationWindow::runStatus() const { return m_status->text(); }

int AutomationWindow::currentSequence() const
{
    const int row = m_sequenceList->currentRow();
    return row >= 0 && row < m_sequences.size() ? row : -1;
}

void AutomationWindow::refuse(const QString& why) { m_problem->setText(why); }

// --- sequences ---------------------------------------------------------------------------

QWidget* AutomationWindow::buildSequencePage()
{
    auto* page = new QWidget(this);
    auto label = [page](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, page);
        l->setBuddy(buddy);
        return l;
    };

    m_sequenceList = new QListWidget(page);
    m_sequenceList->setObjectName(QStringLiteral("sequences"));
    auto* listButtons = new QHBoxLayout;
    connect(button(QStringLiteral("新建序列"), page, listButtons), &QPushButton::clicked, this,
            &AutomationWindow::addSequence);
    connect(button(QStringLiteral("删除序列"), page, listButtons), &QPushButton::clicked, this,
            &AutomationWindow::removeSequence);
    auto* left = new QVBoxLayout;
    left->addWidget(label(QStringLiteral("序列："), m_sequenceList));
    left->addWidget(m_sequenceList);
    left->addLayout(listButtons);

    m_name = new QLineEdit(page);
    m_name->setObjectName(QStringLiteral("name"));
    m_runs = new QSpinBox(page);
    m_runs->setObjectName(QStringLiteral("runs"));
    m_runs->setRange(0, 1'000'000);
    m_runs->setSpecialValueText(QStringLiteral("一直运行到停止"));
    m_runs->setSuffix(QStringLiteral(" 次"));
    auto* header = new QHBoxLayout;
    header->addWidget(label(QStringLiteral("名称："), m_name));
    header->addWidget(m_name, 1);
    header->addWidget(label(QStringLiteral("运行次数："), m_runs));
    header->addWidget(m_runs);

    m_steps = table(page, QStringLiteral("步骤"),
                    { QStringLiteral("动作"), QStringLiteral("内容"), QStringLiteral("毫秒"), QStringLiteral("超时后"),
                      QStringLiteral("结果"), QStringLiteral("用时(ms)") });
    const int widths[] = { 70, 190, 60, 100, 50 };
    for (int c = 0; c < 5; ++c) {
        m_steps->setColumnWidth(c, widths[c]);
    }

    m_stepKind = new QComboBox(page);
    m_stepKind->setObjectName(QStringLiteral("stepKind"));
    m_stepKind->addItems(stepKindNames());
    m_stepKey = new QSpinBox(page);
    m_stepKey->setObjectName(QStringLiteral("stepKey"));
    m_stepKey->setRange(1, KeyCount);
    m_stepText = new QLineEdit(page);
    m_stepText->setObjectName(QStringLiteral("stepText"));
    m_stepPatternKind = new QComboBox(page);
    m_stepPatternKind->setObjectName(QStringLiteral("stepPatternKind"));
    m_stepPatternKind->addItems(patternKindNames());
    m_stepMs = new QLineEdit(QStringLiteral("1000"), page);
    m_stepMs->setObjectName(QStringLiteral("stepMs"));
    m_onTimeout = new QComboBox(page);
    m_onTimeout->setObjectName(QStringLiteral("onTimeout"));
    m_onTimeout->addItems(onTimeoutNames());
    m_onTimeout->setCurrentIndex(int(Step::OnTimeout::Stop));
    m_gotoStep = new QSpinBox(page);
    m_gotoStep->setObjectName(QStringLiteral("gotoStep"));
    m_gotoStep->setRange(1, 9999);
    auto* form = new QGridLayout;
    form->addWidget(label(QStringLiteral("动作："), m_stepKind), 0, 0);
    form->addWidget(m_stepKind, 0, 1);
    form->addWidget(label(QStringLiteral("按键号："), m_stepKey), 0, 2);
    form->addWidget(m_stepKey, 0, 3);
    form->addWidget(label(QStringLiteral("毫秒："), m_stepMs), 0, 4);
    form->addWidget(m_stepMs, 0, 5);
    form->addWidget(label(QStringLiteral("文本或匹配内容："), m_stepText), 1, 0);
    form->addWidget(m_stepText, 1, 1, 1, 3);
    form->addWidget(label(QStringLiteral("匹配方式："), m_stepPatternKind), 1, 4);
    form->addWidget(m_stepPatternKind, 1, 5);
    form->addWidget(label(QStringLiteral("超时后："), m_onTimeout), 2, 0);
    form->addWidget(m_onTimeout, 2, 1);
    form->addWidget(label(QStringLiteral("转到第几步："), m_gotoStep), 2, 2);
    form->addWidget(m_gotoStep, 2, 3);

    auto* stepButtons = new QHBoxLayout;
    connect(button(QStringLiteral("添加步骤"), page, stepButtons), &QPushButton::clicked, this,
            [this] { editSteps(m_steps->currentRow() < 0 ? int(m_steps->rowCount()) : m_steps->currentRow() + 1, false); });
    connect(button(QStringLiteral("修改步骤"), page, stepButtons), &QPushButton::clicked, this,
            [this] { editSteps(m_steps->currentRow(), true); });
    connect(button(QStringLiteral("删除步骤"), page, stepButtons), &QPushButton::clicked, this,
            &AutomationWindow::removeStep);
    connect(button(QStringLiteral("上移"), page, stepButtons), &QPushButton::clicked, this, [this] { moveStep(-1); });
    connect(button(QStringLiteral("下移"), page, stepButtons), &QPushButton::clicked, this, [this] { moveStep(1); });
    stepButtons->addStretch();

    auto* runButtons = new QHBoxLayout;
    connect(button(QStringLiteral("运行"), page, runButtons), &QPushButton::clicked, this, &AutomationWindow::run);
    connect(button(QStringLiteral("停止序列"), page, runButtons), &QPushButton::clicked, &m_automation.engine(),
            &AutomationEngine::stopSequence);
    m_status = new QLabel(page);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setAccessibleName(QStringLiteral("运行状态"));
    runButtons->addWidget(m_status, 1);

    auto* right = new QVBoxLayout;
    right->addLayout(header);
    right->addWidget(m_steps, 1);
    right->addLayout(form);
    right->addLayout(stepButtons);
    right->addLayout(runButtons);
    auto* layout = new QHBoxLayout(page);
    layout->addLayout(left);
    layout->addLayout(right, 1);

    connect(m_sequenceList, &QListWidget::currentRowChanged, this, &AutomationWindow::showSequence);
    connect(m_steps, &QTableWidget::currentCellChanged, this, [this](int row) { showStep(row); });
    connect(m_stepKind, &QComboBox::currentIndexChanged, this, &AutomationWindow::showStepKind);
    connect(m_onTimeout, &QComboBox::currentIndexChanged, this, &AutomationWindow::showStepKind);
    connect(m_name, &QLineEdit::editingFinished, this, &AutomationWindow::renameSequence);
    connect(m_runs, &QSpinBox::valueChanged, this, &AutomationWindow::changeRuns);
    showStepKind();
    return page;
}

void AutomationWindow::fillSequenceList()
{
    const int keep = m_sequenceList->currentRow();
    const QSignalBlocker block(m_sequenceList);
    m_sequenceList->clear();
    for (const Sequence& s : std::as_const(m_sequences)) {
        m_sequenceList->addItem(s.name);
    }
    m_sequenceList->setCurrentRow(std::min(std::max(keep, 0), int(m_sequences.size()) - 1));
    showSequence();
}

void AutomationWindow::showSequence()
{
    const int index = currentSequence();
    const Sequence* s = index >= 0 ? &m_sequences[index] : nullptr;
    {
        const QSignalBlocker blockName(m_name);
        const QSignalBlocker blockRuns(m_runs);
        m_name->setText(s ? s->name : QString());
        m_runs->setValue(s ? s->runs : 1);
    }
    const int keep = m_steps->currentRow();
    m_steps->setRowCount(s ? int(s->steps.size()) : 0);
    for (int r = 0; s && r < s->steps.size(); ++r) {
        const Step& step = s->steps[r];
        QString content;
        QString ms;
        QString onTimeout;
        switch (step.kind) {
        case Step::Kind::SendKey:
            content = QStringLiteral("%1（%2）").arg(step.key + 1).arg(m_automation.keys().caption(step.key));
            break;
        case Step::Kind::SendText:
            content = step.text;
            break;
        case Step::Kind::Wait:
            ms = QString::number(step.ms);
            break;
        case Step::Kind::Expect:
            content = step.pattern ? patternText(*step.pattern) : QString();
            ms = QString::number(step.ms);
            onTimeout = step.onTimeout == Step::OnTimeout::GoTo
                ? QStringLiteral("转到第 %1 步").arg(step.gotoStep + 1)
                : onTimeoutNames().value(int(step.onTimeout));
            break;
        }
        setCell(m_steps, r, 0, stepKindNames().value(int(step.kind)));
        setCell(m_steps, r, 1, content);
        setCell(m_steps, r, 2, ms);
        setCell(m_steps, r, 3, onTimeout);
        setCell(m_steps, r, 4, {});
        setCell(m_steps, r, 5, {});
        colourRow(m_steps, r, {});
    }
    if (keep >= 0 && keep < m_steps->rowCount()) {
        m_steps->selectRow(keep);
    }
}

void AutomationWindow::showStep(int row)
{
    const int index = currentSequence();
    if (index < 0 || row < 0 || row >= m_sequences[index].steps.size()) {
        return;
    }
    const Step& s = m_sequences[index].steps[row];
    m_stepKind->setCurrentIndex(int(s.kind));
    switch (s.kind) {
    case Step::Kind::SendKey:
        m_stepKey->setValue(s.key + 1);
        break;
    case Step::Kind::SendText:
        m_stepText->setText(s.text);
        break;
    case Step::Kind::Wait:
        m_stepMs->setText(QString::number(s.ms));
        break;
    case Step::Kind::Expect: {
        m_stepMs->setText(QString::number(s.ms));
        if (s.pattern) {
            const auto [kind, body] = patternToForm(*s.pattern);
            m_stepPatternKind->setCurrentIndex(kind);
            m_stepText->setText(body);
        }
        m_onTimeout->setCurrentIndex(int(s.onTimeout));
        m_gotoStep->setValue(s.gotoStep + 1);
        break;
    }
    }
}

void AutomationWindow::showStepKind()
{
    const auto kind = Step::Kind(m_stepKind->currentIndex());
    const bool expect = kind == Step::Kind::Expect;
    m_stepKey->setEnabled(kind == Step::Kind::SendKey);
    m_stepText->setEnabled(kind == Step::Kind::SendText || expect);
    m_stepPatternKind->setEnabled(expect);
    m_stepMs->setEnabled(kind == Step::Kind::Wait || expect);
    m_onTimeout->setEnabled(expect);
    m_gotoStep->setEnabled(expect && m_onTimeout->currentIndex() == int(Step::OnTimeout::GoTo));
}

std::optional<Step> AutomationWindow::stepFromForm(QString* error) const
{
    Step s;
    s.kind = Step::Kind(m_stepKind->currentIndex());
    switch (s.kind) {
    case Step::Kind::SendKey: {
        s.key = m_stepKey->value() - 1;
        const QString refusal = SerialLink::commandRefusal(m_automation.keys().command(s.key), m_automation.appendCr());
        if (!refusal.isEmpty()) {
            *error = QStringLiteral("按键 %1（%2）：%3").arg(s.key + 1).arg(m_automation.keys().caption(s.key), refusal);
            return std::nullopt;
        }
        return s;
    }
    case Step::Kind::SendText:
        s.text = m_stepText->text();
        *error = SerialLink::commandRefusal(s.text, m_automation.appendCr());
        return error->isEmpty() ? std::optional(s) : std::nullopt;
    case Step::Kind::Wait: {
        const auto ms = millis(m_stepMs->text(), 0, error);
        if (!ms) {
            return std::nullopt;
        }
        s.ms = *ms;
        return s;
    }
    case Step::Kind::Expect:
        break;
    }
    const auto ms = millis(m_stepMs->text(), 1, error);
    if (!ms) {
        return std::nullopt;
    }
    s.ms = *ms;
    s.pattern = patternFromForm(m_stepPatternKind->currentIndex(), m_stepText->text(), error);
    if (!s.pattern) {
        *error = QStringLiteral("匹配内容：") + *error;
        return std::nullopt;
    }
    s.onTimeout = Step::OnTimeout(m_onTimeout->currentIndex());
    s.gotoStep = m_gotoStep->value() - 1;
    return s;
}

void AutomationWindow::editSteps(int at, bool replace)
{
    const int index = currentSequence();
    if (index < 0) {
        refuse(QStringLiteral("请先新建或选择一个序列"));
        return;
    }
    Sequence s = m_sequences[index];
    if (replace && (at < 0 || at >= s.steps.size())) {
        refuse(QStringLiteral("请先在表中选择要修改的步骤"));
        return;
    }
    QString error;
    const std::optional<Step> step = stepFromForm(&error);
    if (!step) {
        refuse(error);
        return;
    }
    if (replace) {
        s.steps[at] = *step;
    } else {
        at = std::clamp(at, 0, int(s.steps.size()));
        // Go-tos behind the new step keep pointing at the same steps.
        for (Step& other : s.steps) {
            if (other.onTimeout == Step::OnTimeout::GoTo && other.gotoStep >= at) {
                ++other.gotoStep;
            }
        }
        s.steps.insert(at, *step);
    }
    if (const QString why = s.problem(); !why.isEmpty()) {
        refuse(why);
        return;
    }
    m_sequences[index] = s;
    commitSequences();
    m_steps->selectRow(at);
}

void AutomationWindow::removeStep()
{
    const int index = currentSequence();
    const int row = m_steps->currentRow();
    if (index < 0 || row < 0 || row >= m_sequences[index].steps.size()) {
        return;
    }
    Sequence s = m_sequences[index];
    s.steps.removeAt(row);
    for (qsizetype i = 0; i < s.steps.size(); ++i) {
        Step& other = s.steps[i];
        if (other.kind != Step::Kind::Expect || other.onTimeout != Step::OnTimeout::GoTo) {
            continue;
        }
        if (other.gotoStep == row) {
            refuse(QStringLiteral("第 %1 步超时后要转到这一步，请先改那一步").arg(i >= row ? i + 2 : i + 1));
            return;
        }
        if (other.gotoStep > row) {
            --other.gotoStep;
        }
    }
    m_sequences[index] = s;
    commitSequences();
}

void AutomationWindow::moveStep(int by)
{
    const int index = currentSequence();
    const int row = m_steps->currentRow();
    const int to = row + by;
    if (index < 0 || row < 0 || to < 0 || to >= m_sequences[index].steps.size()) {
        return;
    }
    Sequence& s = m_sequences[index];
    s.steps.swapItemsAt(row, to);
    for (Step& other : s.steps) {
        if (other.onTimeout == Step::OnTimeout::GoTo) {
            other.gotoStep = other.gotoStep == row ? to : other.gotoStep == to ? row : other.gotoStep;
        }
    }
    commitSequences();
    m_steps->selectRow(to);
}

void AutomationWindow::addSequence()
{
    Sequence s;
    for (int n = int(m_sequences.size()) + 1;; ++n) {
        s.name = QStringLiteral("序列%1").arg(n);
        if (std::none_of(m_sequences.begin(), m_sequences.end(),
                         [&s](const Sequence& other) { return other.name == s.name; })) {
            break;
        }
    }
    m_sequences.append(s);
    commitSequences();
    fillSequenceList();
    m_sequenceList->setCurrentRow(int(m_sequences.size()) - 1);
    m_name->setFocus();
    m_name->selectAll();
}

void AutomationWindow::removeSequence()
{
    const int index = currentSequence();
    if (index < 0) {
        return;
    }
    m_sequences.removeAt(index);
    commitSequences();
    fillSequenceList();
}

void AutomationWindow::renameSequence()
{
    const int index = currentSequence();
    if (index < 0) {
        return;
    }
    const QString name = m_name->text().simplified();
    if (name == m_sequences[index].name) {
        return;
    }
    QString why;
    if (name.isEmpty()) {
        why = QStringLiteral("序列名称不能是空的");
    }
    for (const Sequence& other : std::as_const(m_sequences)) {
        if (other.name == name) {
            why = QStringLiteral("已经有一个名为“%1”的序列").arg(name);
        }
    }
    if (!why.isEmpty()) {
        refuse(why);
        m_name->setText(m_sequences[index].name);
        return;
    }
    m_sequences[index].name = name;
    m_sequenceList->item(index)->setText(name);
    commitSequences();
}

void AutomationWindow::changeRuns()
{
    const int index = currentSequence();
    if (index >= 0 && m_sequences[index].runs != m_runs->value()) {
        m_sequences[index].runs = m_runs->value();
        commitSequences();
    }
}

void AutomationWindow::commitSequences()
{
    m_problem->clear();
    // A sequence without steps cannot run and would not read back; it lives only here until
    // it has one.
    QList<Sequence> kept;
    for (const Sequence& s : std::as_const(m_sequences)) {
        if (!s.steps.isEmpty()) {
            kept << s;
        }
    }
    m_automation.setSequences(kept);
    showSequence();
}

void AutomationWindow::run()
{
    const int index = currentSequence();
    if (index < 0) {
        refuse(QStringLiteral("请先新建或选择一个序列"));
        return;
    }
    m_problem->clear();
    const Sequence& s = m_sequences[index];
    const QString before = m_running;
    m_running = s.name;
    showSequence();
    QString error;
    if (!m_automation.engine().startSequence(s, &error)) {
        m_running = before; // the one running goes on, or none
        refuse(error);
    }
}

void AutomationWindow::onStepStarted(int run, int step)
{
    m_status->setText(QStringLiteral("正在运行“%1”：第 %2 遍，第 %3 步").arg(m_running).arg(run).arg(step + 1));
    if (currentSequence() >= 0 && m_sequences[currentSequence()].name == m_running && step < m_steps->rowCount()) {
        colourRow(m_steps, step, CurrentColour);
        m_steps->scrollToItem(m_steps->item(step, 0));
    }
}

void AutomationWindow::onStepFinished(const AutomationEngine::StepResult& result)
{
    if (currentSequence() < 0 || m_sequences[currentSequence()].name != m_running
        || result.step >= m_steps->rowCount()) {
        return;
    }
    setCell(m_steps, result.step, 4, AutomationEngine::verdictText(result.verdict));
    setCell(m_steps, result.step, 5, QString::number(result.ms));
    colourRow(m_steps, result.step,
              result.verdict == AutomationEngine::Verdict::Passed ? PassedColour : FailedColour);
    if (!result.detail.isEmpty()) {
        m_steps->item(result.step, 4)->setToolTip(result.detail);
    }
}

void AutomationWindow::onSequenceFinished(AutomationEngine::SequenceEnd end)
{
    const QString how = end == AutomationEngine::SequenceEnd::Completed ? QStringLiteral("运行完毕")
        : end == AutomationEngine::SequenceEnd::Stopped                 ? QStringLiteral("已停止")
                                                                        : QStringLiteral("已中止");
    m_status->setText(QStringLiteral("“%1”%2").arg(m_running, how));
    m_running.clear();
}

// --- automatic answers -------------------------------------------------------------------

QWidget* AutomationWindow::buildRulePage()
{
    auto* page = new QWidget(this);
    auto label = [page](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, page);
        l->setBuddy(buddy);
        return l;
    };
    m_rules = table(page, QStringLiteral("规则"),
                    { QStringLiteral("匹配"), QStringLiteral("动作"), QStringLiteral("触发次数"), QStringLiteral("状态") });
    m_rules->setColumnWidth(0, 300);
    m_rules->setColumnWidth(1, 260);

    m_rulePatternKind = new QComboBox(page);
    m_rulePatternKind->setObjectName(QStringLiteral("rulePatternKind"));
    m_rulePatternKind->addItems(patternKindNames());
    m_rulePattern = new QLineEdit(page);
    m_rulePattern->setObjectName(QStringLiteral("rulePattern"));
    m_ruleAction = new QComboBox(page);
    m_ruleAction->setObjectName(QStringLiteral("ruleAction"));
    m_ruleAction->addItems(actionNames());
    m_ruleKey = new QSpinBox(page);
    m_ruleKey->setObjectName(QStringLiteral("ruleKey"));
    m_ruleKey->setRange(1, KeyCount);
    m_ruleText = new QLineEdit(page);
    m_ruleText->setObjectName(QStringLiteral("ruleText"));
    m_ruleColour = new QLineEdit(QStringLiteral("#ffff00"), page);
    m_ruleColour->setObjectName(QStringLiteral("ruleColour"));
    m_ruleColour->setPlaceholderText(QStringLiteral("#ff0000 或 red"));
    m_loopGuard = new QSpinBox(page);
    m_loopGuard->setObjectName(QStringLiteral("loopGuard"));
    m_loopGuard->setRange(1, 100'000);
    m_loopGuard->setSuffix(QStringLiteral(" 次/秒"));

    auto* form = new QGridLayout;
    form->addWidget(label(QStringLiteral("匹配方式："), m_rulePatternKind), 0, 0);
    form->addWidget(m_rulePatternKind, 0, 1);
    form->addWidget(label(QStringLiteral("匹配内容："), m_rulePattern), 0, 2);
    form->addWidget(m_rulePattern, 0, 3, 1, 3);
    form->addWidget(label(QStringLiteral("动作："), m_ruleAction), 1, 0);
    form->addWidget(m_ruleAction, 1, 1);
    form->addWidget(label(QStringLiteral("按键号："), m_ruleKey), 1, 2);
    form->addWidget(m_ruleKey, 1, 3);
    form->addWidget(label(QStringLiteral("颜色："), m_ruleColour), 1, 4);
    form->addWidget(m_ruleColour, 1, 5);
    form->addWidget(label(QStringLiteral("发送的文本："), m_ruleText), 2, 0);
    form->addWidget(m_ruleText, 2, 1, 1, 5);
    form->addWidget(label(QStringLiteral("一条规则每秒最多触发（超过即暂停）："), m_loopGuard), 3, 0, 1, 3);
    form->addWidget(m_loopGuard, 3, 3);

    auto* buttons = new QHBoxLayout;
    connect(button(QStringLiteral("添加规则"), page, buttons), &QPushButton::clicked, this, [this] { editRules(false); });
    connect(button(QStringLiteral("修改规则"), page, buttons), &QPushButton::clicked, this, [this] { editRules(true); });
    connect(button(QStringLiteral("删除规则"), page, buttons), &QPushButton::clicked, this, &AutomationWindow::removeRule);
    connect(button(QStringLiteral("恢复暂停的规则"), page, buttons), &QPushButton::clicked, this, [this] {
        const int row = m_rules->currentRow();
        if (row >= 0) {
            m_automation.engine().resumeRule(row);
            setCell(m_rules, row, 3, QStringLiteral("生效"));
        }
    });
    buttons->addStretch();

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_rules, 1);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(m_rules, &QTableWidget::currentCellChanged, this, [this](int row) { showRule(row); });
    connect(m_ruleAction, &QComboBox::currentIndexChanged, this, &AutomationWindow::showRuleAction);
    connect(m_loopGuard, &QSpinBox::editingFinished, this, [this] {
        if (m_loopGuard->value() != m_automation.set().loopGuard) {
            commitRules();
        }
    });
    showRuleAction();
    return page;
}

void AutomationWindow::fillRules()
{
    {
        const QSignalBlocker block(m_loopGuard);
        m_loopGuard->setValue(m_automation.set().loopGuard);
    }
    m_rules->setRowCount(int(m_ruleList.size()));
    for (int r = 0; r < m_ruleList.size(); ++r) {
        const AnswerRule& rule = m_ruleList[r];
        QString action = actionNames().value(int(rule.action));
        switch (rule.action) {
        case AnswerRule::Action::SendKey:
            action += QStringLiteral(" %1（%2）").arg(rule.key + 1).arg(m_automation.keys().caption(rule.key));
            break;
        case AnswerRule::Action::SendText:
            action += u' ' + rule.text;
            break;
        case AnswerRule::Action::Mark:
            action += u' ' + rule.colour.name();
            break;
        default:
            break;
        }
        const AutomationEngine::RuleState state = m_automation.engine().ruleState(r);
        setCell(m_rules, r, 0, patternText(rule.pattern));
        setCell(m_rules, r, 1, action);
        setCell(m_rules, r, 2, QString::number(state.fired));
        setCell(m_rules, r, 3, state.paused ? QStringLiteral("已暂停（一秒内触发过多）") : QStringLiteral("生效"));
        if (rule.action == AnswerRule::Action::Mark) {
            m_rules->item(r, 1)->setBackground(rule.colour);
        }
    }
}

void AutomationWindow::showRule(int row)
{
    if (row < 0 || row >= m_ruleList.size()) {
        return;
    }
    const AnswerRule& rule = m_ruleList[row];
    const auto [kind, body] = patternToForm(rule.pattern);
    m_rulePatternKind->setCurrentIndex(kind);
    m_rulePattern->setText(body);
    m_ruleAction->setCurrentIndex(int(rule.action));
    m_ruleKey->setValue(rule.key + 1);
    m_ruleText->setText(rule.text);
    if (rule.colour.isValid()) {
        m_ruleColour->setText(rule.colour.name());
    }
}

void AutomationWindow::showRuleAction()
{
    const auto action = AnswerRule::Action(m_ruleAction->currentIndex());
    m_ruleKey->setEnabled(action == AnswerRule::Action::SendKey);
    m_ruleText->setEnabled(action == AnswerRule::Action::SendText);
    m_ruleColour->setEnabled(action == AnswerRule::Action::Mark);
}

std::optional<AnswerRule> AutomationWindow::ruleFromForm(QString* error) const
{
    AnswerRule rule;
    const std::optional<Pattern> pattern
        = patternFromForm(m_rulePatternKind->currentIndex(), m_rulePattern->text(), error);
    if (!pattern) {
        *error = QStringLiteral("匹配内容：") + *error;
        return std::nullopt;
    }
    rule.pattern = *pattern;
    rule.action = AnswerRule::Action(m_ruleAction->currentIndex());
    switch (rule.action) {
    case AnswerRule::Action::SendKey:
        rule.key = m_ruleKey->value() - 1;
        *error = SerialLink::commandRefusal(m_automation.keys().command(rule.key), m_automation.appendCr());
        if (!error->isEmpty()) {
            *error = QStringLiteral("按键 %1（%2）：%3")
                         .arg(rule.key + 1)
                         .arg(m_automation.keys().caption(rule.key), *error);
        }
        break;
    case AnswerRule::Action::SendText:
        rule.text = m_ruleText->text();
        *error = SerialLink::commandRefusal(rule.text, m_automation.appendCr());
        break;
    case AnswerRule::Action::Mark:
        rule.colour = QColor::fromString(m_ruleColour->text().trimmed());
        if (!rule.colour.isValid()) {
            *error = QStringLiteral("“%1”不是颜色（例如 #ff0000 或 red）").arg(m_ruleColour->text());
        }
        break;
    default:
        break;
    }
    return error->isEmpty() ? std::optional(rule) : std::nullopt;
}

void AutomationWindow::editRules(bool replace)
{
    const int row = m_rules->currentRow();
    if (replace && (row < 0 || row >= m_ruleList.size())) {
        refuse(QStringLiteral("请先在表中选择要修改的规则"));
        return;
    }
    QString error;
    const std::optional<AnswerRule> rule = ruleFromForm(&error);
    if (!rule) {
        refuse(error);
        return;
    }
    if (replace) {
        m_ruleList[row] = *rule;
    } else {
        m_ruleList.append(*rule);
    }
    commitRules();
    m_rules->selectRow(replace ? row : int(m_ruleList.size()) - 1);
}

void AutomationWindow::removeRule()
{
    const int row = m_rules->currentRow();
    if (row >= 0 && row < m_ruleList.size()) {
        m_ruleList.removeAt(row);
        commitRules();
    }
}

void AutomationWindow::commitRules()
{
    m_problem->clear();
    m_automation.setRules(m_ruleList, m_loopGuard->value());
    fillRules();
}

} // namespace comkeys

#include "moc_AutomationWindow.cpp"
