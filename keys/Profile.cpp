#include "Profile.h"

#include "FileIo.h"

#include <QHash>

#include <algorithm>
#include <QStringDecoder>
#include <QStringEncoder>

namespace comkeys {

// One line of the file: [start, end) without its line end, which runs to next. Outside the
// unnamed namespace because Profile::Scan holds it: so the file compiles in a unity batch too.
struct LineSpan {
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype next = 0;
    bool hasEol() const { return next > end; }
};

namespace {

    constexpr char Gb18030[] = "GB18030";
    constexpr char Bom[] = "\xEF\xBB\xBF";

    bool isBlank(char c) { return c == ' ' || c == '\t'; }

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

    QByteArrayView trimBlanks(QByteArrayView s)
    {
        qsizetype b = 0;
        qsizetype e = s.size();
        while (b < e && isBlank(s[b])) {
            ++b;
        }
        while (e > b && isBlank(s[e - 1])) {
            --e;
        }
        return s.sliced(b, e - b);
    }

    QString sanitizeValue(QString value)
    {
        value.replace(u'\r', u' ');
        value.replace(u'\n', u' ');
        return value;
    }

    bool isAscii(QByteArrayView bytes)
    {
        for (char c : bytes) {
            if (uchar(c) >= 0x80) {
                return false;
            }
        }
        return true;
    }

    // Walks the lines of bytes from `from`; CR LF, CR and LF all end a line.
    class Lines {
    public:
        Lines(const QByteArray& bytes, qsizetype from)
            : m_data(bytes.constData())
            , m_size(bytes.size())
            , m_pos(from)
        {
        }
        bool next(LineSpan& line)
        {
            if (m_pos >= m_size) {
                return false;
            }
            line.start = m_pos;
            qsizetype end = m_pos;
            while (end < m_size && m_data[end] != '\r' && m_data[end] != '\n') {
                ++end;
            }
            line.end = end;
            qsizetype next = end;
            if (next < m_size) {
                next += (m_data[next] == '\r' && next + 1 < m_size && m_data[next + 1] == '\n') ? 2 : 1;
            }
            line.next = next;
            m_pos = next;
            return true;
        }

