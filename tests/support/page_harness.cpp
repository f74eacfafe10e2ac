#include "page_harness.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>

#include "board/board.h"
#include "core/config_engine.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_jobs.h"
#include "ledout/fpga_manage.h"
#include "ui/maintenance/factory.h"
#include "ui/maintenance/factoryage.h"
#include "ui/maintenance/firmware_usbgrade.h"
#include "ui/maintenance/rcv_recovery.h"
#include "ui/maintenance/smartmapping.h"
#include "ui/picture/custommode.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/inputchoose.h"
#include "ui/picture/inputcut.h"
#include "ui/settings/edidset.h"
#include "ui/settings/lcdshow.h"
#include "ui/settings/ledset.h"
#include "ui/settings/linkcom.h"
#include "ui/settings/linkwlan.h"
#include "ui/settings/netset.h"
#include "ui/settings/othersetup.h"
#include "ui/settings/quality.h"
#include "ui/settings/temperature.h"
#include "ui/settings/test_chart.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/about.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/dialog.h"
#include "ui/shell/imagequality.h"
#include "ui/shell/linkoption.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/menu_pages.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/outputset.h"
#include "ui/shell/pages.h"
#include "ui/shell/tip.h"
#include "ui/shell/zevcontrol.h"
#include "video/c331_manage.h"

PageHarness::PageHarness()
{
    ConfigEngine::pInstance();
    ZevRamPara::pInstance();
}

MainWindow* PageHarness::main_window()
{
    if (!main_) {
        main_ = new MainWindow(nullptr);
        g_mainwindow = main_;
    }
    return main_;
}

PageHarness::~PageHarness()
{
    delete main_;
}

void PageHarness::reset()
{
    g_language = 1;
    g_lcd_lang_valid = kDefaultLcdLangValid;
    c331_manage::para_update_flag = 0;
    ZevRamPara::put16(img(), Img::kKeyLock, 0);
}

u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}

void put_window(int i, u16 enable, u16 source, u16 flags)
{
    const int o = ZevRamPara::layerOffset(i);
    ZevRamPara::put16(img(), o + Img::kLayerEnable, enable);
    ZevRamPara::put16(img(), o + Img::kLayerSource, source);
    ZevRamPara::put16(img(), o + Img::kLayerFlags, flags);
}

void put_timing(int source, u16 w, u16 h, u16 rate)
{
    const int o = Img::kSourceTiming + 6 * source;
    ZevRamPara::put16(img(), o, w);
    ZevRamPara::put16(img(), o + 2, h);
    ZevRamPara::put16(img(), o + 4, rate);
}

QStringList label_texts(QWidget* w)
{
    QStringList texts;
    for (QLabel* l : w->findChildren<QLabel*>())
        texts << l->text();
    return texts;
}

PageView* make_stub_page()
{
    return new StubPage;
}

const char* const kPageLanguages[5] = {"zh", "en", "ru", "vn", "tw"};

namespace
{

const PageVisit* g_visit = nullptr;
int g_failed = 0;

// A scene that shows a failure provokes it, and the warning that failure
// gives is what the scene is made for, not news for whoever draws the
// pages: while such a scene is built, the warnings that carry the expected
// text are counted and kept off the console. Every other message goes on as
// before, from any thread.
QtMessageHandler g_passOn = nullptr;
const char* g_expected = nullptr;
std::atomic<int> g_provoked{0};

void keepExpected(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg && text.contains(QLatin1String(g_expected)))
        ++g_provoked;
    else
        g_passOn(type, context, text);
}

class ExpectedWarning
{
  public:
    explicit ExpectedWarning(const char* text)
    {
        g_expected = text;
        g_provoked = 0;
        g_passOn = qInstallMessageHandler(keepExpected);
    }
    ~ExpectedWarning() { qInstallMessageHandler(g_passOn); }
    ExpectedWarning(const ExpectedWarning&) = delete;
    ExpectedWarning& operator=(const ExpectedWarning&) = delete;

    // How many came; a scene that provoked none does not show what it says.
    int provoked() const { return g_provoked; }
};

// Lets the page settle (polish, layout, deferred deletes) and hands it on.
void save(QWidget* w, const QString& name, int lang)
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    (*g_visit)(w, name, lang);
}

