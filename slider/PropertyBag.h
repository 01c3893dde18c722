#pragma once

#include "ComKeysSliderExport.h"

#include <QMap>
#include <QString>
#include <QVariant>

namespace comkeys {

// Where a host keeps a designed control: named entries, each read with a default and written
// with one. Values are 32-bit integers, booleans, 16-bit integers and pictures (QPixmap).
class COMKEYS_SLIDER_EXPORT PropertyBag {
public:
    virtual ~PropertyBag() = default;
    // The stored value, or the default when the entry is missing.
    virtual QVariant ReadProperty(const QString& name, const QVariant& defaultValue) const = 0;
    // Stores the value; one equal to its default may be left out.
    virtual void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue) = 0;
};

// A bag in memory. Entries equal to their default are left out, as a host's bag may do.
class COMKEYS_SLIDER_EXPORT MemoryPropertyBag : public PropertyBag {
public:
    QVariant ReadProperty(const QString& name, const QVariant& defaultValue) const override;
    void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue) override;

    const QMap<QString, QVariant>& entries() const { return m_entries; }
    void setEntry(const QString& name, const QVariant& value) { m_entries.insert(name, value); }
    bool operator==(const MemoryPropertyBag& other) const;

private:
    QMap<QString, QVariant> m_entries;
};

// Named bags saved to and restored from one file (JSON; pictures travel inside as PNG data).
namespace PropertyBagFile {
    [[nodiscard]] COMKEYS_SLIDER_EXPORT bool save(const QString& path, const QMap<QString, MemoryPropertyBag>& designs,
                            QString* error = nullptr);
    // Nothing, with the reason in *error, when the file cannot be read or is not such a file.
    COMKEYS_SLIDER_EXPORT std::optional<QMap<QString, MemoryPropertyBag>> load(const QString& path, QString* error = nullptr);
} // namespace PropertyBagFile

} // namespace comkeys
