#include "RecordSearch.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

#include <ctime>

using namespace comkeys;

Q_DECLARE_METATYPE(ColourRule::Kind)
Q_DECLARE_METATYPE(RecordView)

namespace {
QString described(const std::deque<RecordMatch>& matches)
{
    QStringList list;
    for (const RecordMatch& m : matches) {
        list << QStringLiteral("%1:%2:%3").arg(m.entry).arg(m.offset).arg(m.length);
    }
    return list.join(u' ');
}

bool waitComplete(const RecordSearch& search)
{
    return QTest::qWaitFor([&] { return search.isComplete(); }, 10000);
}
} // namespace

class TestRecordSearch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void findsWhatTheViewShows_data()
    {
        QTest::addColumn<RecordView>("view");
        QTest::addColumn<ColourRule::Kind>("kind");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QString>("found"); // entry:offset:length of each match

        const auto text = RecordView::Text;
        QTest::newRow("across chunks") << text << ColourRule::Kind::Text << "ERROR" << true
                                       << QList<QByteArray> { "abc ER", "ROR x\r\n", "ERROR" } << "0:4:5 2:0:5";
        QTest::newRow("case ignored") << text << ColourRule::Kind::Text << "error" << false
                                      << QList<QByteArray> { "error Error eRRor" } << "0:0:5 0:6:5 0:12:5";
        QTest::newRow("case kept") << text << ColourRule::Kind::Text << "Error" << true
                                   << QList<QByteArray> { "error Error" } << "0:6:5";
        QTest::newRow("regex at line starts") << text << ColourRule::Kind::Regex << "^ERR \\d" << true
                                              << QList<QByteArray> { "OK\nERR 1\n", "xERR 2\nERR 3" } << "0:3:5 1:7:5";
        QTest::newRow("text view has no carriage returns") << text << ColourRule::Kind::Text << "a\nb" << true
                                                           << QList<QByteArray> { "a\r", "\nb" } << "0:0:3";
        QTest::newRow("hex bytes in the text view") << text << ColourRule::Kind::Hex << "4F 4B" << true
                                                    << QList<QByteArray> { "xO", "K" } << "0:1:2";
        QTest::newRow("hex view has them") << RecordView::Hex << ColourRule::Kind::Hex << "0d0a" << true
                                           << QList<QByteArray> { "a\r", "\nb\r\n" } << "0:1:2 1:2:2";
        QTest::newRow("timestamps") << RecordView::Timestamps << ColourRule::Kind::Regex
                                    << "\\d\\d:\\d\\d:\\d\\d\\.\\d{3} OK" << true
                                    << QList<QByteArray> { "OK\n", "OK", "OK" } << "0:0:15 1:0:15 2:0:15";
    }

    void findsWhatTheViewShows()
    {
        QFETCH(RecordView, view);
        QFETCH(ColourRule::Kind, kind);
        QFETCH(QString, pattern);
        QFETCH(bool, caseSensitive);
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QString, found);
        const std::optional<SearchPattern> p = SearchPattern::compile(kind, pattern, caseSensitive);
        QVERIFY(p);

        // Searched after the data came, on the search's thread ...
        LineRecord before;
        for (const QByteArray& chunk : chunks) {
            before.addReceived(chunk, 1000);
        }
        RecordSearch search(before);
        search.start(*p, view, 0);
        QVERIFY(waitComplete(search));
        QCOMPARE(described(search.matches()), found);

        // ... and as it comes.
        LineRecord live;
        RecordSearch following(live);
        following.start(*p, view, 0);
        QVERIFY(waitComplete(following));
        for (const QByteArray& chunk : chunks) {
            live.addReceived(chunk, 1000);
        }
        QCOMPARE(described(following.matches()), found);
    }

    void clockFollowsAHalfHourZoneIntoDaylightSaving()
    {
        // Adelaide moves from +9:30 to +10:30 at 16:30 UTC: two entries in the same UTC hour,
        // either side of it, show 01:50 and 03:10.
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "Australia/Adelaide");
        tzset();
        const qint64 change = QDateTime(QDate(2026, 10, 3), QTime(16, 30), Qt::UTC).toMSecsSinceEpoch();
        LineRecord record;
        record.addReceived("A", change - 600000);
        record.addReceived("B", change + 600000);
        QStringList found;
        for (const QString& clock : { QStringLiteral("01:50:00.000 A"), QStringLiteral("03:10:00.000 B") }) {
            RecordSearch search(record);
            search.start(*SearchPattern::compile(ColourRule::Kind::Text, clock, true), RecordView::Timestamps, 0);
            QVERIFY(waitComplete(search));
            found << described(search.matches());
        }
        zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
        tzset();
        QCOMPARE(found, (QStringList { "0:0:14", "1:0:14" }));
    }

    void slicesJoinUp()
    {
        // 3 MB in 1000-byte chunks, every chunk boundary inside a match: the thread's slices of
        // a megabyte each must miss none and count none twice.
        LineRecord record;
        const QByteArray chunk = "OR" + QByteArray(995, '.') + "ERR";
        for (int i = 0; i < 3000; ++i) {
            record.addReceived(chunk, i);
        }
        RecordSearch search(record);
        search.start(*SearchPattern::compile(ColourRule::Kind::Text, QStringLiteral("ERROR"), true), RecordView::Text, 0);
        QVERIFY(waitComplete(search));
        QCOMPARE(search.count(), 2999);
        QCOMPARE(search.matches().front(), (RecordMatch { 0, 997, 5 }));
        QCOMPARE(search.matches().back(), (RecordMatch { 2998, 997, 5 }));
    }

    void followsTheTrimmedStart()
    {
        // A small record: what it drops leaves the count, what arrives joins it.
        LineRecord record(20 * (LineRecord::EntryCost + 10));
        for (int i = 0; i < 30; ++i) {
            record.addReceived("ERR " + QByteArray::number(i % 10) + "xxxxx", i);
        }
        RecordSearch search(record);
        search.start(*SearchPattern::compile(ColourRule::Kind::Regex, QStringLiteral("ERR \\d"), true), RecordView::Text, 0);
        QVERIFY(waitComplete(search));
        QCOMPARE(search.count(), 20);
        QCOMPARE(search.matches().front().entry, record.firstNumber());
        QSignalSpy changed(&search, &RecordSearch::changed);
        for (int i = 0; i < 5; ++i) {
            record.addReceived("nothing", 100 + i);
        }
        QCOMPARE(search.count(), 15);
        QVERIFY(!changed.isEmpty());
        QCOMPARE(search.matches().front().entry, record.firstNumber());
    }
};

QTEST_GUILESS_MAIN(TestRecordSearch)
#include "tst_recordsearch.moc"
