#pragma once

#include "Pattern.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace comkeys {

class Profile;

// A key sent again and again: tick k at start + k x interval.
struct RepeatSpec {
    static constexpr qint64 MinIntervalMs = 10;
    static constexpr qint64 MaxIntervalMs = 86'400'000;

    int key = 0; // index 0 to 191
    qint64 intervalMs = 1000;
    int count = 0; // sends at most; 0: until stopped
    std::optional<Pattern> stopOn; // a reply containing it ends the repeat

    // Why the values cannot run (Chinese), empty when they can.
    QString problem() const;
    friend bool operator==(const RepeatSpec&, const RepeatSpec&) = default;
};

// One step of a sequence, written in the key-set file and shown as
//   key 5 | send "AT" | wait 100 | expect 1000 stop re:OK  (on timeout: next, stop or goto:M)
struct Step {
    enum class Kind { SendKey, SendText, Wait, Expect };
    enum class OnTimeout { GoOn, Stop, GoTo };

    Kind kind = Kind::Wait;
    int key = 0; // SendKey: index 0 to 191
    QString text; // SendText: a command text with its delimiters, as a key holds it
    qint64 ms = 0; // Wait: the pause; Expect: how long to wait for the pattern
    std::optional<Pattern> pattern; // Expect
    OnTimeout onTimeout = OnTimeout::Stop;
    int gotoStep = 0; // GoTo: index of the step to go on with

    static std::optional<Step> parse(const QString& written, QString* error = nullptr);
    QString toString() const;
    friend bool operator==(const Step&, const Step&) = default;
};

struct Sequence {
    static constexpr qint64 MaxStepMs = 86'400'000;

    QString name;
    QList<Step> steps;
    int runs = 1; // 0: until stopped

    // Why it cannot run (Chinese): no steps, a go-to outside the sequence.
    QString problem() const;
    friend bool operator==(const Sequence&, const Sequence&) = default;
};

// When received bytes match, do one thing.
struct AnswerRule {
    enum class Action { SendKey, SendText, Mark, Count, StopAll, StopCapture };

    Pattern pattern;
    Action action = Action::Count;
    int key = 0; // SendKey: index
    QString text; // SendText: a command text with its delimiters
    QColor colour; // Mark

    static std::optional<AnswerRule> parse(const QString& pattern, const QString& action, QString* error = nullptr);
    QString actionString() const;
    friend bool operator==(const AnswerRule&, const AnswerRule&) = default;
};

// Everything a key set keeps for its automation, in sections of the key-set file of their own
// ([AutoRepeat], [AutoSequence], [AutoAnswer]). Lines that did not read back are kept as they
// stood and written again unchanged.
struct AutomationSet {
    static constexpr int DefaultLoopGuard = 10;

    QList<RepeatSpec> repeats;
    QList<Sequence> sequences;
    QList<AnswerRule> rules;
    int loopGuard = DefaultLoopGuard; // firings of one rule in a second that pause it

    QStringList keptRepeatLines;
    QStringList keptSequenceLines;
    QStringList keptAnswerLines;

    const Sequence* sequence(const QString& name) const;
    friend bool operator==(const AutomationSet&, const AutomationSet&) = default;
};

// Reads the automation sections; each broken entry adds one line to *problems ("第 N 行：…")
// and is kept as it stands.
AutomationSet readAutomation(const Profile& profile, QStringList* problems = nullptr);
// Replaces the automation sections with the set; every other byte stays. True when bytes changed.
bool writeAutomation(Profile& profile, const AutomationSet& set);

// The same on a key-set file: a missing file has no automation; an unreadable one gives false and
// the reason. Saving replaces the file atomically and writes nothing when the sections already
// hold the set.
bool loadAutomation(const QString& file, AutomationSet* set, QStringList* problems = nullptr, QString* error = nullptr);
bool saveAutomation(const QString& file, const AutomationSet& set, QString* error = nullptr);

inline const QString RepeatSection = QStringLiteral("AutoRepeat");
inline const QString SequenceSection = QStringLiteral("AutoSequence");
inline const QString AnswerSection = QStringLiteral("AutoAnswer");

} // namespace comkeys
