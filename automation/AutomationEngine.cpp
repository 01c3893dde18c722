#include "AutomationEngine.h"

#include "KeySet.h"
#include "SerialLink.h"

namespace comkeys {

namespace {
    constexpr qint64 NsPerMs = 1'000'000;
    constexpr qint64 GuardWindowMs = 1000;

    bool isGuarded(AnswerRule::Action action)
    {
        // Marking and counting touch neither the line nor the state, so they cannot run away.
        return action != AnswerRule::Action::Mark && action != AnswerRule::Action::Count;
    }

    // The bytes a command text puts on the line.
    QByteArray commandBytes(const QString& text, bool cr)
    {
        QByteArray bytes = text.mid(1, text.size() - 2).toLatin1();
        if (cr) {
            bytes += '\r';
        }
        return bytes;
    }
} // namespace

struct AutomationEngine::Repeat {
    quint64 serial = 0; // tells a repeat from one started in its place
    RepeatSpec spec;
    QTimer timer;
    qint64 startNs = 0;
    qint64 tick = 0; // the next one
    qint64 sent = 0;
    qint64 skipped = 0;
    quint64 pendingId = 0; // the last send, while it waits in the output queue
    bool paused = false;
    std::optional<StreamMatcher> stop;
};

struct AutomationEngine::Run {
    enum class Waiting { Nothing, Advance, Wait, Expect };

    Sequence seq;
    int run = 1;
    int step = 0;
    qint64 stepStart = 0;
    QByteArray sinceSend; // received since the last send (from the start before any)
    QByteArray lastSent;
    quint64 lastSendId = 0;
    std::optional<StreamMatcher> expect;
    QTimer timer;
    Waiting waiting = Waiting::Nothing;
};

QString AutomationEngine::verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Passed:
        return QStringLiteral("通过");
    case Verdict::Failed:
        return QStringLiteral("失败");
    case Verdict::TimedOut:
        break;
    }
    return QStringLiteral("超时");
}

AutomationEngine::AutomationEngine(SerialLink& link, const KeyBoard& keys, QObject* parent)
    : QObject(parent)
    , m_link(link)
    , m_keys(keys)
    , m_appendCr([] { return false; })
{
    m_clock.start();
    m_portOpen = link.status() == SerialLink::Status::Opened;
    connect(&link.record(), &LineRecord::added, this, &AutomationEngine::onRecordAdded);
    connect(&link, &SerialLink::statusChanged, this, &AutomationEngine::onStatusChanged);
    connect(&link, &SerialLink::commandDone, this, &AutomationEngine::onCommandDone);
}

AutomationEngine::~AutomationEngine() = default;

void AutomationEngine::say(const QString& text)
{
    m_link.logNote(text);
    Q_EMIT note(text);
}

QString AutomationEngine::keyCommand(int key, QString* caption) const
{
    *caption = m_keys.caption(key);
    return m_keys.command(key);
}

// --- repeats -----------------------------------------------------------------------------

bool AutomationEngine::startRepeat(const RepeatSpec& spec, QString* error)
{
    QString why = spec.problem();
    if (why.isEmpty()) {
        why = SerialLink::commandRefusal(m_keys.command(spec.key), m_appendCr());
        if (!why.isEmpty()) {
            why = QStringLiteral("%1：%2").arg(m_keys.caption(spec.key), why);
        }
    }
    if (!why.isEmpty()) {
        if (error) {
            *error = why;
        }
        return false;
    }
    m_repeats.erase(spec.key);
    auto r = std::make_unique<Repeat>();
    r->serial = ++m_repeatsStarted;
    r->spec = spec;
    if (spec.stopOn) {
        r->stop.emplace(*spec.stopOn);
    }
    r->timer.setSingleShot(true);
    r->timer.setTimerType(Qt::PreciseTimer);
    const int key = spec.key;
    connect(&r->timer, &QTimer::timeout, this, [this, key] { fireRepeat(key); });
    r->startNs = m_clock.nsecsElapsed();
    r->paused = !m_portOpen;
    Repeat& repeat = *r;
    m_repeats.emplace(key, std::move(r));
    if (repeat.paused) {
        say(QStringLiteral("%1 的定时重复发送等串口打开后开始").arg(m_keys.caption(key)));
    } else {
        armRepeat(repeat);
    }
    Q_EMIT repeatChanged(key);
    return true;
}

