// The full-screen update-progress page, shown while an update of the box
// runs (from the PC tool or a USB stick). The GUI tick animates it.
#pragma once

#include <QWidget>

class FirmwareUpdate : public QWidget
{
    Q_OBJECT
  public:
    explicit FirmwareUpdate(QWidget* parent = nullptr);

    // Called by the GUI tick while g_update_flag is set: the spinner moves on
    // even ticks, the elapsed seconds every 100 ticks.
    void update_time_deal();

    int spinner_step() const { return spin_; }
    int seconds() const { return seconds_; }
    void restart();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int spin_ = 0;
    int seconds_ = 0;
    int ticks_ = 0;
};

// The page, created on first use and kept; null before.
extern FirmwareUpdate* g_move_update;

// Shows the update page (created on first use without parent).
void firmware_update_start();
// Closes the update page and clears g_move_update; nothing when none is shown.
void firmware_update_over();
