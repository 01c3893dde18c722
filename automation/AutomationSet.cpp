#include "AutomationSet.h"

#include "KeySet.h"
#include "Profile.h"

#include <QMap>
#include <QRegularExpression>
#include <QSet>

namespace comkeys {

namespace {
    bool setError(QString* error, const QString& reason)
    {
        if (error) {
            *error = reason;
        }
        return false;
    }

    // A key number 1 to 192 as written; the index, or nothing.
    std::optional<int> keyIndex(QStringView written)
    {
        bool ok = false;
        const int n = written.toInt(&ok);
        return ok && n >= 1 && n <= KeyCount ? std::optional<int>(n - 1) : std::nullopt;
    }

    QString keyRange() { return QStringLiteral("按键编号应在 1 到 %1 之间").arg(KeyCount); }

    std::optional<qint64> millis(QStringView written, qint64 min, qint64 max)
    {
        bool ok = false;
        const qint64 v = written.toLongLong(&ok);
        return ok && v >= min && v <= max ? std::optional<qint64>(v) : std::nullopt;
    }

    // The first blank-separated word and the rest after one blank.
    std::pair<QStringView, QStringView> word(QStringView s)
    {
        const qsizetype blank = s.indexOf(u' ');
        return blank < 0 ? std::pair { s, QStringView() } : std::pair { s.left(blank), s.mid(blank + 1) };
    }

    QString onTimeoutString(const Step& s)
    {
        switch (s.onTimeout) {
        case Step::OnTimeout::GoOn:
            return QStringLiteral("next");
        case Step::OnTimeout::GoTo:
            return QStringLiteral("goto:%1").arg(s.gotoStep + 1);
        case Step::OnTimeout::Stop:
            break;
        }
        return QStringLiteral("stop");
    }
} // namespace

QString RepeatSpec::problem() const
{
    if (key < 0 || key >= KeyCount) {
        return keyRange();
    }
    if (intervalMs < MinIntervalMs || intervalMs > MaxIntervalMs) {
        return QStringLiteral("重复间隔应在 %1 到 %2 毫秒之间").arg(MinIntervalMs).arg(MaxIntervalMs);
    }
    if (count < 0) {
        return QStringLiteral("重复次数不能是负数（0 表示一直重复到停止）");
    }
    return {};
}

std::optional<Step> Step::parse(const QString& written, QString* error)
{
    const auto [verb, rest] = word(written);
    Step s;
    if (verb == u"key") {
        const auto key = keyIndex(rest);
        if (!key) {
            setError(error, QStringLiteral("“%1”：%2").arg(written, keyRange()));
            return std::nullopt;
        }
        s.kind = Kind::SendKey;
        s.key = *key;
    } else if (verb == u"send") {
        if (rest.isEmpty()) {
            setError(error, QStringLiteral("发送步骤没有命令文本"));
            return std::nullopt;
        }
        s.kind = Kind::SendText;
        s.text = rest.toString();
    } else if (verb == u"wait") {
        const auto ms = millis(rest, 0, Sequence::MaxStepMs);
        if (!ms) {
            setError(error, QStringLiteral("等待时间“%1”应是 0 到 %2 的毫秒数").arg(rest).arg(Sequence::MaxStepMs));
            return std::nullopt;
        }
        s.kind = Kind::Wait;
        s.ms = *ms;
    } else if (verb == u"expect") {
        const auto [timeout, afterTimeout] = word(rest);
        const auto [onTimeout, pattern] = word(afterTimeout);
        const auto ms = millis(timeout, 1, Sequence::MaxStepMs);
        if (!ms) {
            setError(
                error, QStringLiteral("等待回应的时间“%1”应是 1 到 %2 的毫秒数").arg(timeout).arg(Sequence::MaxStepMs));
            return std::nullopt;
        }
        s.kind = Kind::Expect;
        s.ms = *ms;
        if (onTimeout == u"next") {
            s.onTimeout = OnTimeout::GoOn;
        } else if (onTimeout == u"stop") {
            s.onTimeout = OnTimeout::Stop;
        } else if (onTimeout.startsWith(u"goto:")) {
            bool ok = false;
            const int n = onTimeout.mid(5).toInt(&ok);
            if (!ok || n < 1) {
                setError(error, QStringLiteral("“%1”不是有效的步骤编号").arg(onTimeout));
                return std::nullopt;
            }
            s.onTimeout = OnTimeout::GoTo;
            s.gotoStep = n - 1;
        } else {
            setError(error, QStringLiteral("超时后的处理“%1”应是 next、stop 或 goto:步骤编号").arg(onTimeout));
            return std::nullopt;
        }
        QString why;
        s.pattern = Pattern::parse(pattern.toString(), &why);
        if (!s.pattern) {
            setError(error, why);
            return std::nullopt;
        }
    } else {
        setError(error, QStringLiteral("未知的步骤“%1”（可用 key、send、wait、expect）").arg(verb));
        return std::nullopt;
    }
    return s;
}

QString Step::toString() const
{
    switch (kind) {
    case Kind::SendKey:
        return QStringLiteral("key %1").arg(key + 1);
    case Kind::SendText:
        return QStringLiteral("send ") + text;
    case Kind::Wait:
        return QStringLiteral("wait %1").arg(ms);
    case Kind::Expect:
        break;
    }
    return QStringLiteral("expect %1 %2 %3")
        .arg(ms)
        .arg(onTimeoutString(*this), pattern ? pattern->toString() : QString());
}

QString Sequence::problem() const
{
    if (steps.isEmpty()) {
        return QStringLiteral("序列“%1”没有步骤").arg(name);
    }
    if (runs < 0) {
        return QStringLiteral("运行次数不能是负数（0 表示一直运行到停止）");
    }
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        if (s.kind == Step::Kind::Expect && s.onTimeout == Step::OnTimeout::GoTo
            && (s.gotoStep < 0 || s.gotoStep >= steps.size())) {
            return QStringLiteral("第 %1 步要转到的第 %2 步不存在").arg(i + 1).arg(s.gotoStep + 1);
        }
        if (s.kind == Step::Kind::SendText) {
            // Checked in full when sent; an empty text is never right.
            if (s.text.size() < 2) {
                return QStringLiteral("第 %1 步的命令文本至少要有首尾两个字符（一对引号）").arg(i + 1);
            }
        }
    }
    return {};
}

