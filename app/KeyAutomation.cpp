#include "KeyAutomation.h"

#include "KeySet.h"
#include "RepeatDialog.h"
#include "SerialLink.h"

#include <QAction>
#include <QMenu>

namespace comkeys {

KeyAutomation::KeyAutomation(SerialLink& link, const KeyBoard& keys, QString workingCopy, Dialogs& dialogs,
                             std::function<bool()> appendCr, QObject* parent)
    : QObject(parent)
    , m_link(link)
    , m_keys(keys)
    , m_workingCopy(std::move(workingCopy))
    , m_dialogs(dialogs)
    , m_appendCr(std::move(appendCr))
    , m_engine(link, keys)
    , m_stopAll(new QAction(QStringLiteral("停止全部自动发送"), this))
{
    m_engine.setAppendCr(m_appendCr);
    m_stopAll->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(m_stopAll, &QAction::triggered, &m_engine, &AutomationEngine::stopAll);
}

void KeyAutomation::reload(bool tell)
{
    QString error;
    QStringList problems;
    if (!loadAutomation(m_workingCopy, &m_set, &problems, &error)) {
        m_link.logNote(QStringLiteral("无法读取工作副本中的自动发送设置：%1").arg(error));
        return;
    }
    m_engine.setLoopGuard(m_set.loopGuard);
    m_engine.setRules(m_set.rules);
    for (const QString& p : std::as_const(problems)) {
        m_link.logNote(QStringLiteral("自动发送设置：") + p);
    }
    if (tell && !problems.isEmpty()) {
        m_dialogs.notice(QStringLiteral("配置文件中有 %1 条自动发送设置没有调入（原样保留在文件中）：\n%2")
                             .arg(problems.size())
                             .arg(problems.join(u'\n')));
    }
    Q_EMIT setChanged();
}

void KeyAutomation::store()
{
    QString error;
    const bool stored = saveAutomation(m_workingCopy, m_set, &error);
    if (!stored && !m_failing) {
        m_dialogs.notice(QStringLiteral("自动发送设置没有保存到工作副本 %1：%2").arg(m_workingCopy, error));
    }
    m_failing = !stored;
}

void KeyAutomation::setSequences(const QList<Sequence>& sequences)
{
    m_set.sequences = sequences;
    store();
}

void KeyAutomation::setRules(const QList<AnswerRule>& rules, int loopGuard)
{
    m_set.rules = rules;
    m_set.loopGuard = loopGuard;
    m_engine.setLoopGuard(loopGuard);
    m_engine.setRules(rules);
    store();
}

QString KeyAutomation::startRepeat(const RepeatSpec& spec)
{
    QString error;
    if (!m_engine.startRepeat(spec, &error)) {
        return error;
    }
    // The key keeps its settings in the key set, for the next time and for a colleague.
    const auto same = [&spec](const RepeatSpec& r) { return r.key == spec.key; };
    m_set.repeats.removeIf(same);
    m_set.repeats.append(spec);
    store();
    return {};
}

void KeyAutomation::openRepeatDialog(int key, QWidget* parent)
{
    RepeatSpec initial;
    initial.key = key;
    for (const RepeatSpec& r : std::as_const(m_set.repeats)) {
        if (r.key == key) {
            initial = r;
        }
    }
    auto* dialog = new RepeatDialog(key, m_keys.caption(key), initial,
                                    [this](const RepeatSpec& spec) { return startRepeat(spec); }, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void KeyAutomation::addKeyMenuEntries(QMenu& menu, int key, QWidget* parent)
{
    menu.addAction(QStringLiteral("定时重复发送…"), parent, [this, key, parent] { openRepeatDialog(key, parent); });
    menu.addAction(QStringLiteral("停止重复"), this, [this, key] { m_engine.stopRepeat(key); })
        ->setEnabled(m_engine.isRepeating(key));
    menu.addAction(m_stopAll);
}

} // namespace comkeys

#include "moc_KeyAutomation.cpp"
