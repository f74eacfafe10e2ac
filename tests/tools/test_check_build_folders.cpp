// tools/run-tests.sh and tools/run-sim.sh first look at their build folders
// with tools/check-build-folders.sh: one the caller cannot write (another
// user's, such as root's where root ran the tests first in a normal user's
// checkout) stops them with one line that says whose it is and what to do,
// where CMake would print a screen of errors that do not say why. Root
// writes anywhere and is never stopped.
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include "process_run.h"

namespace
{
const char* const kCheck = ZEV_SOURCE_DIR "/tools/check-build-folders.sh";
const uid_t kNobody = 65534;

using Run = ProcessRun;

// The check of build and build-asan in dir, as run-tests.sh asks it; as
// nobody where asNobody (the test being root).
Run check(const QString& dir, bool asNobody)
{
    // A copy any user may run, in a folder any user may pass through.
    const QString script = dir + "/check.sh";
    if (!QFile::copy(kCheck, script) ||
        !QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadOther | QFileDevice::ExeOther))
        return {};
    // Named from the folder itself: nobody may not pass through its parents.
    QStringList args = {"sh", "./check.sh", "run-tests", "the tests", "build", "build-asan"};
    if (asNobody)
        args = QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} + args;
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(args.takeFirst(), args);
    return finished(p);
}

bool give_to_nobody(const QString& path)
{
    return ::chown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0;
}

// Whether a file can be given to nobody here: not in a user namespace that
// maps root alone (the race check's).
bool nobody_here()
{
    QTemporaryFile probe;
    return probe.open() && give_to_nobody(probe.fileName());
}
} // namespace

class TestCheckBuildFolders : public QObject
{
    Q_OBJECT

  private slots:
    // made: what the one who runs the check finds (a name ending in / a
    // folder); theirs: which of it another user's, readOnly: which of it
    // its owner cannot write either; byRoot: root runs the check. line is
    // what it prints, none where it lets the script go on. Another user's
    // files are root's, the check run by nobody; making them needs root.
    void stopsOnlyWhereAFolderCannotBeWritten_data()
    {
        QTest::addColumn<QStringList>("made");
        QTest::addColumn<QStringList>("theirs");
        QTest::addColumn<QStringList>("readOnly");
        QTest::addColumn<bool>("byRoot");
        QTest::addColumn<QString>("line");
        const QStringList none;
        const QStringList configured = {"build/", "build/CMakeCache.txt", "build/CMakeFiles/"};
        QTest::newRow("absent") << none << none << none << false << "";
        QTest::newRow("own") << configured + QStringList{"build-asan/"} << none << none << false << "";
        QTest::newRow("another user's folder")
            << configured << configured << none << false
            << "run-tests: build/ belongs to root: remove the folder (sudo rm -rf build) or run the tests as root\n";
        QTest::newRow("another user's folders")
            << QStringList{"build/", "build-asan/"} << QStringList{"build/", "build-asan/"} << none << false
            << "run-tests: build/ belongs to root: remove the folders (sudo rm -rf build build-asan) or run the "
               "tests as root\n";
        QTest::newRow("another user's CMakeFiles in one's own folder")
            << configured << QStringList{"build/CMakeFiles/"} << none << false
            << "run-tests: build/CMakeFiles/ belongs to root: remove the folder (sudo rm -rf build) or run the "
               "tests as root\n";
        // CMake puts a new cache in its place: only the folder counts.
        QTest::newRow("another user's cache in one's own folder")
            << configured << QStringList{"build/CMakeCache.txt"} << none << false << "";
        QTest::newRow("one's own folder that cannot be written")
            << QStringList{"build/"} << none << QStringList{"build/"} << false
            << "run-tests: build/ cannot be written: remove the folder (rm -rf build) or make it writable\n";
        QTest::newRow("root in another user's folders")
            << configured + QStringList{"build-asan/"} << configured + QStringList{"build-asan/"} << none << true << "";
    }
    void stopsOnlyWhereAFolderCannotBeWritten()
    {
        QFETCH(QStringList, made);
        QFETCH(QStringList, theirs);
        QFETCH(QStringList, readOnly);
        QFETCH(bool, byRoot);
        QFETCH(QString, line);
        const bool root = geteuid() == 0;
        if ((byRoot || !theirs.isEmpty()) && !root)
            QSKIP("making another user's folder needs root");
        // Root runs the check as nobody, to whom the caller's own files go;
        // as root, the others' files go to nobody instead.
        const bool asNobody = root && !byRoot;
        if (asNobody && QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("no setpriv to run the check as another user");
        if (root && !nobody_here())
            QSKIP("this user namespace maps no user but root: nobody cannot be played");
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        // Nobody passes through it to the folders.
        QVERIFY(QFile::setPermissions(tmp.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner | QFileDevice::ExeOther));
        for (const QString& name : made) {
            const QString path = tmp.filePath(name);
            if (name.endsWith('/'))
                QVERIFY(QDir().mkdir(path));
            else
                QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        }
        for (const QString& name : made) {
            const QString path = tmp.filePath(name);
            QFileDevice::Permissions others = QFileDevice::ReadOther;
            if (name.endsWith('/'))
                others |= QFileDevice::ExeOther;
            QFileDevice::Permissions mode = QFile::permissions(path) | others;
            if (readOnly.contains(name))
                mode &= ~(QFileDevice::WriteOwner | QFileDevice::WriteUser);
            QVERIFY(QFile::setPermissions(path, mode));
            if (asNobody != theirs.contains(name) && root)
                QVERIFY2(give_to_nobody(path), qPrintable(name));
        }
        const Run run = check(tmp.path(), asNobody);
        QCOMPARE(run.err, line);
        QCOMPARE(run.code, line.isEmpty() ? 0 : 1);
        QCOMPARE(run.out, QString());
        // The check only looks.
        for (const QString& name : made)
            QVERIFY2(QFileInfo::exists(tmp.filePath(name)), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestCheckBuildFolders)
#include "test_check_build_folders.moc"