std::optional<AnswerRule> AnswerRule::parse(const QString& pattern, const QString& action, QString* error)
{
    QString why;
    const std::optional<Pattern> p = Pattern::parse(pattern, &why);
    if (!p) {
        setError(error, why);
        return std::nullopt;
    }
    AnswerRule r;
    r.pattern = *p;
    const auto [verb, rest] = word(action);
    if (verb == u"key") {
        const auto key = keyIndex(rest);
        if (!key) {
            setError(error, keyRange());
            return std::nullopt;
        }
        r.action = Action::SendKey;
        r.key = *key;
    } else if (verb == u"send" && !rest.isEmpty()) {
        r.action = Action::SendText;
        r.text = rest.toString();
    } else if (verb == u"mark") {
        r.colour = QColor::fromString(rest);
        if (!r.colour.isValid()) {
            setError(error, QStringLiteral("“%1”不是颜色（例如 #ff0000 或 red）").arg(rest));
            return std::nullopt;
        }
        r.action = Action::Mark;
    } else if (verb == u"count" && rest.isEmpty()) {
        r.action = Action::Count;
    } else if (verb == u"stop-all" && rest.isEmpty()) {
        r.action = Action::StopAll;
    } else if (verb == u"stop-capture" && rest.isEmpty()) {
        r.action = Action::StopCapture;
    } else {
        setError(error,
            QStringLiteral("未知的应答动作“%1”（可用 key、send、mark、count、stop-all、stop-capture）").arg(action));
        return std::nullopt;
    }
    return r;
}

