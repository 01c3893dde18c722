// Repeat timing and answer-rule cost against the simulator over real pseudo-terminals.
//   bench_automation              all workloads
//   bench_automation ticks        500 ticks at 20 ms: lateness median / p99 / max, total time
//   bench_automation late         a device that answers 100 ms late and reads slowly: skips, no burst
//   bench_automation rules [SECS] a full-speed flood with no rules, then with 100: drain ratio, stalls
#include "ScriptedDialogs.h"
#include "BenchTools.h"
#include "FloodRules.h"
#include "AutomationEngine.h"
#include "DeviceSimulator.h"
#include "KeyTable.h"
#include "SerialLink.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

using namespace comkeys;

namespace {

using SilentDialogs = test::ScriptedDialogs; // answers No, cancels every file dialog

struct Line {
    SharedState state;
    SilentDialogs dialogs;
    UartCom uart { QStringList() };
    SerialLink link { state, uart, dialogs };
    KeyTable keys;
    AutomationEngine engine { link, keys };
};

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

int runTicks()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dev"));
    std::unique_ptr<QProcess> sim(test::startSimulator(nullptr, { QStringLiteral("--link"), path }));
    if (!sim) {
        return 1;
    }
    Line line;
    line.keys.setCommand(0, QStringLiteral("\"AT\""));
    line.engine.setAppendCr([] { return true; });
    line.link.openPressed(path, QStringLiteral("115200"));
    if (line.link.status() != SerialLink::Status::Opened) {
        return 1;
    }
    constexpr int Ticks = 500;
    constexpr int Interval = 20;
    std::vector<double> late;
    QElapsedTimer clock;
    qint64 lastNs = 0;
    QObject::connect(&line.engine, &AutomationEngine::repeatSent, [&](int, qint64 tick) {
        lastNs = clock.nsecsElapsed();
        late.push_back(double(lastNs - tick * Interval * 1'000'000LL) / 1e6);
    });
    clock.start();
    if (!line.engine.startRepeat({ 0, Interval, Ticks, std::nullopt })) {
        return 1;
    }
    qint64 skipped = 0;
    while (line.engine.isRepeating(0)) {
        skipped = line.engine.repeatState(0)->skipped;
        wait(5);
    }
    wait(200);
    sim->kill();
    sim->waitForFinished();
    const qint64 sends = line.link.transcript().rows().size();
    std::printf("ticks: %d at %d ms: %lld sent, %zu on time-stamps, last at %.1f ms (limit %d)\n", Ticks, Interval,
        static_cast<long long>(sends), late.size(), double(lastNs) / 1e6, Ticks * Interval);
    std::printf("ticks: %lld skipped (a deadline passed before its turn)\n", static_cast<long long>(skipped));
    std::printf("ticks: lateness median %.3f ms, p99 %.3f ms, max %.3f ms (targets: median <= 1, p99 <= 5)\n",
        percentile(late, 0.5), percentile(late, 0.99), percentile(late, 1.0));
    return 0;
}

int runLate()
{
    DeviceSimulator device;
    if (!device.start()) {
        return 1;
    }
    device.setReplyDelay(100);
    Line line;
    const QString big = u'"' + QString(250, u'x') + u'"';
    line.keys.setCommand(0, big);
    line.link.openPressed(device.devicePath(), QStringLiteral("115200"));
    if (line.link.status() != SerialLink::Status::Opened) {
        return 1;
    }
    // A line that takes 2000 bytes a second while every tick offers 250 in 20 ms: filled first.
    device.setReadRate(2000);
    device.setReading(false);
    for (int i = 0; i < 4000 && line.uart.queuedBytes() < 4000; ++i) {
        (void)line.link.sendCommand(big, false, {});
        QCoreApplication::processEvents();
    }
    device.setReading(true);
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> at;
    QObject::connect(&line.engine, &AutomationEngine::repeatSent, [&](int, qint64) { at.push_back(clock.elapsed()); });
    if (!line.engine.startRepeat({ 0, 20, 0, std::nullopt })) {
        return 1;
    }
    wait(3000);
    const auto state = *line.engine.repeatState(0);
    line.engine.stopRepeat(0);
    qint64 minGap = -1;
    for (std::size_t i = 1; i < at.size(); ++i) {
        minGap = minGap < 0 ? at[i] - at[i - 1] : std::min(minGap, at[i] - at[i - 1]);
    }
    std::printf("late device (replies 100 ms late, reads 2000 bytes/s): 3 s at 20 ms (150 ticks): %lld sent, "
                "%lld skipped, smallest gap between sends %lld ms (a burst would be 0)\n",
        static_cast<long long>(state.sent), static_cast<long long>(state.skipped), static_cast<long long>(minGap));
    return 0;
}

