#pragma once

#include <QDialog>
#include <QKeySequence>

class QKeySequenceEdit;

namespace comkeys {

// 设置快捷键: one key combination for a command key, typed into the field; 清除 takes it away.
class ShortcutDialog : public QDialog {
    Q_OBJECT
public:
    ShortcutDialog(const QString& keyName, int page, const QKeySequence& current, QWidget* parent = nullptr);
    QKeySequence keys() const;
    QKeySequenceEdit* edit() const { return m_edit; }

private:
    QKeySequenceEdit* const m_edit;
};

} // namespace comkeys
