#include "Startup.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>

#include <cstdio>
#include <unistd.h>

namespace comkeys {

QStringList instanceLockPaths()
{
    const QString name = QStringLiteral("/comkeys-") + QString::number(::getuid()) + QStringLiteral(".lock");
    QStringList paths;
    const QString configured = qEnvironmentVariable("COMKEYS_LOCK_FILE");
    if (!configured.isEmpty()) {
        paths << configured;
    } else if (const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR"); !runtime.isEmpty()) {
        paths << runtime + name;
    }
    paths << QDir::tempPath() + name;
    if (const QString home = QDir::homePath(); !home.isEmpty()) {
        paths << home + QStringLiteral("/.comkeys-") + QString::number(::getuid()) + QStringLiteral(".lock");
    }
    paths.removeDuplicates();
    return paths;
}

InstanceLock::InstanceLock(QStringList paths)
    : m_paths(std::move(paths))
{
}

InstanceLock::Result InstanceLock::acquire()
{
    QStringList failures;
    for (const QString& path : std::as_const(m_paths)) {
        auto lock = std::make_unique<QLockFile>(path);
        // Staleness is decided by whether the holder still runs, never by the lock's age.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            m_lock = std::move(lock);
            return Result::Acquired;
        }
        if (lock->error() == QLockFile::LockFailedError) {
            return Result::AlreadyRunning;
        }
        failures << path;
    }
    m_error = failures.join(QStringLiteral("、"));
    return Result::Failed;
}

bool runStartup(const QStringList& arguments, Dialogs& dialogs, InstanceLock& lock)
{
    const QString commandLine = arguments.join(u' ');
    if (!commandLine.isEmpty()) {
        dialogs.message(commandLine, applicationTitle(), MessageIcon::None, MessageButtons::Ok);
    }
    switch (lock.acquire()) {
    case InstanceLock::Result::Acquired:
        return true;
    case InstanceLock::Result::AlreadyRunning:
        dialogs.message(QStringLiteral("我已经运行了哦，在[开始]右边的任务栏找找看吧！"),
                        applicationTitle(), MessageIcon::Information, MessageButtons::Ok);
        return false;
    case InstanceLock::Result::Failed:
        break;
    }
    // Without a lock a second instance could not be told apart: better not to start at all.
    dialogs.message(QStringLiteral("无法创建单实例锁文件（%1），不能确定是否已有一个本程序在运行，程序退出。")
                        .arg(lock.errorText()),
                    applicationTitle(), MessageIcon::Exclamation, MessageButtons::Ok);
    return false;
}

void installFontSubstitutions()
{
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               { QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC"),
                                 QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC") });
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               { QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                                 QStringLiteral("WenQuanYi Micro Hei") });
}

namespace {
    QString displayMessage(const QString& why)
    {
        return QStringLiteral("comkeys: %1; run it under a virtual one with: xvfb-run -a comkeys").arg(why);
    }

    QtMessageHandler previousHandler = nullptr;
    QStringList* held = nullptr;

    void guardHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (type == QtFatalMsg) {
            const QString display = qEnvironmentVariable("WAYLAND_DISPLAY").isEmpty()
                ? QStringLiteral("DISPLAY=") + qEnvironmentVariable("DISPLAY")
                : QStringLiteral("WAYLAND_DISPLAY=") + qEnvironmentVariable("WAYLAND_DISPLAY");
            std::fprintf(stderr, "%s\n", qPrintable(displayMessage(QStringLiteral("the display cannot be reached (%1)").arg(display))));
            std::fflush(stderr);
            ::_exit(1);
        }
        held->append(qFormatLogMessage(type, context, text));
    }
} // namespace

QString missingDisplayMessage()
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        return {};
    }
    return displayMessage(QStringLiteral("no display found (DISPLAY is not set)"));
}

void beginPlatformGuard()
{
    held = new QStringList;
    previousHandler = qInstallMessageHandler(guardHandler);
}

void endPlatformGuard()
{
    qInstallMessageHandler(previousHandler);
    for (const QString& line : std::as_const(*held)) {
        std::fprintf(stderr, "%s\n", qPrintable(line));
    }
    delete held;
    held = nullptr;
}

} // namespace comkeys
