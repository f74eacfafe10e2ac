// The USB keypad: finding it at start-up, its LED report, and on the
// simulated board the keys played on it.
#pragma once

#include <deque>

#include <QObject>

#include "core/global.h"

class QFileSystemWatcher;
class QWidget;
namespace board
{
class Keypad;
}

// hid_init and a search of every HID device for the keypad; 1 when found.
u32 check_hiddev();

// The 5-byte LED report of the current state: byte 0 0xA5 (0x5A while an
// update runs), the selected window, its source with signal or none, and
// its freeze and black states.
void keyled_report(u8 report[5]);

// The widget the panel's keys go to: the page in focus, else the active
// window, unless a modal window covers it.
QWidget* panel_key_target();

// Hands the keys played on a simulated keypad to the page that has the
// keys, one key at a time, as press and release events. Does nothing for a
// real keypad, whose keys come as input events by themselves. Keys played
// before it was made are handed out too, from the event loop, as a real
// keypad's input events wait for the loop that reads them.
class KeypadPlayer : public QObject
{
    Q_OBJECT
  public:
    explicit KeypadPlayer(board::Keypad& keypad, QObject* parent = nullptr);
    // Created once at start-up on the simulated board, before the keypad's
    // LEDs are lit: they tell that the panel takes keys.
    static void start();

  public slots:
    void take_keys();

  private:
    void deliver_next();
    board::Keypad& keypad_;
    QFileSystemWatcher* watcher_ = nullptr;
    std::deque<int> pending_;
    bool delivering_ = false;
};
