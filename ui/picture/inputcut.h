// The crop editor (page 7): the crop rectangles of the six sources, listed
// per source behind a row of source tabs, added, edited and deleted in an
// edit panel and typed on the number keyboard.
#pragma once

#include <QFont>
#include <QString>

#include "ui/shell/pagepattern.h"

class QFrame;
class QLabel;
class QPushButton;
class Ui_InputCut;

class InputCut : public ZevPage
{
    Q_OBJECT
  public:
    explicit InputCut(QWidget* parent);
    ~InputCut() override;

    void source_init();
    void source_name_update();
    void crop_source_num_update();
    u8 get_source_num(unsigned char id);
    int source_current_check();
    void zev_button_input_clicked();
    void para_changed_over();
    void zev_sel_info(int position, int mode, int entry_count);
    void menulist_init() override;
    void language_changed() override;
    void syncUpdate(int code) override;

    // Read by tests and the page renderer.
    Ui_InputCut* form() const { return ui; }
    u8 state() const { return cut_state; }
    u8 cursor() const { return ui_select; }
    u8 page() const { return current_pag; }
    u8 pages_last() const { return last_pag; }
    u8 source() const { return source_number; }
    QFrame* list() const { return list_frame; }
    QPushButton* add_button() const { return add_; }
    QPushButton* ok_button() const { return button_ok; }
    QPushButton* cancel_button() const { return button_cancel; }
    QPushButton* delete_button() const { return button_delete; }

  public slots:
    void slot_Button_back_clicked() override;
    void zev_button_source_clicked();
    void zev_button_add_clicked();
    void zev_button_cancel_clicked();
    void zev_button_ok_clicked();
    void zev_button_delete_clicked();
    void show_numberkeyboard_ui(QString name);
    void confirmString(QString text);

  protected:
    void key_left() override;
    void key_right() override;
    void key_ok() override;
    void key_back() override;

  private:
    QWidget* edit_row(int row) const;
    void edit_move(int step);
    void close_panel();
    // The ordinal the opened crop has now, or 0 when it is gone or changed.
    int opened_crop_ordinal();
    void store_done();
    void flow_edit_row();

    Ui_InputCut* ui;
    const QString style_tab_focused;
    const QString style_tab_normal;
    const QString style_list_focused;
    const QString style_list_normal;
    const QString style_card_focused;
    const QString style_card_normal;
    const QString style_add_focused;
    const QString style_add_normal;
    const QString style_row_normal;
    const QString style_row_focused;
    const QString field_names[4];

    u8 cut_state = 0;
    u8 saved_source_select = 0;
    u8 saved_list_select = 0;
    u8 source_entry_count[6] = {};
    QLabel* tab_name[6] = {};
    QLabel* tab_icon[6] = {};
    QFrame* tab_outline = nullptr;
    QFrame* list_frame = nullptr;
    QFrame* card_frame = nullptr;
    QPushButton* add_ = nullptr;
    QLabel* card_state = nullptr;
    QLabel* card_icon = nullptr;
    QLabel* card_name = nullptr;
    QLabel* card_size = nullptr;
    QString source_name;
    QString crop_name;
    QString crop_suffix;
    QFont card_font;
    u8 current_pag = 0;
    u8 last_pag = 0;
    u8 source_number = 2;
    u8 crop_number = 0;
    QPushButton* button_cancel = nullptr;
    QPushButton* button_ok = nullptr;
    QPushButton* button_delete = nullptr;
    // The panel in use (2 new, 3 existing), its first row, and the table
    // record it opened, so a store acts on that crop or not at all.
    u8 panel_state = 0;
    int edit_base = 0;
    int opened_index = 40;
    u16 opened_id = 0;
};
