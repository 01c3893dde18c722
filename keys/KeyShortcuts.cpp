#include "KeyShortcuts.h"

#include "Profile.h"

namespace comkeys {

namespace {
    QString entryName(int index) { return QStringLiteral("key") + QString::number(index + 1); }

    QStringList entryNames()
    {
        QStringList names;
        for (int i = 0; i < KeyCount; ++i) {
            names << entryName(i);
        }
        return names;
    }

    const char* const PageNames[] = { "第一页", "第二页", "第三页", "第四页" };
} // namespace

QString KeyShortcuts::conflict(int index, const QKeySequence& keys,
                               const QList<std::pair<QKeySequence, QString>>& reserved, const KeyBoard& board) const
{
    if (keys.isEmpty()) {
        return {};
    }
    if (keys.count() > 1) {
        return QStringLiteral("%1 是几个组合键连按；快捷键只能是一个组合键。").arg(keys.toString(QKeySequence::NativeText));
    }
    for (const auto& [own, what] : reserved) {
        if (own.matches(keys) == QKeySequence::ExactMatch) {
            return QStringLiteral("%1 已是本工具的快捷键（%2），不能再给按键。").arg(keys.toString(QKeySequence::NativeText), what);
        }
    }
    const int other = keyOn(index / KeysPerPage, keys);
    if (other >= 0 && other != index) {
        return QStringLiteral("%1 已是本页按键 %2（%3）的快捷键。")
            .arg(keys.toString(QKeySequence::NativeText), QString::number(other + 1), board.caption(other));
    }
    return {};
}

int KeyShortcuts::keyOn(int page, const QKeySequence& keys) const
{
    for (int i = page * KeysPerPage; i < (page + 1) * KeysPerPage; ++i) {
        if (!keys.isEmpty() && m_keys[std::size_t(i)] == keys) {
            return i;
        }
    }
    return -1;
}

QList<QKeySequence> KeyShortcuts::combinations() const
{
    QList<QKeySequence> all;
    for (const QKeySequence& keys : m_keys) {
        if (!keys.isEmpty() && !all.contains(keys)) {
            all << keys;
        }
    }
    return all;
}

bool KeyShortcuts::store(Profile& profile) const
{
    const auto stored = profile.values(Section, entryNames());
    std::vector<std::pair<QString, QString>> entries;
    for (int i = 0; i < KeyCount; ++i) {
        const QKeySequence& keys = m_keys[std::size_t(i)];
        if (!keys.isEmpty()) {
            entries.emplace_back(entryName(i), keys.toString(QKeySequence::PortableText));
        } else if (stored[std::size_t(i)] && !stored[std::size_t(i)]->isEmpty()) {
            entries.emplace_back(entryName(i), QString());
        }
    }
    return !entries.empty() && profile.setValues(Section, entries);
}

QStringList KeyShortcuts::read(const Profile& profile, const QList<std::pair<QKeySequence, QString>>& reserved,
                               const KeyBoard& board)
{
    clear();
    QStringList refused;
    const auto stored = profile.values(Section, entryNames());
    for (int i = 0; i < KeyCount; ++i) {
        const QString text = stored[std::size_t(i)].value_or(QString());
        if (text.isEmpty()) {
            continue;
        }
        const QKeySequence keys = QKeySequence::fromString(text, QKeySequence::PortableText);
        QString why = keys.isEmpty() || keys.toString(QKeySequence::PortableText).isEmpty()
            ? QStringLiteral("“%1”不是组合键。").arg(text)
            : conflict(i, keys, reserved, board);
        if (!why.isEmpty()) {
            refused << QStringLiteral("按键 %1（%2）：%3").arg(QString::number(i + 1), QString::fromUtf8(PageNames[i / KeysPerPage]), why);
            continue;
        }
        m_keys[std::size_t(i)] = keys;
    }
    return refused;
}

} // namespace comkeys