void AutomationEngine::stopRepeat(int key)
{
    if (m_repeats.erase(key) > 0) {
        Q_EMIT repeatChanged(key);
    }
}

std::optional<AutomationEngine::RepeatState> AutomationEngine::repeatState(int key) const
{
    const auto it = m_repeats.find(key);
    if (it == m_repeats.end()) {
        return std::nullopt;
    }
    const Repeat& r = *it->second;
    return RepeatState { r.spec, r.sent, r.skipped, r.paused };
}

QList<int> AutomationEngine::repeatingKeys() const
{
    QList<int> keys;
    for (const auto& [key, r] : m_repeats) {
        keys << key;
    }
    return keys;
}

void AutomationEngine::armRepeat(Repeat& r)
{
    const qint64 due = r.startNs + r.tick * r.spec.intervalMs * NsPerMs;
    const qint64 wait = due - m_clock.nsecsElapsed();
    // Whole milliseconds rounded down: a timer that comes a fraction early goes round the event
    // loop until the deadline, so a tick is never sent early and rarely more than a moment late.
    r.timer.start(int(std::clamp<qint64>(wait / NsPerMs, 0, RepeatSpec::MaxIntervalMs)));
}

void AutomationEngine::fireRepeat(int key)
{
    const auto it = m_repeats.find(key);
    if (it == m_repeats.end() || it->second->paused) {
        return;
    }
    Repeat& r = *it->second;
    const qint64 now = m_clock.nsecsElapsed();
    const qint64 interval = r.spec.intervalMs * NsPerMs;
    if (now < r.startNs + r.tick * interval) {
        armRepeat(r);
        return;
    }
    // Deadlines that passed while the event loop was held up are skipped, not caught up on.
    const qint64 latest = (now - r.startNs) / interval;
    if (latest > r.tick) {
        r.skipped += latest - r.tick;
        r.tick = latest;
    }
    bool sentNow = false;
    if (r.pendingId != 0) {
        ++r.skipped; // the last one still waits for the line
    } else {
        QString caption;
        const QString command = keyCommand(key, &caption);
        const quint64 serial = r.serial;
        const SerialLink::SendResult sent = m_link.sendCommand(command, m_appendCr(), caption);
        // The link's signals may have reached a slot that stopped or replaced this repeat.
        if (const auto again = m_repeats.find(key); again == m_repeats.end() || again->second->serial != serial) {
            return;
        }
        if (sent.accepted) {
            ++r.sent;
            r.pendingId = sent.queued ? sent.id : 0;
            sentNow = true;
        } else if (SerialLink::commandRefusal(command, m_appendCr()).isEmpty()) {
            // The line's trouble (full, or a device that just went away): the status change
            // that follows pauses the repeat; the command itself is fine.
            ++r.skipped;
        } else {
            say(QStringLiteral("%1 的定时重复发送停止：%2").arg(caption, sent.reason));
            stopRepeat(key);
            return;
        }
    }
    const qint64 tick = r.tick++;
    const bool done = r.spec.count > 0 && r.sent >= r.spec.count;
    if (!done) {
        armRepeat(r);
    }
    if (sentNow) {
        Q_EMIT repeatSent(key, tick);
    }
    if (done) {
        stopRepeat(key);
    } else {
        Q_EMIT repeatChanged(key);
    }
}

