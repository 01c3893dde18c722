#include "IniValue.h"

#include "Profile.h"

namespace comkeys {

void WriteIniValue(const QString& file, const QString& section, const QString& key,
                   const QString& value)
{
    Profile profile(file);
    if (profile.load() == Profile::LoadResult::Unreadable) {
        return;
    }
    profile.setValue(section, key, value);
    (void)profile.save();
}

QString ReadIniValue(const QString& file, const QString& section, const QString& key)
{
    Profile profile(file);
    profile.load();
    return ReadIniValue(profile, section, key);
}

QString ReadIniValue(const Profile& profile, const QString& section, const QString& key)
{
    const QString value = profile.value(section, key).value_or(QString());
    return value.isEmpty() ? Marker : value;
}

} // namespace comkeys
