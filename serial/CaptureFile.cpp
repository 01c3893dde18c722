#include "CaptureFile.h"

#include <cerrno>
#include <unistd.h>

namespace comkeys {

CaptureFile::CaptureFile(const LineRecord& record, QObject* parent)
    : QObject(parent)
    , m_record(record)
{
    connect(&record, &LineRecord::added, this, &CaptureFile::onAdded);
    m_syncer.setMaxThreadCount(1);
    m_sync.setInterval(1000);
    connect(&m_sync, &QTimer::timeout, this, [this] {
        if (!m_dirty || m_syncing) {
            return;
        }
        m_dirty = false;
        m_syncing = true;
        m_syncer.start([this, fd = m_file.descriptor()] {
            const int error = ::fdatasync(fd) == 0 ? 0 : errno;
            QMetaObject::invokeMethod(this, [this, error] {
                m_syncing = false;
                if (error != 0 && m_file.isOpen()) {
                    fail(fileErrorReason(error));
                }
            }, Qt::QueuedConnection);
        });
    });
}

CaptureFile::~CaptureFile()
{
    m_syncer.waitForDone();
    stop();
}

bool CaptureFile::start(const QString& path, QString* error)
{
    stop();
    if (!m_file.open(path, error)) {
        return false;
    }
    m_sync.start();
    Q_EMIT started();
    return true;
}

bool CaptureFile::stop(QString* error)
{
    if (!m_file.isOpen()) {
        return true;
    }
    m_sync.stop();
    m_syncer.waitForDone();
    const bool ok = m_file.close(error);
    Q_EMIT stopped();
    return ok;
}

void CaptureFile::onAdded(qint64 n)
{
    const LineRecord::Entry& e = m_record.entry(n);
    if (!m_file.isOpen() || e.direction != LineRecord::Direction::Received) {
        return;
    }
    QString error;
    if (!m_file.append(e.bytes.constData(), e.bytes.size(), &error)) {
        fail(error);
        return;
    }
    m_dirty = true;
}

void CaptureFile::fail(const QString& reason)
{
    m_sync.stop();
    m_syncer.waitForDone();
    const qint64 bytes = m_file.written();
    const QString path = m_file.path();
    m_file.close();
    Q_EMIT stopped();
    Q_EMIT failed(QStringLiteral("写入 %1 失败：%2").arg(path, reason), bytes);
}

} // namespace comkeys

#include "moc_CaptureFile.cpp"
