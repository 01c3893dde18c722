// Times WriteKeySet and ReadKeySet for a full key set on real files, and focus changes between
// command boxes of the real main window (each writes the whole key set).
#include "BenchTools.h"
#include "KeySet.h"
#include "KeySetFiles.h"
#include "PrivateDesign.h"
#include "Profile.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTest>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <array>
#include <vector>

using namespace comkeys;

namespace {
class Keys : public KeyBoard {
public:
    QString caption(int i) const override { return captions[std::size_t(i)]; }
    void setCaption(int i, const QString& c) override { captions[std::size_t(i)] = c; }
    QString command(int i) const override { return commands[std::size_t(i)]; }
    void setCommand(int i, const QString& c) override { commands[std::size_t(i)] = c; }
    std::array<QString, KeyCount> captions;
    std::array<QString, KeyCount> commands;
};

using test::statusKiB;

struct YesDialogs : Dialogs {
    QString file;
    QStringList shown;
    MessageAnswer message(const QString& text, const QString&, MessageIcon, MessageButtons) override
    {
        shown << text;
        return MessageAnswer::Yes;
    }
    std::optional<QString> fileDialog(const FileDialogSettings&) override { return file; }
};

// Loads a large hostile file as a key set: the time and the memory it takes beyond what the
// process held before (the peak is reset first).
void hostileLoad(QTextStream& out, const QString& folder, const char* name, const QByteArray& content)
{
    const QString file = folder + QStringLiteral("/hostile.ini");
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size()) {
            out << name << ": cannot write the file\n";
            return;
        }
    }
    Keys keys;
    YesDialogs dialogs;
    dialogs.file = file;
    KeySetFiles files(dialogs, keys, folder + QStringLiteral("/Modules/Temp.ini"), folder);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    const bool reset = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
    clear.close();
    const qint64 before = statusKiB("VmRSS:");
    QElapsedTimer t;
    t.start();
    files.load();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    const qint64 peak = statusKiB("VmHWM:");
    out << name << " (" << content.size() / 1024 << " KiB, " << content.count('\n') << " lines): load " << ms
        << " ms, memory beyond the start " << (reset ? double(peak - before) / 1024 : -1.0) << " MiB = "
        << (reset ? double(peak - before) * 1024 / double(content.size()) : -1.0)
        << " x the file (targets: under 1000 ms, under 4 x)" << (dialogs.shown.size() == 1 ? "" : "; MESSAGES SHOWN")
        << "\n";
}

template <class F>
void report(QTextStream& out, const char* name, int passes, F&& pass, int targetMs = 5)
{
    std::vector<double> ms;
    for (int i = 0; i < passes; ++i) {
        QElapsedTimer t;
        t.start();
        pass();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    out << name << ": median " << ms[ms.size() / 2] << " ms, worst " << ms.back() << " ms over " << passes
        << " passes (target: under " << targetMs << " ms)\n";
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QTextStream out(stdout);
    out.setRealNumberPrecision(3);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Temp.ini"));
    Keys keys;
    for (int i = 0; i < KeyCount; ++i) {
        keys.captions[std::size_t(i)] = QStringLiteral("Key caption %1").arg(i + 1);
        keys.commands[std::size_t(i)] = QStringLiteral("\"COMMAND %1 WITH SOME ARGUMENTS,%2\"").arg(i + 1).arg(i * 7);
    }
    report(out, "WriteKeySet (new file)", 50, [&] {
        QFile::remove(path);
        WriteKeySet(path, keys);
    });
    report(out, "WriteKeySet (existing file)", 200, [&] { WriteKeySet(path, keys); });
    Keys back;
    report(out, "ReadKeySet", 200, [&] { ReadKeySet(path, back); });
    out << "round trip " << (back.captions == keys.captions && back.commands == keys.commands ? "exact" : "DIFFERS")
        << "\n";

    QDir(dir.path()).mkdir(QStringLiteral("Modules"));
    {
        QByteArray same;
        same.reserve(4 * 1024 * 1024);
        while (same.size() < 4 * 1024 * 1024) {
            same += "x=1\n";
        }
        hostileLoad(out, dir.path(), "a million x=1 lines", same);
        QByteArray distinct = "[KeySend]\n";
        for (int i = 0; distinct.size() < 4 * 1024 * 1024 - 16; ++i) {
            distinct += "k" + QByteArray::number(i) + "=1\n";
        }
        hostileLoad(out, dir.path(), "distinct keys in the key-set section", distinct);
        QByteArray over(Profile::MaxFileBytes + 1, 'x');
        hostileLoad(out, dir.path(), "one byte over the bound (refused unread)", over);
        QFile::remove(dir.filePath(QStringLiteral("Modules/Temp.ini")));
    }

    struct NoDialogs : Dialogs {
        MessageAnswer message(const QString&, const QString&, MessageIcon, MessageButtons) override
        {
            return MessageAnswer::No;
        }
        std::optional<QString> fileDialog(const FileDialogSettings&) override { return std::nullopt; }
    } dialogs;
    PrivateDesign window(dialogs, dir.path());
    window.show();
    (void)QTest::qWaitForWindowActive(&window);
    for (int i = 0; i < KeyCount; ++i) {
        window.setCommand(i, keys.commands[std::size_t(i)]);
    }
    int next = 0;
    report(out, "focus change into a command box (whole key set written)", 200, [&] {
        next = (next + 1) % KeysPerPage;
        window.keyText(next)->setFocus(Qt::MouseFocusReason);
        QCoreApplication::processEvents();
    }, 20);
    out << "working copy " << (QFileInfo(dir.filePath(QStringLiteral("Modules/Temp.ini"))).size() > 0 ? "written" : "MISSING")
        << "\n";
    return back.captions == keys.captions && back.commands == keys.commands ? 0 : 1;
}
