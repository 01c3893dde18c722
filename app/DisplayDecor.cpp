#include "DisplayDecor.h"

namespace comkeys {

std::vector<CompiledRule> compileRules(const ColourRules& rules)
{
    std::vector<CompiledRule> compiled;
    for (const ColourRule& rule : rules) {
        if (std::optional<SearchPattern> p = SearchPattern::compile(rule.kind, rule.pattern, rule.caseSensitive);
            p && rule.colour.isValid()) {
            compiled.push_back(CompiledRule { std::move(*p), rule.colour, rule.wholeLine });
        }
    }
    return compiled;
}

namespace {
    int hexValue(QChar c)
    {
        const char16_t u = c.unicode();
        return u >= u'0' && u <= u'9' ? u - u'0' : u >= u'A' && u <= u'F' ? u - u'A' + 10 : -1;
    }
} // namespace

Decor decorate(QStringView window, qint64 windowFrom, qint64 from, qint64 to, bool hex, QRgb textColour,
               const std::vector<CompiledRule>& rules, const SearchPattern& find,
               const std::vector<std::pair<qint64, qint64>>& current)
{
    Decor d;
    d.from = from;
    d.text.assign(std::size_t(std::max<qint64>(0, to - from)), textColour);
    d.back.assign(d.text.size(), Decor::NoBack);
    auto paint = [&](qint64 a, qint64 b, QRgb fg, QRgb bg) {
        for (qint64 p = std::max(a, from); p < std::min(b, to); ++p) {
            d.text[std::size_t(p - from)] = fg;
            if (bg != Decor::NoBack) {
                d.back[std::size_t(p - from)] = bg;
            }
        }
    };
    const QRgb black = qRgb(0, 0, 0);
    if (hex) {
        // The bytes of whole rows: a row's digits stand at 10 + 3c, its characters at 59 + c.
        QString bytes;
        std::vector<qint64> digits;
        std::vector<qint64> chars;
        // A window that does not start at the very first row starts after its first line break.
        qsizetype rowStart = windowFrom == 0 ? 0 : window.indexOf(u'\n') + 1;
        if (windowFrom != 0 && rowStart == 0) {
            rowStart = window.size();
        }
        while (rowStart < window.size()) {
            const qsizetype rowEnd = window.indexOf(u'\n', rowStart);
            const QStringView row = window.mid(rowStart, (rowEnd < 0 ? window.size() : rowEnd) - rowStart);
            for (int c = 0; c < 16 && 11 + 3 * c < row.size(); ++c) {
                const int high = hexValue(row[10 + 3 * c]);
                const int low = hexValue(row[11 + 3 * c]);
                if (high < 0 || low < 0) {
                    break;
                }
                bytes += QChar(char16_t(high * 16 + low));
                digits.push_back(windowFrom + rowStart + 10 + 3 * c);
                chars.push_back(windowFrom + rowStart + 59 + c);
            }
            if (rowEnd < 0) {
                break;
            }
            rowStart = rowEnd + 1;
        }
        find.forEach(bytes, 0, [&](const Found& m) {
            for (qsizetype k = m.start; k < m.start + m.length; ++k) {
                paint(digits[std::size_t(k)], digits[std::size_t(k)] + 2, black, Decor::foundBack().rgb());
                paint(chars[std::size_t(k)], chars[std::size_t(k)] + 1, black, Decor::foundBack().rgb());
            }
            return true;
        });
    } else {
        for (auto rule = rules.rbegin(); rule != rules.rend(); ++rule) {
            const QRgb colour = rule->colour.rgb();
            rule->pattern.forEach(window, 0, [&](const Found& m) {
                qint64 a = windowFrom + m.start;
                qint64 b = a + m.length;
                if (rule->wholeLine) {
                    a = windowFrom + window.lastIndexOf(u'\n', m.start) + 1;
                    const qsizetype lineEnd = window.indexOf(u'\n', m.start + m.length);
                    b = windowFrom + (lineEnd < 0 ? window.size() : lineEnd);
                }
                paint(a, b, colour, Decor::NoBack);
                return windowFrom + m.start < to;
            });
        }
        find.forEach(window, 0, [&](const Found& m) {
            paint(windowFrom + m.start, windowFrom + m.start + m.length, black, Decor::foundBack().rgb());
            return windowFrom + m.start < to;
        });
    }
    for (const auto& [a, b] : current) {
        paint(a, b, black, Decor::currentBack().rgb());
    }
    return d;
}

} // namespace comkeys
