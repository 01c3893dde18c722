#include "PropertyBag.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QSaveFile>

namespace comkeys {

namespace {
    bool samePicture(const QVariant& a, const QVariant& b)
    {
        const QPixmap pa = a.value<QPixmap>();
        const QPixmap pb = b.value<QPixmap>();
        if (pa.isNull() || pb.isNull()) {
            return pa.isNull() == pb.isNull();
        }
        return pa.toImage() == pb.toImage();
    }

    bool sameValue(const QVariant& a, const QVariant& b)
    {
        if (a.metaType().id() == QMetaType::QPixmap || b.metaType().id() == QMetaType::QPixmap) {
            return samePicture(a, b);
        }
        return a == b;
    }

    QJsonValue toJson(const QVariant& v)
    {
        switch (v.metaType().id()) {
        case QMetaType::Bool:
            return QJsonObject { { QStringLiteral("bool"), v.toBool() } };
        case QMetaType::Short:
            return QJsonObject { { QStringLiteral("int16"), int(v.value<qint16>()) } };
        case QMetaType::QPixmap: {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            v.value<QPixmap>().save(&buffer, "PNG");
            return QJsonObject { { QStringLiteral("png"), QString::fromLatin1(png.toBase64()) } };
        }
        default:
            return QJsonObject { { QStringLiteral("int32"), v.toInt() } };
        }
    }

    std::optional<QVariant> fromJson(const QJsonValue& json)
    {
        const QJsonObject o = json.toObject();
        if (o.size() != 1) {
            return std::nullopt;
        }
        const QString kind = o.begin().key();
        const QJsonValue v = o.begin().value();
        if (kind == QStringLiteral("bool") && v.isBool()) {
            return QVariant(v.toBool());
        }
        if (kind == QStringLiteral("int16") && v.isDouble() && v.toDouble() == double(qint16(v.toInt()))) {
            return QVariant::fromValue(qint16(v.toInt()));
        }
        if (kind == QStringLiteral("int32") && v.isDouble() && v.toDouble() == double(qint32(v.toInteger()))) {
            return QVariant(qint32(v.toInteger()));
        }
        if (kind == QStringLiteral("png") && v.isString()) {
            QPixmap pixmap;
            if (!pixmap.loadFromData(QByteArray::fromBase64(v.toString().toLatin1()), "PNG")) {
                return std::nullopt;
            }
            return QVariant::fromValue(pixmap);
        }
        return std::nullopt;
    }
} // namespace

QVariant MemoryPropertyBag::ReadProperty(const QString& name, const QVariant& defaultValue) const
{
    return m_entries.value(name, defaultValue);
}

void MemoryPropertyBag::WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue)
{
    if (sameValue(value, defaultValue)) {
        m_entries.remove(name);
    } else {
        m_entries.insert(name, value);
    }
}

bool MemoryPropertyBag::operator==(const MemoryPropertyBag& other) const
{
    if (m_entries.keys() != other.m_entries.keys()) {
        return false;
    }
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (!sameValue(it.value(), other.m_entries.value(it.key()))) {
            return false;
        }
    }
    return true;
}

bool PropertyBagFile::save(const QString& path, const QMap<QString, MemoryPropertyBag>& designs, QString* error)
{
    QJsonObject root;
    for (auto it = designs.cbegin(); it != designs.cend(); ++it) {
        QJsonObject entries;
        for (auto e = it->entries().cbegin(); e != it->entries().cend(); ++e) {
            entries.insert(e.key(), toJson(e.value()));
        }
        root.insert(it.key(), entries);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) {
            *error = file.errorString();
        }
        return false;
    }
    file.write(QJsonDocument(QJsonObject { { QStringLiteral("trkSliderDesigns"), root } }).toJson());
    if (!file.commit()) {
        if (error) {
            *error = file.errorString();
        }
        return false;
    }
    return true;
}

std::optional<QMap<QString, MemoryPropertyBag>> PropertyBagFile::load(const QString& path, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error) {
            *error = why;
        }
        return std::nullopt;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return fail(file.errorString());
    }
    QJsonParseError parse {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError) {
        return fail(parse.errorString());
    }
    const QJsonValue root = doc.object().value(QStringLiteral("trkSliderDesigns"));
    if (!root.isObject()) {
        return fail(QStringLiteral("not a file of slider designs"));
    }
    QMap<QString, MemoryPropertyBag> designs;
    const QJsonObject all = root.toObject();
    for (auto it = all.begin(); it != all.end(); ++it) {
        MemoryPropertyBag bag;
        const QJsonObject entries = it.value().toObject();
        for (auto e = entries.begin(); e != entries.end(); ++e) {
            const std::optional<QVariant> value = fromJson(e.value());
            if (!value) {
                return fail(QStringLiteral("entry %1 of %2 is unreadable").arg(e.key(), it.key()));
            }
            bag.setEntry(e.key(), *value);
        }
        designs.insert(it.key(), bag);
    }
    return designs;
}

} // namespace comkeys
