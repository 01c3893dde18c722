#pragma once

#include "AutomationSet.h"
#include "ColourRule.h"
#include "MatchSet.h"
#include "Pattern.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <memory>

namespace comkeys {

class KeyBoard;
class SerialLink;

// Keys that work by themselves: repeats, sequences with expected replies and automatic answers.
// It reads what arrives from the link's record and sends through the link's whole-command path,
// exactly as key presses do; it never touches the port. Everything it has to say goes to the
// link's log window (and to note()).
class AutomationEngine : public QObject {
    Q_OBJECT
public:
    // An expect whose time ran out failed when something else arrived, timed out when nothing
    // did; a send fails when the link refuses it.
    enum class Verdict { Passed, Failed, TimedOut };
    // 通过, 失败, 超时
    static QString verdictText(Verdict verdict);

    struct StepResult {
        int run = 1; // from 1
        int step = 0; // index into the sequence's steps
        Verdict verdict = Verdict::Passed;
        qint64 ms = 0; // from the step's start to its verdict
        QByteArray sent; // the bytes a send step handed to the line
        QByteArray reply; // an expect: what arrived since the last send, up to its verdict
        QString detail; // why a step failed (Chinese)
    };
    enum class SequenceEnd {
        Completed, // every run went through (expects may have timed out and gone on)
        Stopped, // stopSequence() or stopAll()
        Aborted, // a send was refused, or an expect said stop on its timeout
    };

    struct RepeatState {
        RepeatSpec spec;
        qint64 sent = 0;
        qint64 skipped = 0; // ticks that found the previous command still queued, or missed
        bool paused = false; // the port is not open
    };
    struct RuleState {
        qint64 fired = 0;
        bool paused = false; // by the loop guard
    };

    AutomationEngine(SerialLink& link, const KeyBoard& keys, QObject* parent = nullptr);
    ~AutomationEngine() override;

    // Whether key sends append a carriage return (the window's 所有发送加回车符 box); asked at
    // every send. Off until set.
    void setAppendCr(std::function<bool()> appendCr) { m_appendCr = std::move(appendCr); }

    // Repeats: one per key; a new one for a key replaces the old. False with a reason in
    // *error for values that cannot run or a key whose command a key press would refuse.
    bool startRepeat(const RepeatSpec& spec, QString* error = nullptr);
    void stopRepeat(int key);
    bool isRepeating(int key) const { return m_repeats.count(key) > 0; }
    std::optional<RepeatState> repeatState(int key) const;
    QList<int> repeatingKeys() const;

    // One sequence runs at a time; starting another while one runs is refused.
    bool startSequence(const Sequence& sequence, QString* error = nullptr);
    void stopSequence();
    bool isSequenceRunning() const { return m_run != nullptr; }
    // The running sequence's current run (from 1) and step index; -1 when none runs.
    int currentRun() const;
    int currentStep() const;

    // The automatic answers, armed from now on; their counts and pauses start afresh.
    void setRules(const QList<AnswerRule>& rules);
    const QList<AnswerRule>& rules() const { return m_rules; }
    RuleState ruleState(int index) const;
    // Arms a rule the loop guard paused.
    void resumeRule(int index);
    // A rule that fires more than this many times within a second pauses itself.
    void setLoopGuard(int perSecond) { m_loopGuard = std::max(1, perSecond); }
    int loopGuard() const { return m_loopGuard; }
    // The marks of the rules that mark in a colour, for the receive display.
    ColourRules colourRules() const;

    // 停止全部自动发送: every repeat and the sequence.
    void stopAll();

Q_SIGNALS:
    // A repeat started, stopped, paused, resumed, sent or skipped.
    void repeatChanged(int key);
    // Tick number `tick` (from 0) of the key's repeat went to the line just now.
    void repeatSent(int key, qint64 tick);
    void sequenceStarted(const QString& name);
    void runStarted(int run);
    void stepStarted(int run, int step);
    void stepFinished(const comkeys::AutomationEngine::StepResult& result);
    void sequenceFinished(comkeys::AutomationEngine::SequenceEnd end);
    void ruleFired(int index, qint64 count);
    void rulePaused(int index);
    void colourRulesChanged();
    // A line for the log window (also written there).
    void note(const QString& text);

private:
    struct Repeat;
    struct Run;
    struct Rule {
        AnswerRule rule;
        RuleState state;
        std::deque<qint64> recent; // firing times within the last second
    };

    void say(const QString& text);
    qint64 nowMs() const { return m_clock.elapsed(); }
    QString keyCommand(int key, QString* caption) const;
    void onRecordAdded(qint64 n);
    void onStatusChanged();
    void onCommandDone(quint64 id, qint64 entry);

    void armRepeat(Repeat& r);
    void fireRepeat(int key);
    void pauseRepeats(bool pause);

    void runStep();
    void finishStep(Verdict verdict, const QString& detail = {});
    void advance(int nextStep);
    void endSequence(SequenceEnd end);
    void onSequenceTimer();
    QString stepLabel() const;
    void markSend(quint64 id, const QString& label, Verdict verdict, qint64 ms);

    void fireRule(int index);

    SerialLink& m_link;
    const KeyBoard& m_keys;
    std::function<bool()> m_appendCr;
    std::pair<quint64, qint64> m_lastDone { 0, -1 }; // the last commandDone()
    QElapsedTimer m_clock;
    bool m_portOpen = false;
    std::map<int, std::unique_ptr<Repeat>> m_repeats;
    std::unique_ptr<Run> m_run;
    quint64 m_repeatsStarted = 0;
    quint64 m_runs = 0; // sequences started: a slot may end one and start another
    quint64 m_ruleSets = 0; // setRules() calls, likewise
    std::vector<std::unique_ptr<Rule>> m_ruleStates;
    std::unique_ptr<MatchSet> m_ruleMatches; // every rule's pattern, in one pass per chunk
    QList<AnswerRule> m_rules;
    int m_loopGuard = AutomationSet::DefaultLoopGuard;
    // Transcript columns of sequence sends, waiting for their record entry or updated later.
    struct SendMark {
        qint64 entry = -1;
        QString label;
        Verdict verdict = Verdict::Passed;
        qint64 ms = 0;
    };
    QHash<quint64, SendMark> m_sendMarks;
};

} // namespace comkeys
