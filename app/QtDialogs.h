#pragma once

#include "Dialogs.h"

class QWidget;

namespace comkeys {

// The real message boxes and file dialogs.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr)
        : m_parent(parent)
    {
    }
    void setParent(QWidget* parent) { m_parent = parent; }

    MessageAnswer message(const QString& text, const QString& title, MessageIcon icon,
                          MessageButtons buttons) override;
    std::optional<QString> fileDialog(const FileDialogSettings& settings) override;

private:
    QWidget* m_parent;
};

} // namespace comkeys
