// Start-up of the control application.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QTimer>

#include "board/board.h"
#include "board/select.h"
#include "board/sim/sim_board.h"
#include "board/sim/listen_address.h"
#include "chips/tarvosource.h"
#include "core/before_stop.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/ini_file.h"
#include "core/leftovers.h"
#include "core/logging.h"
#include "core/para_apply.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "link/message_gui.h"
#include "link/networkmanage.h"
#include "link/uart_inout.h"
#include "link/udpnetmanage.h"
#include "ui/maintenance/maintenance_jobs.h"
#include "ui/picture/custommode.h"
#include "ui/picture/inputchoose.h"
#include "ui/settings/edidset.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/lockwindow.h"
#include "remote/networkclient_manage.h"
#include "remote/q64_wifi_config.h"
#include "remote/remote_links.h"
#include "remote/uart_inout_4G.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/panel_gui.h"
#include "ui/shell/panel_screen.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"
#include "ui/shell/usbserver.h"
#ifdef ZEV_VNC
#include "ui/shell/vnc_panel.h"
#endif
#include "ui/shell/zev_keys.h"
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

constexpr int kVncPort = 5900;

// On the simulated board the panel is a 320 x 240 window on a desktop, or a
// VNC screen when there is none, drawn by Qt off screen; true for VNC.
bool choosePanel(std::vector<char*>& args)
{
    static char platform[] = "-platform";
    static char offscreen[] = "offscreen";
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (hasPlatformArg(args) || std::getenv("QT_QPA_PLATFORM") || (display && *display) || (wayland && *wayland))
        return false;
    args.insert(args.begin() + 1, {platform, offscreen});
    return true;
}

// "[::1]:5900" or "127.0.0.1:5900".
std::string hostAndPort(const std::string& address, int port)
{
    const bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

// The start line: the board and everything the program serves, with where
// to see the panel when it is on VNC, before any other output; a server that
// then cannot open says so on its own line.
void announce(const board::Choice& choice, const std::string& links, bool vnc)
{
    std::string served = "TCP " + std::to_string(g_port) + " and " + std::to_string(networkManage::kSecondPort) +
                         ", UDP " + std::to_string(udpnetManage::kPort) + ", " +
                         std::to_string(udpnetManage::kSecondPort) + " and " + std::to_string(udpnetManage::kWifiPort);
    if (!links.empty())
        served += ", " + links;
    if (vnc) {
        const bool everywhere = choice.vncAddress == "0.0.0.0" || choice.vncAddress == "::";
        served += ", VNC " + hostAndPort(choice.vncAddress, kVncPort) +
                  " (no desktop found: the front panel is there, e.g. \"vncviewer " +
                  hostAndPort(everywhere ? "localhost" : choice.vncAddress, kVncPort) + "\")";
    }
    std::printf("zevQ64N on %s serves %s\n", board::describe(choice).c_str(), served.c_str());
    std::fflush(stdout);
}

// Serves the panel screen over VNC; empty, else why it cannot.
std::string serveVnc(PanelScreen& screen, const std::string& address)
{
#ifdef ZEV_VNC
    auto* panel = new VncPanel(screen, &screen);
    std::string error = panel->listen(address, kVncPort);
    if (!error.empty())
        delete panel;
    return error;
#else
    (void)screen;
    (void)address;
    return "this build has no VNC screen (ZEV_VNC=OFF)";
#endif
}

// Qt wants a private runtime folder, which a desktop session names in
// XDG_RUNTIME_DIR; without one it takes /tmp/runtime-USER and says so on
// every start, which reads as an error. The same folder, made here, keeps
// the start quiet; Qt still names one it cannot use.
void setRuntimeDir()
{
    const char* set = std::getenv("XDG_RUNTIME_DIR");
    if (set && *set)
        return;
    const passwd* user = getpwuid(geteuid());
    const std::string dir =
        QDir::tempPath().toStdString() + "/runtime-" + (user ? std::string(user->pw_name) : std::to_string(geteuid()));
    if ((mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) && setenv("XDG_RUNTIME_DIR", dir.c_str(), 1) != 0)
        zevlog::warnErrno(lcCore(), "XDG_RUNTIME_DIR");
}

void readUpdateStatus()
{
    // A file that holds no readable start-up line is left to the upgrade
    // that writes the line.
    ini_file::Keys keys;
    QMutexLocker lock(&Utils::_file_deal_mutex);
    const ini_file::Read read = ini_file::read(board::path(QString(Utils::kStartFile)), &keys);
    if (read == ini_file::Read::unreadable)
        zevlog::stored_file(lcCore(), Utils::kStartFile, Utils::kStartFileUnread);
    else if (read == ini_file::Read::malformed || read == ini_file::Read::damaged)
        zevlog::stored_file(lcCore(), Utils::kStartFile,
                            "is damaged: the lines that read are kept, the file is kept as it is");
    g_update_status = keys.value("app-1/app_path").toString() == "/data/app/zevQ64N -platform linuxfb" ? 1 : 0;
}

} // namespace

