// The front panel on the simulated board's VNC screen. Qt draws the pages on
// its offscreen platform; the viewers are sent the panel screen's picture
// whenever it changes, and their keys and touches reach the panel as the
// panel window's own keyboard and a touch of the screen do.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

#include "board/sim/vnc_server.h"

class PanelScreen;
class QWindow;

class VncPanel : public QObject
{
  public:
    // Serves the picture of screen, which outlives it.
    explicit VncPanel(PanelScreen& screen, QObject* parent = nullptr);
    ~VncPanel() override;

    // Serves the panel on address and port (0: any free one). Empty on
    // success, else the reason.
    std::string listen(const std::string& address, int port);
    int port() const;

    // Qt key code of an X keysym, 0 for a key the panel has no use for.
    static int qtKey(uint32_t keysym);

  protected:
    void customEvent(QEvent* event) override;

  private:
    void showPicture();
    void inputWaiting();
    void deliverNext();
    void key(const board::sim::VncInput& in);
    void touch(const board::sim::VncInput& in);

    PanelScreen& screen_;
    // The picture is drawn here, then handed to the server.
    std::vector<uint32_t> frame_;
    std::deque<board::sim::VncInput> pending_;
    bool delivering_ = false;
    bool touching_ = false;
    QPointer<QWindow> touched_;
    // Last: its thread stops before the rest goes.
    std::unique_ptr<board::sim::VncServer> server_;
};
