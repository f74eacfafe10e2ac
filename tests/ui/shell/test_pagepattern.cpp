// The shared page pattern: walking rows, edit mode with apply and cancel,
// back, MODE, Escape, languages with the English fall-back.
#include <QtTest>

#include <QLineEdit>
#include <QPushButton>

#include "core/zevrampara.h"
#include "page_harness.h"
#include "ui/shell/pages.h"
#include "video/c331_manage.h"

namespace
{
const PageText kTitle = {{"标题", "Title", "Заголовок", "Tiêu đề", "標題"}};
constexpr int kValueOffset = 2176;

// A settings page with two value rows and one action row, opened from a
// menu page (id 11) that was opened from Option (id 5).
class ValuePage : public ZevPage
{
  public:
    explicit ValuePage(QWidget* parent, u8 id = PageId::quality, u8 parentId = PageId::ImageQuality)
        : ZevPage(parent, id, parentId)
    {
        a = new QLineEdit(this);
        b = new QLineEdit(this);
        action = new QPushButton(this);
        a->setText(QString::number(ZevRamPara::img16(kValueOffset)));
        b->setText("7");
        menu_list = {a, b, action};
        menulist_init();
        language_changed();
    }
    void language_changed() override
    {
        ++language_calls;
        title = page_text(kTitle);
    }
    QLineEdit* a;
    QLineEdit* b;
    QPushButton* action;
    QString title;
    int language_calls = 0;
    int actions = 0;
    u8 row() const { return ui_select; }
    u8 editing() const { return edit_flag; }

  protected:
    QLineEdit* value_edit(int row) override { return row == 0 ? a : row == 1 ? b : nullptr; }
    void apply_value(int row, int value) override
    {
        if (row == 0)
            c331_apply(1, [&] { ZevRamPara::put16(ZevRamPara::p_zevrampara_config, kValueOffset, u16(value)); });
    }
    void on_row_ok(int) override { ++actions; }
};

void press(QWidget* w, int key)
{
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
} // namespace

class TestPagePattern : public QObject
{
    Q_OBJECT
    PageHarness harness;

  private slots:
    void init()
    {
        PageHarness::reset();
        ZevRamPara::put16(img(), kValueOffset, 50);
        PageRegistry::set_user_mode_factory(nullptr);
    }

    void rowsWrapBothWays()
    {
        ValuePage p(nullptr);
        QCOMPARE(p.row(), u8(0));
        QVERIFY(p.a->styleSheet().contains("255,171,84"));
        release_key(&p, 'S');
        QCOMPARE(p.row(), u8(2));
        QVERIFY(p.action->styleSheet().contains("255,171,84"));
        QVERIFY(p.a->styleSheet().contains("255, 255, 255"));
        release_key(&p, Qt::Key_F5);
        QCOMPARE(p.row(), u8(0));
        release_key(&p, 'R');
        QCOMPARE(p.row(), u8(1));
        // A press alone does nothing.
        press(&p, Qt::Key_F5);
        QCOMPARE(p.row(), u8(1));
    }

    void editStepsApplyAtOnceAndBackRestores()
    {
        ValuePage p(nullptr);
        p.show();
        release_key(&p, 'Q');
        QCOMPARE(p.editing(), u8(1));
        QVERIFY(p.a->styleSheet().contains("255,0,0"));
        release_key(&p, 'R');
        QCOMPARE(ZevRamPara::img16(kValueOffset), u16(51));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        c331_manage::para_update_flag = 0;
        release_key(&p, 'R');
        c331_manage::para_update_flag = 0;
        QCOMPARE(p.a->text(), QString("52"));
        // Cancel: the value from before the edit returns to the image.
        release_key(&p, 'O');
        QCOMPARE(p.editing(), u8(0));
        QCOMPARE(ZevRamPara::img16(kValueOffset), u16(50));
        QCOMPARE(p.a->text(), QString("50"));
        QVERIFY(p.a->styleSheet().contains("255,171,84"));
        // BACK during an edit only cancels it: the page stays open.
        QVERIFY(p.isVisible());
        QVERIFY(!p.testAttribute(Qt::WA_DeleteOnClose));
    }

    void stepDroppedWhileApplyPendingButOkAndBackTakeEffect()
    {
        ValuePage p(nullptr);
        release_key(&p, 'Q');
        release_key(&p, 'R');
        QCOMPARE(ZevRamPara::img16(kValueOffset), u16(51));
        // The previous change is not yet taken: the step is dropped.
        release_key(&p, 'R');
        QCOMPARE(ZevRamPara::img16(kValueOffset), u16(51));
        QCOMPARE(p.a->text(), QString("51"));
        // Back still restores even while an apply is pending.
        release_key(&p, 'O');
        QCOMPARE(ZevRamPara::img16(kValueOffset), u16(50));
        QCOMPARE(p.editing(), u8(0));
    }

    void valuesStayWithinRange()
    {
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, kValueOffset, 100);
        ValuePage p(nullptr);
        release_key(&p, 'Q');
        release_key(&p, 'R');
        c331_manage::para_update_flag = 0;
        QCOMPARE(p.a->text(), QString("100"));
        release_key(&p, 'Q');
        QCOMPARE(p.editing(), u8(0));
        QCOMPARE(ZevRamPara::img16(kValueOffset), u16(100));
        c331_manage::para_update_flag = 0;
    }

    void okOnActionRowRunsIt()
    {
        ValuePage p(nullptr);
        release_key(&p, 'S');
        release_key(&p, 'Q');
        QCOMPARE(p.actions, 1);
        QCOMPARE(p.editing(), u8(0));
    }

