// The front panel on the simulated board's VNC screen. Qt draws the pages on
// its offscreen platform; the pages as they lie on the screen are composed
// into the viewers' picture whenever one is painted, shown, hidden, moved or
// raised, and the viewers' keys and touches reach the panel as the panel
// window's own keyboard and a touch of the window do.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <QImage>
#include <QObject>
#include <QPointer>

#include "board/sim/vnc_server.h"

class QWindow;

class VncPanel : public QObject
{
  public:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;

    explicit VncPanel(QObject* parent = nullptr);
    ~VncPanel() override;

    // Serves the panel on address and port (0: any free one). Empty on
    // success, else the reason.
    std::string listen(const std::string& address, int port);
    int port() const;

    // Qt key code of an X keysym, 0 for a key the panel has no use for.
    static int qtKey(uint32_t keysym);

    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void schedule();
    void compose();
    void inputWaiting();
    void deliverNext();
    void key(const board::sim::VncInput& in);
    void touch(const board::sim::VncInput& in);
    QWindow* windowAt(const QPoint& at) const;
    void raise(QWidget* window);

    // The top-level windows from the bottom up, as the board's screen
    // stacks them: a window shown, raised or activated goes on top.
    std::vector<QPointer<QWidget>> stack_;
    QImage frame_;
    bool composing_ = false;
    std::deque<board::sim::VncInput> pending_;
    bool delivering_ = false;
    bool touching_ = false;
    QPointer<QWindow> touched_;
    // Last: its thread stops before the rest goes.
    std::unique_ptr<board::sim::VncServer> server_;
};
