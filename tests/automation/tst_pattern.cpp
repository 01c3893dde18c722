#include "MatchSet.h"
#include "Pattern.h"

#include <QTest>

using namespace comkeys;

class TestPattern : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void matchesOnceWhereverTheStreamIsCut_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("matches");
        QTest::newRow("text") << "OK" << QByteArray("xxOK\ryy") << 1;
        QTest::newRow("two in one chunk") << "OK" << QByteArray("OK\rOK\r") << 2;
        QTest::newRow("overlap counts once") << "aa" << QByteArray("aaa") << 1;
        QTest::newRow("overlap, twice") << "aa" << QByteArray("aaaa") << 2;
        QTest::newRow("prefix repeats") << "abab" << QByteArray("abababab") << 2;
        QTest::newRow("case as written") << "ok" << QByteArray("OK ok Ok") << 1;
        QTest::newRow("no case") << "nocase:ok" << QByteArray("OK ok Ok") << 3;
        QTest::newRow("text looking like a prefix") << "text:re:x" << QByteArray("re:x rex") << 1;
        QTest::newRow("hex") << "hex:0D 0a" << QByteArray("a\r\nb\r\n\r") << 2;
        QTest::newRow("hex high bytes") << "hex:FF00" << QByteArray("\xFF\x00\xFF\xFF\x00", 5) << 2;
        QTest::newRow("regex") << "re:\\d+\\r" << QByteArray("12\r345\r6") << 2;
        QTest::newRow("regex waits while it could grow") << "re:\\d+" << QByteArray("12 345 6") << 2;
        QTest::newRow("regex line start") << "re:^AT" << QByteArray("AT\rxAT\r\nAT") << 2;
        QTest::newRow("regex line end") << "re:OK$" << QByteArray("OK\r\nOKx\nOK\r") << 2;
        QTest::newRow("regex whole line") << "re:^OK$" << QByteArray("OK\rNOK\rOK\n") << 2;
        QTest::newRow("regex high byte") << "re:\\xFF+!" << QByteArray("\xFF\xFF!") << 1;
    }

    void matchesOnceWhereverTheStreamIsCut()
    {
        QFETCH(QString, pattern);
        QFETCH(QByteArray, stream);
        QFETCH(int, matches);
        QString error;
        const std::optional<Pattern> p = Pattern::parse(pattern, &error);
        QVERIFY2(p, qPrintable(error));
        for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
            StreamMatcher m(*p);
            const int found = m.feed(stream.first(cut)) + m.feed(stream.sliced(cut));
            QVERIFY2(found == matches, qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(found)));
        }
        StreamMatcher bytewise(*p);
        int found = 0;
        for (char c : stream) {
            found += bytewise.feed(QByteArrayView(&c, 1));
        }
        QCOMPARE(found, matches);
        // Written back, it reads as the same pattern.
        QCOMPARE(Pattern::parse(p->toString())->toString(), p->toString());
    }

    void refusesWithAReason_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::newRow("empty") << "";
        QTest::newRow("empty regex") << "re:";
        QTest::newRow("bad regex") << "re:(OK";
        QTest::newRow("regex matching nothing") << "re:x*";
        QTest::newRow("odd hex") << "hex:0D 0";
        QTest::newRow("not hex") << "hex:0G";
        QTest::newRow("wide character") << QStringLiteral("确定");
    }

    void refusesWithAReason()
    {
        QFETCH(QString, pattern);
        QString error;
        QVERIFY(!Pattern::parse(pattern, &error));
        QVERIFY(!error.isEmpty());
    }

    // Many patterns in one pass count exactly as each does alone, wherever the stream is cut.
    void matchSetCountsAsEachAlone_data()
    {
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<QByteArray>("stream");
        QTest::newRow("text, no case, hex") << QStringList { "OK", "nocase:ok", "hex:0D 0A", "nocase:K\r" }
                                            << QByteArray("OK\r\nok\r\nOk\rxOKk\r\n");
        QTest::newRow("text only, long gaps") << QStringList { "abc", "bcd", "c" }
                                              << QByteArray("zzzzzzzzabcdzzzzzzzzzabzzzzzzbcdzzzzzc");
        QTest::newRow("no case only, long gaps") << QStringList { "nocase:aB", "nocase:b" }
                                                 << QByteArray("zzzzzzzzAbzzzzzzzzzzaBzzzzzzzzB");
        QTest::newRow("regexes joined") << QStringList { "re:^[A-Z]{2}\\d", "re:(?i)ok$", "re:\\d+x", "re:^x|3", "OK" }
                                        << QByteArray("AB1 ok\rCD2\nOK\r12x 3");
        QTest::newRow("regexes at line start") << QStringList { "re:^AB", "re:^C+D$", "xy" }
                                               << QByteArray("AB\nCCD xAB\r\nCD\rxy");
        QTest::newRow("regexes looking around") << QStringList { "re:(?<=x)ab", "re:\\Bcd", "re:^ef" }
                                                << QByteArray("xab ab\nxcd cd\nef");
        QTest::newRow("regexes left alone") << QStringList { "re:(b)\\1", "re:b+c", "re:a{2}", "re:#" }
                                            << QByteArray("bb# xaa bbc");
    }

    void matchSetCountsAsEachAlone()
    {
        QFETCH(QStringList, patterns);
        QFETCH(QByteArray, stream);
        QList<Pattern> parsed;
        for (const QString& written : patterns) {
            parsed << *Pattern::parse(written);
        }
        for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
            MatchSet set(parsed);
            std::vector<int> together(std::size_t(parsed.size()), 0);
            for (QByteArrayView part : { QByteArrayView(stream).first(cut), QByteArrayView(stream).sliced(cut) }) {
                const std::vector<int>& hits = set.feed(StreamMatcher::Chunk(part));
                for (std::size_t i = 0; i < hits.size(); ++i) {
                    together[i] += hits[i];
                }
            }
            for (int i = 0; i < parsed.size(); ++i) {
                StreamMatcher alone(parsed[i]);
                QVERIFY2(together[std::size_t(i)] == alone.feed(stream),
                    qPrintable(QStringLiteral("%1, cut at %2").arg(patterns[i]).arg(cut)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestPattern)
#include "tst_pattern.moc"