void AutomationEngine::pauseRepeats(bool pause)
{
    if (m_repeats.empty()) {
        return;
    }
    say(pause ? QStringLiteral("串口没有打开，%1 个定时重复发送暂停").arg(m_repeats.size())
              : QStringLiteral("串口已打开，%1 个定时重复发送继续").arg(m_repeats.size()));
    const qint64 now = m_clock.nsecsElapsed();
    for (auto& [key, r] : m_repeats) {
        r->paused = pause;
        r->pendingId = 0; // a closing port drops what was queued
        if (pause) {
            r->timer.stop();
        } else {
            // The next tick is due now; the ticks after it keep their spacing from here.
            r->startNs = now - r->tick * r->spec.intervalMs * NsPerMs;
            armRepeat(*r);
        }
    }
    for (int key : repeatingKeys()) {
        Q_EMIT repeatChanged(key);
    }
}

void AutomationEngine::onStatusChanged()
{
    const bool open = m_link.status() == SerialLink::Status::Opened;
    if (open != m_portOpen) {
        m_portOpen = open;
        pauseRepeats(!open);
    }
}

void AutomationEngine::onCommandDone(quint64 id, qint64 entry)
{
    m_lastDone = { id, entry };
    for (auto& [key, r] : m_repeats) {
        if (r->pendingId == id) {
            r->pendingId = 0;
        }
    }
    if (const auto it = m_sendMarks.find(id); it != m_sendMarks.end()) {
        it->entry = entry;
        if (entry >= 0) {
            m_link.transcript().setStep(entry, it->label, verdictText(it->verdict), it->ms);
        }
    }
}

// --- sequences ---------------------------------------------------------------------------

bool AutomationEngine::startSequence(const Sequence& sequence, QString* error)
{
    QString why = m_run ? QStringLiteral("序列“%1”正在运行").arg(m_run->seq.name) : sequence.problem();
    for (qsizetype i = 0; why.isEmpty() && i < sequence.steps.size(); ++i) {
        const Step& s = sequence.steps[i];
        if (s.kind == Step::Kind::SendKey || s.kind == Step::Kind::SendText) {
            QString caption;
            const QString text = s.kind == Step::Kind::SendKey ? keyCommand(s.key, &caption) : s.text;
            if (const QString refusal = SerialLink::commandRefusal(text, m_appendCr()); !refusal.isEmpty()) {
                why = QStringLiteral("第 %1 步：%2").arg(i + 1).arg(refusal);
            }
        }
    }
    if (!why.isEmpty()) {
        if (error) {
            *error = why;
        }
        return false;
    }
    m_run = std::make_unique<Run>();
    m_run->seq = sequence;
    m_run->timer.setSingleShot(true);
    m_run->timer.setTimerType(Qt::PreciseTimer);
    connect(&m_run->timer, &QTimer::timeout, this, &AutomationEngine::onSequenceTimer);
    const quint64 self = ++m_runs;
    Q_EMIT sequenceStarted(sequence.name);
    if (m_run && m_runs == self) {
        Q_EMIT runStarted(1);
    }
    if (m_run && m_runs == self) {
        runStep();
    }
    return true;
}

void AutomationEngine::stopSequence()
{
    if (m_run) {
        endSequence(SequenceEnd::Stopped);
    }
}

int AutomationEngine::currentRun() const { return m_run ? m_run->run : -1; }
int AutomationEngine::currentStep() const { return m_run ? m_run->step : -1; }

QString AutomationEngine::stepLabel() const
{
    const Run& r = *m_run;
    if (r.seq.runs == 1) {
        return QStringLiteral("%1 第%2步").arg(r.seq.name).arg(r.step + 1);
    }
    return QStringLiteral("%1 第%2遍 第%3步").arg(r.seq.name).arg(r.run).arg(r.step + 1);
}

