#include "ui/shell/vnc_panel.h"

#include <algorithm>

#include <QApplication>
#include <QBackingStore>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

#include "ui/shell/zev_keys.h"

namespace
{
// X keysyms of the keys the panel knows beyond the Latin-1 ones.
constexpr uint32_t kKeysymF1 = 0xFFBE;
constexpr uint32_t kKeysymF35 = 0xFFE0;
constexpr uint32_t kKeysymStop = 0x1008FF28;
constexpr uint32_t kKeysymPowerOff = 0x1008FF2A;

bool isPanelWindow(QObject* o)
{
    if (!o->isWidgetType())
        return false;
    auto* w = static_cast<QWidget*>(o);
    return w->isWindow() && w->windowType() != Qt::Desktop;
}

// Above the others: windows that ask to stay on top.
bool staysOnTop(const QWidget* w)
{
    return w->windowFlags() & Qt::WindowStaysOnTopHint;
}
} // namespace

VncPanel::VncPanel(QObject* parent)
    : QObject(parent), frame_(kWidth, kHeight, QImage::Format_RGB32),
      server_(std::make_unique<board::sim::VncServer>(kWidth, kHeight))
{
    frame_.fill(Qt::black);
    qApp->installEventFilter(this);
}

VncPanel::~VncPanel()
{
    server_.reset();
}

std::string VncPanel::listen(const std::string& address, int port)
{
    const std::string error = server_->start(
        address, port, [this] { QMetaObject::invokeMethod(this, &VncPanel::inputWaiting, Qt::QueuedConnection); });
    if (error.empty())
        schedule();
    return error;
}

int VncPanel::port() const
{
    return server_->port();
}

int VncPanel::qtKey(uint32_t keysym)
{
    // Latin-1: Qt's code is the upper-case character.
    if (keysym >= 'a' && keysym <= 'z')
        return int(keysym - 'a' + 'A');
    if (keysym >= 0x20 && keysym <= 0x7E)
        return int(keysym);
    if (keysym >= kKeysymF1 && keysym <= kKeysymF35)
        return Qt::Key_F1 + int(keysym - kKeysymF1);
    if (keysym == kKeysymStop)
        return Qt::Key_Stop;
    if (keysym == kKeysymPowerOff)
        return Qt::Key_PowerOff;
    return 0;
}

bool VncPanel::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::ZOrderChange:
    case QEvent::WindowActivate:
        if (isPanelWindow(watched)) {
            raise(static_cast<QWidget*>(watched));
            schedule();
        }
        break;
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::UpdateRequest:
        if (isPanelWindow(watched))
            schedule();
        break;
    case QEvent::Expose:
        // The window is painted while its exposure is handled.
        if (watched->isWindowType())
            schedule();
        break;
    default:
        break;
    }
    return false;
}

void VncPanel::raise(QWidget* window)
{
    auto it = std::find(stack_.begin(), stack_.end(), window);
    if (it != stack_.end())
        stack_.erase(it);
    else
        connect(window, &QObject::destroyed, this, &VncPanel::schedule);
    stack_.emplace_back(window);
    std::stable_partition(stack_.begin(), stack_.end(), [](const QPointer<QWidget>& w) { return w && !staysOnTop(w); });
}

// Composed once the event that changed the picture is through: the window
// has then been painted.
void VncPanel::schedule()
{
    if (composing_)
        return;
    composing_ = true;
    QMetaObject::invokeMethod(this, &VncPanel::compose, Qt::QueuedConnection);
}

void VncPanel::compose()
{
    composing_ = false;
    stack_.erase(std::remove_if(stack_.begin(), stack_.end(), [](const QPointer<QWidget>& w) { return w.isNull(); }),
                 stack_.end());
    frame_.fill(Qt::black);
    QPainter painter(&frame_);
    for (const QPointer<QWidget>& w : stack_) {
        if (!w->isVisible())
            continue;
        // What the window's own painting left in its backing store.
        QBackingStore* store = w->backingStore();
        QPaintDevice* device = store ? store->paintDevice() : nullptr;
        if (device && device->devType() == QInternal::Image)
            painter.drawImage(w->geometry().topLeft(), *static_cast<QImage*>(device), QRect(QPoint(), w->size()));
    }
    painter.end();
    server_->setFrame(reinterpret_cast<const uint32_t*>(frame_.constBits()), frame_.bytesPerLine() / 4);
}

void VncPanel::inputWaiting()
{
    if (delivering_)
        return;
    delivering_ = true;
    deliverNext();
}

// One event at a time from the event loop, so the events after one that
// opens a modal window go to that window from its own loop.
void VncPanel::deliverNext()
{
    if (pending_.empty()) {
        for (const board::sim::VncInput& in : server_->takeInput())
            pending_.push_back(in);
        if (pending_.empty()) {
            delivering_ = false;
            return;
        }
    }
    const board::sim::VncInput in = pending_.front();
    pending_.pop_front();
    QMetaObject::invokeMethod(this, &VncPanel::deliverNext, Qt::QueuedConnection);
    if (in.kind == board::sim::VncInput::Key)
        key(in);
    else
        touch(in);
}

void VncPanel::key(const board::sim::VncInput& in)
{
    const int code = qtKey(in.keysym);
    QWidget* target = code ? panel_key_target() : nullptr;
    if (!target)
        return;
    QKeyEvent event(in.down ? QEvent::KeyPress : QEvent::KeyRelease, code, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// The left button is a finger on the screen: pressed, moved while down,
// lifted. A touch screen knows no pointer hovering.
void VncPanel::touch(const board::sim::VncInput& in)
{
    const bool down = in.buttons & 1;
    if (!down && !touching_)
        return;
    const QPoint at(in.x, in.y);
    QEvent::Type type = QEvent::MouseMove;
    if (down && !touching_) {
        type = QEvent::MouseButtonPress;
        touched_ = windowAt(at);
    } else if (!down) {
        type = QEvent::MouseButtonRelease;
    }
    touching_ = down;
    QWindow* window = touched_;
    if (!window)
        return;
    const QPointF local = at - window->geometry().topLeft();
    QMouseEvent event(type, local, local, at, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &event);
}

// The top window under a point; none when a modal window blocks it.
QWindow* VncPanel::windowAt(const QPoint& at) const
{
    QWidget* modal = QApplication::activeModalWidget();
    for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
        QWidget* w = *it;
        if (!w || !w->isVisible() || !w->geometry().contains(at))
            continue;
        if (modal && w != modal->window() && w->windowType() != Qt::Popup)
            return nullptr;
        return w->windowHandle();
    }
    return nullptr;
}