    private:
        const char* m_data;
        qsizetype m_size;
        qsizetype m_pos;
    };

} // namespace

// Where a section and its keys stand in the bytes.
struct Profile::Scan {
    bool sectionFound = false;
    // Where a missing key goes: after the section's last entry (or its header), and whether
    // that line has a line end of its own.
    qsizetype insertAt = 0;
    bool insertAfterEol = true;
    struct Found {
        LineSpan line;
        qsizetype nameStart = 0;
        qsizetype nameEnd = 0;
        qsizetype valueStart = 0; // after '=', up to the line's trimmed end
        qsizetype valueEnd = 0;
    };
    std::vector<std::optional<Found>> keys; // per key asked for, the first entry of that name
};

Profile::Profile(QString path)
    : m_path(std::move(path))
{
}

Profile::LoadResult Profile::load(QString* error)
{
    QByteArray data;
    switch (readWholeFile(m_path, MaxFileBytes, &data, error)) {
    case ReadResult::Read:
        setBytes(data);
        return LoadResult::Loaded;
    case ReadResult::Missing:
        setBytes({});
        return LoadResult::Missing;
    case ReadResult::TooLarge:
    case ReadResult::Failed:
        break;
    }
    setBytes({});
    return LoadResult::Unreadable;
}

void Profile::setBytes(const QByteArray& bytes)
{
    m_bytes = bytes;
    m_bodyStart = m_bytes.startsWith(Bom) ? 3 : 0;
    // A sequence cut off at the end counts as invalid too, so the choice never changes when a
    // write adds lines after it.
    m_gb18030 = !QByteArrayView(m_bytes).sliced(m_bodyStart).isValidUtf8();
}

QString Profile::decode(QByteArrayView bytes) const
{
    if (isAscii(bytes)) {
        return QString::fromLatin1(bytes);
    }
    if (m_gb18030) {
        QStringDecoder decoder(Gb18030, QStringDecoder::Flag::Stateless);
        return decoder.decode(bytes);
    }
    return QString::fromUtf8(bytes);
}

QByteArray Profile::encode(const QString& text) const
{
    if (m_gb18030) {
        QStringEncoder encoder(Gb18030);
        return encoder.encode(text);
    }
    return text.toUtf8();
}

Profile::Scan Profile::scan(QStringView section, const QStringList& keys) const
{
    Scan result;
    result.keys.resize(std::size_t(keys.size()));
    QHash<QString, int> wanted;
    for (int i = 0; i < keys.size(); ++i) {
        wanted.insert(keys[i].toCaseFolded(), i);
    }
    qsizetype remaining = wanted.size();
    const QByteArrayView all(m_bytes);
    bool inSection = false;
    bool lastHasEol = true;
    Lines lines(m_bytes, m_bodyStart);
    LineSpan line;
    while (lines.next(line)) {
        lastHasEol = line.hasEol();
        const QByteArrayView raw = all.sliced(line.start, line.end - line.start);
        const QByteArrayView t = trimBlanks(raw);
        if (t.isEmpty() || t.front() == ';') {
            continue;
        }
        if (t.front() == '[') {
            if (inSection) {
                break; // the first section of a name is the one that counts
            }
            if (isHeader(t, section)) {
                inSection = true;
                result.sectionFound = true;
                result.insertAt = line.next;
                result.insertAfterEol = line.hasEol();
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        // Entries and unknown content both move the insertion point; '=' is never part of a
        // multi-byte character in either encoding.
        result.insertAt = line.next;
        result.insertAfterEol = line.hasEol();
        const qsizetype eq = t.indexOf('=');
        if (eq < 0 || remaining == 0) {
            continue;
        }
        const QByteArrayView name = trimBlanks(t.first(eq));
        const auto it = wanted.constFind(decode(name).toCaseFolded());
        if (it == wanted.cend() || result.keys[std::size_t(*it)]) {
            continue;
        }
        Scan::Found found;
        found.line = line;
        found.nameStart = name.data() - all.data();
        found.nameEnd = found.nameStart + name.size();
        found.valueStart = (t.data() - all.data()) + eq + 1;
        found.valueEnd = (t.data() - all.data()) + t.size();
        result.keys[std::size_t(*it)] = found;
        --remaining;
    }
    if (!result.sectionFound) {
        result.insertAt = m_bytes.size();
        result.insertAfterEol = m_bytes.size() <= m_bodyStart || lastHasEol;
    }
    return result;
}

std::vector<std::optional<QString>> Profile::values(QStringView section, const QStringList& keys) const
{
    const Scan s = scan(section, keys);
    std::vector<std::optional<QString>> out(std::size_t(keys.size()));
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!s.keys[i]) {
            continue;
        }
        const Scan::Found& f = *s.keys[i];
        const QString text = decode(QByteArrayView(m_bytes).sliced(f.valueStart, f.valueEnd - f.valueStart));
        QStringView v = trimBlanks(text);
        if (v.size() >= 2 && v.front() == v.back() && (v.front() == u'"' || v.front() == u'\'')) {
            v = v.mid(1, v.size() - 2);
        }
        out[i] = v.toString();
    }
    return out;
}

std::optional<QString> Profile::value(QStringView section, QStringView key) const
{
    return values(section, { key.toString() }).front();
}

bool Profile::setValue(const QString& section, const QString& key, const QString& value)
{
    return setValues(section, { { key, value } });
}

bool Profile::setValues(const QString& section, const std::vector<std::pair<QString, QString>>& entries)
{
    QStringList keys;
    keys.reserve(qsizetype(entries.size()));
    for (const auto& e : entries) {
        keys << e.first;
    }
    const Scan s = scan(section, keys);

    struct Edit {
        qsizetype from;
        qsizetype to;
        QByteArray bytes;
    };
    std::vector<Edit> edits;
    QByteArray inserted;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const QString clean = sanitizeValue(entries[i].second);
        if (const auto& f = s.keys[i]) {
            const QByteArrayView stored = QByteArrayView(m_bytes).sliced(f->valueStart, f->valueEnd - f->valueStart);
            if (decode(stored) == clean) {
                continue; // unchanged: its bytes stay exactly as they are
            }
            QByteArray line = m_bytes.mid(f->nameStart, f->nameEnd - f->nameStart);
            line += '=';
            line += encode(clean);
            line += "\r\n";
            edits.push_back({ f->line.start, f->line.next, std::move(line) });
        } else {
            inserted += encode(entries[i].first + u'=' + clean);
            inserted += "\r\n";
        }
    }
    if (!inserted.isEmpty()) {
        // A last line without a line end gets one, unless it was just rewritten with one.
        const bool anchorRewritten = std::any_of(edits.begin(), edits.end(),
                                                 [&](const Edit& e) { return e.to == s.insertAt && e.from < e.to; });
        QByteArray block;
        if (!s.insertAfterEol && !anchorRewritten) {
            block += "\r\n";
        }
        if (!s.sectionFound) {
            block += encode(u'[' + section + u']');
            block += "\r\n";
        }
        block += inserted;
        edits.push_back({ s.insertAt, s.insertAt, std::move(block) });
    }
    if (edits.empty()) {
        return false;
    }
    std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.from < b.from; });
    QByteArray out;
    qsizetype grow = 0;
    for (const Edit& e : edits) {
        grow += e.bytes.size() - (e.to - e.from);
    }
    out.reserve(m_bytes.size() + grow);
    qsizetype pos = 0;
    for (const Edit& e : edits) {
        out.append(m_bytes.constData() + pos, e.from - pos);
        out += e.bytes;
        pos = e.to;
    }
    out.append(m_bytes.constData() + pos, m_bytes.size() - pos);
    m_bytes = std::move(out);
    return true;
}

