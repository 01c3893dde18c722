#pragma once

#include "ColourRule.h"
#include "SearchPattern.h"

#include <QColor>
#include <QStringView>

#include <vector>

namespace comkeys {

// A colour rule ready to draw with.
struct CompiledRule {
    SearchPattern pattern;
    QColor colour;
    bool wholeLine = true;
};
// The rules that compile; the others are left out.
std::vector<CompiledRule> compileRules(const ColourRules& rules);

// The colours of the characters in view of the receive display: one drawing engine for the
// colour rules, the find highlights and the current match.
struct Decor {
    static constexpr QRgb NoBack = 0; // fully transparent: the display's own background
    static QColor foundBack() { return QColor(255, 215, 0); }
    static QColor currentBack() { return QColor(255, 120, 0); }

    qint64 from = 0;
    std::vector<QRgb> text; // per character from `from` on
    std::vector<QRgb> back;

    QRgb textAt(qint64 pos, QRgb otherwise) const
    {
        return pos >= from && pos - from < qint64(text.size()) ? text[std::size_t(pos - from)] : otherwise;
    }
    QRgb backAt(qint64 pos) const
    {
        return pos >= from && pos - from < qint64(back.size()) ? back[std::size_t(pos - from)] : NoBack;
    }
};

// Colours for the characters [from, to), given the text around them (`window`, starting at
// position windowFrom, whole lines where it can). In hex rows (hex true) the find pattern is
// looked for in the bytes the rows show and marks their digits and characters; the colour rules
// apply to the text views only. A rule earlier in the list wins over a later one.
Decor decorate(QStringView window, qint64 windowFrom, qint64 from, qint64 to, bool hex, QRgb textColour,
               const std::vector<CompiledRule>& rules, const SearchPattern& find,
               const std::vector<std::pair<qint64, qint64>>& current);

// Where the digits of byte `offset` stand in hex rows that start at position 0 with offset 0.
inline qint64 hexDigitsAt(qint64 offset) { return offset / 16 * 76 + 10 + 3 * (offset % 16); }
// Where its character stands in the same rows.
inline qint64 hexCharAt(qint64 offset) { return offset / 16 * 76 + 59 + offset % 16; }

} // namespace comkeys
