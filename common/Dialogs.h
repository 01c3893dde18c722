#pragma once

#include <QFileInfo>
#include <QString>
#include <optional>

namespace comkeys {

enum class MessageIcon { None, Information, Exclamation, Question };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct FileDialogSettings {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QString title;
    QString initialFolder;
    QString fileName; // initial text of the name field
    QString filter; // "description|pattern" pairs, as the key-set files use them
};

// Every modal question the tool asks goes through this, so tests can answer in-process.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual MessageAnswer message(const QString& text, const QString& title, MessageIcon icon,
                                  MessageButtons buttons)
        = 0;
    // The chosen full path, or nothing when the user cancelled.
    virtual std::optional<QString> fileDialog(const FileDialogSettings& settings) = 0;

    void notice(const QString& text) { message(text, QStringLiteral("提示"), MessageIcon::None, MessageButtons::Ok); }

    // A save dialog for a file of the user's, then the question before an existing file is
    // replaced: the chosen path, or nothing when the user cancelled or said No.
    std::optional<QString> savePath(const QString& title, const QString& folder, const QString& fileName,
                                    const QString& filter);
};

inline std::optional<QString> Dialogs::savePath(const QString& title, const QString& folder,
                                                const QString& fileName, const QString& filter)
{
    FileDialogSettings settings;
    settings.kind = FileDialogSettings::Kind::Save;
    settings.title = title;
    settings.initialFolder = folder;
    settings.fileName = fileName;
    settings.filter = filter;
    std::optional<QString> path = fileDialog(settings);
    if (path && QFileInfo::exists(*path)
        && message(QStringLiteral("文件 %1 已经存在，要覆盖吗？").arg(*path), QStringLiteral("提示"),
                   MessageIcon::Question, MessageButtons::YesNo)
            != MessageAnswer::Yes) {
        return std::nullopt;
    }
    return path;
}

// The product name: title of the start-up messages, prefix of the load type error's title.
inline QString applicationTitle() { return QStringLiteral("ComKeys"); }

} // namespace comkeys