    void backClosesAndGivesTheKeysToTheParent()
    {
        auto* parent = new ValuePage(nullptr, PageId::ImageQuality, PageId::Option);
        PageRegistry::set(PageId::ImageQuality, parent);
        auto* page = new ValuePage(nullptr, PageId::quality, PageId::ImageQuality);
        PageRegistry::set(PageId::quality, page);
        g_page_focus = PageId::quality;
        page->show();
        int before = parent->language_calls;
        QPointer<ValuePage> watch(page);
        release_key(page, Qt::Key_PowerOff);
        QCOMPARE(g_page_focus.load(), u8(PageId::ImageQuality));
        QVERIFY(PageRegistry::at(PageId::quality) == nullptr);
        QCOMPARE(parent->language_calls, before + 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(watch.isNull());
        delete parent;
        QVERIFY(PageRegistry::at(PageId::ImageQuality) == nullptr);
    }

    void escapeNeverClosesAPage()
    {
        ValuePage p(nullptr);
        PageRegistry::set(PageId::quality, &p);
        p.show();
        press(&p, Qt::Key_Escape);
        p.reject();
        QVERIFY(p.isVisible());
        QVERIFY(PageRegistry::at(PageId::quality) == &p);
    }

    void destructorClearsOnlyItsOwnPointer()
    {
        auto* old = new ValuePage(nullptr);
        ValuePage fresh(nullptr);
        PageRegistry::set(PageId::quality, &fresh);
        delete old;
        QVERIFY(PageRegistry::at(PageId::quality) == &fresh);
        PageRegistry::set(PageId::quality, nullptr);
    }

    void modeClosesTheMenuChainAndOpensTheUserModePage()
    {
        PageRegistry::set_user_mode_factory(&make_stub_page);
        auto* option = new ValuePage(nullptr, PageId::Option, PageId::MainWindow);
        auto* menu = new ValuePage(nullptr, PageId::ImageQuality, PageId::Option);
        auto* page = new ValuePage(nullptr, PageId::quality, PageId::ImageQuality);
        PageRegistry::set(PageId::Option, option);
        PageRegistry::set(PageId::ImageQuality, menu);
        PageRegistry::set(PageId::quality, page);
        g_mode_shortcut_key = 0;
        release_key(page, 'M');
        QVERIFY(PageRegistry::at(PageId::quality) == nullptr);
        QVERIFY(PageRegistry::at(PageId::ImageQuality) == nullptr);
        QVERIFY(PageRegistry::at(PageId::Option) == nullptr);
        QCOMPARE(g_page_focus.load(), u8(PageId::CustomMode));
        QCOMPARE(g_mode_shortcut_key.load(), u8(1));
        auto* user = dynamic_cast<StubPage*>(PageRegistry::at(PageId::CustomMode));
        QVERIFY(user && user->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        PageRegistry::set(PageId::CustomMode, nullptr);
        delete user;
    }

    void modeUnderTheKeyLockDoesNothing()
    {
        PageRegistry::set_user_mode_factory(&make_stub_page);
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kKeyLock, 1);
        ValuePage p(nullptr);
        PageRegistry::set(PageId::quality, &p);
        g_page_focus = PageId::quality;
        g_image_current = 3;
        release_key(&p, 'M');
        QVERIFY(PageRegistry::at(PageId::quality) == &p);
        QCOMPARE(g_page_focus.load(), u8(PageId::quality));
        PageRegistry::set(PageId::quality, nullptr);
    }

    void languagesFallBackToEnglish_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<uint>("valid");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("icon");
        QTest::newRow("zh") << 0 << 0x1Fu << QString("标题") << QString(":/png/option.png");
        QTest::newRow("zh off") << 0 << 0x1Eu << QString("Title") << QString(":/png/en_option.png");
        QTest::newRow("en") << 1 << 0u << QString("Title") << QString(":/png/en_option.png");
        QTest::newRow("ru") << 2 << 0x04u << QString("Заголовок") << QString(":/png/ru_option.png");
        QTest::newRow("vn") << 3 << 0x08u << QString("Tiêu đề") << QString(":/png/vn_option.png");
        QTest::newRow("vn off") << 3 << 0x17u << QString("Title") << QString(":/png/en_option.png");
        QTest::newRow("tw") << 4 << 0x10u << QString("標題") << QString(":/png/tn_option.png");
        QTest::newRow("beyond") << 7 << 0xFFu << QString("Title") << QString(":/png/en_option.png");
    }

    void languagesFallBackToEnglish()
    {
        QFETCH(int, language);
        QFETCH(uint, valid);
        QFETCH(QString, text);
        QFETCH(QString, icon);
        g_language = u8(language);
        g_lcd_lang_valid = valid;
        ValuePage p(nullptr);
        QCOMPARE(p.title, text);
        QCOMPARE(lang_icon("option.png"), icon);
    }

    void syncUpdateReappliesTextsOnALanguageChange()
    {
        ValuePage p(nullptr);
        int before = p.language_calls;
        p.syncUpdate(1);
        QCOMPARE(p.language_calls, before);
        ZevRamPara::p_zevrampara_config[Img::kLanguage] = 2;
        p.syncUpdate(1);
        QCOMPARE(p.language_calls, before + 1);
        QCOMPARE(p.title, QString("Заголовок"));
        ZevRamPara::p_zevrampara_shadow[Img::kLanguage] = 2;
    }
};

QTEST_MAIN(TestPagePattern)
#include "test_pagepattern.moc"
