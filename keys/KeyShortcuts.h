#pragma once

#include "KeySet.h"

#include <QKeySequence>
#include <QStringList>

#include <array>

namespace comkeys {

class Profile;

// A key combination for each command key that wants one. A shortcut works on its key's page
// only, so two keys on different pages may share one; on one page, and against the tool's own
// shortcuts, a combination is taken once. Kept in the key-set file in a section of its own
// ([Shortcuts], key1=Ctrl+F5), so shortcuts travel with the key set.
class KeyShortcuts {
public:
    static inline const QString Section = QStringLiteral("Shortcuts");

    QKeySequence shortcut(int index) const { return m_keys[std::size_t(index)]; }
    // Why key `index` cannot take the combination (in Chinese, for the user), or nothing said:
    // it is the tool's own (`reserved`, with what each does), the same as another key's on the
    // same page, or more than one combination.
    QString conflict(int index, const QKeySequence& keys, const QList<std::pair<QKeySequence, QString>>& reserved,
                     const KeyBoard& board) const;
    // An empty sequence takes the key's shortcut away.
    void set(int index, const QKeySequence& keys) { m_keys[std::size_t(index)] = keys; }
    void clear() { m_keys.fill(QKeySequence()); }
    // The key of `page` with this combination, or -1.
    int keyOn(int page, const QKeySequence& keys) const;
    // Every distinct combination in use.
    QList<QKeySequence> combinations() const;

    // Writes the shortcuts into the profile: an entry for every key that has one, and an emptied
    // entry for a key that had one there; a key set without shortcuts gains no section. True when
    // the profile's bytes changed.
    bool store(Profile& profile) const;
    // Reads them from the profile; entries that are not a combination or clash are left out,
    // each described in the list returned.
    QStringList read(const Profile& profile, const QList<std::pair<QKeySequence, QString>>& reserved,
                     const KeyBoard& board);

private:
    std::array<QKeySequence, KeyCount> m_keys;
};

} // namespace comkeys
