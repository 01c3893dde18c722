#pragma once

#include "AutomationSet.h"

#include <QList>

namespace comkeys::test {

// 100 answer rules of both quiet actions for the simulator's flood: its alphabet and line ends
// make some match all the time (every line end, "xyz" and a digit once a cycle), the rest never.
// With `withRegex`, a third are regular expressions anchored at line starts.
inline QList<AnswerRule> floodRules(bool withRegex)
{
    QList<AnswerRule> rules;
    for (int i = 0; i < 100; ++i) {
        const QString pattern = i % 10 == 0 ? QStringLiteral("hex:0D 0A")
            : withRegex && i % 3 == 0       ? QStringLiteral("re:^[A-Z]{3}%1").arg(i % 7)
            : i % 3 == 1                    ? QStringLiteral("nocase:xyz%1").arg(i)
                                            : QStringLiteral("never-%1").arg(i);
        rules << *AnswerRule::parse(pattern, i % 2 ? QStringLiteral("count") : QStringLiteral("mark #ff0000"));
    }
    return rules;
}

} // namespace comkeys::test
