#include "LineParser.h"

#include <charconv>

namespace comkeys {

namespace {
    bool isSeparator(char c) { return c == ' ' || c == '\t' || c == ','; }
    bool isDigit(char c) { return c >= '0' && c <= '9'; }

    // A number at p (sign, digits with an optional point, optional exponent): its end, or p when
    // there is none.
    const char* scanNumber(const char* p, const char* end, double* value)
    {
        const char* s = p;
        if (s < end && (*s == '-' || *s == '+')) {
            ++s;
        }
        const char* digits = s;
        while (s < end && isDigit(*s)) {
            ++s;
        }
        bool any = s > digits;
        if (s < end && *s == '.') {
            ++s;
            const char* fraction = s;
            while (s < end && isDigit(*s)) {
                ++s;
            }
            any = any || s > fraction;
        }
        if (!any) {
            return p;
        }
        if (s < end && (*s == 'e' || *s == 'E')) {
            const char* e = s + 1;
            if (e < end && (*e == '-' || *e == '+')) {
                ++e;
            }
            if (e < end && isDigit(*e)) {
                while (e < end && isDigit(*e)) {
                    ++e;
                }
                s = e;
            }
        }
        // from_chars takes no leading plus.
        const char* from = *p == '+' ? p + 1 : p;
        if (std::from_chars(from, s, *value).ec != std::errc()) {
            return p;
        }
        return s;
    }

    // A unit after a number ("3.3V", "12%", "20°C"): letters and a few signs, up to a separator.
    const char* skipUnit(const char* p, const char* end)
    {
        while (p < end && !isSeparator(*p) && *p != ':' && *p != '=' && !isDigit(*p) && *p != '-' && *p != '+') {
            ++p;
        }
        return p;
    }

    bool parseNumbers(const char* p, const char* end, std::vector<LineParser::Value>* out)
    {
        for (int n = 1; p < end; ++n) {
            double v = 0;
            const char* after = scanNumber(p, end, &v);
            if (after == p || (after < end && !isSeparator(*after))) {
                return false;
            }
            out->push_back({ QByteArray::number(n), v });
            p = after;
            while (p < end && isSeparator(*p)) {
                ++p;
            }
        }
        return true;
    }

    bool parsePairs(const char* p, const char* end, std::vector<LineParser::Value>* out)
    {
        while (p < end) {
            const char* label = p;
            while (p < end && *p != ':' && *p != '=' && *p != ',' && *p != '\t') {
                ++p;
            }
            const char* labelEnd = p;
            while (labelEnd > label && labelEnd[-1] == ' ') {
                --labelEnd;
            }
            if (p == end || labelEnd == label || (*p != ':' && *p != '=')) {
                return false;
            }
            ++p;
            while (p < end && (*p == ' ' || *p == '\t')) {
                ++p;
            }
            double v = 0;
            const char* after = scanNumber(p, end, &v);
            if (after == p) {
                return false;
            }
            p = skipUnit(after, end);
            if (p < end && !isSeparator(*p)) {
                return false;
            }
            out->push_back({ QByteArray(label, labelEnd - label), v });
            while (p < end && isSeparator(*p)) {
                ++p;
            }
        }
        return true;
    }
} // namespace

bool LineParser::setPattern(const QString& pattern, QString* error)
{
    QRegularExpression re(pattern);
    if (!re.isValid()) {
        if (error) {
            *error = QStringLiteral("正则表达式有误（第 %1 个字符）：%2")
                         .arg(re.patternErrorOffset() + 1)
                         .arg(re.errorString());
        }
        return false;
    }
    if (re.captureCount() < 1) {
        if (error) {
            *error = QStringLiteral("正则表达式里没有捕获组：每条曲线要一个 ( )");
        }
        return false;
    }
    re.optimize();
    m_pattern = re;
    m_groupNames = re.namedCaptureGroups();
    m_form = Form::Pattern;
    return true;
}

bool LineParser::parse(QByteArrayView line, std::vector<Value>* out) const
{
    out->clear();
    return m_form == Form::Auto ? parseAuto(line, out) : parsePattern(line, out);
}

bool LineParser::parseAuto(QByteArrayView line, std::vector<Value>* out) const
{
    const char* p = line.data();
    const char* end = p + line.size();
    while (p < end && (isSeparator(*p) || *p == '\0')) {
        ++p;
    }
    while (end > p && (isSeparator(end[-1]) || end[-1] == '\0')) {
        --end;
    }
    if (p == end) {
        return true;
    }
    if (parseNumbers(p, end, out)) {
        return true;
    }
    out->clear();
    if (parsePairs(p, end, out)) {
        return true;
    }
    out->clear();
    return false;
}

bool LineParser::parsePattern(QByteArrayView line, std::vector<Value>* out) const
{
    const QString text = QString::fromUtf8(line);
    if (text.trimmed().isEmpty()) {
        return true;
    }
    const QRegularExpressionMatch match = m_pattern.match(text);
    if (!match.hasMatch()) {
        return false;
    }
    for (int g = 1; g <= m_pattern.captureCount(); ++g) {
        if (match.capturedStart(g) < 0) {
            continue; // an optional group that took no part
        }
        const QByteArray captured = match.captured(g).trimmed().toUtf8();
        double v = 0;
        const char* begin = captured.constData();
        const char* end = begin + captured.size();
        if (captured.isEmpty() || scanNumber(begin, end, &v) != end) {
            out->clear();
            return false;
        }
        const QString name = m_groupNames.value(g);
        out->push_back({ name.isEmpty() ? QByteArray::number(g) : name.toUtf8(), v });
    }
    return !out->empty();
}

} // namespace comkeys
