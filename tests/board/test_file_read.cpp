// The whole-file reader: what holds more than its kind ever does, or is no
// plain file, is damaged and never handed on; nothing blocks.
#include <QtTest>

#include <sys/stat.h>

#include "board/file_read.h"
#include "support/sim_fixture.h"

class TestFileRead : public QObject
{
    Q_OBJECT
    QTemporaryDir dir_;

  private slots:
    void kinds_data()
    {
        QTest::addColumn<int>("bytes"); // -1: a folder, -2: a FIFO
        QTest::addColumn<bool>("whole");
        QTest::newRow("at the bound") << 100 << true;
        QTest::newRow("over the bound") << 101 << false;
        QTest::newRow("folder") << -1 << false;
        QTest::newRow("fifo") << -2 << false;
    }
    void kinds()
    {
        QFETCH(int, bytes);
        QFETCH(bool, whole);
        const QString path = dir_.filePath(QTest::currentDataTag());
        QVERIFY(bytes < 0 || writeHostFile(path, QByteArray(bytes, 'x')));
        QVERIFY(bytes != -1 || QDir().mkpath(path));
        QVERIFY(bytes != -2 || mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
        QByteArray out("left over");
        const board::FileRead read = board::read_whole(QFile::encodeName(path).toStdString(), 100, &out);
        QVERIFY(read == (whole ? board::FileRead::whole : board::FileRead::damaged));
        QCOMPARE(out, QByteArray(whole ? bytes : 0, 'x'));
    }
};

QTEST_GUILESS_MAIN(TestFileRead)
#include "test_file_read.moc"
