// The front panel's side of the PC protocol's requests: the update page is
// opened and closed by the main window, and the screen is grabbed on the GUI
// thread.
#pragma once

#include "link/message_gui.h"

class PanelGui final : public message_gui
{
  public:
    void update_mode(bool start) override;
    bool grab_screen(const QString& path) override;
};
