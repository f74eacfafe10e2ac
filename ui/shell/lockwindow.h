// The home page (page 0): LED size, brightness, contrast, sound, address and
// one tile per window with its source, timing or "No signal", black and
// freeze. OK or a touch leaves it for the main menu, MODE for the user modes.
#pragma once

#include <array>
#include <optional>

#include <QString>

#include "ui/shell/pagepattern.h"

class QFrame;
class QLabel;
class Ui_LockWindow;

class LockWindow : public ZevPage
{
    Q_OBJECT
  public:
    explicit LockWindow(QWidget* parent);
    ~LockWindow() override;

    void syncUpdate() override;
    void language_changed() override;
    void para_init() override;
    void image_init();
    void ip_changed();
    bool volume_check();
    bool eventFilter(QObject* watched, QEvent* event) override;

    Ui_LockWindow* form() const { return ui; }
    QFrame* tiles() const { return tile_frame; }

    // What one window's tile shows; the tiles are redrawn where it changes.
    struct TileLook {
        bool enabled = false;
        QString name;
        QString state;
        bool freeze = false;
        bool current = false;
        bool operator==(const TileLook& o) const
        {
            return enabled == o.enabled && name == o.name && state == o.state && freeze == o.freeze &&
                   current == o.current;
        }
        bool operator!=(const TileLook& o) const { return !(*this == o); }
    };
    // The labels of one tile: number (with its icons), name, state.
    struct TileLabels {
        QLabel* number = nullptr;
        QLabel* name = nullptr;
        QLabel* state = nullptr;
        QLabel* freeze = nullptr;
        QLabel* current = nullptr;
    };
    using TileLooks = std::array<TileLook, 6>;
    using Tiles = std::array<TileLabels, 6>;

  public slots:
    void on_main_Button_clicked();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

  private:
    void set_led_size();
    void set_volume_icon(bool on);
    void leave_to_main();
    void build_tiles();
    void show_tiles(const TileLooks& looks);

    Ui_LockWindow* ui;
    QWidget* body = nullptr;
    QFrame* tile_frame = nullptr;
    QLabel* number_label = nullptr;
    QLabel* name_label = nullptr;
    QLabel* state_label = nullptr;
    QLabel* freeze_label = nullptr;
    QLabel* current_label = nullptr;
    Tiles tiles_;
    // What the tiles show; unset while they show nothing yet.
    std::optional<TileLooks> shown_;
};

// A new home page over the main window, with the keys (page 0): the back
// target of the main window and of the user-mode page.
void open_home_page();
// Start-up, after the managers had their time: shows the main window, sets
// the number keyboard beside it and shows the home page over it.
void show_home_at_start();