// Shows the tip with a code (0: the "not saved" message) and grabs it from
// inside its modal loop.
void render_tip(int code, int lang)
{
    QTimer::singleShot(0, [code, lang] {
        save(g_tip, code ? QString("tip_%1").arg(code) : QString("tip_not_saved"), lang);
        g_tip->hide();
    });
    if (code)
        g_tip->tip_create(code);
    else
        g_tip->tip_not_saved();
    g_tip_flag = 0;
}

// A picture set-up worth looking at: three offered images, one showing a
// crop, two crops of HDMI1 with a signal on it, and user mode 1 stored with
// an OSD menu and in use.
void picture_setup()
{
    auto put = [](int o, int v) { ZevRamPara::put16(img(), o, u16(v)); };
    put_timing(2, 1920, 1080, 60);
    CROP_PARA crop;
    crop.width = 960;
    crop.height = 540;
    for (int i = 0; i < 2; ++i) {
        ZevRamPara::ZevAddNewCrop(2, &crop);
        ZevRamPara::ZevCropSourceInit();
    }
    int windows[3][6] = {{1, 2, 0, 0, 1920, 1080}, {1, 0x8001, 960, 0, 960, 540}, {1, 1, 0, 540, 960, 540}};
    for (int i = 0; i < 3; ++i) {
        int o = ZevRamPara::layerOffset(i);
        put(o + Img::kLayerEnable, windows[i][0]);
        put(o + Img::kLayerSource, windows[i][1]);
        put(o + Img::kLayerX, windows[i][2]);
        put(o + Img::kLayerY, windows[i][3]);
        put(o + Img::kLayerW, windows[i][4]);
        put(o + Img::kLayerH, windows[i][5]);
    }
    put(ZevRamPara::layerOffset(1) + Img::kLayerMirror, 1);
    img()[ZevRamPara::layerOffset(0) + Img::kLayerP2p] = 1;
    put(ZevRamPara::layerOffset(0) + Img::kLayerAudio, 0x80FF);
    put(Img::kOsdMenuFlag, 1);
    u8* slot = ZevRamPara::user_mode[0];
    slot[0] = slot[1] = 0xAA;
    std::memcpy(slot + 2, img() + Img::kModeStart, Img::kModeBytes);
    put(Img::kCurrentMode, 1);
    std::memcpy(ZevRamPara::p_zevrampara_shadow, img(), Img::kSize);
    QFile menu(QString::fromStdString(board::path(ZevRamPara::modeMenuPath(0))));
    if (menu.open(QIODevice::WriteOnly))
        menu.write(R"({"name":"m","osdcount":1,"oactcount":1,"menu":[{"type":0,"status":1,
            "pos":{"x":0,"y":0,"w":128,"h":32},"act":{"effect":4,"speed":5,"staytime":0},
            "backpara":{"enable":1,"color":"0x203040"},"fontpara":{"startx":0,"starty":0,"fontw":16,"fonth":16,
            "wordspace":0,"verticalspace":0,"color":"0xFFD040"},"texts":"Welcome\nLED 1\nLED 2\nLED 3"}]})");
}

// Plays each step's keys on a shown page, then saves the scene.
struct Step {
    const char* keys;
    const char* scene;
};
void play(QWidget* page, int lang, std::initializer_list<Step> steps)
{
    for (const Step& step : steps) {
        for (const char* k = step.keys; *k; ++k)
            release_key(page, *k);
        save(page, step.scene, lang);
    }
}

void render_picture_pages(int lang)
{
    g_mode_select = 0;
    g_mode_shortcut_key = 0;
    auto* mode = new CustomMode(nullptr);
    mode->show();
    play(mode, lang,
         {{"", "custommode"}, {"Q", "custommode_buttons"}, {"S", "custommode_osd"}, {"OR", "custommode_empty"}});
    delete mode;

    g_image_current = 1;
    auto* choose = new InputChoose(nullptr);
    g_inputchoose = choose;
    choose->show();
    play(choose, lang,
         {{"", "inputchoose"},
          {"Q", "inputchoose_tabs"},
          {"QR", "inputchoose_entries"},
          {"SSS", "inputchoose_entries_last"},
          {"ORRRR", "inputchoose_tabs_ext"}});

    auto* cut = new InputCut(nullptr);
    cut->show();
    play(cut, lang, {{"", "inputcut"}, {"QRR", "inputcut_list"}, {"QRR", "inputcut_edit"}, {"OSSQ", "inputcut_new"}});
    delete cut;
    g_inputchoose = nullptr;
    delete choose;

    g_image_current = 0;
    auto* layout = new ImageLayout(nullptr);
    layout->show();
    play(layout, lang, {{"", "imagelayout"}, {"R", "imagelayout_crop"}});
    delete layout;
}

