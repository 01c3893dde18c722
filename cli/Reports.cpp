#include "Reports.h"

#include "LineRecord.h"

#include <QMap>
#include <QSysInfo>
#include <QXmlStreamWriter>

namespace comkeys::cli {

namespace {
    QString seconds(qint64 ms) { return QString::number(double(ms) / 1000.0, 'f', 3); }
} // namespace

QString stepLine(const StepRecord& r)
{
    const AutomationEngine::StepResult& s = r.result;
    return QStringList { r.finished.time().toString(QStringLiteral("hh:mm:ss.zzz")),
        QStringLiteral("%1:%2").arg(s.run).arg(s.step + 1), r.step, printableBytes(s.sent), printableBytes(s.reply),
        AutomationEngine::verdictText(s.verdict), QStringLiteral("%1 ms").arg(s.ms) }
        .join(u'\t');
}

QByteArray junitReport(const QString& sequence, const QList<StepRecord>& steps, const QDateTime& started)
{
    QMap<int, QList<const StepRecord*>> runs;
    for (const StepRecord& r : steps) {
        runs[r.result.run]; // a run without expects still gets its (empty) suite
        if (r.isExpect) {
            runs[r.result.run].append(&r);
        }
    }
    int tests = 0;
    int failures = 0;
    qint64 totalMs = 0;
    for (const StepRecord& r : steps) {
        totalMs += r.result.ms;
        if (r.isExpect) {
            ++tests;
            failures += r.result.verdict != AutomationEngine::Verdict::Passed;
        }
    }
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), sequence);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("time"), seconds(totalMs));
    const QString host = QSysInfo::machineHostName();
    int id = 0;
    for (auto it = runs.cbegin(); it != runs.cend(); ++it) {
        qint64 suiteMs = 0;
        int suiteFailures = 0;
        QDateTime suiteStart = started;
        for (const StepRecord& r : steps) {
            if (r.result.run == it.key()) {
                suiteMs += r.result.ms;
            }
        }
        for (const StepRecord* r : it.value()) {
            suiteFailures += r->result.verdict != AutomationEngine::Verdict::Passed;
        }
        for (const StepRecord& r : steps) {
            if (r.result.run == it.key()) {
                suiteStart = r.finished.addMSecs(-r.result.ms);
                break;
            }
        }
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), QStringLiteral("%1 #%2").arg(sequence).arg(it.key()));
        xml.writeAttribute(QStringLiteral("package"), QStringLiteral("comkeys"));
        xml.writeAttribute(QStringLiteral("id"), QString::number(id++));
        xml.writeAttribute(QStringLiteral("timestamp"), suiteStart.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")));
        xml.writeAttribute(QStringLiteral("hostname"), host.isEmpty() ? QStringLiteral("localhost") : host);
        xml.writeAttribute(QStringLiteral("tests"), QString::number(it.value().size()));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(suiteFailures));
        xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("skipped"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("time"), seconds(suiteMs));
        xml.writeEmptyElement(QStringLiteral("properties"));
        for (const StepRecord* r : it.value()) {
            xml.writeStartElement(QStringLiteral("testcase"));
            xml.writeAttribute(
                QStringLiteral("name"), QStringLiteral("第%1步 %2").arg(r->result.step + 1).arg(r->step));
            xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("comkeys.") + sequence);
            xml.writeAttribute(QStringLiteral("time"), seconds(r->result.ms));
            if (r->result.verdict != AutomationEngine::Verdict::Passed) {
                xml.writeStartElement(QStringLiteral("failure"));
                xml.writeAttribute(QStringLiteral("type"), AutomationEngine::verdictText(r->result.verdict));
                xml.writeAttribute(QStringLiteral("message"), r->result.detail);
                xml.writeCharacters(
                    QStringLiteral("期望：%1\n收到：%2").arg(r->expected, printableBytes(r->result.reply)));
                xml.writeEndElement();
            }
            xml.writeEndElement();
        }
        xml.writeTextElement(QStringLiteral("system-out"), QString());
        xml.writeTextElement(QStringLiteral("system-err"), QString());
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

} // namespace comkeys::cli
