#include "Runner.h"

#include "AutomationEngine.h"
#include "Dialogs.h"
#include "FileIo.h"
#include "KeyTable.h"
#include "Profile.h"
#include "Reports.h"
#include "SerialLink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace comkeys::cli {

namespace {
    // Options that make a sequence of their own, in the order given.
    const QStringList StepOptions { QStringLiteral("send"), QStringLiteral("send-key"), QStringLiteral("expect"),
        QStringLiteral("wait"), QStringLiteral("expect-timeout") };
    // Every option that takes a value.
    const QStringList ValueOptions = StepOptions
        + QStringList { QStringLiteral("run"), QStringLiteral("keys"), QStringLiteral("port"), QStringLiteral("line"),
                        QStringLiteral("repeat"), QStringLiteral("timeout"), QStringLiteral("junit"), QStringLiteral("csv") };
    constexpr qint64 DefaultExpectMs = 1000;

    void out(const QString& line)
    {
        const QByteArray bytes = (line + u'\n').toUtf8();
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
        std::fflush(stdout);
    }

    void err(const QString& line)
    {
        const QByteArray bytes = (line + u'\n').toUtf8();
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    }

    int cannotStart(const QString& reason)
    {
        err(QStringLiteral("comkeys: ") + reason);
        return CannotStart;
    }

    // The runner asks no questions: the link's notices are dropped (its status says why).
    class SilentDialogs : public Dialogs {
    public:
        MessageAnswer message(const QString&, const QString&, MessageIcon, MessageButtons) override
        {
            return MessageAnswer::No;
        }
        std::optional<QString> fileDialog(const FileDialogSettings&) override { return std::nullopt; }
    };

    // Ctrl+C and SIGTERM reach the event loop through a pipe: the handler itself only writes.
    int g_signalPipe[2] = { -1, -1 };
    void onSignal(int)
    {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    }

    std::optional<qint64> number(const QString& text, qint64 min, qint64 max)
    {
        bool ok = false;
        const qint64 v = text.toLongLong(&ok);
        return ok && v >= min && v <= max ? std::optional<qint64>(v) : std::nullopt;
    }

    // The step options in the order they were given, with their values.
    QList<std::pair<QString, QString>> orderedSteps(const QStringList& arguments)
    {
        QList<std::pair<QString, QString>> steps;
        for (qsizetype i = 0; i < arguments.size(); ++i) {
            const QString& a = arguments[i];
            if (!a.startsWith(u'-')) {
                continue;
            }
            // "-send" is "--send" too: the parser reads single-dash words as long options.
            const qsizetype dashes = a.startsWith(u"--") ? 2 : 1;
            const qsizetype eq = a.indexOf(u'=');
            const QString name = a.mid(dashes, eq < 0 ? -1 : eq - dashes);
            if (!ValueOptions.contains(name)) {
                continue;
            }
            const QString value = eq >= 0 ? a.mid(eq + 1) : arguments.value(i + 1);
            if (eq < 0) {
                ++i;
            }
            if (StepOptions.contains(name)) {
                steps.append({ name, value });
            }
        }
        return steps;
    }

