#pragma once

#include <QByteArray>
#include <QString>

namespace comkeys {

// Why a file operation failed, in the tool's language: a short Chinese reason for the errno,
// with the system's own text in parentheses.
QString fileErrorReason(int errorNumber);

enum class ReadResult { Read, Missing, TooLarge, Failed };

// Reads a whole regular file of at most maxBytes. A larger file is refused before any of it is
// read. On Failed and TooLarge, *error says why (Chinese).
ReadResult readWholeFile(const QString& path, qint64 maxBytes, QByteArray* out, QString* error = nullptr);

// A file whose permission bits say the user may not write it (the owner's bit for its owner and
// for root, whom the system would let write anyway): the user's own protection.
bool isReadOnlyFile(const QString& path);

// What a write does with a target that is read-only: a file the user named is refused; the
// tool's own files may be replaced.
enum class ReadOnlyTarget { Refuse, Replace };

// Replaces the file with the given bytes or leaves it exactly as it was: the bytes go to a
// temporary file beside it, are written whole and synced to the disk, and only then renamed over
// the old file (whose permissions the new one takes). Never creates a folder. False with a
// Chinese reason in *error when anything of that failed.
[[nodiscard]] bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                                       ReadOnlyTarget readOnly = ReadOnlyTarget::Refuse);

// An open file that data is appended to as it arrives (a capture). Every append is handed to the
// system whole or reported as failed; sync() puts what was written on the disk.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Creates or truncates the file; a read-only one is refused.
    [[nodiscard]] bool open(const QString& path, QString* error = nullptr);
    [[nodiscard]] bool append(const char* data, qint64 size, QString* error = nullptr);
    [[nodiscard]] bool sync(QString* error = nullptr);
    // Syncs and closes; false when the last sync or close failed.
    bool close(QString* error = nullptr);
    bool isOpen() const { return m_fd >= 0; }
    int descriptor() const { return m_fd; }
    QString path() const { return m_path; }
    qint64 written() const { return m_written; }

private:
    int m_fd = -1;
    QString m_path;
    qint64 m_written = 0;
};

} // namespace comkeys
