// The maintenance pages: job posting under the round bar, progress and
// results reaching a live page only, the USB-upgrade request, the factory
// reset through the apply road, the ageing log and the menu table.
#include <QtTest>

#include <thread>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "ledout/fpga_jobs.h"
#include "core/para_apply.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "ui/maintenance/factory.h"
#include "ui/maintenance/factoryage.h"
#include "ui/maintenance/firmware_usbgrade.h"
#include "ui/maintenance/maintenance_jobs.h"
#include "ui/maintenance/rcv_recovery.h"
#include "ui/maintenance/smartmapping.h"
#include "ui/shell/QRoundProgressBar.h"
#include "page_harness.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/menu_pages.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"

namespace
{
// A parent menu that counts its refreshes.
struct ParentStub : PageView {
    int refreshed = 0;
    void language_changed() override { ++refreshed; }
    void syncUpdate(int) override {}
};

void end_job()
{
    g_send_para.finish();
    g_usb_grade = 0;
}
} // namespace

class TestMaintenancePages : public QObject
{
    Q_OBJECT
    PageHarness harness;

  private slots:
    void initTestCase() { harness.main_window(); }
    void init()
    {
        PageHarness::reset();
        end_job();
        QVERIFY(!g_qround_bar);
    }

    void smartMappingSendWritesThePatternAndHoldsThePageUntilTheJobEnds()
    {
        auto* page = new SmartMapping(nullptr);
        g_smartmapping = page;
        g_page_focus = PageId::SmartMapping;
        const char* values[][2] = {{"lineEdit_port", "3"}, {"lineEdit_route", "2"},   {"lineEdit_rows", "4"},
                                   {"lineEdit_cols", "5"}, {"lineEdit_width", "128"}, {"lineEdit_height", "64"},
                                   {"lineEdit_x", "10"},   {"lineEdit_y", "20"}};
        for (auto& v : values)
            page->findChild<QLineEdit*>(v[0])->setText(v[1]);
        page->on_Button_send_clicked();
        QCOMPARE(g_send_para.job(), u8(JOB_SMART_MAPPING));
        QCOMPARE(g_send_para.step(), u8(0));
        QCOMPARE(int(line_type.port), 2);
        QCOMPARE(int(line_type.pattern), 2);
        QCOMPARE(int(line_type.rows), 4);
        QCOMPARE(int(line_type.cols), 5);
        QCOMPARE(int(line_type.cab_width), 128);
        QCOMPARE(int(line_type.cab_height), 64);
        QCOMPARE(int(line_type.x_origin), 10);
        QCOMPARE(int(line_type.y_origin), 20);
        QVERIFY(g_qround_bar && g_qround_bar->parent() == page);

        // Back and the keys are refused while the bar is open.
        release_key(page, 'O');
        page->Button_back_clicked();
        QCOMPARE(g_smartmapping.get(), page);
        QCOMPARE(int(g_page_focus), int(PageId::SmartMapping));

        // The worker's progress arrives on the GUI thread.
        std::thread worker([] { maintenance_job_progress(PageId::SmartMapping, 42); });
        worker.join();
        QTRY_COMPARE(g_qround_bar ? g_qround_bar->value() : -1.0, 42.0);
        std::thread last([] {
            g_send_para.finish();
            maintenance_job_progress(PageId::SmartMapping, 100);
        });
        last.join();
        QTRY_VERIFY(!g_qround_bar);

        page->Button_back_clicked();
        QVERIFY(!g_smartmapping);
        QCOMPARE(int(g_page_focus), int(PageId::Option));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Progress for a page that has gone reaches nobody.
        maintenance_job_progress(PageId::SmartMapping, 50);
        QCoreApplication::processEvents();
        QVERIFY(!g_qround_bar);
    }

    void postingRefusedWhileAJobRunsLeavesNoBar_data()
    {
        QTest::addColumn<int>("running");
        QTest::addColumn<int>("usb");
        QTest::newRow("job posted elsewhere") << int(JOB_RCV_CHECK) << 0;
        QTest::newRow("USB upgrade") << 0 << 1;
    }
    void postingRefusedWhileAJobRunsLeavesNoBar()
    {
        QFETCH(int, running);
        QFETCH(int, usb);
        g_send_para.job_word = u16(running);
        g_usb_grade = u8(usb);
        SmartMapping page(nullptr);
        page.on_Button_save_clicked();
        rcv_recovery recovery(nullptr);
        recovery.on_Button_query_clicked();
        QVERIFY(!g_qround_bar);
        QCOMPARE(int(g_send_para.job()), running);
    }

