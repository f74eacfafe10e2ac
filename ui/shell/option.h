// The settings menu (page 5): eight icon tiles leading to the output, crop,
// layout, link, picture, test-pattern, smart-mapping and advanced pages.
#pragma once

#include "ui/shell/menu_tiles.h"

class QImage;
class Ui_Option;

class Option : public MenuTilePage
{
    Q_OBJECT
  public:
    explicit Option(QWidget* parent);
    ~Option() override;

    void menulist_init() override;
    void language_changed() override;

    // Scan-parameter files ("kqfile") directly on the USB stick.
    static int get_file_list_usbpath();
    static QImage converToGrayscale(const QImage& image);
    // The PC file commands refresh this page when it has the keys.
    static void install_file_hooks();

    u8 smart_mapping_valid = 0;

  public slots:
    void on_output_set_clicked();
    void on_input_cut_clicked();
    void on_image_layout_clicked();
    void on_link_set_clicked();
    void on_image_quality_clicked();
    void on_test_chart_clicked();
    void on_smart_mapping_clicked();
    void on_AdvanceButton_clicked();

  private:
    Ui_Option* ui;
};
