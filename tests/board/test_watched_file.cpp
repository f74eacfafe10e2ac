// A model file's changes as the kernel reports them: seen without the
// writer's help, never invented, and still seen once its folder is gone.
#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "board/sim/watched_file.h"

using board::sim::WatchedFile;

namespace
{
// Written by someone else: nothing tells the watch.
void writeBehindItsBack(const QString& path, const QByteArray& text)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(text), qint64(text.size()));
}

// Asks until the change shows, for at most five seconds.
bool changeShows(WatchedFile& file)
{
    for (int i = 0; i < 500; ++i) {
        if (file.changed())
            return true;
        QThread::msleep(10);
    }
    return false;
}
} // namespace

class TestWatchedFile : public QObject
{
    Q_OBJECT
  private slots:
    void changesAreReportedAndNothingElse()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("sim/faults");
        WatchedFile file(path.toStdString(), "# none\n");
        WatchedFile neighbour(dir.filePath("sim/cards").toStdString(), "\n");
        QVERIFY(file.changed());
        QVERIFY(!file.changed());
        QVERIFY(neighbour.changed());

        writeBehindItsBack(path, "fpga vbo\n");
        QVERIFY(changeShows(file));
        QVERIFY(!file.changed());
        QVERIFY(!neighbour.changed());

        // Replaced by a rename, as editors save.
        writeBehindItsBack(path + ".new", "fpga ram\n");
        QVERIFY(QFile::rename(path, path + ".old"));
        QVERIFY(QFile::rename(path + ".new", path));
        QVERIFY(changeShows(file));
        std::string text;
        QVERIFY(file.read(&text));
        QCOMPARE(QString::fromStdString(text), QString("fpga ram\n"));
    }

    void aFolderThatGoesIsStillLookedAt()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("sim");
        WatchedFile file((folder + "/inputs").toStdString(), "\n");
        QVERIFY(file.changed());
        QVERIFY(QDir(folder).removeRecursively());
        board::sim::catchUpFileChanges();
        QVERIFY(file.changed());
        QVERIFY(QDir().mkpath(folder));
        writeBehindItsBack(folder + "/inputs", "1 1920 1080 60\n");
        QVERIFY(file.changed());
    }
};

QTEST_APPLESS_MAIN(TestWatchedFile)
#include "test_watched_file.moc"
