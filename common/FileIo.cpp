#include "FileIo.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace comkeys {

namespace {
    QByteArray native(const QString& path) { return QFile::encodeName(path); }

    bool fail(QString* error, int errorNumber)
    {
        if (error) {
            *error = fileErrorReason(errorNumber);
        }
        return false;
    }

    bool readOnlyFor(const struct stat& st)
    {
        const uid_t user = ::geteuid();
        if (user == 0 || user == st.st_uid) {
            return (st.st_mode & S_IWUSR) == 0;
        }
        bool inGroup = ::getegid() == st.st_gid;
        gid_t groups[256];
        const int count = ::getgroups(256, groups);
        for (int i = 0; i < count && !inGroup; ++i) {
            inGroup = groups[i] == st.st_gid;
        }
        return (st.st_mode & (inGroup ? S_IWGRP : S_IWOTH)) == 0;
    }

    bool refuseReadOnly(QString* error)
    {
        if (error) {
            *error = QStringLiteral("文件是只读的，不能覆盖（先去掉它的只读属性，或换一个文件名）");
        }
        return false;
    }

    // Writes everything, going on after a partial write; false with errno set otherwise.
    bool writeAllBytes(int fd, const char* data, qint64 size)
    {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, std::size_t(size));
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (n == 0) {
                errno = ENOSPC;
                return false;
            }
            data += n;
            size -= n;
        }
        return true;
    }
} // namespace

QString fileErrorReason(int errorNumber)
{
    QString reason;
    switch (errorNumber) {
    case ENOSPC:
    case EDQUOT:
        reason = QStringLiteral("磁盘空间不足");
        break;
    case EACCES:
    case EPERM:
        reason = QStringLiteral("没有访问权限");
        break;
    case EROFS:
        reason = QStringLiteral("文件系统只读");
        break;
    case ENOENT:
        reason = QStringLiteral("文件或文件夹不存在");
        break;
    case EISDIR:
        reason = QStringLiteral("这是一个文件夹");
        break;
    case ENOTDIR:
        reason = QStringLiteral("路径中有一级不是文件夹");
        break;
    case ENAMETOOLONG:
        reason = QStringLiteral("文件名太长");
        break;
    case EIO:
        reason = QStringLiteral("磁盘读写出错");
        break;
    case EFBIG:
        reason = QStringLiteral("文件太大");
        break;
    default:
        reason = QStringLiteral("系统错误");
        break;
    }
    return reason + QStringLiteral("（") + QString::fromLocal8Bit(std::strerror(errorNumber)) + QStringLiteral("）");
}

ReadResult readWholeFile(const QString& path, qint64 maxBytes, QByteArray* out, QString* error)
{
    out->clear();
    const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return ReadResult::Missing;
        }
        fail(error, errno);
        return ReadResult::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        fail(error, errno);
        ::close(fd);
        return ReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(error, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        ::close(fd);
        return ReadResult::Failed;
    }
    if (st.st_size > maxBytes) {
        if (error) {
            *error = QStringLiteral("文件太大（%1 字节，最多 %2 字节）").arg(st.st_size).arg(maxBytes);
        }
        ::close(fd);
        return ReadResult::TooLarge;
    }
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype have = 0;
    for (;;) {
        if (have == data.size()) {
            // The file may have grown since fstat; take what fits the bound.
            if (data.size() >= maxBytes) {
                char probe;
                const ssize_t more = ::read(fd, &probe, 1);
                if (more > 0) {
                    if (error) {
                        *error = QStringLiteral("文件太大（最多 %1 字节）").arg(maxBytes);
                    }
                    ::close(fd);
                    return ReadResult::TooLarge;
                }
                break;
            }
            data.resize(std::min<qsizetype>(maxBytes, std::max<qsizetype>(4096, data.size() * 2)));
        }
        const ssize_t n = ::read(fd, data.data() + have, std::size_t(data.size() - have));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(error, errno);
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0) {
            break;
        }
        have += n;
    }
    ::close(fd);
    data.truncate(have);
    *out = std::move(data);
    return ReadResult::Read;
}

bool isReadOnlyFile(const QString& path)
{
    struct stat st {};
    return ::stat(native(path).constData(), &st) == 0 && S_ISREG(st.st_mode) && readOnlyFor(st);
}

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error, ReadOnlyTarget readOnly)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        return fail(error, EISDIR);
    }
    // The rename needs only the folder to be writable: the file's own bits are checked here.
    if (readOnly == ReadOnlyTarget::Refuse && isReadOnlyFile(path)) {
        return refuseReadOnly(error);
    }
    const QByteArray target = native(path);
    QByteArray temp = native(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return fail(error, errno);
    }
    auto abandon = [&](int errorNumber) {
        ::close(fd);
        ::unlink(temp.constData());
        return fail(error, errorNumber);
    };
    // The new file keeps the old one's permissions; a new file gets the usual ones.
    struct stat st {};
    mode_t mode = 0666;
    if (::stat(target.constData(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    if (::fchmod(fd, mode) != 0) {
        return abandon(errno);
    }
    if (!writeAllBytes(fd, bytes.constData(), bytes.size())) {
        return abandon(errno);
    }
    // A full disk may only show here: the data is not on the disk until this succeeds.
    if (::fsync(fd) != 0) {
        return abandon(errno);
    }
    if (::close(fd) != 0) {
        const int e = errno;
        ::unlink(temp.constData());
        return fail(error, e);
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int e = errno;
        ::unlink(temp.constData());
        return fail(error, e);
    }
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(native(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

AppendFile::~AppendFile() { close(); }

bool AppendFile::open(const QString& path, QString* error)
{
    close();
    if (isReadOnlyFile(path)) {
        return refuseReadOnly(error);
    }
    m_fd = ::open(native(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        return fail(error, errno);
    }
    m_path = path;
    m_written = 0;
    return true;
}

bool AppendFile::append(const char* data, qint64 size, QString* error)
{
    if (m_fd < 0) {
        return fail(error, EBADF);
    }
    if (!writeAllBytes(m_fd, data, size)) {
        const int e = errno;
        // What was handed over before stays: cut a partial write back to whole appends.
        if (::ftruncate(m_fd, m_written) == 0) {
            ::lseek(m_fd, m_written, SEEK_SET);
        }
        return fail(error, e);
    }
    m_written += size;
    return true;
}

bool AppendFile::sync(QString* error)
{
    if (m_fd >= 0 && ::fdatasync(m_fd) != 0) {
        return fail(error, errno);
    }
    return true;
}

bool AppendFile::close(QString* error)
{
    if (m_fd < 0) {
        return true;
    }
    bool ok = sync(error);
    if (::close(m_fd) != 0 && ok) {
        ok = fail(error, errno);
    }
    m_fd = -1;
    return ok;
}

} // namespace comkeys
