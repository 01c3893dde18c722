#pragma once

#include "AutomationEngine.h"
#include "ColourRule.h"

#include <QTimer>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QTableWidget;
class QTabWidget;

namespace comkeys {

class KeyAutomation;

// 发送序列: the key set's named sequences with their steps in a table, run with a verdict and
// the milliseconds of every step, and the automatic answers (自动应答). Every change goes to
// the working copy at once; input a run would refuse is refused where it is typed.
class AutomationWindow : public QWidget {
    Q_OBJECT
public:
    explicit AutomationWindow(KeyAutomation& automation);

    // The colour marks of the answer rules, for the receive display.
    ColourRules colourRules() const;

    QTableWidget* stepTable() const { return m_steps; }
    QTableWidget* ruleTable() const { return m_rules; }
    // The reason the last edit or run was refused, or the run's state.
    QString problem() const;
    QString runStatus() const;

    // The sequence shown, by its place in the list; -1 when there is none.
    int currentSequence() const;

private:
    QWidget* buildSequencePage();
    QWidget* buildRulePage();
    void refuse(const QString& why);
    void fillSequenceList();
    void showSequence();
    void showStep(int row);
    void showStepKind();
    std::optional<Step> stepFromForm(QString* error) const;
    void editSteps(int at, bool replace);
    void removeStep();
    void moveStep(int by);
    void addSequence();
    void removeSequence();
    void renameSequence();
    void changeRuns();
    void commitSequences();
    void run();

    void fillRules();
    void showRule(int row);
    void showRuleAction();
    std::optional<AnswerRule> ruleFromForm(QString* error) const;
    void editRules(bool replace);
    void removeRule();
    void commitRules();

    void onStepStarted(int run, int step);
    void onStepFinished(const comkeys::AutomationEngine::StepResult& result);
    void onSequenceFinished(comkeys::AutomationEngine::SequenceEnd end);

    KeyAutomation& m_automation;
    QList<Sequence> m_sequences;
    QList<AnswerRule> m_ruleList;
    QString m_running; // the name of the sequence running, empty when none
    QTimer m_countTimer;

    QTabWidget* m_tabs = nullptr;
    QListWidget* m_sequenceList = nullptr;
    QLineEdit* m_name = nullptr;
    QSpinBox* m_runs = nullptr;
    QTableWidget* m_steps = nullptr;
    QComboBox* m_stepKind = nullptr;
    QSpinBox* m_stepKey = nullptr;
    QLineEdit* m_stepText = nullptr;
    QComboBox* m_stepPatternKind = nullptr;
    QLineEdit* m_stepMs = nullptr;
    QComboBox* m_onTimeout = nullptr;
    QSpinBox* m_gotoStep = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_problem = nullptr;

    QTableWidget* m_rules = nullptr;
    QComboBox* m_rulePatternKind = nullptr;
    QLineEdit* m_rulePattern = nullptr;
    QComboBox* m_ruleAction = nullptr;
    QSpinBox* m_ruleKey = nullptr;
    QLineEdit* m_ruleText = nullptr;
    QLineEdit* m_ruleColour = nullptr;
    QSpinBox* m_loopGuard = nullptr;
};

} // namespace comkeys
