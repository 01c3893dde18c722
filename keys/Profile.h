#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace comkeys {

// An INI profile held in memory as the file's own bytes and edited in place: every line that is
// not rewritten keeps its bytes, so a hand-made file survives every write. Files are UTF-8 (a
// byte-order mark is kept), or GB18030 when they are not valid UTF-8. A rewritten or new line
// ends in CR LF. Lookups and edits are one pass over the bytes, with no index kept, so time and
// memory stay in proportion to the file whatever it holds.
class Profile {
public:
    // The largest profile read; anything larger is no key set and is refused before it is read.
    static constexpr qint64 MaxFileBytes = 8 * 1024 * 1024;

    enum class LoadResult { Loaded, Missing, Unreadable };

    explicit Profile(QString path);

    // A missing file loads as an empty profile; an unreadable or oversized one loads as empty
    // too, must not be written over, and says why in *error.
    LoadResult load(QString* error = nullptr);
    void setBytes(const QByteArray& bytes);

    // The stored value: trimmed of spaces and tabs, then one enclosing pair of matching
    // quotation marks removed. Nothing when the section or the key is missing. Section and key
    // names match without regard to case; the first section and the first key of a name count.
    std::optional<QString> value(QStringView section, QStringView key) const;
    // The same for several keys of one section, in one pass.
    std::vector<std::optional<QString>> values(QStringView section, const QStringList& keys) const;

    // Stores values as given, except that line breaks become blanks (a value must never break
    // the file's line structure). An entry whose value already is exactly the one given keeps
    // its bytes; a missing one goes after the section's last entry, a missing section at the end.
    // True when the bytes changed.
    bool setValue(const QString& section, const QString& key, const QString& value);
    bool setValues(const QString& section, const std::vector<std::pair<QString, QString>>& entries);

    // The lines of the first section of that name, as text without their line ends, each with
    // its line number in the file (from 1); comments and blank lines included. Nothing when the
    // section is missing.
    struct Line {
        int number = 0;
        QString text;
    };
    std::optional<std::vector<Line>> sectionLines(QStringView section) const;
    // Makes `lines` (each ending in CR LF) the whole body of the first section of that name;
    // a missing section is added at the end, or nothing happens when there are no lines. Every
    // byte outside that body stays as it is. True when the bytes changed.
    bool setSection(const QString& section, const QStringList& lines);

    const QByteArray& bytes() const { return m_bytes; }
    // Replaces the file atomically, all bytes on the disk first; never creates a folder.
    [[nodiscard]] bool save(QString* error = nullptr) const;

    const QString& path() const { return m_path; }
    bool isGb18030() const { return m_gb18030; }

private:
    struct Scan;
    struct Body;
    Body body(QStringView section) const;
    bool isHeader(QByteArrayView trimmed, QStringView section) const;
    Scan scan(QStringView section, const QStringList& keys) const;
    QString decode(QByteArrayView bytes) const;
    QByteArray encode(const QString& text) const;

    QString m_path;
    QByteArray m_bytes; // the whole file, byte-order mark included
    qsizetype m_bodyStart = 0; // after the byte-order mark
    bool m_gb18030 = false;
};

} // namespace comkeys
