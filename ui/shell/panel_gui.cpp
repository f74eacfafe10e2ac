#include "ui/shell/panel_gui.h"

#include <chrono>
#include <future>
#include <memory>

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"

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
        QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return false;
        QPixmap pm = screen->grabWindow(0);
        if (pm.isNull()) {
            // Platforms without a readable frame buffer (offscreen, VNC):
            // compose the visible pages as they lie on the screen.
            pm = QPixmap(screen->size());
            pm.fill(Qt::black);
            QPainter painter(&pm);
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->isVisible())
                    painter.drawPixmap(w->geometry().topLeft(), w->grab());
            }
        }
        return !pm.isNull() && pm.save(path, "png");
    };
    if (QThread::currentThread() == app->thread())
        return grab();
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> result = done->get_future();
    QMetaObject::invokeMethod(
        app, [done, grab] { done->set_value(grab()); }, Qt::QueuedConnection);
    if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        return false;
    return result.get();
}
