#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace comkeys::test {

// CPU seconds (user and system) this process has used so far.
inline double cpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The same for another process, from /proc: the kernel's side of its reading and writing counts
// as much as the program's own. 0 when it is gone.
inline double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray line = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK)) : 0;
}

// A figure of this process's memory in KiB, from /proc/self/status ("VmRSS:", "VmHWM:"), or -1.
inline qint64 statusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    for (const QByteArray& line : status.open(QIODevice::ReadOnly) ? status.readAll().split('\n') : QByteArrayList()) {
        if (line.startsWith(field)) {
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

// Bytes a process has read so far (/proc/PID/io), or -1.
inline qint64 bytesRead(qint64 pid)
{
    QFile io(QStringLiteral("/proc/%1/io").arg(pid));
    for (const QByteArray& line : io.open(QIODevice::ReadOnly) ? io.readAll().split('\n') : QByteArrayList()) {
        if (line.startsWith("rchar:")) {
            return line.mid(6).trimmed().toLongLong();
        }
    }
    return -1;
}

#ifdef COMKEYS_SIM
// comkeys-sim with these arguments, once it has said which device it made; nullptr if it did not
// start.
inline QProcess* startSimulator(QObject* owner, const QStringList& arguments)
{
    auto* sim = new QProcess(owner);
    sim->start(QStringLiteral(COMKEYS_SIM), arguments);
    if (!sim->waitForStarted() || !sim->waitForReadyRead(5000)) {
        delete sim;
        return nullptr;
    }
    return sim;
}
#endif

// Ticks every `intervalMs` from its making and keeps the longest time between two ticks: how long
// the event loop kept a timer waiting.
class LoopGaps {
public:
    explicit LoopGaps(int intervalMs)
    {
        m_clock.start();
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longestNs = std::max(m_longestNs, now - m_lastNs);
            m_lastNs = now;
        });
        m_timer.start(intervalMs);
    }
    // Beyond the interval itself, in milliseconds.
    double longestStallMs() const { return double(std::max<qint64>(0, m_longestNs - m_timer.interval() * 1'000'000LL)) / 1e6; }
    double longestGapMs() const { return double(m_longestNs) / 1e6; }

private:
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_lastNs = 0;
    qint64 m_longestNs = 0;
};

} // namespace comkeys::test
