#include "IniValue.h"

#include "Profile.h"

namespace comkeys {

bool WriteIniValue(const QString& file, const QString& section, const QString& key, const QString& value,
                   QString* error)
{
    Profile profile(file);
    if (profile.load(error) == Profile::LoadResult::Unreadable) {
        return false;
    }
    profile.setValue(section, key, value);
    return profile.save(error);
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