    // The sequence the step options write; an error text when one is wrong.
    std::optional<Sequence> commandLineSequence(const QStringList& arguments, QString* error)
    {
        Sequence seq;
        seq.name = QStringLiteral("命令行");
        const auto steps = orderedSteps(arguments);
        qint64 expectMs = DefaultExpectMs;
        // Expects before the first --expect-timeout take its value too.
        for (const auto& [name, value] : steps) {
            if (name == u"expect-timeout") {
                if (const auto ms = number(value, 1, Sequence::MaxStepMs)) {
                    expectMs = *ms;
                }
                break;
            }
        }
        for (const auto& [name, value] : steps) {
            Step s;
            if (name == u"send") {
                s.kind = Step::Kind::SendText;
                s.text = value;
            } else if (name == u"send-key") {
                const auto n = number(value, 1, KeyCount);
                if (!n) {
                    *error = QStringLiteral("--send-key %1：按键编号应在 1 到 %2 之间").arg(value).arg(KeyCount);
                    return std::nullopt;
                }
                s.kind = Step::Kind::SendKey;
                s.key = int(*n - 1);
            } else if (name == u"wait") {
                const auto ms = number(value, 0, Sequence::MaxStepMs);
                if (!ms) {
                    *error = QStringLiteral("--wait %1：应是 0 到 %2 的毫秒数").arg(value).arg(Sequence::MaxStepMs);
                    return std::nullopt;
                }
                s.kind = Step::Kind::Wait;
                s.ms = *ms;
            } else if (name == u"expect-timeout") {
                const auto ms = number(value, 1, Sequence::MaxStepMs);
                if (!ms) {
                    *error = QStringLiteral("--expect-timeout %1：应是 1 到 %2 的毫秒数")
                                 .arg(value)
                                 .arg(Sequence::MaxStepMs);
                    return std::nullopt;
                }
                expectMs = *ms;
                continue;
            } else {
                QString why;
                s.kind = Step::Kind::Expect;
                s.pattern = Pattern::parse(value, &why);
                if (!s.pattern) {
                    *error = QStringLiteral("--expect %1：%2").arg(value, why);
                    return std::nullopt;
                }
                s.ms = expectMs;
                s.onTimeout = Step::OnTimeout::GoOn; // every expect is reported
            }
            seq.steps.append(s);
        }
        return seq;
    }

    // Drives one sequence against the open link and reports it.
    class Run : public QObject {
    public:
        Run(SerialLink& link, AutomationEngine& engine, const QCommandLineParser& options)
            : m_link(link)
            , m_engine(engine)
            , m_options(options)
            , m_quiet(options.isSet(QStringLiteral("quiet")))
            , m_progress(!m_quiet && ::isatty(STDERR_FILENO))
        {
            connect(&engine, &AutomationEngine::stepStarted, this, &Run::onStepStarted);
            connect(&engine, &AutomationEngine::stepFinished, this, &Run::onStepFinished);
            connect(&engine, &AutomationEngine::sequenceFinished, this, [this](AutomationEngine::SequenceEnd) {
                if (m_code < 0) {
                    finish(m_failures > 0 || m_aborted ? Failed : Passed);
                }
            });
        }

        int exec(const Sequence& sequence)
        {
            m_sequence = sequence;
            m_started = QDateTime::currentDateTime();
            if (m_options.isSet(QStringLiteral("timeout"))) {
                const auto s = number(m_options.value(QStringLiteral("timeout")), 1, 31'536'000);
                QTimer::singleShot(int(std::min<qint64>(*s * 1000, std::numeric_limits<int>::max())), this,
                    [this] { finish(OverallTimeout); });
            }
            if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
                auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
                connect(notifier, &QSocketNotifier::activated, this, [this] { finish(Interrupted); });
                std::signal(SIGINT, onSignal);
                std::signal(SIGTERM, onSignal);
            }
            QString why;
            if (!m_engine.startSequence(sequence, &why)) {
                return cannotStart(why);
            }
            if (m_code < 0) {
                QCoreApplication::exec();
            }
            return m_code;
        }

    private:
        void onStepStarted(int run, int step)
        {
            if (m_progress) {
                const QString line = QStringLiteral("\r\x1b[K第 %1 遍 第 %2/%3 步 %4")
                                         .arg(run)
                                         .arg(step + 1)
                                         .arg(m_sequence.steps.size())
                                         .arg(m_sequence.steps[step].toString());
                const QByteArray bytes = line.toUtf8();
                std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
            }
        }

        void onStepFinished(const AutomationEngine::StepResult& result)
        {
            const Step& step = m_sequence.steps[result.step];
            StepRecord record { result, step.toString(), step.kind == Step::Kind::Expect,
                step.pattern ? step.pattern->toString() : QString(), QDateTime::currentDateTime() };
            if (result.verdict != AutomationEngine::Verdict::Passed) {
                ++m_failures;
                m_aborted = m_aborted || !record.isExpect;
            }
            if (record.isExpect) {
                ++m_expects;
            }
            clearProgress();
            if (!m_quiet) {
                out(stepLine(record));
            }
            m_steps.append(record);
        }

