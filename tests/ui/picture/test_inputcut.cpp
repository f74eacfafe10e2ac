// The crop editor: adding, editing and deleting crops from the keys, the
// list pages, number entry, a crop table changed behind the open panel, and
// the way back.
#include <QtTest>

#include <cstring>

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "core/zevrampara.h"
#include "ui/picture/inputchoose.h"
#include "ui/picture/inputcut.h"
#include "page_harness.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "ui_inputcut.h"
#include "video/c331_manage.h"

namespace
{
u16 crop_word(int record, int field)
{
    return ZevRamPara::img16(Img::kCropTable + Img::kCropSize * record + 2 * field);
}
void put_crop(int record, u16 id, u16 w)
{
    int o = Img::kCropTable + Img::kCropSize * record;
    ZevRamPara::put16(img(), o, id);
    ZevRamPara::put16(img(), o + 6, w);
}
int crops_of(int source)
{
    return ZevRamPara::ZevGetSourceNum(source, 40);
}
// Types into the panel's focused field row through the number keyboard.
void type_into(InputCut* page, const QString& text)
{
    QTimer::singleShot(0, [text] {
        g_numberkeyboard->label_show("", text);
        QMetaObject::invokeMethod(g_numberkeyboard, "on_Button_ok_clicked");
    });
    release_key(page, 'Q');
}
} // namespace

class TestInputCut : public QObject
{
    Q_OBJECT
    PageHarness harness;

  private slots:
    void initTestCase() { g_numberkeyboard = new NumberKeyboard(nullptr); }

    void init()
    {
        PageHarness::reset();
        std::memset(img() + Img::kCropTable, 0, Img::kCropCount * Img::kCropSize);
        ZevRamPara::ZevCropSourceInit();
        c331_manage::para_update_flag = 0;
    }

    void addingACropFromTheKeys()
    {
        InputCut page(nullptr);
        QCOMPARE(page.source(), u8(2));
        release_key(&page, 'Q'); // into the list, on the add button
        QCOMPARE(page.state(), u8(1));
        release_key(&page, 'Q'); // new crop: X row
        QCOMPARE(page.state(), u8(2));
        QCOMPARE(page.form()->lineEdit_W->text(), QString("1920"));
        release_key(&page, 'R');
        release_key(&page, 'R'); // W row
        type_into(&page, "800");
        QCOMPARE(page.form()->lineEdit_W->text(), QString("800"));
        // Left from X would reach Delete, which a new crop skips: OK.
        release_key(&page, 'S');
        release_key(&page, 'S');
        release_key(&page, 'S');
        QVERIFY(page.ok_button()->styleSheet().contains("255,171,84"));
        release_key(&page, 'Q');
        QCOMPARE(page.state(), u8(1));
        QCOMPARE(crop_word(0, 0), u16(0x8002));
        QCOMPARE(crop_word(0, 3), u16(800));
        QCOMPARE(crop_word(0, 4), u16(1080));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        QVERIFY(page.form()->frame_add->isHidden());
    }

    void aStaleMapNeverGivesADuplicateNumber()
    {
        // Crop number 0 of HDMI1 written by the PC tool; the map was not
        // rebuilt since.
        put_crop(5, 0x8002, 100);
        InputCut page(nullptr);
        put_crop(6, 0x8102, 100); // number 1, again behind the map's back
        release_key(&page, 'Q');
        release_key(&page, 'Q');
        release_key(&page, 'S'); // OK row
        release_key(&page, 'Q');
        QCOMPARE(crop_word(0, 0), u16(0x8202));
    }

