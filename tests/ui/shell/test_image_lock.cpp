// The parameter image, the user-mode slots and the EDID RAM table change
// under the apply mutex.
// Each reader and writer here waits for it while another thread holds it,
// and changes nothing of what it guards before it has it: a save, a reply or
// a slot file never holds half of somebody else's write.
#include <QtTest>

#include <functional>

#include "board/sim/sim_fpga.h"
#include "chips/tarvosource.h"
#include "core/para_apply.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "link/pc_frames.h"
#include "lock_wait.h"
#include "page_harness.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"

class TestImageLock : public QObject
{
    Q_OBJECT
    PageHarness harness;

    QByteArray file(const std::string& boardPath) { return readHostFile(harness.sim().hostQ(boardPath)); }

  private slots:
    void waitsForTheApplyMutex_data()
    {
        QTest::addColumn<int>("row");
        QTest::newRow("image save") << 0;
        QTest::newRow("user-mode save") << 1;
        QTest::newRow("slot file") << 2;
        QTest::newRow("PC image read") << 3;
        QTest::newRow("PC slot read") << 4;
        QTest::newRow("PC slot write") << 5;
        QTest::newRow("screen register's blackout word") << 6;
        QTest::newRow("PC EDID table") << 7;
    }
    void waitsForTheApplyMutex()
    {
        QFETCH(int, row);
        // No page has the keys: the refresh touches no widget off the GUI
        // thread.
        g_page_focus = PageId::Count;
        std::memcpy(ZevRamPara::p_zevrampara_shadow, img(), Img::kSize);
        ZevRamPara::put16(img(), Img::kModeToSave, 0);
        const QByteArray stored = file("/data/ram_device_info");
        message_deal md;
        std::function<void()> job;
        std::function<void()> look = [] {};
        bool changed = false;
        switch (row) {
        case 0:
            ZevRamPara::put16(img(), Img::kBrightness, u16(ZevRamPara::shadow16(Img::kBrightness) ^ 1));
            job = [] { SyncUpdate::pInstance()->para_sync(1); };
            look = [&] { changed = file("/data/ram_device_info") != stored; };
            break;
        case 1:
            ZevRamPara::user_mode[2][0] = ZevRamPara::user_mode[2][1] = 0xFF;
            ZevRamPara::put16(img(), Img::kModeToSave, 3);
            job = [] { SyncUpdate::pInstance()->para_sync(1); };
            look = [&] { changed = ZevRamPara::ZevUserModeSaved(2); };
            break;
        case 2:
            job = [] { ZevRamPara::mode_file_write(4, 2); };
            look = [&] { changed = !file(ZevRamPara::modeFilePath(4)).isEmpty(); };
            break;
        case 3:
            job = [&] { send(md, request(kBox, 0x61, ram_rest(0, 64))); };
            break;
        case 4:
            job = [&] { send(md, request(kBox, 0x61, ram_rest(0x3000, 64))); };
            break;
        case 5:
            job = [&] { send(md, request(kBox, 0x60, ram_rest(0x3000, 2, {0xAA, 0xAA}))); };
            look = [&] { changed = ZevRamPara::ZevUserModeSaved(2); };
            ZevRamPara::user_mode[2][0] = 0;
            break;
        case 6:
            ZevRamPara::put16(img(), Img::kBlackout, 0);
            g_set_led_para = 0;
            board::sim::attachFpga(harness.sim().board());
            job = [] { fpga_manage::pInstance()->write_to_register(FpgaReg::kScreen, 0x04, 0x04, 0); };
            look = [&] { changed = ZevRamPara::img16(Img::kBlackout) != 0; };
            break;
        default:
            if (!tarvosource::p_tarvo_source)
                tarvosource::p_tarvo_source = new tarvosource();
            edid_ram_table_from[1] = 0;
            job = [&] { send(md, request(kBox, 0xC1, cat({{1, 1, 0, 0, 0, 0, 0, 40, 0}, Bytes(40, 0x11)}))); };
            look = [&] { changed = edid_ram_table_from[1] != 0; };
            break;
        }
        QVERIFY(waits_for(held(g_para_apply_mutex), job, look));
        QVERIFY(!changed);
    }
};

QTEST_MAIN(TestImageLock)
#include "test_image_lock.moc"
