// The program's one main window (page 1): the main menu, the fold-out tool
// bar (blackout, mute, user-mode call and save), the key lock, the 16-slot
// user-mode grid, the ageing-log sampler and the 10 ms GUI tick.
#pragma once

#include <atomic>

#include <QFont>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include "core/global.h"
#include "ui/shell/pagepattern.h"
#include "ui/shell/zev_keyboard.h"

class QFrame;
class QLabel;
class QPushButton;
class Ui_MainWindow;

// Tick stamp of the last ageing period.
extern u32 G_factoryage_ticks;
// Gate of the USB-stick watcher: opens at tick 1000 and stays open.
extern std::atomic<u32> g_delay_usbserver;
// Frames of the user-mode grid (null while no grid exists).
extern QFrame* g_mode[16];
// The ageing log (at most 3360 lines) and the counts of register 42 steps.
extern QStringList factoryage_log;
extern u32 factoryage_log_diff3;
extern u32 factoryage_log_diff5;
extern u32 factoryage_log_diff10;
extern u32 factoryage_log_diff20;
extern u32 factoryage_log_diffmore;

class MainWindow : public QMainWindow, public PageView
{
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void menulist_init();
    void language_changed() override;
    void para_init();
    void ip_changed();
    void syncUpdate();
    void syncUpdate(int) override { syncUpdate(); }

    void on_usermodesel_clicked(char dir);
    void on_deletewidgetmode_clicked();
    void on_toolusermode_clicked();
    void mode_window_close();
    void mode_init();

    // One ageing sample: the time and FPGA registers 42, 40 and 43.
    void getagelog();
    // The tick's work, steps 2 to 6.
    void tick_work();
    // Appends one ageing line and counts the step of register 42.
    static void agelog_add(const QString& time, int reg42, int reg40, int reg43);

    // Set after a user-mode call or save request; the next refresh of
    // page 1 shows the done tip.
    u8 tip_on_sync = 0;

    // Read by tests and the page renderer.
    u8 select() const { return ui_select; }
    u8 mode_cursor() const { return l_mode_cursor; }
    u8 call_state() const { return l_call_state; }
    u8 save_state() const { return l_save_state; }
    u8 lock_state() const { return l_lock_state; }
    QWidget* focused_widget() const { return l_focus_widget; }
    QWidget* mode_grid() const { return widget_mode; }
    QPushButton* mode_button(int slot) const { return mode_buttons[slot]; }
    Ui_MainWindow* form() const { return ui; }

  public slots:
    // One tick: G_timeTicks + 1 and the tick's work.
    void slot_update_timer_ticks();
    // The tick's timer's slot: from its first call (one period after the
    // event loop started) G_timeTicks follows the monotonic clock; runs the
    // tick's work and sets the timer's next interval: 10 ms while something
    // waits on the tick, else only when its next step is due.
    void clock_tick();
    // Brings the 10 ms tick back at once; any thread may call it.
    static void wake_tick();
    // Show and close the update-progress page; worker threads queue them.
    void update_start();
    void update_over();
    void on_machinestate_clicked();
    void on_inputchoose_clicked();
    void on_custommode_clicked();
    void on_option_clicked();
    void on_Button_lock_clicked();
    void on_tools_clicked();
    void on_toolButton1_clicked();
    void on_toolButton2_clicked();
    void on_toolButton3_clicked();
    void on_toolButton4_clicked();
    void zev_button_mode_clicked();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

  private:
    void show_grid();
    bool enter_mode(u8& mode, u8& other, QPushButton* otherButton, const char* otherOffIcon);
    void delete_grid();
    void move_focus(int position);
    QString position_style(int position, bool focused) const;
    bool recall(int slot);
    // The window that carries the audio; caller holds the apply mutex.
    int audio_window() const;

    Ui_MainWindow* ui;
    QWidget* widget_mode = nullptr;
    QFrame* mode_frame = nullptr;
    QLabel* mode_title = nullptr;
    QLabel* mode_number = nullptr;
    QLabel* mode_icon = nullptr;
    QLabel* mode_using = nullptr;
    QLabel* pointer_label = nullptr;
    QPushButton* mode_button_ = nullptr;
    QFont grid_font;
    QPushButton* mode_buttons[16] = {};
    u8 l_call_state = 0;
    u8 l_save_state = 0;
    u8 l_lock_state = 0;
    u8 ui_select = 0;
    u8 l_mode_cursor = 0;
    QWidget* l_focus_widget = nullptr;
    QWidget* menu_list[10] = {};
    const QString style_big_normal;
    const QString style_small_normal;
    const QString style_big_focused;
    const QString style_small_focused;
    const QString style_grid;
    const QString style_slot_normal;
    const QString style_slot_focused;
    zev_keyboard keyboard;
};