void AutomationEngine::markSend(quint64 id, const QString& label, Verdict verdict, qint64 ms)
{
    // Rows already marked for good are forgotten; only the last send can still change.
    m_sendMarks.removeIf(
        [id](const QHash<quint64, SendMark>::iterator it) { return it.key() != id && it->entry >= 0; });
    const bool judged = m_sendMarks.contains(id);
    SendMark& mark = m_sendMarks[id];
    // A send an expect failed stays failed in the report: a later expect on the same send (after
    // a go-to) that passes must not hide the failure.
    if (!judged || mark.verdict == Verdict::Passed || verdict != Verdict::Passed) {
        mark.label = label;
        mark.verdict = verdict;
        mark.ms = ms;
    }
    if (mark.entry < 0 && m_lastDone.first == id) {
        mark.entry = m_lastDone.second; // written at once, reported before the send returned
    }
    if (mark.entry >= 0) {
        m_link.transcript().setStep(mark.entry, mark.label, verdictText(mark.verdict), mark.ms);
    }
}

void AutomationEngine::runStep()
{
    Run& r = *m_run;
    r.waiting = Run::Waiting::Nothing;
    r.stepStart = nowMs();
    const quint64 self = m_runs;
    Q_EMIT stepStarted(r.run, r.step);
    if (!m_run || m_runs != self) {
        return;
    }
    const Step& s = r.seq.steps[r.step];
    switch (s.kind) {
    case Step::Kind::SendKey:
    case Step::Kind::SendText: {
        QString caption = r.seq.name;
        const QString text = s.kind == Step::Kind::SendKey ? keyCommand(s.key, &caption) : s.text;
        const bool cr = m_appendCr();
        r.sinceSend.clear();
        const SerialLink::SendResult sent = m_link.sendCommand(text, cr, caption);
        if (!m_run || m_runs != self) {
            return; // a slot on the link's signals ended the sequence
        }
        if (!sent.accepted) {
            r.lastSent.clear();
            finishStep(Verdict::Failed, sent.reason);
            return;
        }
        r.lastSent = commandBytes(text, cr);
        r.lastSendId = sent.id;
        markSend(sent.id, stepLabel(), Verdict::Passed, nowMs() - r.stepStart);
        finishStep(Verdict::Passed);
        return;
    }
    case Step::Kind::Wait:
        r.waiting = Run::Waiting::Wait;
        r.timer.start(int(s.ms));
        return;
    case Step::Kind::Expect:
        r.expect.emplace(*s.pattern);
        if (r.expect->feed(r.sinceSend) > 0) {
            finishStep(Verdict::Passed);
            return;
        }
        r.waiting = Run::Waiting::Expect;
        r.timer.start(int(s.ms));
        return;
    }
}

void AutomationEngine::finishStep(Verdict verdict, const QString& detail)
{
    Run& r = *m_run;
    r.timer.stop();
    r.waiting = Run::Waiting::Nothing;
    const Step& s = r.seq.steps[r.step];
    StepResult result { r.run, r.step, verdict, nowMs() - r.stepStart, {}, {}, detail };
    if (s.kind == Step::Kind::SendKey || s.kind == Step::Kind::SendText) {
        result.sent = r.lastSent;
    } else if (s.kind == Step::Kind::Expect) {
        result.reply = r.sinceSend;
        r.expect.reset();
        if (r.lastSendId != 0) {
            markSend(r.lastSendId, stepLabel(), verdict, result.ms);
        }
    }
    const quint64 self = m_runs;
    Q_EMIT stepFinished(result);
    if (!m_run || m_runs != self) {
        return;
    }
    const bool isExpect = s.kind == Step::Kind::Expect;
    if (verdict == Verdict::Passed) {
        advance(r.step + 1);
    } else if (!isExpect || s.onTimeout == Step::OnTimeout::Stop) {
        endSequence(SequenceEnd::Aborted);
    } else if (s.onTimeout == Step::OnTimeout::GoTo) {
        advance(s.gotoStep);
    } else {
        advance(r.step + 1);
    }
}

