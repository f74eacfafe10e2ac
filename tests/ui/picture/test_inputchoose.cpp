// The source-selection page: the three rows and their keys, the choice of a
// source or crop with the apply byte and the tip, the refresh after changes
// made elsewhere, and its back.
#include <QtTest>

#include <cstring>

#include <QFrame>
#include <QLabel>
#include <QTimer>

#include "core/zevrampara.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/inputchoose.h"
#include "page_harness.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui/shell/syncupdate.h"
#include "ui/shell/tip.h"
#include "video/c331_manage.h"

namespace
{
int layer(int i, int field)
{
    return ZevRamPara::layerOffset(i) + field;
}
void add_crop(int source, int w, int h)
{
    CROP_PARA crop;
    crop.width = w;
    crop.height = h;
    ZevRamPara::ZevCropSourceInit();
    ZevRamPara::ZevAddNewCrop(source, &crop);
    ZevRamPara::ZevCropSourceInit();
}
void settle()
{
    std::memcpy(ZevRamPara::p_zevrampara_shadow, img(), Img::kSize);
    c331_manage::para_update_flag = 0;
}
QStringList entry_texts(InputChoose* page)
{
    return label_texts(page->entries());
}
} // namespace

class TestInputChoose : public QObject
{
    Q_OBJECT
    PageHarness harness;
    bool tip_seen = false;

    // Runs a key whose action may show the tip; the tip is noted and closed.
    void release_with_tip(QWidget* page, int key)
    {
        tip_seen = false;
        QTimer::singleShot(0, this, [this] {
            tip_seen = g_tip->isVisible();
            g_tip->hide();
        });
        release_key(page, key);
        // The refresh that follows the apply confirms a stored change.
        SyncUpdate::pInstance()->para_sync(1);
        g_tip_flag = 0;
        QCoreApplication::processEvents();
    }

  private slots:
    void initTestCase() { g_tip = new TIP(nullptr); }

    void init()
    {
        PageHarness::reset();
        std::memset(img() + Img::kCropTable, 0, Img::kCropCount * Img::kCropSize);
        for (int i = 0; i < kSourceCount; ++i) {
            ZevRamPara::put16(img(), layer(i, Img::kLayerEnable), 0);
            ZevRamPara::put16(img(), layer(i, Img::kLayerSource), 2);
        }
        ZevRamPara::ZevCropSourceInit();
        g_image_current = 0;
        settle();
    }

    void topRowWithOnlyImageZero()
    {
        InputChoose page(nullptr);
        QCOMPARE(page.tiles(), u8(1));
        QList<int> right, left;
        for (int i = 0; i < 3; ++i) {
            release_key(&page, 'R');
            right << page.cursor();
        }
        for (int i = 0; i < 3; ++i) {
            release_key(&page, 'S');
            left << page.cursor();
        }
        QCOMPARE(right, QList<int>({6, 7, 0}));
        QCOMPARE(left, QList<int>({7, 6, 0}));
    }

    void opensOnTheCurrentOfferedImage()
    {
        ZevRamPara::put16(img(), layer(2, Img::kLayerEnable), 1);
        g_image_current = 2;
        settle();
        InputChoose page(nullptr);
        QCOMPARE(page.selected_image(), u8(2));
        QCOMPARE(page.cursor(), u8(1));
        release_key(&page, 'R');
        QCOMPARE(page.cursor(), u8(6));
    }

    void choosingASourceAndACropForAWindow()
    {
        add_crop(3, 640, 480);
        add_crop(3, 800, 600);
        settle();
        InputChoose page(nullptr);
        release_key(&page, 'Q'); // to the tabs, on HDMI1
        QCOMPARE(page.row(), u8(1));
        release_key(&page, 'R'); // HDMI2 (source 3)
        QCOMPARE(page.browsed_source(), u8(3));
        release_key(&page, 'Q'); // to the entries
        QCOMPARE(page.row(), u8(2));
        release_with_tip(&page, 'Q'); // entry 0: the plain source
        QVERIFY(tip_seen);
        QCOMPARE(ZevRamPara::img16(layer(0, Img::kLayerSource)), u16(3));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        c331_manage::para_update_flag = 0;
        release_key(&page, 'R');
        release_key(&page, 'R');
        release_with_tip(&page, 'Q'); // entry 2: the second crop, record 1
        QVERIFY(tip_seen);
        QCOMPARE(ZevRamPara::img16(layer(0, Img::kLayerSource)), u16(0x8001));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        QCOMPARE(fitted_text(page.tile_label(0)), QString("HDMI2_Crop2"));
        QVERIFY(entry_texts(&page).contains("Using"));
    }

