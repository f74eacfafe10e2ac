// The settings menu and its sub-menus, driven by the panel keys: every row
// to its page and back, the grey recovery tile, the access code of the
// ageing log, and the link menu's tip.
#include <QtTest>

#include <functional>
#include <thread>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "core/zevrampara.h"
#include "page_harness.h"
#include "link/message_deal_file.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/imagequality.h"
#include "ui/shell/linkoption.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/outputset.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"
#include "ui/shell/tip.h"
#include "ui_numberkeyboard.h"

namespace
{
const char* const kFocusBorder = "solid rgb(255,171,84)";

struct Menu {
    u8 id;
    std::function<ZevPage*()> make;
    QStringList rows;
    QString russian_title;
};

const QList<Menu>& menus()
{
    static const QList<Menu> list = {
        {PageId::Option,
         [] { return new Option(nullptr); },
         {"output_set", "input_cut", "image_layout", "link_set", "image_quality", "test_chart", "smart_mapping",
          "AdvanceButton"},
         "Настройки"},
        {PageId::OutputSet, [] { return new OutputSet(nullptr); }, {"Button_ledset", "Button_lanset"}, "Выход"},
        {PageId::ImageQuality,
         [] { return new ImageQuality(nullptr); },
         {"Button_quality", "Button_temperature"},
         "Изображение"},
        {PageId::LinkOption,
         [] { return new LinkOption(nullptr); },
         {"Button_com", "Button_wlan", "Button_usb"},
         "Подключение"},
        {PageId::AdvancedOption,
         [] { return new AdvancedOption(nullptr); },
         {"Button_LCDshow", "Button_other", "Button_rcv_recovery", "Button_factory", "Button_age"},
         "Доп.опции"},
    };
    return list;
}

const Menu& menu(u8 id)
{
    for (const Menu& m : menus())
        if (m.id == id)
            return m;
    Q_ASSERT(false);
    return menus().first();
}

// The pages built by others; until they are, a menu shows a note instead.
bool maintenance_page(u8 id)
{
    return id == PageId::factory || id == PageId::factoryage || id == PageId::SmartMapping ||
           id == PageId::rcv_recovery || id == PageId::firmware_usbgrade;
}

int focused_row(QWidget* page, const QStringList& rows)
{
    int found = -1;
    for (int i = 0; i < rows.size(); ++i)
        if (page->findChild<QPushButton*>(rows[i])->styleSheet().contains(kFocusBorder))
            found = found < 0 ? i : -2;
    return found;
}

QString title(QWidget* page)
{
    return page->findChild<QLabel*>("label_title")->text();
}

// The "not available" notes shown since the last call, removed.
int take_notes()
{
    int n = 0;
    for (QWidget* w : QApplication::allWidgets()) {
        auto* label = qobject_cast<QLabel*>(w);
        if (label && label->text() == "Not available yet" && !label->property("seen").toBool()) {
            label->setProperty("seen", true);
            label->hide();
            ++n;
        }
    }
    return n;
}

// Calls back for every widget as it is shown.
class ShowWatch : public QObject
{
  public:
    explicit ShowWatch(std::function<void(QWidget*)> seen) : seen_(std::move(seen)) { qApp->installEventFilter(this); }
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Show && o->isWidgetType())
            seen_(static_cast<QWidget*>(o));
        return false;
    }

  private:
    std::function<void(QWidget*)> seen_;
};

} // namespace

class TestMenus : public QObject
{
    Q_OBJECT
    PageHarness harness;

    QString recovery_dir() { return harness.sim().hostQ("/data/rcvrecovery"); }

    // Opens a menu page as its opener would, shown with the keys.
    ZevPage* open_menu(u8 id)
    {
        ZevPage* page = menu(id).make();
        PageRegistry::set(id, page);
        g_page_focus = id;
        page->show();
        return page;
    }

    // Keys on the numeric keypad while it runs: the code and its confirm.
    static void type_code(const QString& code)
    {
        g_numberkeyboard->form()->lineEdit->setText(code);
        g_numberkeyboard->form()->Button_ok->click();
    }