// Bytes the link took in `seconds` of a full-speed flood, and the longest gap of the event loop.
std::pair<double, double> flood(Line& line, double seconds)
{
    const qint64 before = line.link.record().receivedTotal();
    QElapsedTimer clock;
    clock.start();
    const test::LoopGaps gaps(1);
    wait(int(seconds * 1000));
    const double rate = double(line.link.record().receivedTotal() - before) / (double(clock.nsecsElapsed()) / 1e9);
    return { rate, gaps.longestGapMs() };
}

int runRules(double seconds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dev"));
    std::unique_ptr<QProcess> sim(test::startSimulator(
        nullptr, { QStringLiteral("--link"), path, QStringLiteral("--flood"), QStringLiteral("0"), QStringLiteral("--pattern"), QStringLiteral("crlf") }));
    if (!sim) {
        return 1;
    }
    Line line;
    line.link.openPressed(path, QStringLiteral("115200"));
    if (line.link.status() != SerialLink::Status::Opened) {
        return 1;
    }
    wait(300); // the flood under way
    // Without rules, with text and hex rules, with a third regular expressions: in turns, three
    // rounds, so that a machine busy with other work slows all alike; the median of each.
    std::array<std::vector<double>, 3> rates;
    double worstGap = 0;
    qint64 fired = 0;
    for (int round = 0; round < 3; ++round) {
        for (std::size_t kind = 0; kind < rates.size(); ++kind) {
            line.engine.setRules(kind == 0 ? QList<AnswerRule>() : test::floodRules(kind == 2));
            const auto [rate, gap] = flood(line, seconds);
            rates[kind].push_back(rate);
            worstGap = std::max(worstGap, gap);
            for (int i = 0; kind > 0 && i < 100; ++i) {
                fired += line.engine.ruleState(i).fired;
            }
        }
    }
    for (std::vector<double>& r : rates) {
        std::sort(r.begin(), r.end());
    }
    std::printf("rules: flood without rules %.1f MB/s; 100 rules, text and hex: %.1f MB/s, drain ratio %.2f; a third "
                "regular expressions: %.1f MB/s, drain ratio %.2f (target >= 0.8); longest loop gap %.1f ms (target "
                "<= 16), %lld firings\n",
        rates[0][1] / 1e6, rates[1][1] / 1e6, rates[1][1] / rates[0][1], rates[2][1] / 1e6, rates[2][1] / rates[0][1],
        worstGap, static_cast<long long>(fired));
    sim->kill();
    sim->waitForFinished();
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString which = args.value(0, QStringLiteral("all"));
    const double seconds = args.value(1, QStringLiteral("3")).toDouble();
    std::printf("bench_automation (timings depend on the machine's load)\n");
    int failed = 0;
    if (which == u"all" || which == u"ticks") {
        failed += runTicks();
    }
    if (which == u"all" || which == u"late") {
        failed += runLate();
    }
    if (which == u"all" || which == u"rules") {
        failed += runRules(seconds > 0 ? seconds : 3);
    }
    return failed ? 1 : 0;
}
