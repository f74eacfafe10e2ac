// The user-mode page: walking the slots, recall and delete with their files,
// the preview of a stored mode (windows and OSD menu) and its two backs.
#include <QtTest>

#include <cstring>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "core/zevrampara.h"
#include "ui/picture/custommode.h"
#include "page_harness.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/syncupdate.h"
#include "ui/shell/pages.h"
#include "ui/shell/zevcontrol.h"
#include "ui_custommode.h"
#include "video/c331_manage.h"

namespace
{
u8* slot(int s)
{
    return ZevRamPara::user_mode[s];
}
// A field of a stored mode by its image offset.
void put_stored(int s, int offset, u16 v)
{
    ZevRamPara::put16(slot(s) + 2, offset - Img::kModeStart, v);
}

QStringList preview_texts(CustomMode* page)
{
    return label_texts(page->preview());
}
} // namespace

class TestCustomMode : public QObject
{
    Q_OBJECT
    PageHarness harness;

    void store(int s)
    {
        slot(s)[0] = slot(s)[1] = 0xAA;
        std::memcpy(slot(s) + 2, img() + Img::kModeStart, Img::kModeBytes);
        QVERIFY(writeHostFile(harness.sim().hostQ(ZevRamPara::modeFilePath(s)),
                              QByteArray(reinterpret_cast<const char*>(slot(s)), kUserModeFileSize)));
    }

  private slots:
    void initTestCase() { CustomMode::set_home_page_factory(&make_stub_page); }

    void init()
    {
        PageHarness::reset();
        ZevRamPara::put16(img(), Img::kCurrentMode, 0);
        for (int s = 0; s < kUserModeCount; ++s)
            slot(s)[0] = slot(s)[1] = 0xFF;
        g_mode_select = 0;
        g_mode_shortcut_key = 0;
    }

    void opensOnTheSlotInUseAndWrapsBothWays()
    {
        store(4);
        ZevRamPara::put16(img(), Img::kCurrentMode, 5);
        CustomMode page(nullptr);
        QCOMPARE(g_mode_select.load(), u8(4));
        QCOMPARE(page.form()->label_ID->text(), QString("ID:5"));
        QVERIFY(page.form()->label_using->isVisibleTo(&page));
        ZevRamPara::put16(img(), Img::kCurrentMode, 0);
        CustomMode fresh(nullptr);
        QCOMPARE(fresh.select(), u8(0));
        release_key(&fresh, 'S');
        QCOMPARE(fresh.select(), u8(15));
        QCOMPARE(g_mode_select.load(), u8(15));
        QCOMPARE(fresh.form()->label_ID->text(), QString("ID:16"));
        release_key(&fresh, Qt::Key_F5);
        QCOMPARE(fresh.select(), u8(0));
        QCOMPARE(fresh.selector()->combo()->currentIndex(), 0);
    }

    void emptySlotShowsTheNoteAndRefusesOk()
    {
        CustomMode page(nullptr);
        QVERIFY(page.form()->label_blank->isVisibleTo(&page));
        QVERIFY(!page.form()->Button_use->isVisibleTo(&page));
        QVERIFY(page.preview() == nullptr);
        release_key(&page, 'Q');
        QCOMPARE(page.edit(), u8(0));
    }

