#pragma once

#include "FileIo.h"
#include "LineRecord.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>

namespace comkeys {

// Writes every received byte to a file as it arrives, so a long session loses nothing even when
// the record's memory bound is passed. What is written is synced to the disk every second and at
// the end. A write that fails stops the capture; everything written before it stays in the file.
class CaptureFile : public QObject {
    Q_OBJECT
public:
    explicit CaptureFile(const LineRecord& record, QObject* parent = nullptr);
    ~CaptureFile() override;

    // Creates (or empties) the file and captures from now on; false with a Chinese reason.
    [[nodiscard]] bool start(const QString& path, QString* error = nullptr);
    // Syncs and closes; false with the reason when the last bytes could not be made safe.
    bool stop(QString* error = nullptr);
    bool isCapturing() const { return m_file.isOpen(); }
    QString path() const { return m_file.path(); }
    qint64 written() const { return m_file.written(); }

Q_SIGNALS:
    void started();
    // The capture ended by itself: reason says why (Chinese); bytes stayed in the file.
    void failed(const QString& reason, qint64 bytes);
    void stopped();

private:
    void onAdded(qint64 n);
    void fail(const QString& reason);

    const LineRecord& m_record;
    AppendFile m_file;
    QTimer m_sync;
    bool m_dirty = false;
    // Syncing a fast capture can take tens of milliseconds: it runs beside the event loop.
    QThreadPool m_syncer;
    bool m_syncing = false;
};

} // namespace comkeys
