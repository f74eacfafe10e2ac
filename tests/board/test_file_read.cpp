// The whole-file reader: what holds more than its kind ever does is damaged,
// what cannot be read (a read error, no plain file) is told apart so that it
// is left alone; a head is read from files of any length; nothing blocks.
// The writer puts a file in place whole or leaves the old one, and leaves
// no temporary file either way.
#include <QtTest>

#include <sys/stat.h>

#include "board/file_read.h"
#include "support/read_faults.h"
#include "support/sim_fixture.h"

Q_DECLARE_METATYPE(board::FileRead)
Q_DECLARE_METATYPE(board::FileWrite)

class TestFileRead : public QObject
{
    Q_OBJECT
    QTemporaryDir dir_;

  private slots:
    void kinds_data()
    {
        QTest::addColumn<int>("bytes"); // -1: a folder, -2: a FIFO, -3: reads fail
        QTest::addColumn<board::FileRead>("whole");
        QTest::addColumn<board::FileRead>("head"); // the first 10 bytes
        using R = board::FileRead;
        QTest::newRow("shorter than the head") << 9 << R::whole << R::whole;
        QTest::newRow("at the bound") << 100 << R::whole << R::whole;
        QTest::newRow("over the bound") << 101 << R::damaged << R::whole;
        QTest::newRow("folder") << -1 << R::unreadable << R::unreadable;
        QTest::newRow("fifo") << -2 << R::unreadable << R::unreadable;
        QTest::newRow("read error") << -3 << R::unreadable << R::unreadable;
        QTest::newRow("missing") << -4 << R::missing << R::missing;
    }
    void kinds()
    {
        QFETCH(int, bytes);
        QFETCH(board::FileRead, whole);
        QFETCH(board::FileRead, head);
        const QString path = dir_.filePath(QTest::currentDataTag());
        const std::string host = QFile::encodeName(path).toStdString();
        QVERIFY(bytes < 0 || writeHostFile(path, QByteArray(bytes, 'x')));
        QVERIFY(bytes != -1 || QDir().mkpath(path));
        QVERIFY(bytes != -2 || mkfifo(host.c_str(), 0644) == 0);
        QVERIFY(bytes != -3 || writeHostFile(path, QByteArray(50, 'x')));
        if (bytes == -3)
            fail_reads_of(host);
        QByteArray out("left over"), first("left over");
        const board::FileRead read = board::read_whole(host, 100, &out);
        int64_t size = -1;
        const board::FileRead headRead = board::read_head(host, 10, &first, &size);
        fail_reads_of("");
        QCOMPARE(read, whole);
        QCOMPARE(headRead, head);
        QCOMPARE(out, QByteArray(read == board::FileRead::whole ? bytes : 0, 'x'));
        QCOMPARE(first, QByteArray(headRead == board::FileRead::whole ? std::min(bytes, 10) : 0, 'x'));
        QVERIFY(headRead != board::FileRead::whole || size == bytes);
    }

    void writes_data()
    {
        QTest::addColumn<QString>("before"); // what stands where the write goes
        QTest::addColumn<board::FileWrite>("result");
        using W = board::FileWrite;
        QTest::newRow("a new file in a new folder") << "" << W::written;
        QTest::newRow("over an old file") << "old" << W::written;
        QTest::newRow("a FIFO at the temporary name") << "fifo" << W::written;
        QTest::newRow("a folder in the file's place") << "folder" << W::failed;
        QTest::newRow("a file in the folder's place") << "no folder" << W::failed;
    }
    void writes()
    {
        QFETCH(QString, before);
        QFETCH(board::FileWrite, result);
        const QString folder = dir_.filePath(QTest::currentDataTag()), path = folder + "/target";
        const std::string host = QFile::encodeName(path).toStdString();
        QVERIFY(before != "old" || writeHostFile(path, "old"));
        QVERIFY(before != "fifo" || (QDir().mkpath(folder) && mkfifo(board::temporary_of(host).c_str(), 0644) == 0));
        QVERIFY(before != "folder" || QDir().mkpath(path));
        QVERIFY(before != "no folder" || writeHostFile(folder, "a file"));
        QCOMPARE(board::write_file(host, "new", 3, true), result);
        QCOMPARE(readHostFile(path), QByteArray(result == board::FileWrite::written ? "new" : ""));
        QVERIFY(!QFileInfo::exists(QString::fromStdString(board::temporary_of(host))));
    }
};

QTEST_GUILESS_MAIN(TestFileRead)
#include "test_file_read.moc"