void AutomationEngine::advance(int nextStep)
{
    Run& r = *m_run;
    if (nextStep >= r.seq.steps.size()) {
        if (r.seq.runs != 0 && r.run >= r.seq.runs) {
            endSequence(SequenceEnd::Completed);
            return;
        }
        ++r.run;
        nextStep = 0;
        const quint64 self = m_runs;
        Q_EMIT runStarted(r.run);
        if (!m_run || m_runs != self) {
            return;
        }
    }
    r.step = nextStep;
    // Through the event loop, so a long sequence never nests calls and stays stoppable.
    r.waiting = Run::Waiting::Advance;
    r.timer.start(0);
}

void AutomationEngine::onSequenceTimer()
{
    if (!m_run) {
        return;
    }
    switch (m_run->waiting) {
    case Run::Waiting::Advance:
        runStep();
        return;
    case Run::Waiting::Wait:
        finishStep(Verdict::Passed);
        return;
    case Run::Waiting::Expect: {
        // A device that answered something else failed; one that stayed silent timed out.
        const Step& s = m_run->seq.steps[m_run->step];
        const bool silent = m_run->sinceSend.isEmpty();
        finishStep(silent ? Verdict::TimedOut : Verdict::Failed,
            QStringLiteral("%1 毫秒内%2“%3”")
                .arg(s.ms)
                .arg(silent ? QStringLiteral("没有收到任何数据，等待的是") : QStringLiteral("收到的数据中没有"))
                .arg(s.pattern ? s.pattern->toString() : QString()));
        return;
    }
    case Run::Waiting::Nothing:
        break;
    }
}

void AutomationEngine::endSequence(SequenceEnd end)
{
    const std::unique_ptr<Run> done = std::move(m_run);
    done->timer.stop();
    Q_EMIT sequenceFinished(end);
}

// --- automatic answers -------------------------------------------------------------------

void AutomationEngine::setRules(const QList<AnswerRule>& rules)
{
    ++m_ruleSets;
    m_rules = rules;
    m_ruleStates.clear();
    QList<Pattern> patterns;
    for (const AnswerRule& rule : rules) {
        m_ruleStates.push_back(std::make_unique<Rule>(Rule { rule, {}, {} }));
        patterns << rule.pattern;
    }
    m_ruleMatches = std::make_unique<MatchSet>(patterns);
    Q_EMIT colourRulesChanged();
}

AutomationEngine::RuleState AutomationEngine::ruleState(int index) const
{
    return index >= 0 && std::size_t(index) < m_ruleStates.size() ? m_ruleStates[std::size_t(index)]->state
                                                                  : RuleState {};
}

void AutomationEngine::resumeRule(int index)
{
    if (index < 0 || std::size_t(index) >= m_ruleStates.size()) {
        return;
    }
    Rule& rule = *m_ruleStates[std::size_t(index)];
    rule.state.paused = false;
    rule.recent.clear();
    m_ruleMatches->reset(index);
}

ColourRules AutomationEngine::colourRules() const
{
    ColourRules marks;
    for (const AnswerRule& rule : m_rules) {
        if (rule.action == AnswerRule::Action::Mark) {
            marks << rule.pattern.colourRule(rule.colour);
        }
    }
    return marks;
}

