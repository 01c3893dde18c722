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
};

QTEST_GUILESS_MAIN(TestPattern)
#include "tst_pattern.moc"
