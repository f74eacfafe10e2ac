// The advanced menu (page 12): LCD behaviour, other settings, receiving-card
// self-recovery (only while recovery packs exist), factory setup and the
// ageing log (behind an access code typed on the number keypad).
#pragma once

#include "ui/shell/menu_tiles.h"

class Ui_AdvancedOption;

class AdvancedOption : public MenuTilePage
{
    Q_OBJECT
  public:
    explicit AdvancedOption(QWidget* parent);
    ~AdvancedOption() override;

    void menulist_init() override;
    // Re-counts the recovery packs, then sets the texts.
    void language_changed() override;

    // The PC file commands refresh this page when it has the keys.
    static void install_file_hooks();

    u8 rcv_recovery_valid = 0;
    // 1 only while an accepted access code is opening the ageing log.
    u8 age_access = 0;

  public slots:
    void on_Button_LCDshow_clicked();
    void on_Button_other_clicked();
    void on_Button_rcv_recovery_clicked();
    void on_Button_factory_clicked();
    void on_Button_age_clicked();
    // The keypad's entry; taken only while this page asked for the code.
    void confirmString(QString entry);

  private:
    void count_record_files();

    Ui_AdvancedOption* ui;
    bool code_asked_ = false;
    bool code_accepted_ = false;
};
