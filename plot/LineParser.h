#pragma once

#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>

#include <vector>

namespace comkeys {

// Reads the numbers in one received line. Two forms:
// - Auto: the forms devices already print, either label:value / label=value pairs (labels may
//   hold spaces; a unit may follow the number) or plain numbers (series 1, 2, ...), separated
//   by spaces, tabs or commas. The whole line has to be one of the two, or it is malformed.
// - Pattern: a regular expression with one capture group per series, named by the group's name
//   or its number.
class LineParser {
public:
    enum class Form { Auto, Pattern };

    struct Value {
        QByteArray label; // the series' name as bytes of the line (UTF-8)
        double value = 0;
    };

    Form form() const { return m_form; }
    QString pattern() const { return m_pattern.pattern(); }
    void setAuto() { m_form = Form::Auto; }
    // False with a Chinese reason when the pattern is not a valid expression with a capture group;
    // the parser is then left as it was.
    bool setPattern(const QString& pattern, QString* error = nullptr);

    // The values of one line (without its ending) into *out: false when it is malformed, that is
    // when it holds no number in the chosen form. A blank line is not malformed and has no values.
    bool parse(QByteArrayView line, std::vector<Value>* out) const;

private:
    bool parseAuto(QByteArrayView line, std::vector<Value>* out) const;
    bool parsePattern(QByteArrayView line, std::vector<Value>* out) const;

    Form m_form = Form::Auto;
    QRegularExpression m_pattern;
    QStringList m_groupNames;
};

} // namespace comkeys
