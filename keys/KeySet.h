#pragma once

#include <QString>

namespace comkeys {

class Profile;

constexpr int KeyCount = 192;
constexpr int KeysPerPage = 48;
constexpr int PageCount = 4;

// The working copy beside the program: Modules/Temp.ini in its folder.
QString workingCopyPath(const QString& programFolder);

// "Key" followed by the key number (index + 1).
QString defaultCaption(int index);

// The 192 captions and command texts, wherever they are shown.
class KeyBoard {
public:
    virtual ~KeyBoard() = default;
    virtual QString caption(int index) const = 0;
    virtual void setCaption(int index, const QString& caption) = 0;
    virtual QString command(int index) const = 0;
    virtual void setCommand(int index, const QString& command) = 0;

    // Sections of the key set beyond the captions and commands (the keys' shortcuts): written
    // with them (true when the profile's bytes changed) and read back with them.
    virtual bool storeExtras(Profile& profile) const;
    virtual void readExtras(const Profile& profile);
};

// Writes all 192 captions and commands into the profile in one read and one atomic replace:
// the same entries in the same order as one write per entry, so a file created from nothing
// holds KeyName (key1..key192) then KeySend (Send1..Send192). Entries that already hold their
// value keep their bytes. False, with the reason in *error, when the file could not be read or
// written (missing folder, full disk, read-only); the old file then stays as it was and the
// keys are never touched.
bool WriteKeySet(const QString& workingCopy, const KeyBoard& keys, QString* error = nullptr);
// The same into a profile already in memory; onDisk says the file holds exactly its bytes, so
// nothing is written when the key set changes none of them.
bool WriteKeySet(Profile& profile, const KeyBoard& keys, bool onDisk, QString* error = nullptr);
// Sets all captions and commands from the profile: a missing or marker caption gives the
// default caption, a marker command an empty text, and a command not starting with a double
// quotation mark gets a pair of them back. A missing file gives the defaults; an unreadable one
// changes no key and returns false.
bool ReadKeySet(const QString& workingCopy, KeyBoard& keys, QString* error = nullptr);
void ReadKeySet(const Profile& profile, KeyBoard& keys);

} // namespace comkeys
