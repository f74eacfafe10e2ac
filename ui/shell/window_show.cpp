#include "ui/shell/window_show.h"

#include <QCoreApplication>
#include <QEvent>
#include <QExposeEvent>
#include <QWidget>
#include <QWindow>

namespace
{
// Watches a window while it is shown: whether it was painted then, and
// afterwards drops the one exposure the platform queued for the whole
// window, and nothing else.
class FirstExposure : public QObject
{
  public:
    FirstExposure(QWidget* widget, QWindow* window) : QObject(window), widget_(widget), window_(window)
    {
        widget_->installEventFilter(this);
        window_->installEventFilter(this);
    }
    bool painted() const { return painted_; }
    // From now on the window's next exposure is the repeat.
    void arm()
    {
        widget_->removeEventFilter(this);
        armed_ = true;
    }
    void done()
    {
        widget_->removeEventFilter(this);
        window_->removeEventFilter(this);
        deleteLater();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == widget_ && event->type() == QEvent::Paint)
            painted_ = true;
        if (watched != window_ || !armed_ || event->type() != QEvent::Expose)
            return false;
        const bool whole = static_cast<QExposeEvent*>(event)->region() == QRect(QPoint(), window_->size());
        done();
        return whole && window_->isExposed();
    }

  private:
    QWidget* widget_;
    QWindow* window_;
    bool painted_ = false;
    bool armed_ = false;
};
} // namespace

void show_painted_once(QWidget* window)
{
    window->winId();
    QWindow* handle = window->windowHandle();
    if (!handle) {
        window->show();
        return;
    }
    auto* watch = new FirstExposure(window, handle);
    window->show();
    if (!watch->painted()) {
        watch->done();
        return;
    }
    watch->arm();
    for (QWidget* w : window->findChildren<QWidget*>())
        QCoreApplication::removePostedEvents(w, QEvent::UpdateLater);
    QCoreApplication::removePostedEvents(window, QEvent::UpdateLater);
}
