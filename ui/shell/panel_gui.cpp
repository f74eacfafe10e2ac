#include "ui/shell/panel_gui.h"

#include <chrono>
#include <future>
#include <memory>

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include "ui/shell/gui_call.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/panel_screen.h"

void PanelGui::update_mode(bool start)
{
    // The update page belongs to the GUI thread: its opening and closing are
    // queued to the main window.
    if (g_mainwindow)
        QMetaObject::invokeMethod(g_mainwindow.get(), start ? "update_start" : "update_over", Qt::QueuedConnection);
}

// The GUI thread owns the screen: grabs it there. From another thread it waits
// a bounded time for the GUI.
bool PanelGui::grab_screen(const QString& path)
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return false;
    auto grab = [path] {
        // Where the platform has no screen to read back, the panel screen
        // stands for the board's.
        if (PanelScreen* panel = PanelScreen::installed())
            return panel->picture().save(path, "png");
        QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return false;
        const QPixmap pm = screen->grabWindow(0);
        return !pm.isNull() && pm.save(path, "png");
    };
    if (QThread::currentThread() == app->thread())
        return grab();
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> result = done->get_future();
    gui_call([done, grab] { done->set_value(grab()); });
    if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        return false;
    return result.get();
}
