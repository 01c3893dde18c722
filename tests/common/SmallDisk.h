#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace comkeys::test {

// A tiny file system of its own (tmpfs), so a full disk and a read-only folder really fail the
// way they do for a user. Mounting needs root; without it, ready() is false and says why.
class SmallDisk {
public:
    explicit SmallDisk(int kib = 256)
    {
        if (::geteuid() != 0) {
            m_why = "mounting a small tmpfs needs root";
            return;
        }
        if (QProcess::execute(QStringLiteral("mount"),
                              { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                QStringLiteral("size=%1k").arg(kib), QStringLiteral("tmpfs"), m_dir.path() })
            != 0) {
            m_why = "mount -t tmpfs failed here";
            return;
        }
        m_mounted = true;
    }
    ~SmallDisk()
    {
        if (m_mounted) {
            QProcess::execute(QStringLiteral("umount"), { QStringLiteral("-l"), m_dir.path() });
        }
    }
    bool ready() const { return m_mounted; }
    const char* why() const { return m_why; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    // Takes every free byte, so the next write fails with "no space".
    void fill()
    {
        QFile f(filePath(QStringLiteral(".filler")));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        while (f.write(block) == block.size()) {
        }
        QByteArray one(1, 'f');
        while (f.write(one) == 1) {
        }
    }
    void free() { QFile::remove(filePath(QStringLiteral(".filler"))); }
    void setReadOnly(bool readOnly)
    {
        QCOMPARE(QProcess::execute(QStringLiteral("mount"),
                                   { QStringLiteral("-o"),
                                     readOnly ? QStringLiteral("remount,ro") : QStringLiteral("remount,rw"),
                                     m_dir.path() }),
                 0);
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    const char* m_why = "";
};

} // namespace comkeys::test
