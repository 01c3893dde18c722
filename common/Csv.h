#pragma once

#include <QString>

namespace comkeys {

// One field of a comma-separated line, quoted (with its quotation marks doubled) only where it
// holds a comma, a quotation mark or a line break.
inline QString csvField(const QString& s)
{
    if (!s.contains(u',') && !s.contains(u'"') && !s.contains(u'\n') && !s.contains(u'\r')) {
        return s;
    }
    QString quoted = s;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace comkeys
