#include "ui/shell/vnc_panel.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

#include "ui/shell/panel_screen.h"
#include "ui/shell/zev_keys.h"

namespace
{
// X keysyms of the keys the panel knows beyond the Latin-1 ones.
constexpr uint32_t kKeysymF1 = 0xFFBE;
constexpr uint32_t kKeysymF35 = 0xFFE0;
constexpr uint32_t kKeysymStop = 0x1008FF28;
constexpr uint32_t kKeysymPowerOff = 0x1008FF2A;

// What the server's thread posts when input waits: a plain event, which
// Qt's post queue hands over under its lock and the GUI thread deletes. A
// queued call would share its slot object between the two threads, freed
// by whichever dropped it last.
QEvent::Type inputWaitingEvent()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}
} // namespace

VncPanel::VncPanel(PanelScreen& screen, QObject* parent)
    : QObject(parent), screen_(screen), frame_(size_t(PanelScreen::kWidth) * PanelScreen::kHeight),
      server_(std::make_unique<board::sim::VncServer>(PanelScreen::kWidth, PanelScreen::kHeight))
{
    connect(&screen_, &PanelScreen::changed, this, &VncPanel::showPicture);
}

VncPanel::~VncPanel()
{
    server_.reset();
}

std::string VncPanel::listen(const std::string& address, int port)
{
    const std::string error =
        server_->start(address, port, [this] { QCoreApplication::postEvent(this, new QEvent(inputWaitingEvent())); });
    if (error.empty())
        showPicture();
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

void VncPanel::showPicture()
{
    QImage picture(reinterpret_cast<uchar*>(frame_.data()), PanelScreen::kWidth, PanelScreen::kHeight,
                   PanelScreen::kWidth * int(sizeof frame_[0]), QImage::Format_RGB32);
    screen_.draw(picture);
    server_->setFrame(frame_);
}

void VncPanel::customEvent(QEvent* event)
{
    if (event->type() == inputWaitingEvent())
        inputWaiting();
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
        touched_ = screen_.windowAt(at);
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