        void clearProgress()
        {
            if (m_progress) {
                std::fputs("\r\x1b[K", stderr);
            }
        }

        // Ends the run whatever state it is in: the port closed first, then the reports.
        void finish(int code)
        {
            if (m_code >= 0) {
                return;
            }
            m_code = code;
            m_engine.stopSequence();
            m_link.closePressed();
            clearProgress();
            const QString junit = m_options.value(QStringLiteral("junit"));
            QString error;
            bool reported = true;
            if (!junit.isEmpty()
                && !writeFileAtomically(junit, junitReport(m_sequence.name, m_steps, m_started), &error)) {
                err(QStringLiteral("comkeys: JUnit 报告没有写成：%1").arg(error));
                reported = false;
            }
            const QString csv = m_options.value(QStringLiteral("csv"));
            if (!csv.isEmpty()
                && !writeFileAtomically(csv, QByteArray("\xEF\xBB\xBF") + m_link.transcript().csv(), &error)) {
                err(QStringLiteral("comkeys: CSV 没有写成：%1").arg(error));
                reported = false;
            }
            // A passing run whose report is missing must not look like a pass to CI.
            if (!reported && code == Passed) {
                code = m_code = CannotStart;
            }
            if (!m_quiet) {
                const qint64 ms = m_started.msecsTo(QDateTime::currentDateTime());
                QString end = code == Passed ? QStringLiteral("通过")
                    : code == Failed         ? QStringLiteral("失败")
                    : code == OverallTimeout ? QStringLiteral("总时间用完")
                                             : QStringLiteral("已中断");
                out(QStringLiteral("序列“%1”：%2 步，%3 个期待，%4 个没有通过，用时 %5 ms，结果：%6")
                        .arg(m_sequence.name)
                        .arg(m_steps.size())
                        .arg(m_expects)
                        .arg(m_failures)
                        .arg(ms)
                        .arg(end));
            }
            QCoreApplication::exit(code);
        }

        SerialLink& m_link;
        AutomationEngine& m_engine;
        const QCommandLineParser& m_options;
        const bool m_quiet;
        const bool m_progress;
        Sequence m_sequence;
        QDateTime m_started;
        QList<StepRecord> m_steps;
        int m_failures = 0;
        int m_expects = 0;
        bool m_aborted = false;
        int m_code = -1;
    };

    void listKeySet(const KeyTable& keys, const AutomationSet& set)
    {
        out(QStringLiteral("序列："));
        for (const Sequence& s : set.sequences) {
            out(QStringLiteral("  %1\t%2 步，%3")
                    .arg(s.name)
                    .arg(s.steps.size())
                    .arg(s.runs == 0 ? QStringLiteral("一直运行") : QStringLiteral("%1 遍").arg(s.runs)));
        }
        out(QStringLiteral("按键："));
        for (int i = 0; i < KeyCount; ++i) {
            if (!keys.command(i).isEmpty()) {
                out(QStringLiteral("  %1\t%2\t%3").arg(i + 1).arg(keys.caption(i), keys.command(i)));
            }
        }
    }
} // namespace

bool isRunnerCommand(int argc, char** argv) { return argc > 1 && argv[1][0] == '-'; }

