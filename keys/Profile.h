#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>
#include <vector>

namespace comkeys {

// An INI profile held in memory and edited in place: untouched lines keep their bytes, so a
// hand-made file survives every write. Files are UTF-8 (a byte-order mark is kept), or GB18030
// when they are not valid UTF-8; lines end in CR LF when the profile adds them.
class Profile {
public:
    enum class LoadResult { Loaded, Missing, Unreadable };

    explicit Profile(QString path);

    // A missing file loads as an empty profile; an unreadable one must not be written over.
    LoadResult load();
    void setBytes(const QByteArray& bytes);

    // The stored value: trimmed of spaces and tabs, then one enclosing pair of matching
    // quotation marks removed. Nothing when the section or the key is missing.
    std::optional<QString> value(QStringView section, QStringView key) const;
    // Stores the value as given, except that line breaks become blanks (a value must never
    // break the file's line structure).
    void setValue(const QString& section, const QString& key, const QString& value);

    QByteArray bytes() const;
    // Replaces the file atomically; never creates a folder.
    bool save(QString* error = nullptr) const;

    const QString& path() const { return m_path; }
    bool isGb18030() const { return m_gb18030; }

private:
    struct Line {
        QByteArray raw; // without its line end
        QByteArray eol; // "", "\r", "\n" or "\r\n"
        enum class Kind { Blank, Comment, Header, Entry, Other } kind = Kind::Blank;
        QString name; // section or key name as spelled in the file, trimmed
        QString value; // entry value after the first '=', untrimmed
    };
    struct Section {
        Line header;
        std::vector<Line> body;
    };

    Line parseLine(QByteArray raw, QByteArray eol) const;
    QByteArray encode(const QString& text) const;
    const Section* findSection(QStringView name) const;

    QString m_path;
    bool m_bom = false;
    bool m_gb18030 = false;
    std::vector<Line> m_preamble; // lines before the first section header
    std::vector<Section> m_sections;
    QHash<QString, int> m_sectionIndex; // case-folded name -> first section of that name
};

} // namespace comkeys