QString AnswerRule::actionString() const
{
    switch (action) {
    case Action::SendKey:
        return QStringLiteral("key %1").arg(key + 1);
    case Action::SendText:
        return QStringLiteral("send ") + text;
    case Action::Mark:
        return QStringLiteral("mark ") + colour.name();
    case Action::Count:
        return QStringLiteral("count");
    case Action::StopAll:
        return QStringLiteral("stop-all");
    case Action::StopCapture:
        break;
    }
    return QStringLiteral("stop-capture");
}

const Sequence* AutomationSet::sequence(const QString& name) const
{
    for (const Sequence& s : sequences) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

namespace {
    struct Entry {
        int line = 0;
        QString raw;
        QString name;
        QString value;
    };

    // The entries of one section; blank lines are dropped, comments and lines without '=' are
    // kept as they are.
    std::vector<Entry> entries(const Profile& profile, const QString& section, QStringList* kept)
    {
        std::vector<Entry> out;
        const auto lines = profile.sectionLines(section);
        if (!lines) {
            return out;
        }
        for (const Profile::Line& l : *lines) {
            const QString trimmed = l.text.trimmed();
            if (trimmed.isEmpty()) {
                continue;
            }
            const qsizetype eq = l.text.indexOf(u'=');
            if (trimmed.startsWith(u';') || eq < 0) {
                kept->append(l.text);
                continue;
            }
            out.push_back({ l.number, l.text, l.text.left(eq).trimmed(), l.text.mid(eq + 1) });
        }
        return out;
    }

    // "Seq12.3" -> (12, 3); "Seq12" -> (12, 0).
    std::optional<std::pair<int, int>> numbered(const QString& name, QStringView prefix)
    {
        static const QRegularExpression form(QStringLiteral("^(\\d{1,6})(?:\\.(\\d{1,6}|do))?$"));
        if (!name.startsWith(prefix, Qt::CaseInsensitive)) {
            return std::nullopt;
        }
        const QRegularExpressionMatch m = form.match(QStringView(name).mid(prefix.size()));
        if (!m.hasMatch() || m.captured(1).toInt() < 1) {
            return std::nullopt;
        }
        const QString second = m.captured(2);
        return std::pair { m.captured(1).toInt(), second.isEmpty() ? 0 : second == u"do" ? -1 : second.toInt() };
    }

    void report(QStringList* problems, int line, const QString& why)
    {
        if (problems) {
            problems->append(QStringLiteral("第 %1 行：%2").arg(line).arg(why));
        }
    }

    QSet<int> usedNumbers(const QStringList& kept, QStringView prefix)
    {
        QSet<int> used;
        for (const QString& raw : kept) {
            if (const auto n = numbered(raw.left(raw.indexOf(u'=')).trimmed(), prefix)) {
                used.insert(n->first);
            }
        }
        return used;
    }

    int nextFree(int& n, const QSet<int>& used)
    {
        while (used.contains(++n)) { }
        return n;
    }

    void readRepeats(const Profile& profile, AutomationSet& set, QStringList* problems)
    {
        for (const Entry& e : entries(profile, RepeatSection, &set.keptRepeatLines)) {
            QString why;
            RepeatSpec r;
            const auto n = numbered(e.name, u"Key");
            const auto [interval, afterInterval] = word(e.value);
            const auto [count, stop] = word(afterInterval);
            bool intervalOk = false;
            bool countOk = false;
            r.intervalMs = interval.toLongLong(&intervalOk);
            r.count = count.toInt(&countOk);
            if (!n || n->second != 0 || n->first > KeyCount) {
                why = QStringLiteral("“%1”不是按键（Key1 到 Key%2）").arg(e.name).arg(KeyCount);
            } else if (!intervalOk || !countOk) {
                why = QStringLiteral("“%1”应写成“间隔毫秒 次数 [停止条件]”").arg(e.value);
            } else {
                r.key = n->first - 1;
                if (!stop.isEmpty()) {
                    r.stopOn = Pattern::parse(stop.toString(), &why);
                }
                if (why.isEmpty()) {
                    why = r.problem();
                }
            }
            if (!why.isEmpty()) {
                report(problems, e.line, why);
                set.keptRepeatLines.append(e.raw);
                continue;
            }
            set.repeats.append(r);
        }
    }

    void readSequences(const Profile& profile, AutomationSet& set, QStringList* problems)
    {
        struct Pending {
            Sequence seq;
            bool hasHeader = false;
            bool broken = false;
            QMap<int, Step> steps;
            QStringList raw;
            int line = 0;
        };
        QMap<int, Pending> found;
        for (const Entry& e : entries(profile, SequenceSection, &set.keptSequenceLines)) {
            const auto n = numbered(e.name, u"Seq");
            if (!n || n->second < 0) {
                report(problems, e.line, QStringLiteral("未知的条目“%1”").arg(e.name));
                set.keptSequenceLines.append(e.raw);
                continue;
            }
            Pending& p = found[n->first];
            p.raw.append(e.raw);
            QString why;
            if (n->second == 0) {
                const auto [runs, name] = word(e.value);
                bool ok = false;
                p.seq.runs = runs.toInt(&ok);
                p.seq.name = name.toString();
                p.line = e.line;
                if (!ok || p.seq.runs < 0 || p.seq.name.isEmpty() || p.hasHeader) {
                    why = QStringLiteral("序列应写成“运行次数 名称”（0 次表示一直运行到停止）");
                }
                p.hasHeader = true;
            } else if (const auto step = Step::parse(e.value, &why); step) {
                if (p.steps.contains(n->second)) {
                    why = QStringLiteral("第 %1 步重复出现").arg(n->second);
                } else {
                    p.steps.insert(n->second, *step);
                }
            }
            if (!why.isEmpty()) {
                report(problems, e.line, why + QStringLiteral("；这个序列没有调入"));
                p.broken = true;
            }
        }
        for (auto it = found.begin(); it != found.end(); ++it) {
            Pending& p = it.value();
            // Steps are numbered 1, 2, 3 … without gaps, so a go-to means what it says.
            const bool gapless = !p.steps.isEmpty() && p.steps.firstKey() == 1 && p.steps.lastKey() == p.steps.size();
            p.seq.steps = p.steps.values();
            QString why = !p.hasHeader ? QStringLiteral("序列 Seq%1 没有名称行").arg(it.key())
                : !gapless ? QStringLiteral("序列“%1”的步骤编号应从 1 起连续").arg(p.seq.name)
                           : p.seq.problem();
            if (!p.broken && !why.isEmpty()) {
                report(problems, p.line, why + QStringLiteral("；这个序列没有调入"));
                p.broken = true;
            }
            if (p.broken) {
                set.keptSequenceLines.append(p.raw);
            } else {
                set.sequences.append(p.seq);
            }
        }
    }

    void readRules(const Profile& profile, AutomationSet& set, QStringList* problems)
    {
        struct Pending {
            QString pattern;
            QString action;
            QStringList raw;
            int line = 0;
            int actionLine = 0;
        };
        QMap<int, Pending> found;
        for (const Entry& e : entries(profile, AnswerSection, &set.keptAnswerLines)) {
            if (e.name.compare(u"LoopGuard", Qt::CaseInsensitive) == 0) {
                bool ok = false;
                const int limit = e.value.toInt(&ok);
                if (ok && limit >= 1) {
                    set.loopGuard = limit;
                } else {
                    report(problems, e.line, QStringLiteral("LoopGuard 应是每秒最多触发的次数（至少 1）"));
                    set.keptAnswerLines.append(e.raw);
                }
                continue;
            }
            const auto n = numbered(e.name, u"Rule");
            if (!n || n->second > 0) {
                report(problems, e.line, QStringLiteral("未知的条目“%1”").arg(e.name));
                set.keptAnswerLines.append(e.raw);
                continue;
            }
            Pending& p = found[n->first];
            p.raw.append(e.raw);
            if (n->second == 0) {
                p.pattern = e.value;
                p.line = e.line;
            } else {
                p.action = e.value;
                p.actionLine = e.line;
            }
        }
        for (auto it = found.begin(); it != found.end(); ++it) {
            const Pending& p = it.value();
            QString why;
            std::optional<AnswerRule> rule;
            if (p.line == 0 || p.actionLine == 0) {
                why = QStringLiteral("规则 Rule%1 要有匹配条件（Rule%1=）和动作（Rule%1.do=）").arg(it.key());
            } else {
                rule = AnswerRule::parse(p.pattern, p.action, &why);
            }
            if (!rule) {
                report(problems, p.line ? p.line : p.actionLine, why);
                set.keptAnswerLines.append(p.raw);
                continue;
            }
            set.rules.append(*rule);
        }
    }
} // namespace

AutomationSet readAutomation(const Profile& profile, QStringList* problems)
{
    AutomationSet set;
    readRepeats(profile, set, problems);
    readSequences(profile, set, problems);
    readRules(profile, set, problems);
    return set;
}

bool writeAutomation(Profile& profile, const AutomationSet& set)
{
    QStringList repeats;
    for (const RepeatSpec& r : set.repeats) {
        QString line = QStringLiteral("Key%1=%2 %3").arg(r.key + 1).arg(r.intervalMs).arg(r.count);
        if (r.stopOn) {
            line += u' ' + r.stopOn->toString();
        }
        repeats << line;
    }
    repeats += set.keptRepeatLines;

    QStringList sequences;
    const QSet<int> usedSeq = usedNumbers(set.keptSequenceLines, u"Seq");
    int n = 0;
    for (const Sequence& s : set.sequences) {
        nextFree(n, usedSeq);
        sequences << QStringLiteral("Seq%1=%2 %3").arg(n).arg(s.runs).arg(s.name);
        for (qsizetype i = 0; i < s.steps.size(); ++i) {
            sequences << QStringLiteral("Seq%1.%2=%3").arg(n).arg(i + 1).arg(s.steps[i].toString());
        }
    }
    sequences += set.keptSequenceLines;

    QStringList answers;
    if (set.loopGuard != AutomationSet::DefaultLoopGuard) {
        answers << QStringLiteral("LoopGuard=%1").arg(set.loopGuard);
    }
    const QSet<int> usedRule = usedNumbers(set.keptAnswerLines, u"Rule");
    n = 0;
    for (const AnswerRule& r : set.rules) {
        nextFree(n, usedRule);
        answers << QStringLiteral("Rule%1=%2").arg(n).arg(r.pattern.toString());
        answers << QStringLiteral("Rule%1.do=%2").arg(n).arg(r.actionString());
    }
    answers += set.keptAnswerLines;

    bool changed = profile.setSection(RepeatSection, repeats);
    changed = profile.setSection(SequenceSection, sequences) || changed;
    changed = profile.setSection(AnswerSection, answers) || changed;
    return changed;
}

bool loadAutomation(const QString& file, AutomationSet* set, QStringList* problems, QString* error)
{
    Profile profile(file);
    if (profile.load(error) == Profile::LoadResult::Unreadable) {
        return false;
    }
    *set = readAutomation(profile, problems);
    return true;
}

bool saveAutomation(const QString& file, const AutomationSet& set, QString* error)
{
    Profile profile(file);
    if (profile.load(error) == Profile::LoadResult::Unreadable) {
        return false;
    }
    return !writeAutomation(profile, set) || profile.save(error);
}

} // namespace comkeys