    void smartMappingTakesOnlyNumbersInTheFieldsRange_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("port 16") << "lineEdit_port"
                                 << "16"
                                 << "16";
        QTest::newRow("port 17") << "lineEdit_port"
                                 << "17"
                                 << "1";
        QTest::newRow("port 0") << "lineEdit_port"
                                << "0"
                                << "1";
        QTest::newRow("rows 256") << "lineEdit_rows"
                                  << "256"
                                  << "1";
        QTest::newRow("x 65535") << "lineEdit_x"
                                 << "65535"
                                 << "65535";
        QTest::newRow("x 65536") << "lineEdit_x"
                                 << "65536"
                                 << "0";
    }
    void smartMappingTakesOnlyNumbersInTheFieldsRange()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        line_type = MAPPING_LINE_PARA();
        SmartMapping page(nullptr);
        SmartMapping other(nullptr);
        QLineEdit* edit = page.findChild<QLineEdit*>(field);
        // The keypad's answer reaches every open page; only the opener takes it.
        g_lineedit = other.findChild<QLineEdit*>(field);
        emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("9");
        QCOMPARE(edit->text(), field == "lineEdit_x" ? QString("0") : QString("1"));
        g_lineedit = edit;
        emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit(typed);
        QCOMPARE(edit->text(), shown);
        g_lineedit = nullptr;
    }

    void smartMappingLoadNeedsAChosenFile()
    {
        g_kqfile_name.set(QString());
        {
            SmartMapping page(nullptr);
            page.on_Button_load_clicked();
            QCOMPARE(g_send_para.job(), u8(JOB_NONE));
            QVERIFY(!g_qround_bar);
        }
        QVERIFY(writeHostFile(harness.sim().hostQ("/data/smartmapping/a.scan"), "x"));
        QVERIFY(writeHostFile(harness.sim().hostQ("/data/smartmapping/b.scan"), "x"));
        SmartMapping page(nullptr);
        QCOMPARE(g_kqfile_name.get(), QString("/data/smartmapping/a.scan"));
        page.on_Button_file_clicked();
        QCOMPARE(g_kqfile_name.get(), QString("/data/smartmapping/b.scan"));
        page.on_Button_load_clicked();
        QCOMPARE(g_send_para.job(), u8(JOB_SCAN_LOAD));
        QVERIFY(g_qround_bar);
        g_qround_bar->para_sync(100);
    }

    void recoveryPostsQueryAndRecoveryByKeys_data()
    {
        QTest::addColumn<int>("rights");
        QTest::addColumn<int>("job");
        QTest::newRow("query") << 0 << int(JOB_RCV_CHECK);
        QTest::newRow("recovery") << 1 << int(JOB_RCV_RECOVERY);
    }
    void recoveryPostsQueryAndRecoveryByKeys()
    {
        QFETCH(int, rights);
        QFETCH(int, job);
        ParentStub parent;
        PageRegistry::set(PageId::AdvancedOption, &parent);
        auto* page = new rcv_recovery(nullptr);
        g_rcv_recovery = page;
        g_page_focus = PageId::rcv_recovery;
        for (int i = 0; i < rights; ++i)
            release_key(page, 'R');
        release_key(page, 'Q');
        QCOMPARE(int(g_send_para.job()), job);
        QVERIFY(g_qround_bar);
        release_key(page, 'O');
        QCOMPARE(g_rcv_recovery.get(), page);
        g_send_para.finish();
        g_qround_bar->para_sync(100);
        release_key(page, 'O');
        QVERIFY(!g_rcv_recovery);
        QCOMPARE(int(g_page_focus), int(PageId::AdvancedOption));
        QCOMPARE(parent.refreshed, 1);
        PageRegistry::set(PageId::AdvancedOption, nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void recoveryResultsFromTheWorkerReachOnlyALivePage()
    {
        auto* page = new rcv_recovery(nullptr);
        g_rcv_recovery = page;
        std::thread worker([] {
            rcv_recovery_result_clear();
            rcv_recovery_result_add("01/02/03/08");
        });
        worker.join();
        QTRY_COMPARE(page->results(), QStringList{"01/02/03/08"});
        QCOMPARE(int(page->result()), 1);
        QVERIFY(page->findChild<QLabel*>("label_result")->text().contains("01/02/03/08"));
        rcv_recovery_result_clear();
        QTRY_VERIFY(page->results().isEmpty());
        QCOMPARE(int(page->result()), 0);
        g_rcv_recovery = nullptr;
        delete page;
        rcv_recovery_result_add("01/01/01/01");
        rcv_recovery_back_queued();
        QCoreApplication::processEvents();
    }

    void usbUpgradePostsOnlyWhileNoJobRuns_data()
    {
        QTest::addColumn<u16>("word");
        QTest::addColumn<int>("usb");
        QTest::addColumn<bool>("posted");
        QTest::addColumn<u16>("after");
        QTest::newRow("idle") << u16(255 << 8) << 0 << true << u16(0);
        QTest::newRow("job at step 4") << u16((4 << 8) | JOB_SMART_MAPPING) << 0 << false
                                       << u16((4 << 8) | JOB_SMART_MAPPING);
        QTest::newRow("upgrade at step 2") << u16(2 << 8) << 1 << false << u16(2 << 8);
    }
    void usbUpgradePostsOnlyWhileNoJobRuns()
    {
        QFETCH(u16, word);
        QFETCH(int, usb);
        QFETCH(bool, posted);
        QFETCH(u16, after);
        g_send_para.job_word = word;
        g_usb_grade = u8(usb);
        firmware_usbgrade page(nullptr);
        release_key(&page, 'Q');
        QCOMPARE(g_send_para.job_word.load(), after);
        QCOMPARE(int(g_usb_grade), posted ? 1 : usb);
        QCOMPARE(page.findChild<QLabel*>("label_state")->text(),
                 QString(posted ? "Upgrading" : "Busy, try again later"));
    }

    void usbUpgradeSaysWhatHappened_data()
    {
        QTest::addColumn<QByteArray>("package"); // empty: no file on the stick
        QTest::addColumn<QString>("state");
        // A header naming one child, the running application, and the child.
        QByteArray running(49 + 21 + 4, 0);
        running[2] = char(0x80);
        running[18] = 0x52;
        running[19] = char(0x8B);
        running[47] = 1;
        running[49] = 10;
        running[50] = 4;
        running[54] = 49 + 21;
        const char version[] = {26, 3, 30, 11, 2, 1};
        running.replace(58, 6, version, 6);
        QByteArray cut = running.left(49 + 21 + 2);
        QTest::newRow("empty stick") << QByteArray() << "No upgrade package found";
        QTest::newRow("cut package") << cut << "Upgrade package check failed";
        QTest::newRow("nothing newer") << running << "Upgrade finished";
    }
    void usbUpgradeSaysWhatHappened()
    {
        QFETCH(QByteArray, package);
        QFETCH(QString, state);
        QDir(harness.sim().hostQ("/mnt/usb1")).removeRecursively();
        QVERIFY(QDir().mkpath(harness.sim().hostQ("/mnt/usb1")));
        if (!package.isEmpty())
            QVERIFY(writeHostFile(harness.sim().hostQ("/mnt/usb1/box.ZEV"), package));
        Utils::set_usb_grade_path(" ");
        firmware_usbgrade page(nullptr);
        release_key(&page, 'Q');
        QCOMPARE(int(g_usb_grade), 1);
        for (int i = 0; i < 10 && g_usb_grade.load(); ++i)
            fpga_manage::pInstance()->usb_upgrade_manage_deal();
        page.syncUpdate(104);
        QCOMPARE(page.findChild<QLabel*>("label_state")->text(), state);
    }

    void factoryResetRestoresDefaultsThroughTheApplyRoad()
    {
        u8* img = ZevRamPara::p_zevrampara_config;
        const u8 factoryValue = default_para_ramlist[2 + Img::kBrightness - Img::kPersistStart];
        img[Img::kBrightness] = u8(factoryValue ^ 0x5A);
        ZevRamPara::user_mode[3][0] = ZevRamPara::user_mode[3][1] = 0xAA;
        g_para_update_flag = 0;
        factory page(nullptr);
        release_key(&page, 'Q');
        QCOMPARE(img[Img::kBrightness], factoryValue);
        QCOMPARE(int(ZevRamPara::user_mode[3][0]), 0xFF);
        QCOMPARE(int(g_para_update_flag.load()), 1);
        g_para_update_flag = 0;
    }

    void factoryChoosesTheLanguageLiveAndGreysTheOnesNotEnabled()
    {
        u8* img = ZevRamPara::p_zevrampara_config;
        const u32 valid = g_lcd_lang_valid;
        g_lcd_lang_valid = 0x10017; // Vietnamese not enabled
        factory page(nullptr);
        auto* list = page.findChild<QComboBox*>("comboBox_lang");
        QSignalSpy refresh(ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para);
        // Down to the list, edit, on to Vietnamese: shown greyed, not taken.
        release_keys(&page, {'R', 'Q', 'R', 'R'});
        QCOMPARE(list->currentText(), QString("Tiếng Việt"));
        QVERIFY(list->styleSheet().contains("rgb(110,110,110)"));
        release_key(&page, 'Q');
        QCOMPARE(refresh.count(), 0);
        // Back to Russian and taken: the image and the refresh that follows
        // switch the page at once.
        release_keys(&page, {'S', 'Q'});
        QCOMPARE(int(img[Img::kLanguage]), 2);
        QCOMPARE(refresh.count(), 1);
        QCOMPARE(refresh.at(0).at(0).toInt(), 1);
        page.syncUpdate(1);
        QCOMPARE(int(g_language), 2);
        QCOMPARE(page.findChild<QLabel*>("label_title")->text(), QString("Системные настройки"));
        // Back in an edit keeps the language in use.
        release_keys(&page, {'Q', 'R', 'O'});
        QCOMPARE(list->currentText(), QString("Русский"));
        QCOMPARE(int(img[Img::kLanguage]), 2);
        img[Img::kLanguage] = 1;
        g_language = 1;
        g_lcd_lang_valid = valid;
    }

    void ageingLogShowsNewestSamplesAndItsBackRefreshesOnlyOnALanguageChange()
    {
        ParentStub parent;
        PageRegistry::set(PageId::AdvancedOption, &parent);
        MainWindow::agelog_add("12-07 09:00", 250, 1, 2);
        auto* page = new factoryage(nullptr);
        g_factoryage = page;
        g_page_focus = PageId::factoryage;
        MainWindow::agelog_add("12-07 09:03", 3, 1, 2); // 250 to 3: 9
        // The tick redraws the open page after each ageing period.
        G_factoryage_ticks = G_timeTicks - 18000;
        harness.main_window()->slot_update_timer_ticks();
        QVERIFY(page->findChild<QLabel*>("label_log")->text().endsWith("12-07 09:03 3 1 2"));
        QVERIFY(page->findChild<QLabel*>("label_count")->text().contains("5-9:1"));
        release_key(page, 'O');
        QVERIFY(!g_factoryage);
        QCOMPARE(int(g_page_focus), int(PageId::AdvancedOption));
        QCOMPARE(parent.refreshed, 0);
        PageRegistry::set(PageId::AdvancedOption, nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void menuTableOpensEachPageAndBackReturnsToItsMenu_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("parent");
        QTest::newRow("smart mapping") << int(PageId::SmartMapping) << int(PageId::Option);
        QTest::newRow("recovery") << int(PageId::rcv_recovery) << int(PageId::AdvancedOption);
        QTest::newRow("USB upgrade") << int(PageId::firmware_usbgrade) << int(PageId::LinkOption);
        QTest::newRow("factory") << int(PageId::factory) << int(PageId::AdvancedOption);
        QTest::newRow("ageing log") << int(PageId::factoryage) << int(PageId::AdvancedOption);
    }
    void menuTableOpensEachPageAndBackReturnsToItsMenu()
    {
        QFETCH(int, id);
        QFETCH(int, parent);
        bool seen = false;
        QTimer::singleShot(0, [&] {
            QWidget* page = dynamic_cast<QWidget*>(PageRegistry::at(u8(id)));
            seen = page && page->isVisible() && g_page_focus == id;
            if (page)
                release_key(page, 'O');
        });
        QVERIFY(open_menu_page(u8(id)));
        QVERIFY(seen);
        QVERIFY(!PageRegistry::at(u8(id)));
        QCOMPARE(int(g_page_focus), parent);
    }
};

QTEST_MAIN(TestMaintenancePages)
#include "test_maintenance_pages.moc"