void AutomationEngine::fireRule(int index)
{
    Rule& rule = *m_ruleStates[std::size_t(index)];
    const AnswerRule& a = rule.rule;
    if (isGuarded(a.action)) {
        const qint64 now = nowMs();
        while (!rule.recent.empty() && rule.recent.front() <= now - GuardWindowMs) {
            rule.recent.pop_front();
        }
        if (qsizetype(rule.recent.size()) >= m_loopGuard) {
            rule.state.paused = true;
            say(QStringLiteral("自动应答规则 %1（%2）一秒内触发超过 %3 次，已暂停")
                    .arg(index + 1)
                    .arg(a.pattern.toString())
                    .arg(m_loopGuard));
            Q_EMIT rulePaused(index);
            return;
        }
        rule.recent.push_back(now);
    }
    const qint64 fired = ++rule.state.fired;
    const quint64 set = m_ruleSets;
    switch (a.action) {
    case AnswerRule::Action::SendKey:
    case AnswerRule::Action::SendText: {
        QString caption = QStringLiteral("自动应答");
        const QString text = a.action == AnswerRule::Action::SendKey ? keyCommand(a.key, &caption) : a.text;
        const SerialLink::SendResult sent = m_link.sendCommand(text, m_appendCr(), caption);
        if (!sent.accepted) {
            say(QStringLiteral("自动应答规则 %1 没有发送：%2").arg(index + 1).arg(sent.reason));
        }
        break;
    }
    case AnswerRule::Action::StopAll:
        say(QStringLiteral("自动应答规则 %1 停止了全部自动发送").arg(index + 1));
        stopAll();
        break;
    case AnswerRule::Action::StopCapture:
        if (m_link.capture().isCapturing()) {
            QString error;
            (void)m_link.capture().stop(&error);
            say(QStringLiteral("自动应答规则 %1 停止了捕获%2")
                    .arg(index + 1)
                    .arg(error.isEmpty() ? QString() : u'：' + error));
        }
        break;
    case AnswerRule::Action::Mark:
    case AnswerRule::Action::Count:
        break;
    }
    if (m_ruleSets == set) {
        Q_EMIT ruleFired(index, fired);
    }
}

void AutomationEngine::stopAll()
{
    const bool any = !m_repeats.empty() || m_run;
    for (int key : repeatingKeys()) {
        stopRepeat(key);
    }
    stopSequence();
    if (any) {
        say(QStringLiteral("已停止全部自动发送"));
    }
}

// --- received bytes ----------------------------------------------------------------------

void AutomationEngine::onRecordAdded(qint64 n)
{
    const LineRecord::Entry& entry = m_link.record().entry(n);
    if (entry.direction != LineRecord::Direction::Received) {
        return;
    }
    // A copy: answers sent from here add entries to the record.
    const QByteArray bytes = entry.bytes;
    const StreamMatcher::Chunk chunk(bytes); // converted once for every matcher
    if (m_run) {
        Run& r = *m_run;
        if (r.sinceSend.size() < Transcript::ReplyLimit) {
            r.sinceSend += bytes.left(Transcript::ReplyLimit - r.sinceSend.size());
        }
        if (r.waiting == Run::Waiting::Expect && r.expect->feed(chunk) > 0) {
            finishStep(Verdict::Passed);
        }
    }
    QList<int> stopped;
    for (auto& [key, r] : m_repeats) {
        if (r->stop && r->stop->feed(chunk) > 0) {
            stopped << key;
        }
    }
    for (int key : stopped) {
        say(QStringLiteral("%1 收到“%2”，定时重复发送停止")
                .arg(m_keys.caption(key), m_repeats.at(key)->spec.stopOn->toString()));
        stopRepeat(key);
    }
    if (!m_ruleMatches) {
        return;
    }
    // A copy: a slot reached from a firing may replace the rules.
    const std::vector<int> hits = m_ruleMatches->feed(chunk);
    const quint64 set = m_ruleSets;
    for (std::size_t i = 0; i < hits.size() && m_ruleSets == set; ++i) {
        if (hits[i] == 0) {
            continue;
        }
        Rule& rule = *m_ruleStates[i];
        if (!isGuarded(rule.rule.action)) {
            // Marking and counting do nothing per match: a flood's many matches in one chunk are
            // counted at once and told once.
            rule.state.fired += hits[i];
            Q_EMIT ruleFired(int(i), rule.state.fired);
            continue;
        }
        for (int n = hits[i]; n > 0 && m_ruleSets == set && !m_ruleStates[i]->state.paused; --n) {
            fireRule(int(i));
        }
    }
}

} // namespace comkeys

#include "moc_AutomationEngine.cpp"
