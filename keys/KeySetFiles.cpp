#include "KeySetFiles.h"

#include "FileIo.h"
#include "Profile.h"

#include <QFileInfo>

namespace comkeys {

namespace {
    const QString IniPattern = QStringLiteral("*.ini");

    FileDialogSettings dialogSettings(FileDialogSettings::Kind kind, QString title,
                                      const QString& folder)
    {
        FileDialogSettings s;
        s.kind = kind;
        s.title = std::move(title);
        s.initialFolder = folder;
        s.fileName = IniPattern;
        s.filter = QStringLiteral("配置文件(*.ini)|*.ini");
        return s;
    }

    bool isSameFile(const QString& a, const QString& b)
    {
        const QFileInfo fa(a);
        const QFileInfo fb(b);
        return fa.exists() && fb.exists() && fa.canonicalFilePath() == fb.canonicalFilePath();
    }

    // The bytes of a profile file, or nothing with the reason in *error.
    std::optional<QByteArray> readProfileFile(const QString& path, QString* error)
    {
        QByteArray data;
        switch (readWholeFile(path, Profile::MaxFileBytes, &data, error)) {
        case ReadResult::Read:
            return data;
        case ReadResult::Missing:
            *error = fileErrorReason(ENOENT);
            break;
        case ReadResult::TooLarge:
        case ReadResult::Failed:
            break;
        }
        return std::nullopt;
    }
} // namespace

bool replaceFileWith(const QString& source, const QString& target, QString* error)
{
    QString why;
    const std::optional<QByteArray> data = readProfileFile(source, &why);
    if (!data) {
        if (error) {
            *error = QStringLiteral("无法读取 %1：%2").arg(source, why);
        }
        return false;
    }
    if (isSameFile(source, target)) {
        return true;
    }
    if (!writeFileAtomically(target, *data, &why)) {
        if (error) {
            *error = QStringLiteral("无法写入 %1：%2").arg(target, why);
        }
        return false;
    }
    return true;
}

KeySetFiles::KeySetFiles(Dialogs& dialogs, KeyBoard& keys, QString workingCopy, QString dialogFolder)
    : m_dialogs(dialogs)
    , m_keys(keys)
    , m_workingCopy(std::move(workingCopy))
    , m_folder(std::move(dialogFolder))
{
}

FileDialogSettings KeySetFiles::saveDialog(const QString& folder)
{
    return dialogSettings(FileDialogSettings::Kind::Save, QStringLiteral("保存RS232配置文件"), folder);
}

FileDialogSettings KeySetFiles::loadDialog(const QString& folder)
{
    return dialogSettings(FileDialogSettings::Kind::Open, QStringLiteral("调入配置文件"), folder);
}

void KeySetFiles::saveAs()
{
    QString error;
    // Saving an older working copy than the screen shows would report success for a lie.
    if (!WriteKeySet(m_workingCopy, m_keys, &error)) {
        m_dialogs.notice(QStringLiteral("无法更新工作副本 %1：%2。\n为免保存旧的键设置，没有另存配置文件。")
                             .arg(m_workingCopy, error));
        return;
    }
    for (;;) {
        const std::optional<QString> chosen = m_dialogs.fileDialog(saveDialog(m_folder));
        if (!chosen || QFileInfo(*chosen).fileName() == IniPattern) {
            return;
        }
        if (QFileInfo(*chosen).isDir()) {
            m_dialogs.notice(QStringLiteral("“%1”是一个文件夹，不能保存为配置文件，请换一个文件名。").arg(*chosen));
            continue;
        }
        if (QFileInfo::exists(*chosen)) {
            const MessageAnswer answer = m_dialogs.message(
                QStringLiteral("确定要覆盖原来的配置文件吗？\r\nRename Select[No]!"),
                QStringLiteral("提示"), MessageIcon::Question, MessageButtons::YesNo);
            if (answer != MessageAnswer::Yes) {
                continue;
            }
        }
        // The old file stays whole until the new one is complete.
        if (!replaceFileWith(m_workingCopy, *chosen, &error)) {
            m_dialogs.notice(QStringLiteral("配置文件没有保存。%1").arg(error));
            return;
        }
        m_dialogs.notice(QStringLiteral("配置文件保存成功！"));
        return;
    }
}

bool KeySetFiles::load()
{
    const std::optional<QString> chosen = m_dialogs.fileDialog(loadDialog(m_folder));
    if (!chosen) {
        return false;
    }
    const QString name = QFileInfo(*chosen).fileName();
    if (!name.endsWith(QStringLiteral(".ini"), Qt::CaseSensitive)) {
        m_dialogs.message(QStringLiteral("T文件类型不正确！"),
                          applicationTitle() + QStringLiteral("提示"), MessageIcon::Exclamation,
                          MessageButtons::Ok);
        return false;
    }
    if (name == IniPattern) {
        return false;
    }
    const MessageAnswer answer
        = m_dialogs.message(QStringLiteral("确定要覆盖当前的配置吗？"), QStringLiteral("提示"),
                            MessageIcon::Question, MessageButtons::YesNo);
    if (answer != MessageAnswer::Yes) {
        return false;
    }
    // Read first, then copy: the keys change only when both worked.
    QString error;
    Profile profile(m_workingCopy);
    {
        const std::optional<QByteArray> data = readProfileFile(*chosen, &error);
        if (!data) {
            m_dialogs.notice(QStringLiteral("无法读取 %1：%2。\n没有调入配置，键设置未变。").arg(*chosen, error));
            return false;
        }
        if (!isSameFile(*chosen, m_workingCopy)
            && !writeFileAtomically(m_workingCopy, *data, &error, ReadOnlyTarget::Replace)) {
            m_dialogs.notice(QStringLiteral("无法写入工作副本 %1：%2。\n没有调入配置，键设置未变。").arg(m_workingCopy, error));
            return false;
        }
        profile.setBytes(*data);
    }
    // The working copy now holds exactly these bytes: filled in and rewritten from memory.
    ReadKeySet(profile, m_keys);
    if (!WriteKeySet(profile, m_keys, true, &error)) {
        m_dialogs.notice(QStringLiteral("配置已调入，但无法更新工作副本 %1：%2").arg(m_workingCopy, error));
    }
    return true;
}

} // namespace comkeys
