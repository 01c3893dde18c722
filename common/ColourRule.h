#pragma once

#include <QColor>
#include <QList>
#include <QString>

namespace comkeys {

// A pattern in received data and the colour its matches are drawn in on the receive display.
// The user's own colour rules and the automatic answers that mark in a colour are both lists of
// these, drawn by one engine.
struct ColourRule {
    enum class Kind { Text, Regex, Hex };
    Kind kind = Kind::Text;
    QString pattern; // for Hex: pairs of hex digits, blanks allowed ("0D 0A")
    bool caseSensitive = true;
    QColor colour;
    bool wholeLine = true; // the whole line it is found in, or only the matching text

    friend bool operator==(const ColourRule&, const ColourRule&) = default;
};

using ColourRules = QList<ColourRule>;

} // namespace comkeys
