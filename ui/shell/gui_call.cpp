#include "ui/shell/gui_call.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace
{
class CallEvent : public QEvent
{
  public:
    explicit CallEvent(std::function<void()> work) : QEvent(type()), work_(std::move(work)) {}
    static QEvent::Type type()
    {
        static const QEvent::Type registered = QEvent::Type(QEvent::registerEventType());
        return registered;
    }
    void run() { work_(); }

  private:
    std::function<void()> work_;
};

// The events' receiver, living on the GUI thread for the rest of the run.
class Runner : public QObject
{
  protected:
    void customEvent(QEvent* event) override
    {
        if (event->type() == CallEvent::type())
            static_cast<CallEvent*>(event)->run();
    }
};

Runner* runner(QCoreApplication* app)
{
    static Runner* const made = [app] {
        auto* r = new Runner;
        r->moveToThread(app->thread());
        return r;
    }();
    return made;
}
} // namespace

void gui_call(std::function<void()> work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !work)
        return;
    QCoreApplication::postEvent(runner(app), new CallEvent(std::move(work)));
}