  private slots:
    void initTestCase()
    {
        // Notes of pages not built yet show over the main window.
        harness.main_window()->show();
    }

    void init()
    {
        PageHarness::reset();
        QDir(recovery_dir()).removeRecursively();
        QDir().mkpath(recovery_dir());
        take_notes();
    }

    void everyRowOpensItsPageAndBackReturnsTheKeys_data()
    {
        QTest::addColumn<int>("menuId");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("childId");
        const QList<QPair<u8, QList<u8>>> rows = {
            {PageId::Option,
             {PageId::OutputSet, PageId::InputCut, PageId::ImageLayout, PageId::LinkOption, PageId::ImageQuality,
              PageId::test_chart, PageId::SmartMapping, PageId::AdvancedOption}},
            {PageId::OutputSet, {PageId::ledset, PageId::netset}},
            {PageId::ImageQuality, {PageId::quality, PageId::temperature}},
            {PageId::LinkOption, {PageId::linkcom, PageId::linkwlan, PageId::firmware_usbgrade}},
            {PageId::AdvancedOption,
             {PageId::lcdshow, PageId::othersetup, PageId::rcv_recovery, PageId::factory, PageId::factoryage}},
        };
        for (const auto& m : rows)
            for (int r = 0; r < m.second.size(); ++r)
                QTest::addRow("%d row %d", m.first, r) << int(m.first) << r << int(m.second[r]);
    }
    void everyRowOpensItsPageAndBackReturnsTheKeys()
    {
        QFETCH(int, menuId);
        QFETCH(int, row);
        QFETCH(int, childId);
        writeHostFile(recovery_dir() + "/pack1", "pack");
        QPointer<ZevPage> page = open_menu(u8(menuId));
        for (int i = 0; i < row; ++i)
            release_key(page, kRight);
        QCOMPARE(focused_row(page, menu(u8(menuId)).rows), row);

        // Inside the child's loop: the code when asked, then Back on the
        // child after a language change.
        int focus_in_child = -1;
        QTimer driver;
        connect(&driver, &QTimer::timeout, [&] {
            if (g_numberkeyboard->isVisible())
                return type_code("9847");
            auto* child = dynamic_cast<ZevPage*>(PageRegistry::at(u8(childId)));
            if (!child || focus_in_child >= 0)
                return;
            focus_in_child = g_page_focus;
            g_language = 2;
            release_key(child, kBack);
        });
        driver.start(0);
        release_key(page, kOk);
        driver.stop();

        if (focus_in_child < 0) {
            // Not built in this program yet: a note, and the keys stay.
            QVERIFY(maintenance_page(u8(childId)));
            QCOMPARE(take_notes(), 1);
            QCOMPARE(int(g_page_focus), menuId);
        } else {
            QCOMPARE(focus_in_child, childId);
            QCOMPARE(int(g_page_focus), menuId);
            QVERIFY(!PageRegistry::at(u8(childId)));
            // The ageing log refreshes its menu only after a change of the
            // stored language.
            if (childId != PageId::factoryage)
                QCOMPARE(title(page), menu(u8(menuId)).russian_title);
        }
        QVERIFY(page && page->isVisible());
        release_key(page, kBack);
        QTRY_VERIFY(page.isNull());
        QVERIFY(!PageRegistry::at(u8(menuId)));
    }

    void focusWrapsBothWays()
    {
        for (const Menu& m : menus()) {
            ZevPage* page = open_menu(m.id);
            release_key(page, kLeft);
            QCOMPARE(focused_row(page, m.rows), m.rows.size() - 1);
            release_key(page, kRight);
            QCOMPARE(focused_row(page, m.rows), 0);
            PageRegistry::set(m.id, nullptr);
            delete page;
        }
    }

    void theOptionMenuIsClosedByBackOnly()
    {
        QPointer<ZevPage> page = open_menu(PageId::Option);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(page, &escape);
        page->close();
        QCoreApplication::processEvents();
        QVERIFY(page && page->isVisible());
        QVERIFY(g_option);
        release_key(page, kBack);
        QCOMPARE(int(g_page_focus), int(PageId::MainWindow));
        QTRY_VERIFY(page.isNull());
    }

