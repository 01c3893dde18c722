// Find over a full record and the filter under a stream, in the real main window:
//   bench_find
// The record is filled directly (64 MiB of 80-character lines in 4 KiB chunks, as a flood
// arrives); the display, the find bar and the filter view are the tool's own.
#include "ScriptedDialogs.h"
#include "BenchTools.h"
#include "FindBar.h"
#include "PrivateDesign.h"
#include "Startup.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

using namespace comkeys;

namespace {

using SilentDialogs = test::ScriptedDialogs; // answers No, cancels every file dialog
using test::cpuSeconds;

// Line i: 80 characters ending in CR LF; every 1000th says ERROR with its number (about 13 in
// every megabyte; "ERROR 4", which the hex case looks for, only in the record's middle).
QByteArray line(qint64 i)
{
    QByteArray l = i % 1000 == 0 ? "ERROR " + QByteArray::number(i) + " " : "line " + QByteArray::number(i) + " ok ";
    l += QByteArray(78 - l.size(), 'x');
    return l + "\r\n";
}

// Runs the event loop for a while without spinning, so CPU figures are the tool's.
void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    PrivateDesign::userSettings().clear();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    installFontSubstitutions();
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("Modules"));
    SilentDialogs dialogs;
    PrivateDesign window(dialogs, dir.path());
    window.show();
    LineRecord& record = window.link().record();
    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(1);

    qint64 lines = 0;
    while (record.cost() < LineRecord::DefaultLimit - 8192 || record.firstNumber() == 0) {
        QByteArray chunk;
        while (chunk.size() < 4096) {
            chunk += line(lines++);
        }
        record.addReceived(chunk, 1700000000000 + lines);
    }
    settle(300);
    out << "record: " << record.cost() / (1024 * 1024) << " MiB in " << record.nextNumber() - record.firstNumber()
        << " chunks" << Qt::endl;

    FindBar& bar = window.findBar();
    bar.open();
    struct Case {
        const char* name;
        int mode;
        bool caseSensitive;
        const char* pattern;
    };
    const Case cases[] = { { "text", 0, true, "ERROR" },
                           { "text, case ignored", 0, false, "error" },
                           { "regular expression", 1, true, "ERROR \\d+7000 " },
                           { "hex", 2, true, "45 52 52 4F 52 20 34" },
                           { "text, no match", 0, true, "nowhere" } };
    for (const Case& c : cases) {
        bar.edit()->clear();
        settle(100);
        bar.mode()->setCurrentIndex(c.mode);
        bar.caseBox()->setChecked(c.caseSensitive);
        QElapsedTimer clock;
        clock.start();
        bar.edit()->setText(QString::fromLatin1(c.pattern));
        const qint64 starting = clock.nsecsElapsed(); // on the window's thread
        qint64 worst = starting;
        qint64 first = bar.current() ? worst : -1;
        qint64 last = clock.nsecsElapsed();
        while (!bar.search().isComplete() && clock.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            const qint64 now = clock.nsecsElapsed();
            worst = std::max(worst, now - last);
            last = now;
            if (first < 0 && bar.current()) {
                first = now;
            }
        }
        const qint64 complete = clock.nsecsElapsed();
        out << "find, " << c.name << ": " << bar.search().count() << " matches, first shown after "
            << (first < 0 ? QStringLiteral("(none)") : QString::number(double(first) / 1e6, 'f', 1) + QStringLiteral(" ms"))
            << ", count complete after " << double(complete) / 1e6 << " ms, longest the window did not answer "
            << double(worst) / 1e6 << " ms, of it starting " << double(starting) / 1e6
            << " ms (targets: 100 ms, 500 ms)" << Qt::endl;
    }

    // The filter under a stream of 1 MB/s: 1000 bytes a millisecond, every 1000th line matching.
    bar.mode()->setCurrentIndex(0);
    bar.edit()->setText(QStringLiteral("ERROR"));
    bar.filterBox()->setChecked(true);
    settle(200);
    const qint64 before = bar.filterView()->lineCount();
    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    qint64 next = lines;
    QByteArray pending;
    qint64 worstGap = 0;
    qint64 lastTick = 0;
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    pace.setInterval(1);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worstGap = std::max(worstGap, now - lastTick);
        lastTick = now;
        const qint64 due = now / 1000; // bytes due at 1 MB/s
        QByteArray chunk;
        while (sent + chunk.size() < due) {
            if (pending.isEmpty()) {
                pending = line(next++);
            }
            const qsizetype take = std::min<qsizetype>(pending.size(), due - sent - chunk.size());
            chunk += pending.left(take);
            pending.remove(0, take);
        }
        if (!chunk.isEmpty()) {
            sent += chunk.size();
            record.addReceived(chunk, 1700000000000 + next);
        }
    });
    const double cpuBefore = cpuSeconds();
    pace.start();
    settle(5000);
    pace.stop();
    const double wall = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    qint64 matching = 0;
    for (qint64 i = lines; i < next - (pending.isEmpty() ? 0 : 1); ++i) {
        matching += i % 1000 == 0;
    }
    const qint64 shown = bar.filterView()->lineCount() - before;
    out << "filter at 1 MB/s: " << double(sent) / wall / 1e6 << " MB/s fed, " << shown << " new matching lines shown of "
        << matching << ", worst gap between 1 ms steps " << double(worstGap) / 1e6 << " ms, CPU " << 100 * cpu / wall
        << " % of a core" << (shown >= matching ? " (kept up)" : " (BEHIND)") << Qt::endl;
    return 0;
}
