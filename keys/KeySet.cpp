#include "KeySet.h"

#include "IniValue.h"
#include "Profile.h"

namespace comkeys {

namespace {
    const QString KeyNameSection = QStringLiteral("KeyName");
    const QString KeySendSection = QStringLiteral("KeySend");

    QString captionKey(int n) { return QStringLiteral("key") + QString::number(n); }
    QString commandKey(int n) { return QStringLiteral("Send") + QString::number(n); }
} // namespace

QString workingCopyPath(const QString& programFolder)
{
    return programFolder + QStringLiteral("/Modules/Temp.ini");
}

QString defaultCaption(int index) { return QStringLiteral("Key") + QString::number(index + 1); }

bool WriteKeySet(const QString& workingCopy, const KeyBoard& keys)
{
    Profile profile(workingCopy);
    if (profile.load() == Profile::LoadResult::Unreadable) {
        return false;
    }
    for (int i = 0; i < KeyCount; ++i) {
        const int n = i + 1;
        profile.setValue(KeyNameSection, captionKey(n), keys.caption(i));
        const QString text = keys.command(i);
        profile.setValue(KeySendSection, commandKey(n), text.isEmpty() ? Marker : text);
    }
    return profile.save();
}

void ReadKeySet(const QString& workingCopy, KeyBoard& keys)
{
    Profile profile(workingCopy);
    profile.load();
    for (int i = 0; i < KeyCount; ++i) {
        const int n = i + 1;
        const QString caption = ReadIniValue(profile, KeyNameSection, captionKey(n));
        keys.setCaption(i, caption == Marker ? defaultCaption(i) : caption);

        const QString command = ReadIniValue(profile, KeySendSection, commandKey(n));
        if (command == Marker) {
            keys.setCommand(i, QString());
        } else if (!command.startsWith(u'"')) {
            keys.setCommand(i, u'"' + command + u'"');
        } else {
            keys.setCommand(i, command);
        }
    }
}

} // namespace comkeys