    void editingAndDeletingTheOpenedCrop()
    {
        put_crop(0, 0x8002, 100);
        put_crop(1, 0x8102, 200);
        ZevRamPara::ZevCropSourceInit();
        InputCut page(nullptr);
        release_key(&page, 'Q');
        release_key(&page, 'R');
        release_key(&page, 'R');
        release_key(&page, 'R'); // the second crop
        release_key(&page, 'Q');
        QCOMPARE(page.state(), u8(3));
        QCOMPARE(page.form()->lineEdit_W->text(), QString("200"));
        page.form()->lineEdit_W->setText("-2");
        release_key(&page, 'S'); // OK row
        release_key(&page, 'Q');
        QCOMPARE(crop_word(1, 3), u16(0xFFFE));
        QCOMPARE(crops_of(2), 2);
        // Open it again and delete it.
        release_key(&page, 'Q');
        release_key(&page, 'S');
        release_key(&page, 'S');
        release_key(&page, 'S'); // Delete row
        release_key(&page, 'Q');
        QCOMPARE(crop_word(1, 0), u16(0));
        QCOMPARE(crop_word(0, 0), u16(0x8002));
        QCOMPARE(crops_of(2), 1);
    }

    void aTableChangedBehindThePanelNeverHitsAnotherCrop()
    {
        put_crop(0, 0x8002, 100);
        put_crop(1, 0x8102, 200);
        put_crop(2, 0x8202, 300);
        ZevRamPara::ZevCropSourceInit();
        InputCut page(nullptr);
        release_key(&page, 'Q');
        for (int i = 0; i < 3; ++i)
            release_key(&page, 'R'); // the second crop (number 1, record 1)
        release_key(&page, 'Q');
        QCOMPARE(page.form()->lineEdit_W->text(), QString("200"));
        // The PC tool deletes the first crop: the second place in the list
        // now holds number 2, the opened crop is first.
        put_crop(0, 0, 100);
        page.syncUpdate(1);
        QVERIFY(!page.form()->frame_add->isHidden());
        release_key(&page, 'S');
        release_key(&page, 'S');
        release_key(&page, 'S'); // Delete
        release_key(&page, 'Q');
        QCOMPARE(crop_word(1, 0), u16(0));
        QCOMPARE(crop_word(2, 0), u16(0x8202));
        // A crop replaced in its record while open: nothing is stored.
        // The cursor stayed past the last entry, where OK opens nothing.
        release_key(&page, 'Q');
        QCOMPARE(page.state(), u8(1));
        release_key(&page, 'S');
        release_key(&page, 'Q'); // the remaining crop, record 2
        QCOMPARE(page.state(), u8(3));
        page.form()->lineEdit_W->setText("999");
        put_crop(2, 0x8502, 300);
        release_key(&page, 'S');
        release_key(&page, 'Q');
        QCOMPARE(crop_word(2, 3), u16(300));
    }

    void listPagesWithSevenEntries()
    {
        for (int i = 0; i < 6; ++i)
            put_crop(i, u16(0x8002 + 256 * i), 10);
        ZevRamPara::ZevCropSourceInit();
        InputCut page(nullptr);
        release_key(&page, 'Q');
        QCOMPARE(page.pages_last(), u8(1));
        release_key(&page, 'S'); // from the add button to the last entry
        QCOMPARE(page.page(), u8(1));
        QCOMPARE(page.cursor(), u8(0));
        release_key(&page, 'R'); // back to the add button
        QCOMPARE(page.page(), u8(0));
        QCOMPARE(page.cursor(), u8(0));
        QVERIFY(page.add_button()->styleSheet().contains("255,171,84"));
        // OK on the source's own card does nothing.
        release_key(&page, 'R');
        release_key(&page, 'Q');
        QCOMPARE(page.state(), u8(1));
    }

    void sourceRowMovesTheCurrentSourceAtOnce()
    {
        InputCut page(nullptr);
        release_key(&page, 'S');
        QCOMPARE(page.source(), u8(0)); // EXT
        release_key(&page, 'R');
        release_key(&page, 'R');
        QCOMPARE(page.source(), u8(3)); // HDMI2
    }

    void backGoesToTheSourcePageWhenItIsOpen() { check_back_to_opener(g_inputcut, g_inputchoose, PageId::Option); }
};

QTEST_MAIN(TestInputCut)
#include "test_inputcut.moc"
