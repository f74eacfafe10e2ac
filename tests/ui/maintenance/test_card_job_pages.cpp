// The smart-mapping and recovery pages over the FPGA worker's card jobs on
// the simulated cards, keys to the pages and worker passes one tick at a
// time: a job whose cards did not answer, or that was cut at its bound, says
// so over the page in the page's language until the next key, which does
// nothing else; a whole job leaves the page as it was. A recovery the cards
// did not take keeps the card the check listed.
#include <QtTest>

#include <QLabel>

#include "chips/tarvosource.h"
#include "ledout/cards_fixture.h"
#include "ledout/rcv_files.h"
#include "page_harness.h"
#include "ui/maintenance/maintenance_jobs.h"
#include "ui/maintenance/rcv_recovery.h"
#include "ui/maintenance/smartmapping.h"
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

    // Runs the job a page posted until it ended, then the page's share of
    // it on the GUI thread; cut: moved on to 10 minutes from its first pass
    // once it has run a while.
    void runJob(bool cut)
    {
        const u32 first = G_timeTicks.load() + 1;
        bench.runJob(cut ? 300 : 60000);
        if (cut) {
            QVERIFY(g_send_para.job() != JOB_NONE);
            G_timeTicks = first + kJobBoundTicks;
            bench.runJob(1000);
        }
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

    void smartMappingTellsHowItsJobEnded_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<bool>("cut");
        QTest::addColumn<int>("lang");
        QTest::addColumn<QString>("told"); // empty: the page as before
        QTest::newRow("load, cards answer") << "load" << false << false << 1 << "";
        QTest::newRow("load, cards silent") << "load" << true << false << 1 << "Not finished: cards did not answer";
        QTest::newRow("load cut at the bound, in Russian")
            << "load" << false << true << 2 << "Не завершено: истёк лимит времени";
        QTest::newRow("send, cards silent") << "send" << true << false << 1 << "Not finished: cards did not answer";
        QTest::newRow("save of silent cards cut at the bound")
            << "save" << true << true << 1 << "Not finished: time limit reached";
        QTest::newRow("mapping switch, cards answer") << "mapping" << false << false << 1 << "";
    }
    void smartMappingTellsHowItsJobEnded()
    {
        QFETCH(QString, action);
        QFETCH(bool, silent);
        QFETCH(bool, cut);
        QFETCH(int, lang);
        QFETCH(QString, told);
        g_language = u8(lang);
        // A long job: eleven sleeps of a minute, or 65,535 cards counted.
        const RcvOp mark{1, 1, 0x10, 100, {1, 2, 3, 4}};
        write("/data/smartmapping/x.scan",
              scanFile(cut ? std::vector<RcvOp>(11, RcvOp{6, 1, 0, 60000, {}}) : std::vector<RcvOp>{mark}));
        setCount(0, cut && action != "load" ? 65535 : 1);
        if (silent)
            cards()->setFault(0, SimCards::Fault::Silent);
        auto* page = new SmartMapping(nullptr);
        g_smartmapping = page;
        g_page_focus = PageId::SmartMapping;
        page->show();
        const QImage before = page->grab().toImage();
        if (action == "load")
            page->on_Button_load_clicked();
        else if (action == "send")
            page->on_Button_send_clicked();
        else if (action == "save")
            page->on_Button_save_clicked();
        else
            page->on_Button_mapping_clicked();
        QVERIFY(g_qround_bar);
        runJob(cut);
        if (told.isEmpty()) {
            QVERIFY(note(page)->isHidden());
        } else {
            QVERIFY(!note(page)->isHidden());
            QCOMPARE(fitted_text(note(page)), told);
            QVERIFY(page->grab().toImage() != before);
            release_key(page, kRight);
            QVERIFY(note(page)->isHidden());
        }
        QCOMPARE(page->grab().toImage(), before);
        if (action == "load" && !silent && !cut)
            QCOMPARE(cards()->cardRam(0, 0, 0x10, 4), mark.data);
        g_smartmapping = nullptr;
        delete page;
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
        runJob(false);
        QCOMPARE(page->results(), QStringList({"01/02/05/08"}));
        QVERIFY(note(page)->isHidden());

        cards()->setFault(1, SimCards::Fault::Silent);
        release_keys(page, {kRight, kOk});
        runJob(false);
        QCOMPARE(fitted_text(note(page)), QString("Not finished: cards did not answer"));
        QVERIFY(!note(page)->isHidden());
        QCOMPARE(page->results(), QStringList({"01/02/05/08"}));
        QVERIFY(page->findChild<QLabel*>("label_result")->text().contains("01/02/05/08"));

        cards()->setFault(1, SimCards::Fault::None);
        release_keys(page, {kOk, kOk}); // the first takes the note away
        runJob(false);
        QVERIFY(note(page)->isHidden());
        QVERIFY(page->results().isEmpty());
        QCOMPARE(cards()->cardRam(1, 4, 0x200, 3), Bytes({5, 6, 7}));
        g_rcv_recovery = nullptr;
        delete page;
    }
};

QTEST_MAIN(TestCardJobPages)
#include "test_card_job_pages.moc"