// Builds a page of type T and saves it in each language.
template <class T> void render_page(const char* name)
{
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        T page(nullptr);
        page.show();
        save(&page, name, lang);
    }
}

// Windows with every kind of tile: a timing, no signal, a crop, freeze,
// black and a window that is off; window 2 selected.
void home_state()
{
    put_timing(2, 1920, 1080, 60);
    ZevRamPara::put16(img(), Img::kCropTable, 0x8000 | (1 << 8) | 2);
    ZevRamPara::put16(img(), Img::kCropTable + 6, 960);
    ZevRamPara::put16(img(), Img::kCropTable + 8, 540);
    ZevRamPara::ZevCropSourceInit();
    put_window(0, 1, 2);
    put_window(1, 1, 3);
    put_window(2, 1, 0x8000);
    put_window(3, 1, 2, 2);
    put_window(4, 1, 2, 1);
    put_window(5, 0, 0);
    g_image_current = 1;
}

// The maintenance pages, also with what they show after a job or a sample.
void render_maintenance_pages()
{
    render_page<SmartMapping>("smartmapping");
    render_page<firmware_usbgrade>("firmware_usbgrade");
    render_page<factory>("factory");
    for (int r42 : {10, 12, 40, 41})
        MainWindow::agelog_add("12-07 09:00", r42, 3, 7);
    render_page<factoryage>("factoryage");
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        rcv_recovery page(nullptr);
        page.show();
        save(&page, "rcv_recovery", lang);
        page.result_add("01/02/03/08");
        page.result_add("01/04/01/12");
        QRoundProgressBar::create_qround_bar(&page);
        g_qround_bar->para_sync(37);
        save(&page, "rcv_recovery_job", lang);
        g_qround_bar->para_sync(100);
        // How a job that did not finish ended, until the next key.
        page.show_job_end(fpga_jobs::JobEnd::Unanswered);
        save(&page, "rcv_recovery_unanswered", lang);
        page.show_job_end(fpga_jobs::JobEnd::Cut);
        save(&page, "rcv_recovery_cut", lang);
        SmartMapping mapping(nullptr);
        mapping.show();
        play(&mapping, lang, {{"RRRRRRRRR", "smartmapping_send"}});
        mapping.show_job_end(fpga_jobs::JobEnd::Unanswered);
        save(&mapping, "smartmapping_unanswered", lang);
        mapping.show_job_end(fpga_jobs::JobEnd::Cut);
        save(&mapping, "smartmapping_cut", lang);
        mapping.show_job_end(fpga_jobs::JobEnd::Failed);
        save(&mapping, "smartmapping_failed", lang);
        firmware_usbgrade grade(nullptr);
        grade.show();
        grade.on_Button_upgrade_clicked();
        save(&grade, "firmware_usbgrade_started", lang);
        grade.on_Button_upgrade_clicked();
        save(&grade, "firmware_usbgrade_busy", lang);
        g_usb_grade = 0;
        grade.syncUpdate(104);
        save(&grade, "firmware_usbgrade_done", lang);
        factory reset(nullptr);
        reset.show();
        reset.on_Button_reset_clicked();
        save(&reset, "factory_done", lang);
        // A reset that cannot write the factory image resets nothing.
        const QString image = board::path(QString(ZevRamPara::kDeviceInfoFile));
        QFile::remove(image);
        QDir().mkpath(image + "/in-the-way");
        {
            ExpectedWarning refused("cannot be written: the factory reset is refused");
            reset.on_Button_reset_clicked();
            if (!refused.provoked()) {
                std::fprintf(stderr, "page scenes: the factory reset was not refused\n");
                ++g_failed;
            }
        }
        save(&reset, "factory_failed", lang);
        QDir(image).removeRecursively();
    }
}

