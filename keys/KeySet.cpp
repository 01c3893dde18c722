#include "KeySet.h"

#include "IniValue.h"
#include "Profile.h"

namespace comkeys {

namespace {
    const QString KeyNameSection = QStringLiteral("KeyName");
    const QString KeySendSection = QStringLiteral("KeySend");

    QString captionKey(int n) { return QStringLiteral("key") + QString::number(n); }
    QString commandKey(int n) { return QStringLiteral("Send") + QString::number(n); }

    QStringList allKeys(QString (*name)(int))
    {
        QStringList keys;
        for (int n = 1; n <= KeyCount; ++n) {
            keys << name(n);
        }
        return keys;
    }
} // namespace

bool KeyBoard::storeExtras(Profile&) const { return false; }

void KeyBoard::readExtras(const Profile&) { }

QString workingCopyPath(const QString& programFolder)
{
    return programFolder + QStringLiteral("/Modules/Temp.ini");
}

QString defaultCaption(int index) { return QStringLiteral("Key") + QString::number(index + 1); }

bool WriteKeySet(const QString& workingCopy, const KeyBoard& keys, QString* error)
{
    Profile profile(workingCopy);
    const Profile::LoadResult loaded = profile.load(error);
    if (loaded == Profile::LoadResult::Unreadable) {
        return false;
    }
    return WriteKeySet(profile, keys, loaded == Profile::LoadResult::Loaded, error);
}

bool WriteKeySet(Profile& profile, const KeyBoard& keys, bool onDisk, QString* error)
{
    std::vector<std::pair<QString, QString>> captions;
    std::vector<std::pair<QString, QString>> commands;
    for (int i = 0; i < KeyCount; ++i) {
        const int n = i + 1;
        captions.emplace_back(captionKey(n), keys.caption(i));
        const QString text = keys.command(i);
        commands.emplace_back(commandKey(n), text.isEmpty() ? Marker : text);
    }
    // Section by section gives the same file as entry by entry: KeyName is created first.
    const bool names = profile.setValues(KeyNameSection, captions);
    const bool sends = profile.setValues(KeySendSection, commands);
    const bool extras = keys.storeExtras(profile);
    if (onDisk && !names && !sends && !extras) {
        return true; // the file already holds exactly this key set
    }
    return profile.save(error);
}

void ReadKeySet(const Profile& profile, KeyBoard& keys)
{
    const auto captions = profile.values(KeyNameSection, allKeys(captionKey));
    const auto commands = profile.values(KeySendSection, allKeys(commandKey));
    for (int i = 0; i < KeyCount; ++i) {
        const QString caption = captions[std::size_t(i)].value_or(QString());
        keys.setCaption(i, caption.isEmpty() || caption == Marker ? defaultCaption(i) : caption);

        const QString command = commands[std::size_t(i)].value_or(QString());
        if (command.isEmpty() || command == Marker) {
            keys.setCommand(i, QString());
        } else if (!command.startsWith(u'"')) {
            keys.setCommand(i, u'"' + command + u'"');
        } else {
            keys.setCommand(i, command);
        }
    }
    keys.readExtras(profile);
}

bool ReadKeySet(const QString& workingCopy, KeyBoard& keys, QString* error)
{
    Profile profile(workingCopy);
    if (profile.load(error) == Profile::LoadResult::Unreadable) {
        return false;
    }
    ReadKeySet(profile, keys);
    return true;
}

} // namespace comkeys
