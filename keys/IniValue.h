#pragma once

#include <QString>

namespace comkeys {

class Profile;

// What a read returns for a missing or empty entry; the key-set writer stores it for an empty
// command text.
inline const QString Marker = QStringLiteral("Kestrelbay");

// Stores one value. A failure (missing folder, unwritable or unreadable file, full disk) stores
// nothing and leaves the file as it was; the result says so, for callers that care.
bool WriteIniValue(const QString& file, const QString& section, const QString& key,
                   const QString& value, QString* error = nullptr);
// The stored value (see Profile::value), or the marker for a missing file, section or key and
// for an empty value.
QString ReadIniValue(const QString& file, const QString& section, const QString& key);
// The same read on a profile already in memory, for passes over a whole key set.
QString ReadIniValue(const Profile& profile, const QString& section, const QString& key);

} // namespace comkeys
