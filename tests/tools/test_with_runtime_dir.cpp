// Every test, and every program a test starts, has a runtime folder of the
// user who runs it, whoever configured the build: Qt takes one only from its
// owner and otherwise warns on each start, which a running program's test
// reads as output it did not expect. tools/with-runtime-dir.sh, which starts
// them, makes the folder and never hands on one that is not the caller's.
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include "process_run.h"

namespace
{
const char* const kWrapper = ZEV_SOURCE_DIR "/tools/with-runtime-dir.sh";
// Where the wrapper refuses, the program never prints this.
const char* const kRan = "the program ran";

using Run = ProcessRun;

// The wrapper with base, starting a shell that prints its runtime folder;
// path, when given, is the shell's PATH.
Run wrap(const QString& base, const QString& path = QString())
{
    QProcess p;
    if (!path.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", path);
        p.setProcessEnvironment(env);
    }
    p.start(kWrapper, {base, "sh", "-c", QString("printf '%s\\n%s' \"$XDG_RUNTIME_DIR\" '%1'").arg(kRan)});
    return finished(p);
}

// The folder's owner and permission bits, the link itself where it is one.
bool look(const QString& dir, uid_t* owner, mode_t* mode, bool* link)
{
    struct stat st;
    if (lstat(QFile::encodeName(dir).constData(), &st) != 0)
        return false;
    *owner = st.st_uid;
    *mode = st.st_mode & 07777;
    *link = S_ISLNK(st.st_mode);
    return true;
}
} // namespace

class TestWithRuntimeDir : public QObject
{
    Q_OBJECT

  private slots:
    // This test was started as every test is: its folder is private and its
    // own, and Qt takes it.
    void ownFolderForThisTest()
    {
        const QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
        QVERIFY2(!dir.isEmpty(), "no XDG_RUNTIME_DIR");
        uid_t owner = 0;
        mode_t mode = 0;
        bool link = true;
        QVERIFY2(look(dir, &owner, &mode, &link), qPrintable(dir));
        QVERIFY2(!link, qPrintable(dir + " is a link"));
        QCOMPARE(owner, geteuid());
        QCOMPARE(mode, mode_t(0700));
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation), dir);
    }

    // A folder of the caller's, private, made on the first start and made
    // private again where it was not.
    void makesTheCallersFolder_data()
    {
        QTest::addColumn<bool>("before");
        QTest::addColumn<int>("beforeMode");
        QTest::newRow("none yet") << false << 0;
        QTest::newRow("private") << true << 0700;
        QTest::newRow("open to all") << true << 0755;
    }
    void makesTheCallersFolder()
    {
        QFETCH(bool, before);
        QFETCH(int, beforeMode);
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString base = tmp.filePath("runtime");
        const QString dir = base + "-" + QString::number(geteuid());
        if (before) {
            QVERIFY(QDir().mkdir(dir));
            QCOMPARE(::chmod(QFile::encodeName(dir).constData(), mode_t(beforeMode)), 0);
        }
        const Run run = wrap(base);
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QCOMPARE(run.out, dir + "\n" + kRan);
        QCOMPARE(run.err, QString());
        uid_t owner = 0;
        mode_t mode = 0;
        bool link = true;
        QVERIFY(look(dir, &owner, &mode, &link));
        QVERIFY(!link);
        QCOMPARE(owner, geteuid());
        QCOMPARE(mode, mode_t(0700));
    }

    // A link in the folder's place leads wherever its maker chose: refused
    // even when it leads to a private folder of the caller's.
    void refusesALink()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString base = tmp.filePath("runtime");
        const QString elsewhere = tmp.filePath("elsewhere");
        QVERIFY(QDir().mkdir(elsewhere));
        QCOMPARE(::chmod(QFile::encodeName(elsewhere).constData(), 0700), 0);
        QVERIFY(QFile::link(elsewhere, base + "-" + QString::number(geteuid())));
        const Run run = wrap(base);
        QVERIFY(run.code != 0);
        QVERIFY2(!run.out.contains(kRan), qPrintable(run.out));
        QVERIFY2(run.err.contains(" is a link; remove it"), qPrintable(run.err));
    }

    // Another user's folder in its place (that user configured the build,
    // or made it there) is left alone and the program does not run. Root
    // gives the folder away; a normal user cannot, and is told instead, by
    // an id of the test's own, that the caller is someone else.
    void refusesAnotherUsersFolder()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString base = tmp.filePath("runtime");
        QString path;
        uid_t caller = geteuid();
        // Root gives the folder away; where it cannot (a user namespace
        // that maps no other user), it plays another user as a normal user
        // does.
        bool givenAway = false;
        if (caller == 0) {
            QVERIFY(QDir().mkdir(base + "-0"));
            givenAway = ::chown(QFile::encodeName(base + "-0").constData(), 65534, 65534) == 0;
            if (!givenAway)
                QVERIFY(QDir().rmdir(base + "-0"));
        }
        if (!givenAway) {
            caller = geteuid() + 1;
            const QString bin = tmp.filePath("bin");
            QVERIFY(QDir().mkdir(bin));
            QFile id(bin + "/id");
            QVERIFY(id.open(QIODevice::WriteOnly));
            QVERIFY(id.write(QString("#!/bin/sh\necho %1\n").arg(caller).toUtf8()) > 0);
            id.close();
            QVERIFY(id.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            QVERIFY(QDir().mkdir(base + "-" + QString::number(caller)));
            path = bin + ":" + qEnvironmentVariable("PATH");
        }
        const QString dir = base + "-" + QString::number(caller);
        uid_t owner = 0;
        mode_t mode = 0;
        bool link = true;
        QVERIFY(look(dir, &owner, &mode, &link));
        const Run run = wrap(base, path);
        QVERIFY(run.code != 0);
        QVERIFY2(!run.out.contains(kRan), qPrintable(run.out));
        QVERIFY2(run.err.contains(QString("belongs to uid %1, not to uid %2; remove it").arg(owner).arg(caller)),
                 qPrintable(run.err));
        uid_t after = 0;
        mode_t afterMode = 0;
        QVERIFY(look(dir, &after, &afterMode, &link));
        QCOMPARE(after, owner);
        QCOMPARE(afterMode, mode);
    }
};

QTEST_GUILESS_MAIN(TestWithRuntimeDir)
#include "test_with_runtime_dir.moc"