int main(int argc, char* argv[])
{
    std::vector<char*> args(argv, argv + argc);
    // The board's choice keeps the whole command line for a restart, so
    // "--verbose" is taken out after it.
    board::Choice choice = board::choose(args);
    zevlog::configure(args);
    // Before the board is installed: a second program must leave the first's
    // files alone.
    if (choice.refusal.empty())
        choice.refusal = board::holdDataRoot(choice);
    if (!choice.refusal.empty()) {
        std::fprintf(stderr, "zevQ64N: %s\n", choice.refusal.c_str());
        return 1;
    }
    const std::string links = board::installChosen(choice);
    bool vnc = false;
    if (choice.simulated) {
        vnc = choosePanel(args);
        if (vnc && !board::sim::isOwnAddress(choice.vncAddress)) {
            std::fprintf(stderr, "zevQ64N: --vnc-listen=%s refused: not an address of this machine\n",
                         choice.vncAddress.c_str());
            return 1;
        }
        // The simulated devices count in the program's ticks, as its
        // time-outs do; the faults file can move those on.
        board::sim::setClock([] { return G_timeTicks.load(); }, [](uint32_t ticks) { G_timeTicks += ticks; });
    }
    // Before anything lists or writes the stored files' folders: a write cut
    // short by a power loss leaves its temporary file behind.
    leftovers::sweep();
    // Before anything is answered: a stop then finds what waits for its file.
    before_stop::catch_stop_signals();
    ConfigEngine::pInstance();
    announce(choice, links, vnc);
    g_zev_keys = u8(check_hiddev());

    ZevRamPara::pInstance();
    readUpdateStatus();
    SyncUpdate::pInstance();

    int qargc = int(args.size());
    args.push_back(nullptr);
    setRuntimeDir();
    QApplication app(qargc, args.data());
    // Off screen Qt has a screen of 800 x 600 that nothing shows: the
    // board's screen stands in, before any window shows.
    PanelScreen* screen = nullptr;
    if (QGuiApplication::platformName() == "offscreen")
        screen = new PanelScreen(&app);
    if (vnc) {
        const std::string error = serveVnc(*screen, choice.vncAddress);
        if (!error.empty())
            std::fprintf(stderr, "zevQ64N: cannot serve VNC port %d on %s: %s\n", kVncPort, choice.vncAddress.c_str(),
                         error.c_str());
    }

    g_mainwindow = new MainWindow(nullptr);
    MainWindow* mainwindow = g_mainwindow;
    QTimer* g_timer = new QTimer(&app);
    QObject::connect(g_timer, &QTimer::timeout, mainwindow, &MainWindow::clock_tick);
    g_timer->start(10);
    Utils::set_tick_wake_hook(&MainWindow::wake_tick);

    tarvosource::pInstance();
    fpga_manage::pInstance();
    c331_manage::pInstance();
    fpga_manage::p_fpga_manage->initialize_start();
    tarvosource::p_tarvo_source->initialize();

    // The panel's hooks go in before anything can call them.
    SyncUpdate::attach(ZevRamPara::p_zevrampara);
    static PanelGui panel;
    message_gui::install(&panel);
    static remote_links remote;
    message_remote::install(&remote);
    PageRegistry::set_user_mode_factory(&CustomMode::create);
    CustomMode::set_home_page_factory([]() -> PageView* { return new LockWindow(nullptr); });
    InputChoose::set_edid_page_factory([]() -> ZevPage* { return new EDIDset(nullptr); });
    maintenance_install_file_hooks();
    maintenance_install_job_hooks();
    Option::install_file_hooks();
    AdvancedOption::install_file_hooks();

    // The PC tool can talk to the box while the chips come up.
    Kq_uart_inout::pInstance();
    networkManage::pInstance();
    Kq_uart_inout_4G::pInstance();
    networkclient_Manage::pInstance();
    // The Wi-Fi thread follows the Wi-Fi switch in the parameter image.
    set_image_written_hook(&Q64_WIFI_CONFIG::wake);
    Q64_WIFI_CONFIG::pInstance();
    udpnetManage::pInstance();
    Q64_WIFI_CONFIG::attach_udp(udpnetManage::p_udpnetManage);

    // Let the managers bring their chips up before the panel shows.
    sleep(4);
    show_home_at_start();
    // The lit LEDs tell a user (and a test) that the panel takes keys: the
    // played keys are watched first.
    KeypadPlayer::start();
    if (g_zev_keys)
        SyncUpdate::pInstance()->update_usb_keyLed();
    QObject::connect(UsbServer::pInstance(), &UsbServer::sig_usb_update, SyncUpdate::pInstance(),
                     &SyncUpdate::para_sync, Qt::QueuedConnection);

    return app.exec();
}