    void recallCopiesTheStoredImageAndRaisesTheApplyOnce()
    {
        ZevRamPara::put16(img(), Img::kBrightness, 77);
        store(2);
        ZevRamPara::put16(img(), Img::kBrightness, 10);
        CustomMode page(nullptr);
        g_mode_select = 2;
        page.on_Button_use_clicked();
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(3));
        QCOMPARE(ZevRamPara::img16(Img::kBrightness), u16(77));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        // Recall on an empty slot does nothing.
        c331_manage::para_update_flag = 0;
        g_mode_select = 3;
        page.on_Button_use_clicked();
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
    }

    void deleteRemovesTheModeAndItsOsdFile()
    {
        put_stored(1, Img::kOsdMenuFlag, 0);
        store(1);
        put_stored(1, Img::kOsdMenuFlag, 1);
        QVERIFY(writeHostFile(harness.sim().hostQ(ZevRamPara::modeMenuPath(1)), "{}"));
        CustomMode page(nullptr);
        release_key(&page, 'R');
        release_key(&page, 'Q');
        QCOMPARE(page.edit(), u8(1));
        release_key(&page, 'R'); // Delete
        QCOMPARE(page.button(), u8(1));
        release_key(&page, 'Q');
        QVERIFY(!QFile::exists(harness.sim().hostQ(ZevRamPara::modeFilePath(1))));
        QVERIFY(!QFile::exists(harness.sim().hostQ("/data/modes/MO02.json")));
        QCOMPARE(ZevRamPara::ZevUserModeSaved(1), 0);
        QVERIFY(page.form()->label_blank->isVisibleTo(&page));
        QCOMPARE(page.edit(), u8(0));
    }

    void previewShowsTheStoredWindowsWithTheirCrops()
    {
        // Window 4 shows crop record 7, a crop of source 3 (HDMI2).
        std::memcpy(slot(0) + 2, img() + Img::kModeStart, Img::kModeBytes);
        slot(0)[0] = slot(0)[1] = 0xAA;
        put_stored(0, ZevRamPara::layerOffset(4) + Img::kLayerSource, 0x8007);
        put_stored(0, ZevRamPara::layerOffset(4) + Img::kLayerEnable, 0);
        put_stored(0, Img::kCropTable + 70, 0x8003);
        // Window 5 names a record beyond the table: no source name.
        put_stored(0, ZevRamPara::layerOffset(5) + Img::kLayerSource, 0x80FF);
        put_stored(0, ZevRamPara::layerOffset(0) + Img::kLayerW, 1920);
        put_stored(0, ZevRamPara::layerOffset(0) + Img::kLayerH, 1080);
        put_stored(0, ZevRamPara::layerOffset(0) + Img::kLayerX, 0);
        put_stored(0, ZevRamPara::layerOffset(0) + Img::kLayerY, 0);
        put_stored(0, Img::kOsdMenuFlag, 0);
        CustomMode page(nullptr);
        QStringList texts = preview_texts(&page);
        QVERIFY(texts.contains("HDMI2_Crop8 OFF"));
        QVERIFY(texts.contains("_Crop256 OFF") || texts.contains("_Crop256 ON"));
        QVERIFY(texts.contains("[0,0]1920x1080"));
        QCOMPARE(texts.filter(QRegularExpression("^\\d$")).size(), 6);
        // Without an OSD menu the buttons walk Use and Delete only.
        release_key(&page, 'Q');
        release_key(&page, 'S');
        QCOMPARE(page.button(), u8(1));
        release_key(&page, 'R');
        QCOMPARE(page.button(), u8(0));
    }

    void moreShowsTheFirstOsdEntryInItsColours()
    {
        std::memcpy(slot(9) + 2, img() + Img::kModeStart, Img::kModeBytes);
        slot(9)[0] = slot(9)[1] = 0xAA;
        put_stored(9, Img::kOsdMenuFlag, 1);
        QVERIFY(writeHostFile(
            harness.sim().hostQ("/data/modes/MO0a.json"),
            R"({"name":"a","osdcount":1,"oactcount":1,"menu":[{"type":0,"status":1,"pos":{"x":0,"y":0,"w":128,"h":32},
            "act":{"effect":0,"speed":5,"staytime":0},"backpara":{"enable":1,"color":"0x102030"},
            "fontpara":{"startx":0,"starty":0,"fontw":16,"fonth":16,"wordspace":0,"verticalspace":0,"color":"0xAABBCC"},
            "texts":"1\n2\n3\n4\n5"}]})"));
        ZevRamPara::put16(img(), Img::kCurrentMode, 10);
        g_language = 2; // Russian: the OSD details stay English
        g_lcd_lang_valid = 0x1F;
        CustomMode page(nullptr);
        release_key(&page, 'Q');
        release_key(&page, 'S'); // from Use to More
        QCOMPARE(page.button(), u8(2));
        QStringList texts = preview_texts(&page);
        QVERIFY(texts.contains("osd [x:0,y:0,w:128,h:32] font size:16*16\nspace [h:0,v:0] char[x:0,y:0] "
                               "speed:5,effect:static"));
        QVERIFY(texts.contains("1\n2\n3"));
        bool coloured = false;
        for (QLabel* l : page.preview()->findChildren<QLabel*>())
            coloured |= l->styleSheet() == "background-color:#102030;color:#AABBCC;";
        QVERIFY(coloured);
        // Back to Delete: the window table returns.
        release_key(&page, 'S');
        QVERIFY(!preview_texts(&page).contains("1\n2\n3"));
    }

    void summaryStaysInBoundsWithAStrangeStoredMode()
    {
        std::memcpy(slot(0) + 2, img() + Img::kModeStart, Img::kModeBytes);
        slot(0)[0] = slot(0)[1] = 0xAA;
        slot(0)[2 + Img::kAudioLayer - Img::kModeStart] = 200;
        CustomMode page(nullptr);
        g_mode_select = 40; // beyond the slots: read as slot 0
        page.lcd_para_init();
        QVERIFY(page.form()->label_brightness->text().endsWith("Volume:OFF"));
        put_stored(0, ZevRamPara::layerOffset(0) + Img::kLayerAudio, 0x8000);
        slot(0)[2 + Img::kAudioLayer - Img::kModeStart] = 0;
        page.lcd_para_init();
        QVERIFY(page.form()->label_brightness->text().endsWith("Volume:ON"));
    }

    void backReturnsToTheMainWindowOrToANewHomePage()
    {
        auto* page = new CustomMode(nullptr);
        PageRegistry::set(PageId::CustomMode, page);
        release_key(page, 'O');
        QCOMPARE(g_page_focus.load(), u8(PageId::MainWindow));
        QVERIFY(PageRegistry::at(PageId::CustomMode) == nullptr);

        g_mode_shortcut_key = 1;
        page = new CustomMode(nullptr);
        PageRegistry::set(PageId::CustomMode, page);
        release_key(page, Qt::Key_PowerOff);
        QCOMPARE(g_page_focus.load(), u8(PageId::LockWindow));
        QCOMPARE(g_mode_shortcut_key.load(), u8(0));
        auto* home = dynamic_cast<StubPage*>(PageRegistry::at(PageId::LockWindow));
        QVERIFY(home && home->isVisible());
        PageRegistry::set(PageId::LockWindow, nullptr);
        delete home;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void backAtTheButtonLevelOnlyLeavesIt()
    {
        store(0);
        CustomMode page(nullptr);
        PageRegistry::set(PageId::CustomMode, &page);
        g_page_focus = PageId::CustomMode;
        release_key(&page, 'Q');
        release_key(&page, 'O');
        QCOMPARE(page.edit(), u8(0));
        QCOMPARE(g_page_focus.load(), u8(PageId::CustomMode));
        PageRegistry::set(PageId::CustomMode, nullptr);
    }

    void openedFromTheMainWindowAndRefreshedByTheShell()
    {
        PageRegistry::set_user_mode_factory(&CustomMode::create);
        auto* main = new MainWindow(nullptr);
        g_mainwindow = main;
        g_page_focus = PageId::MainWindow;
        main->on_custommode_clicked();
        CustomMode* page = g_custommode;
        QVERIFY(page && page->isVisible());
        QCOMPARE(g_page_focus.load(), u8(PageId::CustomMode));
        // A language change reaches the open page through the refresh.
        img()[Img::kLanguage] = 2;
        g_lcd_lang_valid = 0x1F;
        SyncUpdate::pInstance()->para_sync(1);
        QCOMPARE(page->form()->label_title->text(), QString("Слот"));
        release_key(page, 'O');
        QCOMPARE(g_page_focus.load(), u8(PageId::MainWindow));
        QVERIFY(g_custommode == nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        g_mainwindow = nullptr;
        delete main;
        PageRegistry::set_user_mode_factory(nullptr);
    }
};

QTEST_MAIN(TestCustomMode)
#include "test_custommode.moc"
