// What the PC protocol asks of the front panel: the update-in-progress page
// and a picture of the screen. The panel implements it and start-up installs
// it, so the protocol needs nothing of the pages.
#pragma once

#include <QString>

class message_gui
{
  public:
    virtual ~message_gui() = default;
    // Opens (start) or closes the update-in-progress page on the GUI thread.
    virtual void update_mode(bool start) = 0;
    // Saves the screen as it is now to path as PNG; false when no picture
    // could be taken in a bounded time.
    virtual bool grab_screen(const QString& path) = 0;

    // The installed panel; null (no panel) leaves the GUI untouched and
    // takes no picture.
    static void install(message_gui* gui);
    static message_gui* installed();
};
