#pragma once

#include "ColourRule.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSettings;
class QTableWidget;

namespace comkeys {

// The user's colour rules, as kept with the user's options.
ColourRules readColourRules(QSettings& settings);
void writeColourRules(QSettings& settings, const ColourRules& rules);

// Editing the colour rules: a list of rules and, below it, the fields of the one chosen; a rule
// is a pattern (text, regular expression or hex bytes), a colour, and whether the whole line or
// only the matching text takes it.
class ColourRulesDialog : public QDialog {
    Q_OBJECT
public:
    explicit ColourRulesDialog(const ColourRules& rules, QWidget* parent = nullptr);
    ColourRules rules() const { return m_rules; }

    QTableWidget* table() const { return m_table; }
    QLineEdit* patternEdit() const { return m_pattern; }
    QComboBox* colourBox() const { return m_colour; }

    // Adds a rule and chooses it for editing.
    void addRule();
    void removeRule();

private:
    void choose(int row);
    void takeFields();
    void showRow(int row);

    ColourRules m_rules;
    int m_row = -1;
    bool m_filling = false;
    QTableWidget* const m_table;
    QComboBox* const m_kind;
    QLineEdit* const m_pattern;
    QCheckBox* const m_case;
    QComboBox* const m_colour;
    QCheckBox* const m_wholeLine;
    QLabel* const m_problem; // why the chosen rule's pattern finds nothing
};

} // namespace comkeys
