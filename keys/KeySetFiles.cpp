#include "KeySetFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
} // namespace

bool replaceFileWith(const QString& source, const QString& target)
{
    if (isSameFile(source, target)) {
        return true;
    }
    QFile in(source);
    if (!QFileInfo(source).isFile() || !in.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray data = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        return false;
    }
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly)) {
        return false;
    }
    if (out.write(data) != data.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

KeySetFiles::KeySetFiles(Dialogs& dialogs, KeyBoard& keys, QString programFolder)
    : m_dialogs(dialogs)
    , m_keys(keys)
    , m_folder(std::move(programFolder))
{
}

QString KeySetFiles::workingCopy() const { return workingCopyPath(m_folder); }

FileDialogSettings KeySetFiles::saveDialog(const QString& programFolder)
{
    return dialogSettings(FileDialogSettings::Kind::Save, QStringLiteral("保存RS232配置文件"),
                          programFolder);
}

FileDialogSettings KeySetFiles::loadDialog(const QString& programFolder)
{
    return dialogSettings(FileDialogSettings::Kind::Open, QStringLiteral("调入配置文件"),
                          programFolder);
}

void KeySetFiles::saveAs()
{
    WriteKeySet(workingCopy(), m_keys);
    for (;;) {
        const std::optional<QString> chosen = m_dialogs.fileDialog(saveDialog(m_folder));
        if (!chosen || QFileInfo(*chosen).fileName() == IniPattern) {
            return;
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
        if (!replaceFileWith(workingCopy(), *chosen)) {
            return;
        }
        m_dialogs.notice(QStringLiteral("配置文件保存成功！"));
        return;
    }
}

void KeySetFiles::load()
{
    const std::optional<QString> chosen = m_dialogs.fileDialog(loadDialog(m_folder));
    if (!chosen) {
        return;
    }
    const QString name = QFileInfo(*chosen).fileName();
    if (!name.endsWith(QStringLiteral(".ini"), Qt::CaseSensitive)) {
        m_dialogs.message(QStringLiteral("T文件类型不正确！"),
                          applicationTitle() + QStringLiteral("提示"), MessageIcon::Exclamation,
                          MessageButtons::Ok);
        return;
    }
    if (name == IniPattern) {
        return;
    }
    const MessageAnswer answer
        = m_dialogs.message(QStringLiteral("确定要覆盖当前的配置吗？"), QStringLiteral("提示"),
                            MessageIcon::Question, MessageButtons::YesNo);
    if (answer != MessageAnswer::Yes) {
        return;
    }
    if (!replaceFileWith(*chosen, workingCopy())) {
        return;
    }
    ReadKeySet(workingCopy(), m_keys);
    WriteKeySet(workingCopy(), m_keys);
}

} // namespace comkeys
