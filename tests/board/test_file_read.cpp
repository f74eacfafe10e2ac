// The whole-file reader: what cannot be read, or holds more than its kind
// ever does, is damaged and never handed on; nothing throws or blocks.
#include <QtTest>

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "board/file_read.h"

using board::FileRead;

Q_DECLARE_METATYPE(FileRead)

class TestFileRead : public QObject
{
    Q_OBJECT
    QTemporaryDir dir_;

  private slots:
    void kinds_data()
    {
        QTest::addColumn<QString>("make");
        QTest::addColumn<FileRead>("result");
        QTest::addColumn<int>("size");
        QTest::newRow("missing") << "none" << FileRead::missing << 0;
        QTest::newRow("below a file") << "under a file" << FileRead::missing << 0;
        QTest::newRow("empty") << "bytes 0" << FileRead::whole << 0;
        QTest::newRow("at the bound") << "bytes 100" << FileRead::whole << 100;
        QTest::newRow("over the bound") << "bytes 101" << FileRead::damaged << 0;
        QTest::newRow("folder") << "folder" << FileRead::damaged << 0;
        QTest::newRow("fifo") << "fifo" << FileRead::damaged << 0;
    }
    void kinds()
    {
        QFETCH(QString, make);
        QFETCH(FileRead, result);
        QFETCH(int, size);
        QString path = dir_.filePath(QTest::currentDataTag());
        if (make.startsWith("bytes")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(make.section(' ', 1).toInt(), 'x'));
        }
        if (make == "folder")
            QVERIFY(QDir().mkpath(path));
        if (make == "fifo")
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        if (make == "under a file") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            path += "/inside";
        }
        QByteArray out("left over");
        QCOMPARE(board::read_whole(QFile::encodeName(path).toStdString(), 100, &out), result);
        QCOMPARE(out, QByteArray(size, 'x'));
    }
};

QTEST_GUILESS_MAIN(TestFileRead)
#include "test_file_read.moc"