QString helpText()
{
    return QStringLiteral("用法：\n"
                          "  comkeys --run 名称 [--keys 文件.ini] [--port 端口] [--line 9600,n,8,1]\n"
                          "          [--repeat N] [--timeout 秒] [--junit 文件.xml] [--csv 文件.csv] [--quiet]\n"
                          "  comkeys --port 端口 [--line ...] --send 文本 [--expect 模式] [--wait 毫秒] ...\n"
                          "  comkeys --list [--keys 文件.ini]\n"
                          "  comkeys --help | --version\n"
                          "\n"
                          "不打开窗口，运行按键配置中的发送序列或命令行上写的序列，逐步给出结果和退出码。\n"
                          "\n"
                          "选项：\n"
                          "  --run 名称             运行按键配置中名为“名称”的序列\n"
                          "  --keys 文件            按键配置文件（默认：窗口使用的工作副本 Modules/Temp.ini）\n"
                          "  --port 端口            串口：COMn、设备路径（如 /dev/ttyUSB0）或网络端口（tcp://主机:端口、\n"
                          "                         rfc2217://主机:端口）（默认 COM1）\n"
                          "  --line 格式            速率，或 速率,校验,数据位,停止位（默认 9600）\n"
                          "  --repeat N             序列运行 N 遍；0 表示一直运行到中断或 --timeout\n"
                          "                         （默认：序列自己的遍数，“一直运行”的序列运行 1 遍）\n"
                          "  --timeout 秒           总时间上限，用完时退出码为 3\n"
                          "  --junit 文件           写 JUnit XML 报告：每遍一个 testsuite，每个期待一个 testcase\n"
                          "  --csv 文件             写收发记录（CSV，UTF-8），含步骤、结果和用时列\n"
                          "  --quiet                标准输出不写步骤行和总结\n"
                          "  --send 文本            发送一条命令，文本含首尾分隔符，如 '\"AT\"'\n"
                          "  --send-key N           发送按键配置中第 N 个按键的命令\n"
                          "  --cr                   每次发送后加回车符（同窗口的“所有发送加回车符 <CR>”）\n"
                          "  --expect 模式          "
                          "等待收到：文本；re:正则表达式；hex:十六进制字节；nocase:不分大小写的文本\n"
                          "  --expect-timeout 毫秒  --expect 最多等待多久（默认 1000）：对其后的 --expect 起作用，\n"
                          "                         第一个 --expect-timeout 之前的 --expect 也用它的值\n"
                          "  --wait 毫秒            暂停\n"
                          "  --list                 列出按键配置中的序列和非空按键\n"
                          "  --help                 显示本帮助\n"
                          "  --version              显示版本\n"
                          "\n"
                          "--send、--send-key、--expect、--wait "
                          "按给出的顺序组成一个序列，超时的期待记为没有通过并继续下一步。\n"
                          "标准输出每步一行（时间、遍:步、步骤、发送内容、回应（控制字节写作 "
                          "<0D>）、结果、毫秒），最后一行总结。\n"
                          "\n"
                          "退出码：0 全部期待通过；1 有期待没有通过或发送失败；2 无法开始；3 总时间用完；130 "
                          "被中断（Ctrl+C）。\n");
}

