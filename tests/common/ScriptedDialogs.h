#pragma once

#include "Dialogs.h"

#include <QList>
#include <QString>
#include <deque>

namespace comkeys::test {

// Answers the tool's questions from a script and records every message and dialog shown.
class ScriptedDialogs : public Dialogs {
public:
    struct Message {
        QString text;
        QString title;
        MessageIcon icon;
        MessageButtons buttons;
    };

    std::deque<MessageAnswer> answers; // for Yes/No questions; an empty script answers No
    std::deque<QString> files; // for file dialogs; a null entry or an empty script cancels
    QList<Message> messages;
    QList<FileDialogSettings> dialogs;

    MessageAnswer message(const QString& text, const QString& title, MessageIcon icon,
                          MessageButtons buttons) override
    {
        messages.append({ text, title, icon, buttons });
        if (buttons == MessageButtons::Ok) {
            return MessageAnswer::Ok;
        }
        if (answers.empty()) {
            return MessageAnswer::No;
        }
        const MessageAnswer a = answers.front();
        answers.pop_front();
        return a;
    }

    std::optional<QString> fileDialog(const FileDialogSettings& settings) override
    {
        dialogs.append(settings);
        if (files.empty()) {
            return std::nullopt;
        }
        const QString f = files.front();
        files.pop_front();
        if (f.isNull()) {
            return std::nullopt;
        }
        return f;
    }

    QStringList texts() const
    {
        QStringList list;
        for (const Message& m : messages) {
            list << m.text;
        }
        return list;
    }
};

} // namespace comkeys::test
