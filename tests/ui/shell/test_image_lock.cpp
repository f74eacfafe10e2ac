// The parameter image and the user-mode slots change under the apply mutex.
// Each reader and writer here waits for it while another thread holds it,
// and changes nothing of what it guards before it has it: a save, a reply or
// a slot file never holds half of somebody else's write.
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "core/para_apply.h"
#include "core/zevrampara.h"
#include "link/pc_frames.h"
#include "page_harness.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"

namespace
{
// glibc marks a mutex that somebody waits for with 2.
bool someone_waits()
{
    return g_para_apply_mutex.__data.__lock == 2;
}

// Runs job on a thread while this one holds the apply mutex. True when the
// job waited for the mutex; look then ran while the job was still waiting.
bool waits_for_apply_mutex(const std::function<void()>& job, const std::function<void()>& look)
{
    std::atomic<bool> done{false};
    pthread_mutex_lock(&g_para_apply_mutex);
    std::thread t([&] {
        job();
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool waited = false;
    while (!done && !waited && std::chrono::steady_clock::now() < deadline) {
        waited = someone_waits();
        std::this_thread::yield();
    }
    if (waited)
        look();
    pthread_mutex_unlock(&g_para_apply_mutex);
    t.join();
    return waited;
}
} // namespace

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
        default:
            job = [&] { send(md, request(kBox, 0x60, ram_rest(0x3000, 2, {0xAA, 0xAA}))); };
            look = [&] { changed = ZevRamPara::ZevUserModeSaved(2); };
            ZevRamPara::user_mode[2][0] = 0;
            break;
        }
        QVERIFY(waits_for_apply_mutex(job, look));
        QVERIFY(!changed);
    }
};

QTEST_MAIN(TestImageLock)
#include "test_image_lock.moc"