// The settings menu and its sub-menus; the advanced menu without and with
// a recovery pack, its recovery tile focused.
void render_menu_pages()
{
    render_page<Option>("option");
    render_page<OutputSet>("outputset");
    render_page<ImageQuality>("imagequality");
    render_page<LinkOption>("linkoption");
    render_page<AdvancedOption>("advancedoption");
    QFile pack(board::path(QString("/data/rcvrecovery/pack")));
    bool written = pack.open(QIODevice::WriteOnly) && pack.write("pack") == 4;
    pack.close();
    if (!written) {
        std::fprintf(stderr, "page scenes: cannot write a recovery pack\n");
        ++g_failed;
    }
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        AdvancedOption page(nullptr);
        page.show();
        play(&page, lang, {{"RR", "advancedoption_recovery"}});
    }
    pack.remove();
}

} // namespace

int walk_pages(const PageVisit& visit)
{
    g_visit = &visit;
    g_failed = 0;
    Utils::set_net_address("192.168.0.199", "255.255.255.0", "192.168.0.1");
    // Three stored modes, the second in use: the grid shows every kind of slot.
    for (int slot = 0; slot < 3; ++slot)
        ZevRamPara::user_mode[slot][0] = ZevRamPara::user_mode[slot][1] = 0xAA;
    ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kCurrentMode, 2);
    g_mainwindow = new MainWindow(nullptr);
    MainWindow* w = g_mainwindow;
    w->show();
    picture_setup();
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        render_picture_pages(lang);
        w->language_changed();
        save(w, "mainwindow", lang);
        w->on_tools_clicked();
        save(w, "mainwindow_tools", lang);
        w->on_toolButton3_clicked();
        save(w, "mainwindow_call", lang);
        w->on_toolButton4_clicked();
        save(w, "mainwindow_save", lang);
        w->on_tools_clicked();

        g_numberkeyboard->label_show("W", "1920");
        // The cursor on a white key, then on the blue confirm key.
        play(g_numberkeyboard, lang,
             {{"", "numberkeyboard"}, {"R", "numberkeyboard_cursor"}, {"SS", "numberkeyboard_confirm"}});
        release_key(g_numberkeyboard, 'R');
        for (int code : {1, 3, 4, 5, 0})
            render_tip(code, lang);
    }
    render_page<quality>("quality");
    render_page<temperature>("temperature");
    render_page<lcdshow>("lcdshow");
    render_page<test_chart>("test_chart");
    render_page<netset>("netset");
    render_page<linkcom>("linkcom");
    render_page<ledset>("ledset");
    render_page<othersetup>("othersetup");
    render_page<linkwlan>("linkwlan");
    render_page<EDIDset>("edidset");
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        EDIDset page(nullptr);
        page.show();
        play(&page, lang, {{"Q", "edidset_edit"}});
    }
    render_maintenance_pages();
    render_menu_pages();

    home_state();
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        w->language_changed();
        QList<QLabel*> before = w->findChildren<QLabel*>();
        show_unavailable_note();
        save(w, "mainwindow_unavailable", lang);
        for (QLabel* note : w->findChildren<QLabel*>())
            if (!before.contains(note))
                delete note;
        g_lockwindow = new LockWindow(nullptr);
        LockWindow* home = g_lockwindow;
        home->move(0, 0);
        home->show();
        save(home, "lockwindow", lang);
        delete home;
        g_machinestate = new MachineState(nullptr);
        MachineState* state = g_machinestate;
        state->show();
        save(state, "machinestate", lang);
        delete state;
    }
    {
        QDialog page;
        page.setStyleSheet("background-color: rgb(16, 16, 28);");
        page.resize(320, 240);
        QRoundProgressBar::create_qround_bar(&page);
        page.show();
        for (int percent : {0, 37, 99}) {
            g_qround_bar->para_sync(percent);
            save(&page, QString("qroundbar_%1").arg(percent), 1);
        }
        g_qround_bar->para_sync(100);
    }
    About about;
    save(&about, "about", 0);
    Dialog dialog;
    save(&dialog, "dialog", 0);
    zevcontrol selector(QRect(19, 0, 100, 22), QRect(0, 0, 20, 22), QRect(118, 0, 20, 22), nullptr);
    selector.setStyleSheet("background-color: rgb(16, 16, 28);");
    selector.resize(140, 24);
    for (int i = 1; i <= 16; ++i)
        selector.combo()->addItem(QString("MODE %1").arg(i));
    save(&selector, "zevcontrol", 1);
    selector.set_box_modify();
    save(&selector, "zevcontrol_edit", 1);
    delete w;
    g_visit = nullptr;
    return g_failed;
}
