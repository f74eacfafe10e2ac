// Start-up of the control application.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include "board/board.h"
#include "board/select.h"
#include "chips/tarvosource.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "link/networkmanage.h"
#include "link/uart_inout.h"
#include "link/udpnetmanage.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"
#include "video/c331_manage.h"

namespace
{

bool hasPlatformArg(const std::vector<char*>& args)
{
    for (char* a : args)
        if (std::strcmp(a, "-platform") == 0 || std::strncmp(a, "-platform=", 10) == 0)
            return true;
    return false;
}

// On the simulated board the panel is a 320 x 240 window on a desktop, or a
// VNC screen when there is none.
void choosePanel(std::vector<char*>& args)
{
    static char platform[] = "-platform";
    static char vnc[] = "vnc:size=320x240:port=5900";
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (hasPlatformArg(args) || std::getenv("QT_QPA_PLATFORM") || (display && *display) || (wayland && *wayland))
        return;
    args.insert(args.begin() + 1, {platform, vnc});
    std::printf("zevQ64N: no desktop found: the front panel is served over VNC on port 5900.\n"
                "         Look at it with a VNC viewer, e.g. \"vncviewer localhost:5900\".\n");
    std::fflush(stdout);
}

void readUpdateStatus()
{
    QSettings s(board::path(QString("/data/configs/led_load_config.ini")), QSettings::IniFormat);
    g_update_status = s.value("app-1/app_path").toString() == "/data/app/zevQ64N -platform linuxfb" ? 1 : 0;
}

} // namespace

int main(int argc, char* argv[])
{
    std::vector<char*> args(argv, argv + argc);
    board::Choice choice = board::choose(args);
    board::installChosen(choice);
    if (choice.simulated)
        choosePanel(args);

    ConfigEngine::pInstance();
    ZevRamPara::pInstance();
    readUpdateStatus();
    SyncUpdate::pInstance();

    int qargc = int(args.size());
    args.push_back(nullptr);
    QApplication app(qargc, args.data());

    g_mainwindow = new MainWindow(nullptr);
    MainWindow* mainwindow = g_mainwindow;
    QTimer* g_timer = new QTimer(&app);
    QObject::connect(g_timer, &QTimer::timeout, mainwindow, &MainWindow::clock_tick);
    g_timer->start(10);

    tarvosource::pInstance();
    fpga_manage::pInstance();
    c331_manage::pInstance();
    fpga_manage::p_fpga_manage->initialize_start();
    tarvosource::p_tarvo_source->initialize();

    // The PC tool can talk to the box while the chips come up.
    SyncUpdate::attach(ZevRamPara::p_zevrampara);
    Kq_uart_inout::pInstance();
    networkManage::pInstance();
    udpnetManage::pInstance();

    // Let the managers bring their chips up before the panel shows.
    sleep(4);
    mainwindow->show();
    g_page_focus = PageId::MainWindow;
    g_numberkeyboard->setGeometry(mainwindow->x() + 160, mainwindow->y(), 160, 240);

    return app.exec();
}