// Where a section's body lies: from after its header to the next header or the end.
struct Profile::Body {
    bool found = false;
    qsizetype start = 0;
    qsizetype end = 0;
    bool headerHasEol = true;
    int firstLine = 0; // number of the body's first line
    bool lastHasEol = true; // of the file's last line
};

bool Profile::isHeader(QByteArrayView t, QStringView section) const
{
    if (t.isEmpty() || t.front() != '[') {
        return false;
    }
    // A ']' byte can be part of a GB18030 character: find it in the decoded text.
    const QString text = decode(t.sliced(1));
    QStringView name(text);
    if (const qsizetype close = name.indexOf(u']'); close >= 0) {
        name = name.left(close);
    }
    return trimBlanks(name).compare(section, Qt::CaseInsensitive) == 0;
}

Profile::Body Profile::body(QStringView section) const
{
    Body b;
    const QByteArrayView all(m_bytes);
    Lines lines(m_bytes, m_bodyStart);
    LineSpan line;
    int number = 0;
    while (lines.next(line)) {
        ++number;
        b.lastHasEol = line.hasEol();
        const QByteArrayView t = trimBlanks(all.sliced(line.start, line.end - line.start));
        if (b.found) {
            if (!t.isEmpty() && t.front() == '[') {
                b.end = line.start;
                return b;
            }
            continue;
        }
        if (isHeader(t, section)) {
            b.found = true;
            b.start = line.next;
            b.headerHasEol = line.hasEol();
            b.firstLine = number + 1;
        }
    }
    b.end = m_bytes.size();
    return b;
}

std::optional<std::vector<Profile::Line>> Profile::sectionLines(QStringView section) const
{
    const Body b = body(section);
    if (!b.found) {
        return std::nullopt;
    }
    std::vector<Line> out;
    const QByteArray part = m_bytes.mid(b.start, b.end - b.start);
    Lines lines(part, 0);
    LineSpan line;
    int number = b.firstLine;
    while (lines.next(line)) {
        out.push_back({ number++, decode(QByteArrayView(part).sliced(line.start, line.end - line.start)) });
    }
    return out;
}

bool Profile::setSection(const QString& section, const QStringList& lines)
{
    const Body b = body(section);
    if (!b.found && lines.isEmpty()) {
        return false;
    }
    QByteArray block;
    for (const QString& l : lines) {
        block += encode(sanitizeValue(l));
        block += "\r\n";
    }
    if (b.found) {
        if (!b.headerHasEol) {
            block.prepend("\r\n");
        }
        if (QByteArrayView(m_bytes).sliced(b.start, b.end - b.start) == block) {
            return false;
        }
        m_bytes.replace(b.start, b.end - b.start, block);
        return true;
    }
    QByteArray added;
    if (m_bytes.size() > m_bodyStart && !b.lastHasEol) {
        added += "\r\n";
    }
    added += encode(u'[' + section + u']');
    added += "\r\n";
    m_bytes += added + block;
    return true;
}

bool Profile::save(QString* error) const
{
    // Profiles are written only as the working copy: the tool's own file.
    return writeFileAtomically(m_path, m_bytes, error, ReadOnlyTarget::Replace);
}

} // namespace comkeys