int run(const QStringList& arguments, const Environment& environment)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QString& name : ValueOptions) {
        parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("value")));
    }
    for (const char* name : { "quiet", "cr", "list", "help", "version" }) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));
    }
    if (!parser.parse(QStringList { QStringLiteral("comkeys") } + arguments)) {
        return cannotStart(parser.errorText() + QStringLiteral("（comkeys --help 列出选项）"));
    }
    if (!parser.positionalArguments().isEmpty()) {
        return cannotStart(
            QStringLiteral("不认识的参数“%1”（comkeys --help 列出选项）").arg(parser.positionalArguments().first()));
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out(helpText().chopped(1));
        return Passed;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out(QStringLiteral("comkeys " COMKEYS_VERSION));
        return Passed;
    }
    for (const char* name : { "repeat", "timeout" }) {
        const QString option = QString::fromLatin1(name);
        if (parser.isSet(option) && !number(parser.value(option), option == u"repeat" ? 0 : 1, 31'536'000)) {
            return cannotStart(QStringLiteral("--%1 %2：不是有效的数").arg(option, parser.value(option)));
        }
    }

    // The key set, as the window would load it.
    const bool keysGiven = parser.isSet(QStringLiteral("keys"));
    Profile profile(keysGiven ? parser.value(QStringLiteral("keys")) : environment.workingCopy);
    QString error;
    switch (profile.load(&error)) {
    case Profile::LoadResult::Loaded:
        break;
    case Profile::LoadResult::Missing:
        if (keysGiven) {
            return cannotStart(QStringLiteral("按键配置 %1 不存在").arg(profile.path()));
        }
        break;
    case Profile::LoadResult::Unreadable:
        return cannotStart(QStringLiteral("按键配置 %1 无法读取：%2").arg(profile.path(), error));
    }
    KeyTable keys;
    ReadKeySet(profile, keys);
    QStringList problems;
    AutomationSet set = readAutomation(profile, &problems);
    for (const QString& p : problems) {
        err(QStringLiteral("comkeys: %1 %2（已跳过）").arg(profile.path(), p));
    }
    if (parser.isSet(QStringLiteral("list"))) {
        listKeySet(keys, set);
        return Passed;
    }

    Sequence sequence;
    const bool named = parser.isSet(QStringLiteral("run"));
    if (named) {
        const Sequence* found = set.sequence(parser.value(QStringLiteral("run")));
        if (!found) {
            QStringList names;
            for (const Sequence& s : set.sequences) {
                names << s.name;
            }
            return cannotStart(
                QStringLiteral("%1 中没有名为“%2”的序列%3")
                    .arg(profile.path(), parser.value(QStringLiteral("run")),
                        names.isEmpty() ? QStringLiteral("（没有序列）")
                                        : QStringLiteral("（有：%1）").arg(names.join(QStringLiteral("、")))));
        }
        sequence = *found;
        if (sequence.runs == 0) {
            sequence.runs = 1;
        }
    }
    const std::optional<Sequence> written = commandLineSequence(arguments, &error);
    if (!written) {
        return cannotStart(error);
    }
    if (named && !written->steps.isEmpty()) {
        return cannotStart(QStringLiteral("--run 和 --send/--send-key/--expect/--wait 不能同时使用"));
    }
    if (!named) {
        if (written->steps.isEmpty()) {
            return cannotStart(
                QStringLiteral("没有要运行的序列：用 --run 名称，或 --send、--expect 等写一个（comkeys --help）"));
        }
        sequence = *written;
    }
    if (parser.isSet(QStringLiteral("repeat"))) {
        sequence.runs = parser.value(QStringLiteral("repeat")).toInt();
    }

    // The line, opened as the window's open button does.
    SharedState state;
    SilentDialogs dialogs;
    UartCom uart(environment.portFolders);
    SerialLink link(state, uart, dialogs);
    link.setAutoReconnect(false);
    AutomationEngine engine(link, keys);
    const bool cr = parser.isSet(QStringLiteral("cr"));
    engine.setAppendCr([cr] { return cr; });
    link.openPressed(
        parser.isSet(QStringLiteral("port")) ? parser.value(QStringLiteral("port")) : QStringLiteral("COM1"),
        parser.isSet(QStringLiteral("line")) ? parser.value(QStringLiteral("line")) : QStringLiteral("9600"));
    if (link.status() == SerialLink::Status::Connecting) {
        // A network port connects in the background and always ends in a status of its own (an
        // unreachable host after a few seconds).
        QEventLoop connecting;
        QObject::connect(&link, &SerialLink::statusChanged, &connecting, [&link, &connecting] {
            if (link.status() != SerialLink::Status::Connecting) {
                connecting.quit();
            }
        });
        connecting.exec();
    }
    if (link.status() != SerialLink::Status::Opened) {
        return cannotStart(QStringLiteral("串口没有打开：%1").arg(link.statusDetail()));
    }
    QObject::connect(&link, &SerialLink::statusChanged, &link, [&link] {
        if (link.status() == SerialLink::Status::Lost) {
            err(QStringLiteral("comkeys: 串口设备已断开：%1").arg(link.statusDetail()));
        }
    });
    Run runner(link, engine, parser);
    const int code = runner.exec(sequence);
    link.closePressed();
    return code;
}

} // namespace comkeys::cli
