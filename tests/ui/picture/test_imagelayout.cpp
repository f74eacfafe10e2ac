// The window-layout page: following the image it shows, choosing the
// current image with left and right, and its back and MODE.
#include <QtTest>

#include <cstring>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "core/zevrampara.h"
#include "ui/picture/custommode.h"
#include "ui/picture/imagelayout.h"
#include "page_harness.h"
#include "ui/shell/pages.h"
#include "ui_imagelayout.h"

namespace
{
void put_layer(int i, int field, u16 v)
{
    ZevRamPara::put16(img(), ZevRamPara::layerOffset(i) + field, v);
}

// The Option menu page the layout page is opened from.
class OptionPage : public ZevPage
{
  public:
    OptionPage() : ZevPage(nullptr, PageId::Option, PageId::MainWindow) {}
    void language_changed() override {}
};

class Counter : public QObject
{
  public:
    int signals_seen = 0;
    void count(int) { ++signals_seen; }
};
} // namespace

class TestImageLayout : public QObject
{
    Q_OBJECT
    PageHarness harness;

  private slots:
    void initTestCase() { PageRegistry::set_user_mode_factory(&CustomMode::create); }

    void init()
    {
        PageHarness::reset();
        g_image_current = 0;
    }

    void showsTheRecordOfTheImage_data()
    {
        QTest::addColumn<int>("enable");
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("p2p");
        QTest::addColumn<int>("p2pMode");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("sourceText");
        QTest::addColumn<int>("combo");
        QTest::newRow("on, HDMI3, plain p2p") << 2 << 4 << 1 << 0 << "Image state:ON"
                                              << "Source:HDMI3" << 1;
        QTest::newRow("off, crop of DVI, vertical") << 0 << 0x8003 << 1 << 9 << "Image state:OFF"
                                                    << "Source:DVI" << 3;
        QTest::newRow("p2p off") << 1 << 0 << 0 << 8 << "Image state:ON"
                                 << "Source:EXT" << 0;
        QTest::newRow("crop beyond the table") << 1 << 0x80FF << 1 << 8 << "Image state:ON"
                                               << "Source:" << 2;
    }

    void showsTheRecordOfTheImage()
    {
        QFETCH(int, enable);
        QFETCH(int, source);
        QFETCH(int, p2p);
        QFETCH(int, p2pMode);
        QFETCH(QString, state);
        QFETCH(QString, sourceText);
        QFETCH(int, combo);
        ZevRamPara::put16(img(), Img::kCropTable + 30, 0x8001);
        put_layer(2, Img::kLayerEnable, u16(enable));
        put_layer(2, Img::kLayerSource, u16(source));
        put_layer(2, Img::kLayerX, 960);
        put_layer(2, Img::kLayerMirror, 2);
        img()[ZevRamPara::layerOffset(2) + Img::kLayerP2p] = u8(p2p);
        put_layer(2, Img::kLayerP2pMode, u16(p2pMode));
        g_image_current = 2;
        ImageLayout page(nullptr);
        QCOMPARE(page.form()->image_state->text(), state);
        QCOMPARE(page.form()->image_source->text(), sourceText);
        QCOMPARE(page.form()->image_name->text(), QString("Name:Image3"));
        QCOMPARE(page.form()->lineEdit_X->text(), QString("960"));
        QCOMPARE(page.form()->comboBox_P2P->currentIndex(), combo);
        QCOMPARE(page.form()->frame_image->x(), 7 + 51 * 2);
        QVERIFY(!page.form()->mirror3->pixmap(Qt::ReturnByValue).isNull());
    }

    void leftAndRightChooseTheCurrentImageWithWrap()
    {
        Counter counter;
        connect(ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para, &counter, &Counter::count);
        ImageLayout page(nullptr);
        release_key(&page, 'S');
        QCOMPARE(page.shown(), u8(5));
        QCOMPARE(g_image_current.load(), u8(5));
        release_key(&page, Qt::Key_F5);
        QCOMPARE(page.shown(), u8(0));
        QCOMPARE(counter.signals_seen, 2);
        // A hot key changes the current image, not the page's own.
        g_image_current = 3;
        release_key(&page, 'Q');
        QCOMPARE(page.shown(), u8(0));
        release_key(&page, 'R');
        QCOMPARE(g_image_current.load(), u8(1));
        disconnect(ZevRamPara::p_zevrampara, nullptr, &counter, nullptr);
    }

    void modeLeavesNeitherThisPageNorOptionOpen()
    {
        auto* option = new OptionPage;
        PageRegistry::set(PageId::Option, option);
        auto* page = new ImageLayout(nullptr);
        g_imagelayout = page;
        release_key(page, 'M');
        QVERIFY(g_imagelayout == nullptr);
        QVERIFY(PageRegistry::at(PageId::Option) == nullptr);
        QCOMPARE(g_page_focus.load(), u8(PageId::CustomMode));
        QVERIFY(g_custommode != nullptr);
        CustomMode* mode = g_custommode;
        g_custommode = nullptr;
        delete mode;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void backGivesTheKeysToOption()
    {
        auto* page = new ImageLayout(nullptr);
        g_imagelayout = page;
        release_key(page, 'O');
        QVERIFY(g_imagelayout == nullptr);
        QCOMPARE(g_page_focus.load(), u8(PageId::Option));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_MAIN(TestImageLayout)
#include "test_imagelayout.moc"
