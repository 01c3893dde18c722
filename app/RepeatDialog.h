#pragma once

#include "AutomationSet.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;

namespace comkeys {

// 定时重复发送…: the interval, how many times and an optional reply that ends the repeat. The
// values are checked where they are typed; the dialog closes only once the repeat has started.
class RepeatDialog : public QDialog {
    Q_OBJECT
public:
    // start() starts the repeat and returns why it could not (Chinese), empty when it did.
    RepeatDialog(int key, const QString& caption, const RepeatSpec& initial,
                 std::function<QString(const RepeatSpec&)> start, QWidget* parent = nullptr);

    // The reason the last attempt was refused, as shown in the dialog.
    QString problem() const;

    void accept() override;

private:
    std::optional<RepeatSpec> spec(QString* error) const;

    const int m_key;
    const std::function<QString(const RepeatSpec&)> m_start;
    QLineEdit* const m_interval;
    QLineEdit* const m_count;
    QComboBox* const m_stopKind;
    QLineEdit* const m_stopText;
    QLabel* const m_problem;
};

// A pattern from a kind chosen in a list (0 text, 1 text in any case, 2 regular expression,
// 3 hex) and its body as typed; nothing with the reason in *error.
std::optional<Pattern> patternFromForm(int kind, const QString& body, QString* error);
// The kind (as above) and body a pattern is shown in a form with.
std::pair<int, QString> patternToForm(const Pattern& pattern);
// The names of those kinds, for the list.
QStringList patternKindNames();

} // namespace comkeys
