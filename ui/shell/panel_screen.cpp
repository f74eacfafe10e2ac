#include "ui/shell/panel_screen.h"

#include <algorithm>

#include <QApplication>
#include <QBackingStore>
#include <QDialog>
#include <QEvent>
#include <QPainter>
#include <QWidget>

namespace
{
PanelScreen* g_installed = nullptr;
const QEvent::Type kAnnounce = QEvent::Type(QEvent::registerEventType());

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

// Where a dialog shown without a place of its own lies on the board's
// screen, as QDialog puts it there: centred on the screen, or on its
// parent's window, less the room QDialog keeps for a title bar where windows
// have no frames (10 x 40), then moved inside the screen.
QPoint boardPlace(const QWidget* dialog)
{
    constexpr int kTitleWidth = 10;
    constexpr int kTitleHeight = 40;
    constexpr int kWidth = PanelScreen::kWidth;
    constexpr int kHeight = PanelScreen::kHeight;
    QPoint centre(kWidth / 2, kHeight / 2);
    if (const QWidget* parent = dialog->parentWidget()) {
        const QWidget* w = parent->window();
        centre = w->geometry().topLeft() + QPoint(w->width() / 2, w->height() / 2);
    }
    QPoint p = centre - QPoint(dialog->width() / 2 + kTitleWidth, dialog->height() / 2 + kTitleHeight);
    if (p.x() + kTitleWidth + dialog->width() > kWidth)
        p.setX(kWidth - dialog->width() - kTitleWidth);
    if (p.y() + kTitleHeight + dialog->height() > kHeight)
        p.setY(kHeight - dialog->height() - kTitleHeight);
    return QPoint(std::max(p.x(), 0), std::max(p.y(), 0));
}

template <typename T> void dropGone(std::vector<QPointer<T>>& list)
{
    list.erase(std::remove_if(list.begin(), list.end(), [](const QPointer<T>& w) { return w.isNull(); }), list.end());
}
} // namespace

PanelScreen::PanelScreen(QObject* parent) : QObject(parent)
{
    g_installed = this;
    qApp->installEventFilter(this);
}

PanelScreen::~PanelScreen()
{
    if (g_installed == this)
        g_installed = nullptr;
}

PanelScreen* PanelScreen::installed()
{
    return g_installed;
}

bool PanelScreen::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Create:
        // As the window is made, before the platform's: the board draws no
        // frames, and room for one would move the contents off the place the
        // code or Qt gives the window.
        if (isPanelWindow(watched)) {
            auto* w = static_cast<QWidget*>(watched);
            w->overrideWindowFlags(w->windowFlags() | Qt::FramelessWindowHint);
        }
        break;
    case QEvent::Show:
        // Before QDialog centres itself on the platform's screen and before
        // the platform shows the window.
        if (isPanelWindow(watched)) {
            if (!event->spontaneous())
                place(static_cast<QWidget*>(watched));
            raise(static_cast<QWidget*>(watched));
            schedule();
        }
        break;
    case QEvent::ShowToParent: {
        // Shown: its place is again Qt's to choose at the next show, as
        // QDialog leaves it.
        auto it = std::find_if(placing_.begin(), placing_.end(),
                               [watched](const QPointer<QWidget>& w) { return w.data() == watched; });
        if (it != placing_.end()) {
            static_cast<QWidget*>(watched)->setAttribute(Qt::WA_Moved, false);
            placing_.erase(it);
        }
        break;
    }
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

// A dialog the code gave no place: where QDialog would put it on the board's
// screen. Moved, it keeps that place through QDialog's own centring.
void PanelScreen::place(QWidget* window)
{
    if (window->testAttribute(Qt::WA_Moved) || !qobject_cast<QDialog*>(window))
        return;
    window->move(boardPlace(window));
    dropGone(placing_);
    placing_.emplace_back(window);
}

void PanelScreen::raise(QWidget* window)
{
    auto it = std::find(stack_.begin(), stack_.end(), window);
    if (it != stack_.end())
        stack_.erase(it);
    else
        connect(window, &QObject::destroyed, this, &PanelScreen::schedule);
    stack_.emplace_back(window);
    std::stable_partition(stack_.begin(), stack_.end(), [](const QPointer<QWidget>& w) { return w && !staysOnTop(w); });
}

// Once the windows have painted: Qt posts a window's repaint at low
// priority, and the platform's exposures (a window shown paints in its
// exposure) and activations come in the next round of the event loop, after
// the posted events. A picture composed before them would be the one before
// the change, and the next one would follow at once.
void PanelScreen::schedule()
{
    if (scheduled_)
        return;
    scheduled_ = true;
    QCoreApplication::postEvent(this, new QEvent(kAnnounce), Qt::LowEventPriority - 1);
}

void PanelScreen::customEvent(QEvent* event)
{
    if (event->type() != kAnnounce)
        return;
    if (!lastRound_) {
        lastRound_ = true;
        QCoreApplication::postEvent(this, new QEvent(kAnnounce), Qt::LowEventPriority - 1);
        return;
    }
    lastRound_ = false;
    scheduled_ = false;
    emit changed();
}

QImage PanelScreen::picture()
{
    QImage frame(kWidth, kHeight, QImage::Format_RGB32);
    draw(frame);
    return frame;
}

void PanelScreen::draw(QImage& frame)
{
    dropGone(stack_);
    // Nothing under the top window that covers the whole screen is seen.
    auto from = stack_.end();
    while (from != stack_.begin() && !covers(**(from - 1)))
        --from;
    if (from == stack_.begin())
        frame.fill(Qt::black);
    else
        --from;
    QPainter painter(&frame);
    for (auto it = from; it != stack_.end(); ++it) {
        if (const QImage* image = painted(**it))
            painter.drawImage((*it)->geometry().topLeft(), *image, QRect(QPoint(), (*it)->size()));
    }
}

// What a visible window's own painting left in its backing store.
const QImage* PanelScreen::painted(const QWidget& window)
{
    if (!window.isVisible())
        return nullptr;
    QBackingStore* store = window.backingStore();
    QPaintDevice* device = store ? store->paintDevice() : nullptr;
    return device && device->devType() == QInternal::Image ? static_cast<QImage*>(device) : nullptr;
}

bool PanelScreen::covers(const QWidget& window)
{
    const QImage* image = painted(window);
    return image && !image->hasAlphaChannel() && window.geometry().contains(QRect(0, 0, kWidth, kHeight)) &&
           image->width() >= window.width() && image->height() >= window.height();
}

QWindow* PanelScreen::windowAt(const QPoint& at) const
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
