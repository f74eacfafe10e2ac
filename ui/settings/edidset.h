// EDID: the timing each input's EDID record announces (width, height, 60 or
// 30 Hz). The six sources stand as tiles; the highlighted one's record is
// shown on a card; OK opens an edit area with Delete, Cancel and Save.
#pragma once

#include <QFont>
#include <QString>

#include "ui/shell/pagepattern.h"

class Ui_EDIDset;
class QFrame;
class QPushButton;

class EDIDset : public ZevPage
{
    Q_OBJECT
  public:
    explicit EDIDset(QWidget* parent);
    ~EDIDset() override;

    void menulist_init() override;
    void language_changed() override;
    void syncUpdate() override;
    void source_init();
    void zev_button_input_clicked();
    void zev_button_source_clicked();
    void on_Button_freq_clicked();
    void zev_button_ok_clicked();
    void zev_button_cancel_clicked();

  public slots:
    void show_numberkeyboard_ui(QString name);
    void confirmString(QString text);
    void slot_Button_back_clicked() override;

  protected:
    void key_left() override;
    void key_right() override;
    void key_ok() override;
    void key_back() override;
    std::vector<u8> mode_close_chain() const override;

  private:
    void step_source(int delta);
    void step_line(int delta);
    void focus_line(bool on);

    Ui_EDIDset* ui;
    u8 ui_line_select = 0; // 0 width, 1 height, 2 rate, 3 Delete, 4 Cancel, 5 Save
    u8 ui_seltype = 0;     // 0 choosing a source, 1 edit area, 2 changing the rate
    u8 rate_flag = 0;      // 1 60 Hz, 0 30 Hz
    u8 rate_flag_saved = 0;
    QFrame* highlight_ = nullptr;
    QFrame* card_ = nullptr;
    QString source_name_ = "HDMI1";
    u8 source_id_ = 2;
    QFont font_;
    QPushButton* cancel_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* delete_ = nullptr;
};
