// Renders each built front-panel page offscreen to PNG in the five
// languages, on a simulated board with factory settings, so the panel can be
// looked at without the hardware. Usage: zev_render_pages OUTDIR
// (the build runs it as the target "render_pages" into build/pages).
#include <cstdio>
#include <memory>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <QComboBox>

#include "board/board.h"
#include "board/sim/sim_board.h"
#include "core/config_engine.h"
#include "core/zevrampara.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/about.h"
#include "ui/shell/dialog.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/menu_pages.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "ui/shell/tip.h"
#include "ui/shell/zevcontrol.h"

namespace
{

const char* const kLang[5] = {"zh", "en", "ru", "vn", "tw"};
QDir g_out;
int g_failed = 0;

void save(QWidget* w, const QString& name, int lang)
{
    QString file = g_out.filePath(QString("%1_%2.png").arg(name, kLang[lang]));
    if (!w->grab().save(file, "PNG")) {
        std::fprintf(stderr, "render_pages: cannot write %s\n", qPrintable(file));
        ++g_failed;
    }
}

// Shows the tip with a code and grabs it from inside its modal loop.
void render_tip(int code, int lang)
{
    QTimer::singleShot(0, [code, lang] {
        save(g_tip, QString("tip_%1").arg(code), lang);
        g_tip->hide();
    });
    g_tip->tip_create(code);
    g_tip_flag = 0;
}

// Windows with every kind of tile: a timing, no signal, a crop, freeze,
// black and a window that is off; window 2 selected.
void home_state()
{
    u8* img = ZevRamPara::p_zevrampara_config;
    auto layer = [img](int i, u16 enable, u16 source, u16 flags) {
        int o = ZevRamPara::layerOffset(i);
        ZevRamPara::put16(img, o + Img::kLayerEnable, enable);
        ZevRamPara::put16(img, o + Img::kLayerSource, source);
        ZevRamPara::put16(img, o + Img::kLayerFlags, flags);
    };
    ZevRamPara::put16(img, Img::kSourceTiming + 6 * 2, 1920);
    ZevRamPara::put16(img, Img::kSourceTiming + 6 * 2 + 2, 1080);
    ZevRamPara::put16(img, Img::kSourceTiming + 6 * 2 + 4, 60);
    ZevRamPara::put16(img, Img::kCropTable, 0x8000 | (1 << 8) | 2);
    ZevRamPara::put16(img, Img::kCropTable + 6, 960);
    ZevRamPara::put16(img, Img::kCropTable + 8, 540);
    ZevRamPara::ZevCropSourceInit();
    layer(0, 1, 2, 0);
    layer(1, 1, 3, 0);
    layer(2, 1, 0x8000, 0);
    layer(3, 1, 2, 2);
    layer(4, 1, 2, 1);
    layer(5, 0, 0, 0);
    g_image_current = 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    QTemporaryDir root;
    if (!root.isValid()) {
        std::fprintf(stderr, "render_pages: no temporary folder\n");
        return 1;
    }
    board::install(std::make_unique<board::sim::SimBoard>(root.path().toStdString()));
    ConfigEngine::pInstance();
    ZevRamPara::pInstance();
    QApplication app(argc, argv);
    g_out.setPath(QString::fromLocal8Bit(argv[1]));
    if (!g_out.mkpath(".")) {
        std::fprintf(stderr, "render_pages: cannot create %s\n", argv[1]);
        return 1;
    }
    g_str_ip = "192.168.0.199";
    g_mainwindow = new MainWindow(nullptr);
    MainWindow* w = g_mainwindow;
    w->show();
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
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
        save(g_numberkeyboard, "numberkeyboard", lang);
        for (int code : {1, 3, 4, 5})
            render_tip(code, lang);
    }
    home_state();
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        w->language_changed();
        QList<QLabel*> before = w->findChildren<QLabel*>();
        page_unavailable(PageId::Option);
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
    std::printf("render_pages: pages written to %s\n", qPrintable(g_out.absolutePath()));
    return g_failed ? 1 : 0;
}
