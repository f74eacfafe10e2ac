// Debug lines stay quiet unless "--verbose" asks for them; warnings always
// go out; every message is one line, none empty.
#include <QtTest>

#include <cerrno>

#include "core/logging.h"

namespace
{
struct Caught {
    QtMsgType type;
    QString category;
    QString text;
};
QList<Caught> caught;

void catchMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    caught.append({type, QString::fromLatin1(context.category), text});
}

const QLoggingCategory* const kCategories[] = {&lcBoard(),  &lcCore(), &lcVideo(),  &lcChips(),
                                               &lcLedout(), &lcLink(), &lcRemote(), &lcUi()};
} // namespace

class TestLogging : public QObject
{
    Q_OBJECT
    QtMessageHandler testlib = nullptr;

  private slots:
    void init()
    {
        caught.clear();
        testlib = qInstallMessageHandler(catchMessage);
    }
    void cleanup() { qInstallMessageHandler(testlib); }

    void debugIsOffUntilVerboseAsks()
    {
        std::vector<char*> args{const_cast<char*>("zevQ64N"), const_cast<char*>("--board=sim")};
        zevlog::configure(args);
        QCOMPARE(args.size(), size_t(2));
        for (const QLoggingCategory* c : kCategories) {
            QVERIFY2(!c->isDebugEnabled(), c->categoryName());
            QVERIFY2(c->isWarningEnabled(), c->categoryName());
        }
        zevlog::debug(lcLedout(), "\n fpga%d last.... \n", 1);
        qCDebug(lcUi, "this is OK button(CustomMode)[Release]\n");
        errno = ENOENT;
        zevlog::warnErrno(lcVideo(), "c331: can't open device");
        QCOMPARE(caught.size(), 1);
        QCOMPARE(caught[0].type, QtWarningMsg);
        QCOMPARE(caught[0].category, QString("zev.video"));
        QCOMPARE(caught[0].text, QString("c331: can't open device: No such file or directory"));

        args.push_back(const_cast<char*>("--verbose"));
        zevlog::configure(args);
        QCOMPARE(args.size(), size_t(2));
        for (const QLoggingCategory* c : kCategories)
            QVERIFY2(c->isDebugEnabled(), c->categoryName());
        caught.clear();
        zevlog::debug(lcLedout(), "\n fpga%d last.... \n", 1);
        zevlog::debug(lcUi(), "\t check_hiddev over");
        // Through Qt's own writer too, line breaks alone leave no empty line.
        qCDebug(lcUi, "\nthis is OK button(CustomMode)[Release]\n");
        qCDebug(lcUi, "\n");
        QCOMPARE(caught.size(), 3);
        QCOMPARE(caught[0].category, QString("zev.ledout"));
        QCOMPARE(caught[0].text, QString(" fpga1 last.... "));
        QCOMPARE(caught[1].text, QString("\t check_hiddev over"));
        QCOMPARE(caught[2].text, QString("this is OK button(CustomMode)[Release]"));
        for (const Caught& c : caught)
            QCOMPARE(c.type, QtDebugMsg);
    }

    // A stored file is named once a run for each thing said of it.
    void aStoredFileIsNamedOnce()
    {
        zevlog::stored_file(lcCore(), "/data/a", "is damaged: kept");
        zevlog::stored_file(lcCore(), "/data/a", "is damaged: kept");
        zevlog::stored_file(lcCore(), "/data/a", "cannot be read: kept");
        zevlog::stored_file(lcCore(), "/data/b", "is damaged: kept");
        zevlog::forget_stored_files();
        zevlog::stored_file(lcCore(), "/data/a", "is damaged: kept");
        QStringList texts;
        for (const Caught& c : caught)
            texts << c.text;
        QCOMPARE(texts, (QStringList{"/data/a is damaged: kept", "/data/a cannot be read: kept",
                                     "/data/b is damaged: kept", "/data/a is damaged: kept"}));
    }
};

int main(int argc, char** argv)
{
    // The rules under test, not the caller's.
    qunsetenv("QT_LOGGING_RULES");
    QCoreApplication app(argc, argv);
    TestLogging t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_logging.moc"