    void theTipIsClosedByItsTimeOutOnly()
    {
        bool shown_after_escape = false;
        QTimer::singleShot(0, [&] {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(g_tip, &escape);
            shown_after_escape = g_tip->isVisible();
            for (int i = 0; i < 300; ++i)
                g_tip->tip_outtime_deal();
        });
        g_tip->tip_create(1);
        QVERIFY(shown_after_escape);
        QVERIFY(!g_tip->isVisible());
    }

    void optionIconsFollowTheLanguage_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QSize>("advancedSize");
        QTest::addColumn<QString>("advancedIcon");
        QTest::newRow("en") << 1 << QSize(54, 60) << ":/png/en_advance_option.png";
        QTest::newRow("ru") << 2 << QSize(70, 60) << ":/png/ru_AdvanceButton.png";
        QTest::newRow("zh") << 0 << QSize(55, 60) << ":/png/AdvanceButton.png";
    }
    void optionIconsFollowTheLanguage()
    {
        QFETCH(int, language);
        QFETCH(QSize, advancedSize);
        QFETCH(QString, advancedIcon);
        g_language = u8(language);
        Option page(nullptr);
        auto* tile = page.findChild<QPushButton*>("AdvanceButton");
        QCOMPARE(tile->iconSize(), advancedSize);
        QCOMPARE(tile->icon().pixmap(advancedSize).toImage(), QIcon(advancedIcon).pixmap(advancedSize).toImage());
        QCOMPARE(page.smart_mapping_valid, u8(1));
        // Disabled for the pointer, the smart-mapping tile keeps its colours.
        auto* mapping = page.findChild<QPushButton*>("smart_mapping");
        QVERIFY(!mapping->isEnabled());
        QCOMPARE(mapping->icon().pixmap(QSize(55, 60), QIcon::Disabled).toImage(),
                 mapping->icon().pixmap(QSize(55, 60), QIcon::Normal).toImage());
    }

    void scanFilesOnTheStickAreCountedBySuffix()
    {
        const QString usb = harness.sim().hostQ("/mnt/usb1");
        QDir(usb).removeRecursively();
        QCOMPARE(Option::get_file_list_usbpath(), 0);
        for (const char* name : {"a.kqfile", "b.KQFILE", "c.kqfile.bak", "sub/d.kqfile"})
            writeHostFile(usb + "/" + name, "x");
        QVERIFY(QFile::link(usb + "/a.kqfile", usb + "/e.kqfile"));
        QCOMPARE(Option::get_file_list_usbpath(), 1);
        QDir(usb).removeRecursively();
    }

    void sizeLineShowsTheScreenInForce()
    {
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kLedWidth, 1920);
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kLedHeight, 1080);
        OutputSet page(nullptr);
        QCOMPARE(page.findChild<QLabel*>("label_info")->text(), QString("LED Screen can be set:1920x1080"));
    }

    void recoveryTileIsGreyWithoutPacks()
    {
        ZevPage* page = open_menu(PageId::AdvancedOption);
        auto* tile = page->findChild<QPushButton*>("Button_rcv_recovery");
        QVERIFY(tile->styleSheet().contains("gray"));
        release_key(page, kRight);
        release_key(page, kRight);
        QVERIFY(tile->styleSheet().contains("gray") && tile->styleSheet().contains(kFocusBorder));
        release_key(page, kOk);
        QCoreApplication::processEvents();
        QCOMPARE(take_notes(), 0);
        QCOMPARE(int(g_page_focus), int(PageId::AdvancedOption));

        // A pack sent by the PC tool while the page has the keys.
        writeHostFile(recovery_dir() + "/pack1", "pack");
        AdvancedOption::install_file_hooks();
        std::thread link([] { g_file_command_hooks.advanced_language_changed(); });
        link.join();
        QCoreApplication::processEvents();
        QVERIFY(!tile->styleSheet().contains("gray") && tile->styleSheet().contains(kFocusBorder));

        // A missing folder keeps the last count.
        QDir(recovery_dir()).removeRecursively();
        page->language_changed();
        QVERIFY(!tile->styleSheet().contains("gray"));
        PageRegistry::set(PageId::AdvancedOption, nullptr);
        delete page;
        g_file_command_hooks.advanced_language_changed = nullptr;
    }

    void ageingLogOpensOnlyForTheCodeAfterTheKeypadCloses_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("keypadTitle");
        QTest::newRow("code") << "9847" << 1 << true << "key";
        QTest::newRow("longer") << "98470" << 1 << false << "key";
        QTest::newRow("empty") << "" << 3 << false << "key";
        QTest::newRow("mask") << "**********" << 2 << false << "Пароль";
        QTest::newRow("other") << "1234" << 1 << false << "key";
    }
    void ageingLogOpensOnlyForTheCodeAfterTheKeypadCloses()
    {
        QFETCH(QString, entry);
        QFETCH(int, language);
        QFETCH(bool, opens);
        g_language = u8(language);
        auto* page = static_cast<AdvancedOption*>(open_menu(PageId::AdvancedOption));
        release_key(page, kLeft); // onto the ageing tile
        QString keypad_title;
        bool keypad_shown_at_open = true;
        int opened = 0;
        QTimer driver;
        connect(&driver, &QTimer::timeout, [&] {
            if (g_numberkeyboard->isVisible() && keypad_title.isEmpty()) {
                keypad_title = g_numberkeyboard->form()->label->text();
                type_code(entry);
            }
        });
        // The ageing page, or its note until it is built, as it shows.
        ShowWatch shows([&](QWidget* w) {
            auto* label = qobject_cast<QLabel*>(w);
            auto* age = dynamic_cast<ZevPage*>(w);
            if ((label && label->text() == "Not available yet") || (age && age->page_id() == PageId::factoryage)) {
                keypad_shown_at_open = g_numberkeyboard->isVisible();
                ++opened;
            }
        });
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, [&] {
            if (auto* age = dynamic_cast<ZevPage*>(PageRegistry::at(PageId::factoryage)))
                release_key(age, kBack);
        });
        driver.start(0);
        watcher.start(0);
        release_key(page, kOk);
        QCoreApplication::processEvents();
        driver.stop();
        watcher.stop();
        take_notes();
        QTEST(keypad_title, "keypadTitle");
        QCOMPARE(opened, opens ? 1 : 0);
        if (opens)
            QVERIFY(!keypad_shown_at_open);
        QCOMPARE(page->age_access, u8(0));
        QCOMPARE(int(g_page_focus), int(PageId::AdvancedOption));
        PageRegistry::set(PageId::AdvancedOption, nullptr);
        delete page;
    }

    void aCodeTypedForAnotherPageOpensNothing()
    {
        auto* page = open_menu(PageId::AdvancedOption);
        QWidget other;
        auto* field = new QLineEdit(&other);
        QTimer::singleShot(0, [] { type_code("9847"); });
        open_number_keyboard(field, "W");
        QCoreApplication::processEvents();
        QCOMPARE(take_notes(), 0);
        QVERIFY(!PageRegistry::at(PageId::factoryage));
        QCOMPARE(int(g_page_focus), int(PageId::AdvancedOption));
        g_lineedit = nullptr;
        PageRegistry::set(PageId::AdvancedOption, nullptr);
        delete page;
    }

    void aRefreshOnTheLinkMenuShowsItsTipOnce()
    {
        ZevPage* page = open_menu(PageId::LinkOption);
        int shown = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            if (!g_tip->isVisible())
                return;
            ++shown;
            for (int i = 0; i < 300; ++i)
                g_tip->tip_outtime_deal();
        });
        ticker.start(0);
        SyncUpdate::pInstance()->para_sync(1);
        ticker.stop();
        QCOMPARE(shown, 1);
        PageRegistry::set(PageId::LinkOption, nullptr);
        delete page;
    }
};

QTEST_MAIN(TestMenus)
#include "test_menus.moc"
