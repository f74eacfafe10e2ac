// The recovery page over the FPGA worker's card jobs on the simulated
// cards, keys to the page and worker passes one tick at a time: a recovery
// the cards did not take says so until the next key, which does nothing
// else, and keeps the card the check listed.
#include <QtTest>

#include <QLabel>

#include "chips/tarvosource.h"
#include "ledout/cards_fixture.h"
#include "ledout/rcv_files.h"
#include "page_harness.h"
#include "ui/maintenance/maintenance_jobs.h"
#include "ui/maintenance/rcv_recovery.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"

using board::sim::SimCards;

class TestCardJobPages : public QObject
{
    Q_OBJECT
    PageHarness harness;
    CardBench bench{&harness.sim()};

    void write(const char* path, const FileBytes& b)
    {
        QVERIFY(writeHostFile(harness.sim().hostQ(path),
                              QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()))));
    }

    // Runs the job the page posted until it ended, then the page's share of
    // it on the GUI thread.
    void runJob()
    {
        bench.runJob(60000);
        QCOMPARE(g_send_para.job(), u8(JOB_NONE));
        QCoreApplication::sendPostedEvents();
        QVERIFY(!g_qround_bar);
    }

    static QLabel* note(QWidget* page) { return page->findChild<QLabel*>("label_job_end"); }

  private slots:
    void initTestCase()
    {
        tarvosource::p_tarvo_source = new tarvosource();
        maintenance_install_job_hooks();
    }
    void init()
    {
        PageHarness::reset();
        bench.up(100000, 2);
        tarvosource::p_tarvo_source->source_state = 2;
        layout("port 1 cards 1\n");
        setRoute(1, 1, 1);
    }

    // The check lists card 4 of LED port 1; a recovery its cards do not
    // answer says so and keeps the card listed; one they take empties the
    // list, nothing told.
    void recoveryKeepsTheCardItDidNotRecover()
    {
        std::vector<std::vector<RcvOp>> cardsOfPort(8);
        cardsOfPort[4] = {RcvOp{1, 1, 0x200, 100, {5, 6, 7}}};
        write("/data/rcvrecovery/screen.pack",
              recoveryPack({RcvScreen{0x1001, {{0, {{}, {}}}, {1, cardsOfPort}}, {}}}));
        layout("port 1 cards 2 config 0x1001\nport 2 cards 8 config 0x1001 check 4\n");
        auto* page = new rcv_recovery(nullptr);
        g_rcv_recovery = page;
        g_page_focus = PageId::rcv_recovery;
        page->show();
        release_key(page, kOk);
        runJob();
        QCOMPARE(page->results(), QStringList({"01/02/05/08"}));
        QVERIFY(note(page)->isHidden());

        cards()->setFault(1, SimCards::Fault::Silent);
        release_keys(page, {kRight, kOk});
        runJob();
        QCOMPARE(fitted_text(note(page)), QString("Not finished: cards did not answer"));
        QVERIFY(!note(page)->isHidden());
        QCOMPARE(page->results(), QStringList({"01/02/05/08"}));
        QVERIFY(page->findChild<QLabel*>("label_result")->text().contains("01/02/05/08"));

        cards()->setFault(1, SimCards::Fault::None);
        release_keys(page, {kOk, kOk}); // the first takes the note away
        runJob();
        QVERIFY(note(page)->isHidden());
        QVERIFY(page->results().isEmpty());
        QCOMPARE(cards()->cardRam(1, 4, 0x200, 3), Bytes({5, 6, 7}));
        g_rcv_recovery = nullptr;
        delete page;
    }
};

QTEST_MAIN(TestCardJobPages)
#include "test_card_job_pages.moc"
