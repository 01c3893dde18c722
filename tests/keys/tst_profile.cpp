#include "IniValue.h"
#include "Profile.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace comkeys;
using comkeys::test::readAll;
using comkeys::test::writeAll;

namespace {
QByteArray gb(const QString& s)
{
    QStringEncoder e("GB18030");
    return e.encode(s);
}

} // namespace

class TestProfile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }

    void write_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("new file") << QByteArray() << "S" << "k" << "v" << QByteArray("[S]\r\nk=v\r\n");
        QTest::newRow("section appended, no blank line")
            << QByteArray("[A]\r\nx=1\r\n") << "B" << "k" << "v" << QByteArray("[A]\r\nx=1\r\n[B]\r\nk=v\r\n");
        QTest::newRow("line end added before a new section")
            << QByteArray("[A]\r\nx=1") << "B" << "k" << "v" << QByteArray("[A]\r\nx=1\r\n[B]\r\nk=v\r\n");
        QTest::newRow("key after the last key line, before blanks and comments")
            << QByteArray("[A]\r\nx=1\r\n\r\n;c\r\n[B]\r\ny=2\r\n") << "A" << "z" << "3"
            << QByteArray("[A]\r\nx=1\r\nz=3\r\n\r\n;c\r\n[B]\r\ny=2\r\n");
        QTest::newRow("existing key keeps its spelling, gets CR LF")
            << QByteArray("[Sec]\nKEY = old \nother=1\n") << "sec" << "key" << "new"
            << QByteArray("[Sec]\nKEY=new\r\nother=1\n");
        QTest::newRow("rewritten last line gains its line end")
            << QByteArray("[A]\rx=1") << "A" << "x" << "2" << QByteArray("[A]\rx=2\r\n");
        QTest::newRow("rewritten last line, then a new key")
            << QByteArray("[A]\r\nx=1") << "A" << "x" << "2" << QByteArray("[A]\r\nx=2\r\n");
        QTest::newRow("an unchanged value keeps its bytes and line end")
            << QByteArray("[A]\nk=v\n") << "A" << "k" << "v" << QByteArray("[A]\nk=v\n");
        QTest::newRow("untouched lines stay byte for byte")
            << QByteArray("; note \t\r[A]\rx = 1\r") << "A" << "y" << "2"
            << QByteArray("; note \t\r[A]\rx = 1\ry=2\r\n");
        QTest::newRow("only the first duplicate section counts")
            << QByteArray("[A]\r\nx=1\r\n[a]\r\nx=2\r\n") << "A" << "x" << "9"
            << QByteArray("[A]\r\nx=9\r\n[a]\r\nx=2\r\n");
        QTest::newRow("only the first duplicate key counts")
            << QByteArray("[A]\r\nx=1\r\nX=2\r\n") << "A" << "x" << "9" << QByteArray("[A]\r\nx=9\r\nX=2\r\n");
        QTest::newRow("line breaks in a value become blanks")
            << QByteArray() << "S" << "k" << "a\r\nb\rc\nd" << QByteArray("[S]\r\nk=a  b c d\r\n");
        QTest::newRow("header without line end")
            << QByteArray("[A]") << "A" << "x" << "1" << QByteArray("[A]\r\nx=1\r\n");
        QTest::newRow("byte-order mark kept")
            << QByteArray("\xEF\xBB\xBF[A]\r\n") << "A" << "x" << "1" << QByteArray("\xEF\xBB\xBF[A]\r\nx=1\r\n");
        QTest::newRow("value written as given")
            << QByteArray() << "S" << "k" << " \"v\" " << QByteArray("[S]\r\nk= \"v\" \r\n");
        QTest::newRow("UTF-8 text") << QByteArray() << "S" << "k" << "接收" << QByteArray("[S]\r\nk=接收\r\n");
        QTest::newRow("GB18030 file stays GB18030")
            << (QByteArray("[A]\r\nname=") + gb("宋体") + "\r\n") << "A" << "x" << "中"
            << (QByteArray("[A]\r\nname=") + gb("宋体") + "\r\nx=" + gb("中") + "\r\n");
        QTest::newRow("lines before the first section stay")
            << QByteArray("x=0\r\n") << "A" << "x" << "1" << QByteArray("x=0\r\n[A]\r\nx=1\r\n");
        QTest::newRow("a line without '=' counts as content")
            << QByteArray("[A]\r\njunk\r\n\r\n") << "A" << "x" << "1" << QByteArray("[A]\r\njunk\r\nx=1\r\n\r\n");
    }

    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        const QString path = m_dir.filePath(QStringLiteral("p.ini"));
        QFile::remove(path);
        if (!before.isNull()) {
            writeAll(path, before);
        }
        WriteIniValue(path, section, key, value);
        QCOMPARE(readAll(path), after);
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QString M = Marker;
        QTest::newRow("CR line ends") << QByteArray("[A]\rk=1\rj=2") << "A" << "j" << "2";
        QTest::newRow("LF line ends") << QByteArray("[A]\nk=1\nj=2\n") << "A" << "k" << "1";
        QTest::newRow("last line without end") << QByteArray("[A]\r\nk=last") << "A" << "k" << "last";
        QTest::newRow("names without regard to case") << QByteArray("[keyname]\r\nKey7=X\r\n") << "KeyName" << "key7" << "X";
        QTest::newRow("blanks around names and values")
            << QByteArray(" \t[ A ] \r\n \tk \t= \t v v \t\r\n") << "A" << "k" << "v v";
        QTest::newRow("value after the first '='") << QByteArray("[A]\r\nk=a=b\r\n") << "A" << "k" << "a=b";
        QTest::newRow("comment lines skipped") << QByteArray("[A]\r\n;k=1\r\nk=2\r\n") << "A" << "k" << "2";
        QTest::newRow("header ends at its first ]") << QByteArray("[A]x]\r\nk=1\r\n") << "A" << "k" << "1";
        QTest::newRow("double quotes removed") << QByteArray("[A]\r\nk=\"AT\"\r\n") << "A" << "k" << "AT";
        QTest::newRow("single quotes removed") << QByteArray("[A]\r\nk='AT'\r\n") << "A" << "k" << "AT";
        QTest::newRow("mismatched quotes stay") << QByteArray("[A]\r\nk=\"AT'\r\n") << "A" << "k" << "\"AT'";
        QTest::newRow("lone quote stays") << QByteArray("[A]\r\nk=\"\r\n") << "A" << "k" << "\"";
        QTest::newRow("spaces inside quotes kept") << QByteArray("[A]\r\nk= \" AT \" \r\n") << "A" << "k" << " AT ";
        QTest::newRow("only one pair removed") << QByteArray("[A]\r\nk=\"\"x\"\"\r\n") << "A" << "k" << "\"x\"";
        QTest::newRow("two spaces either side") << QByteArray("[A]\r\nk=  Reset  \r\n") << "A" << "k" << "Reset";
        QTest::newRow("empty value") << QByteArray("[A]\r\nk=\r\n") << "A" << "k" << M;
        QTest::newRow("spaces only") << QByteArray("[A]\r\nk=    \r\n") << "A" << "k" << M;
        QTest::newRow("empty quotes") << QByteArray("[A]\r\nk=\"\"\r\n") << "A" << "k" << M;
        QTest::newRow("stored marker") << QByteArray("[A]\r\nk=Kestrelbay\r\n") << "A" << "k" << M;
        QTest::newRow("missing key") << QByteArray("[A]\r\nk=1\r\n") << "A" << "j" << M;
        QTest::newRow("missing section") << QByteArray("[A]\r\nk=1\r\n") << "B" << "k" << M;
        QTest::newRow("entries before any section are no section's")
            << QByteArray("k=0\r\n[A]\r\n") << "A" << "k" << M;
        QTest::newRow("first duplicate key") << QByteArray("[A]\r\nk=1\r\nK=2\r\n") << "A" << "k" << "1";
        QTest::newRow("first duplicate section") << QByteArray("[A]\r\n[A]\r\nk=2\r\n") << "A" << "k" << M;
        QTest::newRow("byte-order mark skipped") << QByteArray("\xEF\xBB\xBF[A]\r\nk=1\r\n") << "A" << "k" << "1";
        QTest::newRow("GB18030 caption") << (QByteArray("[A]\r\nk=") + gb("复位") + "\r\n") << "A" << "k" << "复位";
        QTest::newRow("long value whole")
            << (QByteArray("[A]\r\nk=") + QByteArray(300, 'x') + "\r\n") << "A" << "k" << QString(300, u'x');
    }

    void read()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const QString path = m_dir.filePath(QStringLiteral("r.ini"));
        writeAll(path, file);
        QCOMPARE(ReadIniValue(path, section, key), expected);
    }

    void missingFileReadsMarkerAndCreatesNothing()
    {
        const QString path = m_dir.filePath(QStringLiteral("none/x.ini"));
        QCOMPARE(ReadIniValue(path, QStringLiteral("A"), QStringLiteral("k")), Marker);
        WriteIniValue(path, QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("v"));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("none"))));
    }

    void writeReplacesTheFileAtomically()
    {
        // A hard link still sees the old file: the new content arrived by rename, not by an
        // in-place rewrite that a crash could leave half done.
        const QString path = m_dir.filePath(QStringLiteral("atomic.ini"));
        const QString link = m_dir.filePath(QStringLiteral("atomic-old.ini"));
        writeAll(path, "[A]\r\nk=1\r\n");
        QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()), 0);
        WriteIniValue(path, QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2"));
        QCOMPARE(readAll(path), QByteArray("[A]\r\nk=2\r\n"));
        QCOMPARE(readAll(link), QByteArray("[A]\r\nk=1\r\n"));
        const QStringList left = QDir(m_dir.path()).entryList({ QStringLiteral("atomic*") }, QDir::Files);
        QCOMPARE(left.size(), 2); // no temporary file left behind
    }

    void cutOffCharacterAtTheEnd()
    {
        // A file ending inside a multi-byte character is not UTF-8: it is read, and written, as
        // GB18030 from the first write on, so the section found before the write is found after.
        const QString path = m_dir.filePath(QStringLiteral("cut.ini"));
        writeAll(path, QByteArray("[KeySend\t\xCF"));
        WriteIniValue(path, QStringLiteral("KeySend"), QStringLiteral("Send7"), QStringLiteral("\" AT \""));
        QCOMPARE(ReadIniValue(path, QStringLiteral("KeySend"), QStringLiteral("Send7")), QStringLiteral(" AT "));
        QVERIFY(readAll(path).startsWith(QByteArray("[KeySend\t\xCF")));
    }

    void unreadableTargetIsNotOverwritten()
    {
        // A folder where the profile should be: reading fails, so nothing may be written.
        const QString path = m_dir.filePath(QStringLiteral("adir.ini"));
        QVERIFY(QDir().mkpath(path));
        WriteIniValue(path, QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("v"));
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(ReadIniValue(path, QStringLiteral("A"), QStringLiteral("k")), Marker);
    }

    void hostileFilesReadAsDefaults_data()
    {
        QTest::addColumn<QByteArray>("file");
        QByteArray binary;
        for (int i = 0; i < 65536; ++i) {
            binary.append(char((i * 7919) & 0xFF));
        }
        QTest::newRow("binary") << binary;
        QTest::newRow("7 MB line") << QByteArray(7 * 1024 * 1024, 'k');
        QTest::newRow("NUL bytes") << QByteArray("[KeySend]\r\nSend1=\0\0\0\r\n\0[\0]\0", 26);
        QTest::newRow("invalid encoding") << QByteArray("[A]\r\nk=\xFF\xFE\x80\x81\r\n");
        QByteArray many;
        for (int i = 0; i < 100000; ++i) {
            many += "[S" + QByteArray::number(i) + "]\r\nk=v\r\n";
        }
        QTest::newRow("100 000 sections") << many;
    }

    void hostileFilesReadAsDefaults()
    {
        QFETCH(QByteArray, file);
        const QString path = m_dir.filePath(QStringLiteral("hostile.ini"));
        writeAll(path, file);
        QCOMPARE(ReadIniValue(path, QStringLiteral("KeyName"), QStringLiteral("key1")), Marker);
        // Writing still edits in place and keeps what it does not understand.
        QVERIFY(WriteIniValue(path, QStringLiteral("KeyName"), QStringLiteral("key1"), QStringLiteral("K")));
        QCOMPARE(ReadIniValue(path, QStringLiteral("KeyName"), QStringLiteral("key1")), QStringLiteral("K"));
        QVERIFY(readAll(path).startsWith(file.left(1000)));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"