    void entryPastTheCountWritesNothing()
    {
        add_crop(2, 640, 480);
        settle();
        InputChoose page(nullptr);
        release_key(&page, 'Q');
        release_key(&page, 'Q');
        release_key(&page, 'R'); // entry 1: the crop
        // The crop goes away behind the page's back.
        ZevRamPara::put16(img(), Img::kCropTable, 0);
        release_with_tip(&page, 'Q');
        QVERIFY(!tip_seen);
        QCOMPARE(ZevRamPara::img16(layer(0, Img::kLayerSource)), u16(2));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
    }

    void entryListPagesAndWraps()
    {
        for (int i = 0; i < 3; ++i)
            add_crop(2, 100 + i, 100);
        settle();
        InputChoose page(nullptr);
        release_key(&page, 'Q');
        release_key(&page, 'Q');
        QList<QPair<int, int>> seen;
        for (int i = 0; i < 4; ++i) {
            release_key(&page, 'R');
            seen << qMakePair(int(page.page()), int(page.cursor()));
        }
        QCOMPARE(seen, (QList<QPair<int, int>>{{0, 1}, {0, 2}, {1, 0}, {0, 0}}));
        release_key(&page, 'S'); // from the first entry to the last
        QCOMPARE(page.page(), u8(1));
        QCOMPARE(page.cursor(), u8(0));
        QCOMPARE(entry_texts(&page).filter("HDMI1_crop").size(), 1);
    }

    void offeredWindowsChangingSendTheKeysBackToTheTopRow()
    {
        ZevRamPara::put16(img(), layer(1, Img::kLayerEnable), 1);
        ZevRamPara::put16(img(), layer(3, Img::kLayerEnable), 1);
        settle();
        g_image_current = 3;
        InputChoose page(nullptr);
        QPointer<QLabel> old_label = page.tile_label(3);
        release_key(&page, 'Q');
        release_key(&page, 'Q');
        QCOMPARE(page.row(), u8(2));
        ZevRamPara::put16(img(), layer(3, Img::kLayerEnable), 0);
        page.syncUpdate(1);
        QCOMPARE(page.row(), u8(0));
        QCOMPARE(page.selected_image(), u8(0));
        QCOMPARE(page.cursor(), u8(0));
        QCOMPARE(page.tiles(), u8(2));
        QVERIFY(page.tile_label(3) == nullptr);
        QVERIFY(old_label.isNull());
        settle();
        // A source changed elsewhere relabels its tile without a move.
        ZevRamPara::put16(img(), layer(1, Img::kLayerSource), 0);
        page.syncUpdate(1);
        QCOMPARE(page.tile_label(1)->text(), QString("EXT"));
        QCOMPARE(page.selected_image(), u8(0));
    }

    void cropCodeRecountsTheTabs()
    {
        InputChoose page(nullptr);
        add_crop(5, 10, 10);
        page.syncUpdate(1);
        QCOMPARE(page.get_source_num(5), u8(2));
        QCOMPARE(page.get_source_num(9), u8(0));
    }

    void backReturnsToTheLayoutPageWhenItIsOpen()
    {
        check_back_to_opener(g_inputchoose, g_imagelayout, PageId::MainWindow);
    }

    void modeUnderTheKeyLockIsIgnored()
    {
        ZevRamPara::put16(img(), Img::kKeyLock, 1);
        InputChoose page(nullptr);
        g_inputchoose = &page;
        release_key(&page, 'M');
        QVERIFY(g_inputchoose == &page);
        g_inputchoose = nullptr;
    }
};

QTEST_MAIN(TestInputChoose)
#include "test_inputchoose.moc"
