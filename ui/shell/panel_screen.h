// The board's 320 x 240 screen where the platform has none to show or read
// back: Qt's offscreen platform, whose one screen is 800 x 600 and whose
// windows have frames. Windows have no frames, as on the board; dialogs are
// placed as Qt places them on the board's screen; windows stack as there
// (the one shown, raised or activated last on top, those that ask to stay on
// top above the others); the screen's picture is composed from what the
// windows painted.
#pragma once

#include <vector>

#include <QImage>
#include <QObject>
#include <QPointer>

class QWidget;
class QWindow;

class PanelScreen : public QObject
{
    Q_OBJECT
  public:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;

    // Follows every window of the application: made before any window
    // shows, one at a time.
    explicit PanelScreen(QObject* parent = nullptr);
    ~PanelScreen() override;
    // The screen made, or null.
    static PanelScreen* installed();

    // The screen as it is now: the visible windows from the bottom up.
    QImage picture();
    // The same drawn over frame, kWidth x kHeight pixels, whatever it held.
    void draw(QImage& frame);
    // The top window under a point; none where a modal window blocks it.
    QWindow* windowAt(const QPoint& at) const;

    bool eventFilter(QObject* watched, QEvent* event) override;

  signals:
    // The picture changed: once for a burst of changes, when the event loop
    // is through them (the windows have painted then).
    void changed();

  private:
    static const QImage* painted(const QWidget& window);
    // Opaque and over the whole screen.
    static bool covers(const QWidget& window);
    void place(QWidget* window);
    void raise(QWidget* window);
    void schedule();
    void customEvent(QEvent* event) override;

    // The top-level windows from the bottom up.
    std::vector<QPointer<QWidget>> stack_;
    // Dialogs placed by the screen while they show: their place is Qt's,
    // not the code's, so they are placed again at their next show.
    std::vector<QPointer<QWidget>> placing_;
    bool scheduled_ = false;
    // The announcement waits one more round of the event loop.
    bool lastRound_ = false;
};
