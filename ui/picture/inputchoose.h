// The source-selection page (page 3): for each offered image (window) the
// operator chooses a physical source or one of its crops. Three rows have
// the keys in turn: the image tiles (with the crop-editor and EDID
// buttons), the six source tabs and the entry list of the browsed source.
#pragma once

#include <QString>

#include "ui/shell/pagepattern.h"

class QFrame;
class QLabel;
class Ui_InputChoose;

class InputChoose : public ZevPage
{
    Q_OBJECT
  public:
    explicit InputChoose(QWidget* parent);
    ~InputChoose() override;

    // Makes the EDID page that the "EDID Settings" button opens (page 8).
    // Without one the button does nothing.
    using PageFactory = ZevPage* (*)();
    static void set_edid_page_factory(PageFactory factory);

    void syncUpdate(int code) override;
    void language_changed() override;
    void initSource();
    void crop_source_num_update();
    void source_name_update();
    void source_check_update();
    void menulist_init() override;
    void initMenu();
    void imagemenu();
    void image_select();
    void on_Button_source_clicked();
    void para_uiselect_init();
    void para_source_index_init();
    void zev_source_button_clicked();
    void zev_button_inputcut_clicked();
    void zev_button_EDID_clicked();
    void slot_Button_back_clicked() override;
    void TextCreate(char image, char);
    void input_source_changed(char image);
    int source_current_check();
    u8 get_source_num(unsigned char id);

    // Read by tests and the page renderer.
    Ui_InputChoose* form() const { return ui; }
    u8 row() const { return ui_seltype; }
    u8 cursor() const { return ui_select; }
    u8 selected_image() const { return image_index; }
    u8 page() const { return current_page; }
    u8 browsed_source() const { return source_number; }
    u8 tiles() const { return image_count; }
    QLabel* tile_label(int image) const { return tile_source[image]; }
    QFrame* entries() const { return entries_frame; }
    QFrame* focus() const { return focus_frame; }

  protected:
    void key_left() override;
    void key_right() override;
    void key_ok() override;
    void key_back() override;

  private:
    bool offered(int image) const;
    int tile_of(int image) const;
    // Entry number (1..) of crop-table record index among the crops of
    // source in crop-number order; 0 when the record is no crop of it.
    static int entry_of_crop(int source, int index);
    void place_focus(const QString& style);

    Ui_InputChoose* ui;
    const QString style_focus_top;
    const QString style_focus_lower;
    const QString style_focus_hidden;
    const QString style_button;
    const QString style_button_focused;
    const QString style_tab_blue;
    const QString style_tab_orange;
    const QString style_entries_blue;
    const QString style_entries_orange;

    QLabel* tab_name[6] = {};
    QLabel* tab_icon[6] = {};
    QFrame* top_frame = nullptr;
    QFrame* focus_frame = nullptr;
    QLabel* tile_source[6] = {};
    QFrame* entries_frame = nullptr;

    u8 ui_seltype = 0;
    u8 source_entry_num[6] = {};
    u8 image_index = 0;
    u8 source_number = 0;
    u8 source_listseq = 0;
    u8 source_id = 0;
    u8 crop_id = 0;
    u8 top_select = 0;
    short source_type = 0;
    u8 current_page = 0;
    u8 last_page = 0;
    u8 image_count = 0;
    u8 image_list[6] = {};
    QString source_name;
};
