#include "Profile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace comkeys {

namespace {

    constexpr char Gb18030[] = "GB18030";

    QStringView trimBlanks(QStringView s)
    {
        qsizetype b = 0;
        qsizetype e = s.size();
        while (b < e && (s[b] == u' ' || s[b] == u'\t')) {
            ++b;
        }
        while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t')) {
            --e;
        }
        return s.mid(b, e - b);
    }

    bool sameName(QStringView a, QStringView b)
    {
        return a.compare(b, Qt::CaseInsensitive) == 0;
    }

    QString sanitizeValue(QString value)
    {
        value.replace(u'\r', u' ');
        value.replace(u'\n', u' ');
        return value;
    }

} // namespace

Profile::Profile(QString path)
    : m_path(std::move(path))
{
}

Profile::LoadResult Profile::load()
{
    QFile file(m_path);
    if (!file.exists()) {
        setBytes({});
        return LoadResult::Missing;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        setBytes({});
        return LoadResult::Unreadable;
    }
    setBytes(file.readAll());
    return file.error() == QFileDevice::NoError ? LoadResult::Loaded : LoadResult::Unreadable;
}

void Profile::setBytes(const QByteArray& input)
{
    m_preamble.clear();
    m_sections.clear();
    m_sectionIndex.clear();

    QByteArray bytes = input;
    m_bom = bytes.startsWith("\xEF\xBB\xBF");
    if (m_bom) {
        bytes.remove(0, 3);
    }
    {
        // Stateless, so a sequence cut off at the end counts as invalid too; the decoder does its
        // work when its result is converted.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8.decode(bytes);
        m_gb18030 = utf8.hasError();
    }

    qsizetype start = 0;
    const qsizetype n = bytes.size();
    while (start < n) {
        qsizetype end = start;
        while (end < n && bytes[end] != '\r' && bytes[end] != '\n') {
            ++end;
        }
        qsizetype next = end;
        if (next < n) {
            next += (bytes[next] == '\r' && next + 1 < n && bytes[next + 1] == '\n') ? 2 : 1;
        }
        Line line = parseLine(bytes.mid(start, end - start), bytes.mid(end, next - end));
        if (line.kind == Line::Kind::Header) {
            // Only the first section of a name counts.
            const QString folded = line.name.toCaseFolded();
            if (!m_sectionIndex.contains(folded)) {
                m_sectionIndex.insert(folded, int(m_sections.size()));
            }
            m_sections.push_back(Section { std::move(line), {} });
        } else if (m_sections.empty()) {
            m_preamble.push_back(std::move(line));
        } else {
            m_sections.back().body.push_back(std::move(line));
        }
        start = next;
    }
}

Profile::Line Profile::parseLine(QByteArray raw, QByteArray eol) const
{
    Line line;
    QString text;
    if (m_gb18030) {
        QStringDecoder decoder(Gb18030, QStringDecoder::Flag::Stateless);
        text = decoder.decode(raw);
    } else {
        text = QString::fromUtf8(raw);
    }
    line.raw = std::move(raw);
    line.eol = std::move(eol);

    const QStringView t = trimBlanks(text);
    if (t.isEmpty()) {
        line.kind = Line::Kind::Blank;
    } else if (t.front() == u';') {
        line.kind = Line::Kind::Comment;
    } else if (t.front() == u'[') {
        line.kind = Line::Kind::Header;
        QStringView name = t.mid(1);
        const qsizetype close = name.indexOf(u']');
        if (close >= 0) {
            name = name.left(close);
        }
        line.name = trimBlanks(name).toString();
    } else if (const qsizetype eq = t.indexOf(u'='); eq >= 0) {
        line.kind = Line::Kind::Entry;
        line.name = trimBlanks(t.left(eq)).toString();
        line.value = t.mid(eq + 1).toString();
    } else {
        line.kind = Line::Kind::Other;
    }
    return line;
}

QByteArray Profile::encode(const QString& text) const
{
    if (m_gb18030) {
        QStringEncoder encoder(Gb18030);
        return encoder.encode(text);
    }
    return text.toUtf8();
}

const Profile::Section* Profile::findSection(QStringView name) const
{
    const auto it = m_sectionIndex.constFind(name.toString().toCaseFolded());
    return it == m_sectionIndex.cend() ? nullptr : &m_sections[std::size_t(*it)];
}

std::optional<QString> Profile::value(QStringView section, QStringView key) const
{
    const Section* s = findSection(section);
    if (!s) {
        return std::nullopt;
    }
    for (const Line& line : s->body) {
        if (line.kind == Line::Kind::Entry && sameName(line.name, key)) {
            QStringView v = trimBlanks(line.value);
            if (v.size() >= 2 && v.front() == v.back() && (v.front() == u'"' || v.front() == u'\'')) {
                v = v.mid(1, v.size() - 2);
            }
            return v.toString();
        }
    }
    return std::nullopt;
}

void Profile::setValue(const QString& section, const QString& key, const QString& value)
{
    const QString clean = sanitizeValue(value);
    auto entryLine = [&](const QString& name, QByteArray eol) {
        Line line;
        line.kind = Line::Kind::Entry;
        line.name = name;
        line.value = clean;
        line.raw = encode(name + u'=' + clean);
        line.eol = std::move(eol);
        return line;
    };

    if (const Section* found = findSection(section)) {
        Section& s = m_sections[std::size_t(found - m_sections.data())];
        std::size_t insertAt = 0;
        for (std::size_t i = 0; i < s.body.size(); ++i) {
            Line& line = s.body[i];
            if (line.kind == Line::Kind::Entry && sameName(line.name, key)) {
                line = entryLine(line.name, line.eol);
                return;
            }
            if (line.kind == Line::Kind::Entry || line.kind == Line::Kind::Other) {
                insertAt = i + 1;
            }
        }
        Line& before = insertAt == 0 ? s.header : s.body[insertAt - 1];
        if (before.eol.isEmpty()) {
            before.eol = "\r\n";
        }
        s.body.insert(s.body.begin() + std::ptrdiff_t(insertAt), entryLine(key, "\r\n"));
        return;
    }

    Line* last = nullptr;
    if (!m_sections.empty()) {
        Section& s = m_sections.back();
        last = s.body.empty() ? &s.header : &s.body.back();
    } else if (!m_preamble.empty()) {
        last = &m_preamble.back();
    }
    if (last && last->eol.isEmpty()) {
        last->eol = "\r\n";
    }
    Section s;
    s.header.kind = Line::Kind::Header;
    s.header.name = section;
    s.header.raw = encode(u'[' + section + u']');
    s.header.eol = "\r\n";
    s.body.push_back(entryLine(key, "\r\n"));
    m_sectionIndex.insert(section.toCaseFolded(), int(m_sections.size()));
    m_sections.push_back(std::move(s));
}

QByteArray Profile::bytes() const
{
    QByteArray out;
    if (m_bom) {
        out += "\xEF\xBB\xBF";
    }
    auto put = [&out](const Line& line) {
        out += line.raw;
        out += line.eol;
    };
    for (const Line& line : m_preamble) {
        put(line);
    }
    for (const Section& s : m_sections) {
        put(s.header);
        for (const Line& line : s.body) {
            put(line);
        }
    }
    return out;
}

bool Profile::save(QString* error) const
{
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) {
            *error = file.errorString();
        }
        return false;
    }
    const QByteArray data = bytes();
    if (file.write(data) != data.size() || !file.commit()) {
        if (error) {
            *error = file.errorString();
        }
        file.cancelWriting();
        return false;
    }
    return true;
}

} // namespace comkeys
